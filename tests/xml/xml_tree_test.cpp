// The node records behind the handles: reference counts, lifetimes, arrays and the order record.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <gtest/gtest.h>

namespace {

TEST(XMLNodeHandle, NewRootStartsWithOneReferenceHeldByItsHandle) {
    XMLNode root = NewRootNode();
    ASSERT_FALSE(IsEmptyNode(root));
    EXPECT_EQ(root.record()->refCount, 1);
    EXPECT_EQ(NodeName(root), nullptr);
    EXPECT_EQ(ContentCount(root), 0);
}

TEST(XMLNodeHandle, CopyAddsAndEndReleasesAReference) {
    XMLNode root = NewRootNode();
    {
        XMLNode copy = root;
        EXPECT_EQ(root.record()->refCount, 2);
        XMLNode moved = std::move(copy);
        EXPECT_TRUE(IsEmptyNode(copy));
        EXPECT_EQ(root.record()->refCount, 2);
    }
    EXPECT_EQ(root.record()->refCount, 1);
}

TEST(XMLNodeHandle, AssignmentReleasesOldRecordAndReferencesNewOne) {
    XMLNode a = NewRootNode();
    XMLNode b = NewRootNode();
    XMLNode holder = a;
    EXPECT_EQ(a.record()->refCount, 2);
    holder = b;
    EXPECT_EQ(a.record()->refCount, 1);
    EXPECT_EQ(b.record()->refCount, 2);
    const XMLNode& same = holder;
    holder = same;
    EXPECT_EQ(b.record()->refCount, 2);
    holder = XMLNode::emptyNode();
    EXPECT_EQ(b.record()->refCount, 1);
    EXPECT_TRUE(IsEmptyNode(holder));
}

TEST(XMLNodeHandle, InnerHandleKeepsItsSubtreeAliveAfterTheRootEnds) {
    XMLNode inner;
    {
        XMLNode root = ParseXMLText("<a><b><c>deep</c></b><d/></a>");
        inner = FindChildNamed(ChildAt(root, 0), "b");
        EXPECT_EQ(inner.record()->refCount, 2);
    }
    ASSERT_FALSE(IsEmptyNode(inner));
    EXPECT_EQ(inner.record()->parent, nullptr);
    EXPECT_EQ(inner.record()->refCount, 1);
    EXPECT_EQ(DumpTree(inner), "b{c{\"deep\"}}");
}

TEST(XMLNodeHandle, LastReleaseOfAChildStillInItsParentRemovesItFromTheParent) {
    XMLNode root = NewRootNode();
    AppendText(root.record(), std::string("t0"));
    XMLNode a = AppendChild(root.record(), std::string("a"), 0);
    XMLNodeRecord* b = AppendChild(root.record(), std::string("b"), 0).record();
    AppendText(root.record(), std::string("t1"));
    XMLNode c = AppendChild(root.record(), std::string("c"), 0);
    ASSERT_EQ(root.record()->contentOrder, (std::vector<int32_t>{2, 0, 4, 6, 8}));

    ReleaseNode(b); // the parent's own reference, as if something else had taken it over
    EXPECT_EQ(root.record()->childCount, 2);
    EXPECT_EQ(root.record()->contentOrder, (std::vector<int32_t>{2, 0, 6, 4}));
    EXPECT_EQ(DumpTree(root), "#root{\"t0\" a \"t1\" c}");
}

TEST(XMLNodeHandle, ReleasingAnEmptyHandleIsHarmless) {
    XMLNode empty;
    XMLNode copy = empty;
    copy = XMLNode::emptyNode();
    EXPECT_TRUE(IsEmptyNode(copy));
}

TEST(XMLNodeRecordArrays, RoomGrowsInStepsOfFiftyAndOneHundredFifty) {
    XMLNode root = NewRootNode();
    XMLNodeRecord* r = root.record();
    AppendChild(r, std::string("c"), 0);
    EXPECT_EQ(r->children.capacity(), 50u);
    EXPECT_EQ(r->contentOrder.capacity(), 150u);
    for (int i = 1; i < 50; ++i)
        AppendChild(r, std::string("c"), 0);
    EXPECT_EQ(r->children.capacity(), 100u);
    for (int i = 50; i < 150; ++i)
        AppendText(r, std::string("t"));
    EXPECT_EQ(r->texts.capacity(), 150u);
    EXPECT_EQ(r->contentOrder.capacity(), 300u);
    EXPECT_EQ(r->childCount, 50);
    EXPECT_EQ(r->textCount, 100);
}

TEST(XMLNodeRecordArrays, ClosedElementsAreTrimmedToTheirCounts) {
    XMLNode root = ParseXMLText("<a x='1'>t<b/><!--c--></a><open>t");
    XMLNodeRecord* a = root.record()->children[0];
    EXPECT_EQ(a->children.capacity(), 1u);
    EXPECT_EQ(a->texts.capacity(), 1u);
    EXPECT_EQ(a->clears.capacity(), 1u);
    EXPECT_EQ(a->attributes.capacity(), 1u);
    EXPECT_EQ(a->contentOrder.capacity(), 4u);
    // Left open at the end of the text: never closed, never trimmed.
    EXPECT_EQ(root.record()->children[1]->attributes.capacity(), 0u);
    EXPECT_EQ(root.record()->children.capacity(), 50u);
}

TEST(XMLNodeRecordArrays, OrderRecordKeepsDocumentOrderAcrossTheFourArrays) {
    XMLNode a = ChildAt(ParseXMLText("<a x='1'>t<b/><![CDATA[c]]>u<d/><e y=2/></a>"), 0);
    // entry = index * 4 + kind; kinds: 0 child, 1 attribute, 2 text, 3 clear
    EXPECT_EQ(a.record()->contentOrder, (std::vector<int32_t>{1, 2, 0, 3, 6, 4, 8}));
    EXPECT_EQ(ContentCount(a), 7);
    EXPECT_EQ(ContentAt(a, 0).kind, XMLContentAttribute);
    EXPECT_EQ(ContentAt(a, 0).attribute.name, "x");
    EXPECT_EQ(ContentAt(a, 1).text, "t");
    EXPECT_EQ(*NodeName(ContentAt(a, 2).child), "b");
    EXPECT_EQ(ContentAt(a, 3).clear.value, "c");
    EXPECT_EQ(ContentAt(a, 4).text, "u");
    EXPECT_EQ(*NodeName(ContentAt(a, 5).child), "d");
    EXPECT_EQ(*NodeName(ContentAt(a, 6).child), "e");
    EXPECT_EQ(ContentAt(a, 7).kind, XMLContentNothing);
    EXPECT_EQ(ContentAt(XMLNode(), 0).kind, XMLContentNothing);
}

TEST(XMLNodeRecordArrays, RemoveContentOrderRenumbersLaterEntriesOfTheSameKind) {
    XMLNode root = NewRootNode();
    root.record()->contentOrder = {0, 2, 4, 6, 8, 1};
    RemoveContentOrder(root.record(), XMLContentChild, 1);
    EXPECT_EQ(root.record()->contentOrder, (std::vector<int32_t>{0, 2, 6, 4, 1}));
}

TEST(XMLNodeRecordArrays, AppendIgnoresMissingNamesAndTexts) {
    XMLNode root = NewRootNode();
    EXPECT_TRUE(IsEmptyNode(AppendChild(root.record(), std::nullopt, 0)));
    AppendText(root.record(), std::nullopt);
    AppendAttribute(root.record(), std::nullopt, std::string("v"));
    AppendClear(root.record(), std::nullopt, "<!--", "-->");
    EXPECT_EQ(ContentCount(root), 0);
    EXPECT_TRUE(root.record()->contentOrder.empty());
}

} // namespace
