// Node handles and records, parse entry points and reports, the first-tag lookup and the node
// queries the UPnP client uses.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

const std::string kSoapBody = "<s:Envelope><s:Body><u:R><X>5</X></u:R></s:Body></s:Envelope>";
const std::string kSoap = "<?xml version=\"1.0\"?>" + kSoapBody;
const char* const kEnvelope = "s:Envelope{s:Body{u:R{X{\"5\"}}}}";

TEST(XMLNodeHandle, CopyMoveAndAssignmentKeepTheReferenceCountsRight) {
    XMLNode a = NewRootNode(), b = NewRootNode();
    {
        XMLNode copy = a;
        XMLNode moved = std::move(copy);
        EXPECT_TRUE(IsEmptyNode(copy));
        EXPECT_EQ(a.record()->refCount, 2);
        moved = b; // releases a, references b
        moved = static_cast<const XMLNode&>(moved);
        EXPECT_EQ(a.record()->refCount * 10 + b.record()->refCount, 12);
        moved = XMLNode();
        EXPECT_EQ(b.record()->refCount, 1);
        copy = moved = b;
    }
    EXPECT_EQ(a.record()->refCount * 10 + b.record()->refCount, 11);
}

TEST(XMLNodeHandle, InnerHandlesKeepTheirSubtreeAliveAfterTheRootEnds) {
    XMLNode inner;
    {
        XMLNode root = ParseXMLText("<a><b><c>deep</c></b><d/></a>");
        inner = FindChildNamed(ChildAt(root, 0), "b");
        EXPECT_EQ(inner.record()->refCount, 2);
    }
    EXPECT_TRUE(inner.record()->refCount == 1 && !inner.record()->parent);
    EXPECT_EQ(DumpTree(inner), "b{c{\"deep\"}}");
    // The first-tag result, too, is the only reference left to its part of the tree.
    const XMLNode envelope = ParseXMLText(kSoap, "Envelope");
    EXPECT_TRUE(envelope.record()->refCount == 1 && !envelope.record()->parent);
}

TEST(XMLNodeHandle, LastReleaseOfAChildStillInItsParentRemovesItFromTheParent) {
    XMLNode root = ParseXMLText("t0<a/><b/>t1<c/>");
    ReleaseNode(root.record()->children[1]); // as if something else had taken the parent's over
    ASSERT_EQ(root.record()->contentOrder, (std::vector<int32_t>{2, 0, 6, 4})); // c renumbered
    EXPECT_EQ(DumpTree(root), "#root{\"t0\" a \"t1\" c}");
}

TEST(XMLNodeRecordArrays, ClosedElementsAreTrimmedOpenOnesKeepTheirFirstStep) {
    XMLNode parsed = ParseXMLText("<a x='1'>t<b y=2/><!--c--></a><open>t");
    const XMLNodeRecord* a = parsed.record()->children[0];
    EXPECT_EQ(a->children.capacity() + a->texts.capacity() + a->clears.capacity() +
                  a->attributes.capacity() + a->contentOrder.capacity(),
              8u);
    EXPECT_EQ(a->children[0]->attributes.capacity(), 1u); // closed by "/>"
    // Room for 50 items and 150 order entries at a time; the root is never closed.
    EXPECT_EQ(parsed.record()->children.capacity(), 50u);
    EXPECT_EQ(parsed.record()->contentOrder.capacity(), 150u);
    for (int i = 0; i < 150; ++i)
        AppendText(parsed.record(), std::string("t"));
    EXPECT_EQ(parsed.record()->texts.capacity() + parsed.record()->contentOrder.capacity(), 500u);
}

TEST(XMLNodeRecordArrays, OrderRecordKeepsDocumentOrderAcrossTheFourArrays) {
    XMLNode a = ChildAt(ParseXMLText("<a x='1'>t<b/><![CDATA[c]]>u<d/></a>"), 0);
    std::string items;
    for (int i = 0; i <= ContentCount(a); ++i) {
        const XMLContentItem item = ContentAt(a, i);
        items += std::to_string(item.kind) + item.attribute.name + item.text + item.clear.value +
                 (IsEmptyNode(item.child) ? "" : *NodeName(item.child)) + " ";
    }
    EXPECT_EQ(items, "1x 2t 0b 3c 2u 0d 4 ");
}

TEST(XMLParseText, MissingTextGivesCodeTenAtLineZeroAndTheTreeHoldsCopies) {
    XMLParseReport report{-1, -1, -1};
    EXPECT_EQ(Outcome(report, DumpTree(ParseXMLText(nullptr, "root", &report))), "10 0:0 <empty>");
    EXPECT_TRUE(IsEmptyNode(ParseXMLText(nullptr)));
    std::string text = "<a b='v'>t</a>";
    const XMLNode node = ParseXMLText(text, "a");
    text.assign(text.size(), 'z');
    EXPECT_EQ(DumpTree(node), "a(b=v){\"t\"}");
}

TEST(XMLParseText, EveryCodeHasItsMessage) {
    std::string all;
    for (int code = -1; code <= 13; ++code)
        all += std::string(XMLErrorText(code)) + "|";
    EXPECT_EQ(all, "Unknown|No error|Warning: Unmatched end tag|Error: No XML data|Error: First "
                   "token not start tag|Error: Missing start tag name|Error: Missing end tag "
                   "name|Error: Unmatched quote|Error: Unmatched end tag|Error: Unexpected token "
                   "found|Error: Invalid tag found|Error: No elements found|Error: File not "
                   "found|Error: First Tag not found|Unknown|");
}

TEST(XMLFirstTag, LooksThroughDeclarationsAndTextBeforeTheMarkup) {
    ExpectParses({
        {kSoap, "Envelope", 0, kEnvelope},
        {kSoapBody, "Envelope", 0, kEnvelope},
        {"HTTP/1.1 200 OK\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nEXT:\r\n\r\n" + kSoap,
         "Envelope", 0, kEnvelope},
        {"<?xml version=\"1.0\"?><ROOT><a/></ROOT>", "root", 0, "ROOT{a}"},
        {"<?xml?><!-- c --><?style x?><root><device/></root>", "root", 0, "root{device}"},
        // A missing tag gives the last element looked at, without error.
        {"<root><a/></root>", "zzz", 0, "root{a}"},
        {"<a/><b/><c/>", "zzz", 0, "c"},
        {"<a/><b/><c/>", "B", 0, "b"},
        {"<?xml version=\"1.0\"?>", "root", 0, "xml?(version=1.0)"},
        {"<root><a><b>1</a></root>", "root", 1, "root{a{b{\"1\"}}}"},
        {"<a/>", "", 0, "#root{a}"},
        {"", "root", 0, "<empty>"},
        {" \r\n\t ", "root", 0, "<empty>"},
        {"<a></b>", "a", 7, "<empty>", 1, 8},
    });
}

TEST(XMLChildQueries, LookupsCompareLocalNamesCountsCompareWholeNames) {
    const XMLNode envelope = ParseXMLText(kSoap, "Envelope");
    const XMLNode answer = FindChildNamed(FindChildNamed(envelope, "Body"), "R");
    EXPECT_EQ(*NodeName(answer), "u:R");
    EXPECT_EQ(*TextAt(ChildNamedAt(answer, "X", 0), 0), "5");
    EXPECT_TRUE(IsEmptyNode(FindChildNamed(envelope, "s:Body")));
    EXPECT_EQ(CountChildrenNamed(envelope, "s:Body"), 1);

    const XMLNode list =
        ParseXMLText("<list><device/><x:device/><DEVICE/><d:x:device/></list>", "list");
    EXPECT_EQ(CountChildrenNamed(list, "device"), 2);
    EXPECT_EQ(CountChildrenNamed(list, "x:device"), 1);
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "device", -5)), "device");
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "device", 1)), "x:device");
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "device", 2)), "DEVICE");
    EXPECT_TRUE(IsEmptyNode(ChildNamedAt(list, "device", 3)));
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "x:device", 0)), "d:x:device");
}

TEST(XMLChildQueries, PositionsMoveOnlyOnSuccessAndIndexesOutOfRangeGiveNothing) {
    const XMLNode r = ParseXMLText("<r>t<a/><b/><a x/></r>", "r");
    int position = 0;
    EXPECT_EQ(AttributeCount(FindChildNamed(r, "a", &position)), 0);
    EXPECT_EQ(AttributeCount(FindChildNamed(r, "a", &position)), 1);
    EXPECT_TRUE(IsEmptyNode(FindChildNamed(r, "a", &position)));
    EXPECT_EQ(position, 3);
    position = 1;
    EXPECT_EQ(AttributeCount(FindChildNamed(r, "a", &position)), 1);
    EXPECT_TRUE(IsEmptyNode(ChildAt(r, 3)) && IsEmptyNode(ChildAt(r, -1)));
    EXPECT_EQ(*TextAt(r, 0), "t");
    EXPECT_TRUE(TextAt(r, 1) == nullptr && TextAt(r, -1) == nullptr);
    EXPECT_EQ(TextAtOrEmpty(r, 3), "");
}

TEST(XMLChildQueries, EveryQueryAcceptsTheEmptyNode) {
    const XMLNode e;
    int position = 7;
    EXPECT_EQ(ChildCount(e) + TextCount(e) + AttributeCount(e) + ClearCount(e) + ContentCount(e) +
                  IsDeclarationNode(e) + HasAttribute(e, "a") + CountChildrenNamed(e, "a"),
              0);
    EXPECT_TRUE(IsEmptyNode(ChildAt(e, 0)) && IsEmptyNode(ChildNamedAt(e, "a", 2)) &&
                IsEmptyNode(FindChildNamed(e, "a", &position)));
    EXPECT_EQ(position, 7);
    EXPECT_TRUE(!NodeName(e) && !TextAt(e, 0) && !FindAttributeNamed(e, "a") &&
                !AttributeNamedAt(e, "a", 0) && !AttributeAt(e, 0).value && !ClearAt(e, 0).openTag);
    EXPECT_EQ(ContentAt(e, 0).kind, XMLContentNothing);
}

TEST(XMLAttributeQueries, WholeNamesWithoutRegardToCase) {
    const XMLNode e = ParseXMLText("<e xmlns:s='u' S:x=1 Flag k=a k=b K=c><!--c--></e>", "e");
    EXPECT_EQ(*FindAttributeNamed(e, "XMLNS:S"), "u");
    EXPECT_EQ(FindAttributeNamed(e, "x"), nullptr);
    EXPECT_EQ(*FindAttributeNamed(e, "s:x"), "1");
    EXPECT_EQ(HasAttribute(e, "flag") * 10 + HasAttribute(e, "none"), 10);
    EXPECT_EQ(FindAttributeNamed(e, "flag"), nullptr) << "an attribute without value gives none";
    EXPECT_EQ(*AttributeNamedAt(e, "k", 2), "c");
    EXPECT_EQ(AttributeNamedAt(e, "k", 3), nullptr);
    int position = 0;
    EXPECT_EQ(*FindAttributeNamed(e, "k", &position), "a");
    EXPECT_EQ(*FindAttributeNamed(e, "k", &position), "b");
    EXPECT_EQ(position, 5);
    EXPECT_EQ(AttributeAt(e, 2).name, "Flag");
    EXPECT_TRUE(AttributeAt(e, 6).name.empty());
    EXPECT_EQ(std::string(ClearAt(e, 0).openTag) + ClearAt(e, 0).value + ClearAt(e, 0).closeTag,
              "<!--c-->");
    EXPECT_EQ(ClearAt(e, 1).openTag, nullptr);
}

// A file in the test's temporary folder, removed again at the end of the test.
struct TempFile {
    TempFile(const char* name, const std::string& contents)
        : path(::testing::TempDir() + "quaymap_xml_" + std::to_string(::getpid()) + "_" + name) {
        std::ofstream(path, std::ios::binary) << contents;
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

std::string ParseFile(const std::string& path, const char* tag) {
    XMLParseReport report{-1, -1, -1};
    return Outcome(report, DumpTree(ParseXMLFile(path.c_str(), tag, &report)));
}

TEST(XMLFiles, ParseAFileOrReportWhereItFailed) {
    EXPECT_EQ(ParseFile("/nonexistent/quaymap.xml", nullptr), "11 0:0 <empty>");
    const TempFile good("good.xml", "<?xml version=\"1.0\"?>\n<root>\n<a>x</a>\n</root>\n");
    EXPECT_EQ(ParseFile(good.path, "root"), "0 -1:-1 root{a{\"x\"}}");
    EXPECT_EQ(DumpTree(OpenXMLFileOrExit(good.path.c_str(), "root")), "root{a{\"x\"}}");
    const TempFile bad("bad.xml", "<a>\n  <b>\n  </c>\n");
    EXPECT_EQ(ParseFile(bad.path, nullptr), "7 3:7 <empty>");
}

// The message goes to standard output; the death test only sees standard error.
void OpenOrExitPrintingToStandardError(const char* path, const char* tag) {
    ::dup2(2, 1);
    OpenXMLFileOrExit(path, tag);
}

TEST(XMLFiles, OpenOrExitPrintsTheErrorAndItsPlaceAndEndsTheProgram) {
    const auto exited = ::testing::ExitedWithCode(255);
    EXPECT_EXIT(OpenOrExitPrintingToStandardError("/nonexistent/q.xml", "root"), exited,
                "^XML Parsing error inside file '/nonexistent/q\\.xml'\\.\n"
                "Error: Error: File not found\nAt line 0, column 0\\.\n$");
    const TempFile error("error.xml", "<a>\n</b>");
    EXPECT_EXIT(OpenOrExitPrintingToStandardError(error.path.c_str(), nullptr), exited,
                "Error: Error: Unmatched end tag\nAt line 2, column 5\\.\n$");
    // The warning counts as an error here, placed where the first unmatched end tag ended.
    const TempFile warning("warning.xml", "<a>\n<b></a>\n<c><d></c>");
    EXPECT_EXIT(OpenOrExitPrintingToStandardError(warning.path.c_str(), "a"), exited,
                "Error: Warning: Unmatched end tag\nAt line 2, column 8\\.\n$");
}

} // namespace
