// Parse entry points, reports, the first-tag lookup and the node queries the UPnP client uses.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const char* const kSoap = "<?xml version=\"1.0\"?><s:Envelope><s:Body><u:R><X>5</X></u:R></s:Body>"
                          "</s:Envelope>";

// ---- Parse entry points and reports ----

TEST(XMLParseText, MissingTextGivesCodeTenAtLineZero) {
    XMLParseReport report{-1, -1, -1};
    EXPECT_TRUE(IsEmptyNode(ParseXMLText(nullptr, "root", &report)));
    EXPECT_EQ(report.error, XMLErrorNoElements);
    EXPECT_EQ(report.line, 0);
    EXPECT_EQ(report.column, 0);
    EXPECT_TRUE(IsEmptyNode(ParseXMLText(nullptr)));
}

TEST(XMLParseText, EmptyOrWhiteTextGivesABareRootOrWithATagTheEmptyNode) {
    for (const char* text : {"", " \r\n\t "}) {
        const Parsed bare = ParseForTest(text);
        EXPECT_EQ(bare.report.error, 0);
        EXPECT_EQ(bare.tree(), "#root");
        const Parsed tagged = ParseForTest(text, "root");
        EXPECT_EQ(tagged.report.error, 0);
        EXPECT_TRUE(IsEmptyNode(tagged.node));
    }
}

TEST(XMLParseText, LineAndColumnAreLeftAloneForSuccessAndWarning) {
    XMLParseReport report{-1, 41, 42};
    ParseXMLText("<a/>", nullptr, &report);
    EXPECT_EQ(report.error, 0);
    EXPECT_EQ(report.line, 41);
    EXPECT_EQ(report.column, 42);
    ParseXMLText("<a><b></a>x", nullptr, &report);
    EXPECT_EQ(report.error, XMLWarningUnmatchedEndTag);
    EXPECT_EQ(report.line, 41);
}

TEST(XMLParseText, ErrorReportsMessageLineAndColumn) {
    XMLParseReport report;
    EXPECT_TRUE(IsEmptyNode(ParseXMLText("<a></b>", nullptr, &report)));
    EXPECT_EQ(report.error, 7);
    EXPECT_STREQ(XMLErrorText(report.error), "Error: Unmatched end tag");
    EXPECT_EQ(report.line, 1);
    EXPECT_EQ(report.column, 8);
}

TEST(XMLParseText, TreeHoldsCopiesSoTheTextMayBeFreed) {
    std::string text = "<a b='v'>t</a>";
    XMLNode node = ParseXMLText(text, "a");
    text.assign(text.size(), 'z');
    EXPECT_EQ(DumpTree(node), "a(b=v){\"t\"}");
}

TEST(XMLErrorTexts, EveryCodeHasItsMessage) {
    const char* expected[] = {"No error",
                              "Warning: Unmatched end tag",
                              "Error: No XML data",
                              "Error: First token not start tag",
                              "Error: Missing start tag name",
                              "Error: Missing end tag name",
                              "Error: Unmatched quote",
                              "Error: Unmatched end tag",
                              "Error: Unexpected token found",
                              "Error: Invalid tag found",
                              "Error: No elements found",
                              "Error: File not found",
                              "Error: First Tag not found"};
    for (int code = 0; code < 13; ++code)
        EXPECT_STREQ(XMLErrorText(code), expected[code]) << code;
    EXPECT_STREQ(XMLErrorText(13), "Unknown");
    EXPECT_STREQ(XMLErrorText(-1), "Unknown");
}

// ---- First-tag lookup ----

TEST(XMLFirstTag, SoapEnvelopeIsFoundAsTheLastElementExamined) {
    for (const char* text : {kSoap, kSoap + std::strlen("<?xml version=\"1.0\"?>")}) {
        const Parsed p = ParseForTest(text, "Envelope");
        ASSERT_EQ(p.report.error, 0);
        EXPECT_EQ(*NodeName(p.node), "s:Envelope");
        const XMLNode body = FindChildNamed(p.node, "Body");
        EXPECT_EQ(*NodeName(body), "s:Body");
        const XMLNode answer = FindChildNamed(body, "R");
        EXPECT_EQ(*NodeName(answer), "u:R");
        EXPECT_EQ(*TextAt(ChildNamedAt(answer, "X", 0), 0), "5");
    }
}

TEST(XMLFirstTag, HTTPHeaderBeforeTheMarkupIsPassedOver) {
    const std::string answer = std::string("HTTP/1.1 200 OK\r\nCONTENT-TYPE: text/xml; "
                                           "charset=\"utf-8\"\r\nEXT:\r\n\r\n") +
                               kSoap;
    const Parsed p = ParseForTest(answer.c_str(), "Envelope");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(*NodeName(p.node), "s:Envelope");
}

TEST(XMLFirstTag, WholeNameMatchesWithoutRegardToCase) {
    const Parsed p = ParseForTest("<?xml version=\"1.0\"?><ROOT><a/></ROOT>", "root");
    EXPECT_EQ(DumpTree(p.node), "ROOT{a}");
}

TEST(XMLFirstTag, MissingTagGivesTheLastTopLevelElementWithoutError) {
    const Parsed p = ParseForTest("<root><a/></root>", "zzz");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(*NodeName(p.node), "root");
    EXPECT_EQ(*NodeName(ParseForTest("<a/><b/><c/>", "zzz").node), "c");
    EXPECT_EQ(*NodeName(ParseForTest("<a/><b/><c/>", "B").node), "b");
}

TEST(XMLFirstTag, DeclarationAloneIsItsOwnResult) {
    const Parsed p = ParseForTest("<?xml version=\"1.0\"?>", "root");
    EXPECT_EQ(*NodeName(p.node), "xml");
    EXPECT_EQ(IsDeclarationNode(p.node), 1);
}

TEST(XMLFirstTag, LookupDescendsThroughNestedDeclarations) {
    const Parsed p = ParseForTest("<?xml?><!-- c --><?style x?><root><device/></root>", "root");
    EXPECT_EQ(DumpTree(p.node), "root{device}");
}

TEST(XMLFirstTag, EmptyTagMeansTheRoot) {
    EXPECT_EQ(ParseForTest("<a/>", "").tree(), "#root{a}");
}

TEST(XMLFirstTag, ResultOutlivesTheRestOfTheTree) {
    XMLNode envelope = ParseXMLText(kSoap, "Envelope");
    EXPECT_EQ(envelope.record()->refCount, 1);
    EXPECT_EQ(envelope.record()->parent, nullptr);
    EXPECT_EQ(DumpTree(envelope), "s:Envelope{s:Body{u:R{X{\"5\"}}}}");
}

TEST(XMLFirstTag, WarningStillGivesTheTree) {
    const Parsed p = ParseForTest("<root><a><b>1</a></root>", "root");
    EXPECT_EQ(p.report.error, XMLWarningUnmatchedEndTag);
    EXPECT_EQ(DumpTree(p.node), "root{a{b{\"1\"}}}");
}

// ---- Child queries ----

TEST(XMLChildQueries, CountComparesWholeNamesLookupComparesLocalNames) {
    const XMLNode list =
        ParseXMLText("<list><device/><x:device/><DEVICE/><d:x:device/></list>", "list");
    EXPECT_EQ(CountChildrenNamed(list, "device"), 2);
    EXPECT_EQ(CountChildrenNamed(list, "x:device"), 1);
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "device", 0)), "device");
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "device", 1)), "x:device");
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "device", 2)), "DEVICE");
    EXPECT_TRUE(IsEmptyNode(ChildNamedAt(list, "device", 3)));
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "x:device", 0)), "d:x:device");
    EXPECT_EQ(*NodeName(ChildNamedAt(list, "device", -5)), "device");
}

TEST(XMLChildQueries, PrefixedRequestNeverMatchesAPrefixedChild) {
    const XMLNode envelope = ParseXMLText(kSoap, "Envelope");
    EXPECT_TRUE(IsEmptyNode(FindChildNamed(envelope, "s:Body")));
    EXPECT_EQ(CountChildrenNamed(envelope, "s:Body"), 1);
}

TEST(XMLChildQueries, FindChildNamedMovesThePositionOnlyOnSuccess) {
    const XMLNode r = ParseXMLText("<r><a/><b/><a/></r>", "r");
    int position = 0;
    EXPECT_EQ(FindChildNamed(r, "a", &position).record(), r.record()->children[0]);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(FindChildNamed(r, "a", &position).record(), r.record()->children[2]);
    EXPECT_EQ(position, 3);
    EXPECT_TRUE(IsEmptyNode(FindChildNamed(r, "a", &position)));
    EXPECT_EQ(position, 3);
    position = 1;
    EXPECT_EQ(FindChildNamed(r, "b", &position).record(), r.record()->children[1]);
}

TEST(XMLChildQueries, IndexesOutOfRangeGiveNothing) {
    const XMLNode a = ParseXMLText("<a>t<b/></a>", "a");
    EXPECT_EQ(ChildCount(a), 1);
    EXPECT_EQ(TextCount(a), 1);
    EXPECT_TRUE(IsEmptyNode(ChildAt(a, 1)));
    EXPECT_TRUE(IsEmptyNode(ChildAt(a, -1)));
    EXPECT_EQ(*TextAt(a, 0), "t");
    EXPECT_EQ(TextAt(a, 1), nullptr);
    EXPECT_EQ(TextAt(a, -1), nullptr);
    EXPECT_EQ(TextAtOrEmpty(a, 3), "");
}

TEST(XMLChildQueries, EveryQueryAcceptsTheEmptyNode) {
    const XMLNode empty = XMLNode::emptyNode();
    EXPECT_TRUE(IsEmptyNode(empty));
    EXPECT_EQ(ChildCount(empty) + TextCount(empty) + AttributeCount(empty) + ClearCount(empty) +
                  ContentCount(empty),
              0);
    EXPECT_EQ(NodeName(empty), nullptr);
    EXPECT_EQ(IsDeclarationNode(empty), 0);
    EXPECT_TRUE(IsEmptyNode(ChildAt(empty, 0)));
    EXPECT_EQ(TextAt(empty, 0), nullptr);
    EXPECT_EQ(CountChildrenNamed(empty, "a"), 0);
    int position = 7;
    EXPECT_TRUE(IsEmptyNode(FindChildNamed(empty, "a", &position)));
    EXPECT_EQ(position, 7);
    EXPECT_TRUE(IsEmptyNode(ChildNamedAt(empty, "a", 2)));
    EXPECT_EQ(FindAttributeNamed(empty, "a"), nullptr);
    EXPECT_EQ(AttributeNamedAt(empty, "a", 0), nullptr);
    EXPECT_EQ(HasAttribute(empty, "a"), 0);
    EXPECT_TRUE(AttributeAt(empty, 0).name.empty());
    EXPECT_FALSE(AttributeAt(empty, 0).value.has_value());
    EXPECT_EQ(ClearAt(empty, 0).openTag, nullptr);
    EXPECT_EQ(ContentAt(empty, 0).kind, XMLContentNothing);
}

// ---- Attribute queries ----

TEST(XMLAttributeQueries, WholeNamesWithoutRegardToCase) {
    const XMLNode e = ParseXMLText("<e xmlns:s='u' S:x=1 Flag k=a k=b K=c/>", "e");
    EXPECT_EQ(*FindAttributeNamed(e, "XMLNS:S"), "u");
    EXPECT_EQ(FindAttributeNamed(e, "x"), nullptr);
    EXPECT_EQ(*FindAttributeNamed(e, "s:x"), "1");
    EXPECT_EQ(HasAttribute(e, "flag"), 1);
    EXPECT_EQ(FindAttributeNamed(e, "flag"), nullptr) << "an attribute without value gives none";
    EXPECT_EQ(HasAttribute(e, "none"), 0);
    EXPECT_EQ(*AttributeNamedAt(e, "k", 0), "a");
    EXPECT_EQ(*AttributeNamedAt(e, "k", 2), "c");
    EXPECT_EQ(AttributeNamedAt(e, "k", 3), nullptr);
}

TEST(XMLAttributeQueries, PositionWalksThroughRepeatedNames) {
    const XMLNode e = ParseXMLText("<e k=a j=0 k=b/>", "e");
    int position = 0;
    EXPECT_EQ(*FindAttributeNamed(e, "k", &position), "a");
    EXPECT_EQ(position, 1);
    EXPECT_EQ(*FindAttributeNamed(e, "k", &position), "b");
    EXPECT_EQ(position, 3);
    EXPECT_EQ(FindAttributeNamed(e, "k", &position), nullptr);
    EXPECT_EQ(position, 3);
}

TEST(XMLAttributeQueries, AttributeAndClearByIndex) {
    const XMLNode e = ParseXMLText("<e a=1 b><!--c--></e>", "e");
    EXPECT_EQ(AttributeCount(e), 2);
    EXPECT_EQ(AttributeAt(e, 0).name, "a");
    EXPECT_EQ(*AttributeAt(e, 0).value, "1");
    EXPECT_FALSE(AttributeAt(e, 1).value.has_value());
    EXPECT_TRUE(AttributeAt(e, 2).name.empty());
    EXPECT_EQ(ClearCount(e), 1);
    EXPECT_STREQ(ClearAt(e, 0).openTag, "<!--");
    EXPECT_STREQ(ClearAt(e, 0).closeTag, "-->");
    EXPECT_EQ(ClearAt(e, 0).value, "c");
    EXPECT_EQ(ClearAt(e, 1).openTag, nullptr);
}

// ---- Files ----

class XMLFiles : public ::testing::Test {
  protected:
    std::string Write(const std::string& contents) {
        path_ = ::testing::TempDir() + "quaymap_xml_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".xml";
        std::ofstream(path_, std::ios::binary) << contents;
        return path_;
    }
    void TearDown() override {
        if (!path_.empty())
            std::remove(path_.c_str());
    }
    std::string path_;
};

TEST_F(XMLFiles, ParsesAWholeFile) {
    const std::string path = Write("<?xml version=\"1.0\"?>\n<root>\n<a>x</a>\n</root>\n");
    XMLParseReport report;
    const XMLNode root = ParseXMLFile(path.c_str(), "root", &report);
    EXPECT_EQ(report.error, 0);
    EXPECT_EQ(DumpTree(root), "root{a{\"x\"}}");
}

TEST_F(XMLFiles, MissingFileGivesCodeElevenAtLineZero) {
    XMLParseReport report{-1, -1, -1};
    EXPECT_TRUE(IsEmptyNode(ParseXMLFile("/nonexistent/quaymap.xml", nullptr, &report)));
    EXPECT_EQ(report.error, XMLErrorFileNotFound);
    EXPECT_EQ(report.line, 0);
    EXPECT_EQ(report.column, 0);
}

TEST_F(XMLFiles, ErrorInAFileGivesItsPlace) {
    const std::string path = Write("<a>\n  <b>\n  </c>\n");
    XMLParseReport report;
    EXPECT_TRUE(IsEmptyNode(ParseXMLFile(path.c_str(), nullptr, &report)));
    EXPECT_EQ(report.error, XMLErrorUnmatchedEndTag);
    EXPECT_EQ(report.line, 3);
    EXPECT_EQ(report.column, 7);
}

TEST_F(XMLFiles, OpenOrExitReturnsTheTreeOfAGoodFile) {
    const std::string path = Write("<root><a/></root>");
    EXPECT_EQ(DumpTree(OpenXMLFileOrExit(path.c_str(), "root")), "root{a}");
}

// The message goes to standard output; the death test only sees standard error.
#define EXPECT_EXITS_PRINTING(statement, text)                                                     \
    EXPECT_EXIT(                                                                                   \
        {                                                                                          \
            ::dup2(2, 1);                                                                          \
            statement;                                                                             \
        },                                                                                         \
        ::testing::ExitedWithCode(255), text)

TEST_F(XMLFiles, OpenOrExitEndsTheProgramOnAMissingFile) {
    EXPECT_EXITS_PRINTING(OpenXMLFileOrExit("/nonexistent/q.xml", "root"),
                          "^XML Parsing error inside file '/nonexistent/q.xml'\\.\n"
                          "Error: Error: File not found\nAt line 0, column 0\\.\n$");
}

TEST_F(XMLFiles, OpenOrExitEndsTheProgramOnAnError) {
    const std::string path = Write("<a>\n</b>");
    EXPECT_EXITS_PRINTING(OpenXMLFileOrExit(path.c_str(), nullptr),
                          "Error: Error: Unmatched end tag\nAt line 2, column 5\\.\n$");
}

TEST_F(XMLFiles, OpenOrExitTreatsTheWarningAsAnErrorAndGivesItsPlace) {
    const std::string path = Write("<a>\n<b></a>\n<c/>");
    EXPECT_EXITS_PRINTING(OpenXMLFileOrExit(path.c_str(), "a"),
                          "Error: Warning: Unmatched end tag\nAt line 2, column 8\\.\n$");
}

} // namespace
