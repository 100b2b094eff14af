// Tokenizer and element parser: token kinds, trees, warnings and errors with their places.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

namespace {

using TokenList = std::vector<std::pair<int, std::string>>;

TokenList Tokens(const char* text) {
    XMLParseState state;
    state.lpXML = text;
    TokenList tokens;
    for (;;) {
        const XMLToken token = ReadXMLToken(&state);
        if (token.kind == XMLTokenEndOfText)
            return tokens;
        if (token.kind == XMLTokenClearOpener)
            tokens.emplace_back(token.kind, token.clearTag->opener);
        else
            tokens.emplace_back(token.kind, std::string(token.start, token.length));
    }
}

// ---- Tokenizer ----

TEST(XMLTokenizer, RecognisesEveryTokenKind) {
    EXPECT_EQ(Tokens("<a b=\"x y\" c=d/></a><?p?>"), (TokenList{{XMLTokenTagOpener, "<"},
                                                                {XMLTokenWord, "a"},
                                                                {XMLTokenWord, "b"},
                                                                {XMLTokenEquals, "="},
                                                                {XMLTokenQuotedString, "\"x y\""},
                                                                {XMLTokenWord, "c"},
                                                                {XMLTokenEquals, "="},
                                                                {XMLTokenWord, "d"},
                                                                {XMLTokenSelfCloser, "/>"},
                                                                {XMLTokenEndTagOpener, "</"},
                                                                {XMLTokenWord, "a"},
                                                                {XMLTokenTagCloser, ">"},
                                                                {XMLTokenDeclarationOpener, "<?"},
                                                                {XMLTokenWord, "p?"},
                                                                {XMLTokenTagCloser, ">"}}));
}

TEST(XMLTokenizer, WordsEndAtWhiteSpaceMarkupAndSelfCloserOnly) {
    EXPECT_EQ(Tokens("a/b it's x\"y"),
              (TokenList{{XMLTokenWord, "a/b"}, {XMLTokenWord, "it's"}, {XMLTokenWord, "x\"y"}}));
    EXPECT_EQ(Tokens("/x"), (TokenList{{XMLTokenWord, "/x"}}));
    EXPECT_EQ(Tokens("ab<c"),
              (TokenList{{XMLTokenWord, "ab"}, {XMLTokenTagOpener, "<"}, {XMLTokenWord, "c"}}));
    EXPECT_EQ(Tokens("k/>"), (TokenList{{XMLTokenWord, "k"}, {XMLTokenSelfCloser, "/>"}}));
}

TEST(XMLTokenizer, WordConsumesOneTerminatingWhiteSpaceByte) {
    XMLParseState state;
    state.lpXML = "ab  c";
    ReadXMLToken(&state);
    EXPECT_EQ(state.position, 3u);
    state.lpXML = "ab>";
    state.position = 0;
    ReadXMLToken(&state);
    EXPECT_EQ(state.position, 2u);
}

TEST(XMLTokenizer, QuotedStringSkipsFollowingWhiteSpace) {
    XMLParseState state;
    state.lpXML = "'x'  \t y";
    const XMLToken token = ReadXMLToken(&state);
    EXPECT_EQ(token.kind, XMLTokenQuotedString);
    EXPECT_EQ(token.length, 3u);
    EXPECT_EQ(state.position, 7u);
}

TEST(XMLTokenizer, QuoteWithoutPartnerBeforeMarkupBecomesAWord) {
    EXPECT_EQ(Tokens("\"1<2\""),
              (TokenList{{XMLTokenWord, "\"1"}, {XMLTokenTagOpener, "<"}, {XMLTokenWord, "2\""}}));
    EXPECT_EQ(Tokens("'abc"), (TokenList{{XMLTokenWord, "'abc"}}));
    EXPECT_EQ(Tokens("'a>b'"), (TokenList{{XMLTokenQuotedString, "'a>b'"}}));
}

TEST(XMLTokenizer, ClearOpenersMatchWithoutRegardToCaseBeforeAnythingElse) {
    EXPECT_EQ(Tokens("<!doctype <pre> <SCRIPT> <![cdata[ <!--"),
              (TokenList{{XMLTokenClearOpener, "<!DOCTYPE"},
                         {XMLTokenClearOpener, "<PRE>"},
                         {XMLTokenClearOpener, "<Script>"},
                         {XMLTokenClearOpener, "<![CDATA["},
                         {XMLTokenClearOpener, "<!--"}}));
    EXPECT_EQ(Tokens("<!-"), (TokenList{{XMLTokenTagOpener, "<"}, {XMLTokenWord, "!-"}}));
}

TEST(XMLTokenizer, EndOfTextLeavesPositionOnTheTerminator) {
    XMLParseState state;
    state.lpXML = " \t\r\n";
    EXPECT_EQ(FindNonWhiteSpace(&state), 0);
    EXPECT_EQ(state.position, 4u);
    EXPECT_EQ(ReadXMLToken(&state).kind, XMLTokenEndOfText);
    EXPECT_EQ(state.position, 4u);
}

TEST(XMLTokenizer, OnlyTabLineFeedReturnAndSpaceAreWhiteSpace) {
    EXPECT_EQ(Tokens("a\vb\fc\x01"), (TokenList{{XMLTokenWord, "a\vb\fc\x01"}}));
    EXPECT_EQ(Tokens("\xc2\xa0x"), (TokenList{{XMLTokenWord, "\xc2\xa0x"}}));
}

TEST(XMLTokenizer, MatchTagNameNeedsWholeNameAndADelimiterAfterIt) {
    const std::optional<std::string> name("Root");
    EXPECT_TRUE(MatchTagName(name, "root>"));
    EXPECT_TRUE(MatchTagName(name, "ROOT >"));
    for (const char* after : {"\t", "\n", "\r", "/", "<", "="})
        EXPECT_TRUE(MatchTagName(name, (std::string("root") + after).c_str())) << after;
    EXPECT_FALSE(MatchTagName(name, "roots>"));
    EXPECT_FALSE(MatchTagName(name, "roo>"));
    EXPECT_FALSE(MatchTagName(name, "root"));
    EXPECT_FALSE(MatchTagName(std::nullopt, "root>"));
}

TEST(XMLTokenizer, FindEndOfTextDropsTrailingWhiteSpaceOnly) {
    size_t length = 9;
    FindEndOfText("a b \r\n\t x", &length);
    EXPECT_EQ(length, 9u);
    length = 8;
    FindEndOfText("a b \r\n\t ", &length);
    EXPECT_EQ(length, 3u);
}

// ---- Element trees ----

TEST(XMLElementParser, DeclarationHoldsTheRestOfTheDocument) {
    const Parsed p = ParseForTest("<?xml version=\"1.0\"?><root><a>x</a></root>");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{xml?(version=1.0){root{a{\"x\"}}}}");
}

TEST(XMLElementParser, DeclarationDropsTheQuestionMarkFromItsLastAttribute) {
    EXPECT_EQ(ParseForTest("<?xml version=1.0?>").tree(), "#root{xml?(version=1.0)}");
    EXPECT_EQ(ParseForTest("<?xml standalone?>").tree(), "#root{xml?(standalone)}");
    EXPECT_EQ(ParseForTest("<?xml ?>").tree(), "#root{xml?}");
    // The name is a word too, and a word runs up to the ">".
    EXPECT_EQ(ParseForTest("<?xml?>").tree(), "#root{xml??}");
    EXPECT_EQ(ParseForTest("<a b?>").tree(), "#root{a(b?)}");
    EXPECT_EQ(ParseForTest("<a b=c?>").tree(), "#root{a(b=c?)}");
}

TEST(XMLElementParser, AttributesWithAndWithoutValues) {
    const Parsed p = ParseForTest("<a b c=d e='x y'>");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{a(b c=d e=x y)}");
    EXPECT_EQ(ParseForTest("<a x=\"1>2\"/>").tree(), "#root{a(x=1>2)}");
    EXPECT_EQ(ParseForTest("<a x=''/>").tree(), "#root{a(x=)}");
}

TEST(XMLElementParser, ElementNamesCloseWithoutRegardToCase) {
    const Parsed p = ParseForTest("<A>t</a>");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{A{\"t\"}}");
}

TEST(XMLElementParser, TextKeepsInnerWhiteSpaceAndLosesTrailingWhiteSpace) {
    EXPECT_EQ(ParseForTest("<a>  two  words \r\n </a>").tree(), "#root{a{\"two  words\"}}");
    EXPECT_EQ(ParseForTest("<a>x\n\ty<b/> z </a>").tree(), "#root{a{\"x\n\ty\" b \"z\"}}");
    EXPECT_EQ(ParseForTest("<a>x = \"y\" 'z</a>").tree(), "#root{a{\"x = \"y\" 'z\"}}");
}

TEST(XMLElementParser, TextStillPendingAtTheEndIsDropped) {
    const Parsed p = ParseForTest("<a>tail");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{a}");
}

TEST(XMLElementParser, ElementsOpenAtTheEndAreKeptWithoutError) {
    const Parsed p = ParseForTest("<a><b>");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{a{b}}");
    EXPECT_EQ(ParseForTest("<a x=1").tree(), "#root{a(x=1)}");
}

TEST(XMLElementParser, TextBeforeTheFirstMarkupBecomesARootTextUndecoded) {
    const Parsed p =
        ParseForTest("HTTP/1.1 200 OK\r\nContent-Type: text/xml; a=\"b\"\r\nX: &amp;\r\n"
                     "\r\n<?xml version=\"1.0\"?><r/>");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{\"HTTP/1.1 200 OK\r\nContent-Type: text/xml; a=\"b\"\r\nX: &amp;\" "
                        "xml?(version=1.0){r}}");
}

TEST(XMLElementParser, ProcessingInstructionInsideAnElementHoldsItsFollowers) {
    const Parsed p = ParseForTest("<a><?p x?><b/></a>");
    EXPECT_EQ(p.report.error, XMLWarningUnmatchedEndTag);
    EXPECT_EQ(p.tree(), "#root{a{p?(x){b}}}");
}

TEST(XMLElementParser, EndTagOfAnOuterElementClosesEverythingUpToItWithAWarning) {
    const Parsed p = ParseForTest("<a><b>1</a><c/>");
    EXPECT_EQ(p.report.error, XMLWarningUnmatchedEndTag);
    EXPECT_EQ(p.tree(), "#root{a{b{\"1\"}} c}");
    const Parsed q = ParseForTest("<a><b><c>1</B>2</a>");
    EXPECT_EQ(q.report.error, XMLWarningUnmatchedEndTag);
    EXPECT_EQ(q.tree(), "#root{a{b{c{\"1\"}} \"2\"}}");
}

TEST(XMLElementParser, WarningIsNeverReset) {
    const Parsed p = ParseForTest("<a><b></a><c></c>");
    EXPECT_EQ(p.report.error, XMLWarningUnmatchedEndTag);
    EXPECT_EQ(p.tree(), "#root{a{b} c}");
}

TEST(XMLElementParser, TopLevelEndTagEndsTheParseWithAWarning) {
    const Parsed p = ParseForTest("</x><a/>");
    EXPECT_EQ(p.report.error, XMLWarningUnmatchedEndTag);
    EXPECT_EQ(p.tree(), "#root");
    EXPECT_EQ(p.report.line, -1) << "line and column stay as the caller had them";
}

// ---- Errors and their places ----

struct ErrorCase {
    const char* text;
    int error;
    int line;
    int column;
};

class XMLParseErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(XMLParseErrors, EmptyNodeWithCodeLineAndColumn) {
    const ErrorCase& c = GetParam();
    const Parsed p = ParseForTest(c.text);
    EXPECT_TRUE(IsEmptyNode(p.node));
    EXPECT_EQ(p.report.error, c.error);
    EXPECT_EQ(p.report.line, c.line);
    EXPECT_EQ(p.report.column, c.column);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XMLParseErrors,
    ::testing::Values(ErrorCase{"<a></b>", XMLErrorUnmatchedEndTag, 1, 8},
                      ErrorCase{"<a>\nx\n>", XMLErrorUnexpectedToken, 3, 2},
                      ErrorCase{"<a b=>", XMLErrorUnexpectedToken, 1, 7},
                      ErrorCase{"<a =x>", XMLErrorUnexpectedToken, 1, 5},
                      ErrorCase{"< >", XMLErrorMissingStartTagName, 1, 4},
                      ErrorCase{"<?'x'?>", XMLErrorMissingStartTagName, 1, 6},
                      ErrorCase{"<a></>", XMLErrorMissingEndTagName, 1, 7},
                      ErrorCase{"<a></a b>", XMLErrorMissingEndTagName, 1, 9},
                      ErrorCase{"<a><!-- x", XMLErrorUnmatchedEndTag, 1, 8},
                      ErrorCase{"<a><pre>x</pre></a>", XMLErrorUnmatchedEndTag, 1, 9},
                      ErrorCase{"<a x=\"1<2\"/>", XMLErrorUnexpectedToken, 1, 9},
                      ErrorCase{"text /> more", XMLErrorUnexpectedToken, 1, 8},
                      ErrorCase{"<a b \"c\">", XMLErrorUnexpectedToken, 1, 9},
                      ErrorCase{"<a><![CDATA[x]]", XMLErrorUnmatchedEndTag, 1, 13},
                      ErrorCase{"<a>\r\n<b>\r\n</c>", XMLErrorUnmatchedEndTag, 3, 5}));

// ---- Clear sections ----

TEST(XMLClearSections, ContentIsKeptUnparsed) {
    const Parsed p =
        ParseForTest("<a><![CDATA[a<b&c]]><!-- <x> --><script>if (a<b) {}</Script></a>");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{a{[<![CDATA[|a<b&c|]]>] [<!--| <x> |-->] "
                        "[<Script>|if (a<b) {}|</Script>]}}");
}

TEST(XMLClearSections, EmptySectionGivesAnEmptyValue) {
    const Parsed p = ParseForTest("<a><!----></a>");
    EXPECT_EQ(p.tree(), "#root{a{[<!--||-->]}}");
}

TEST(XMLClearSections, OpenersIgnoreCaseButClosersMustMatchExactly) {
    EXPECT_EQ(ParseForTest("<a><pre>x</PRE></a>").tree(), "#root{a{[<PRE>|x|</PRE>]}}");
    EXPECT_EQ(ParseForTest("<a><script>x</script></a>").report.error, XMLErrorUnmatchedEndTag);
}

TEST(XMLClearSections, DoctypeEndsAtItsFirstCloser) {
    const Parsed p = ParseForTest("<!DOCTYPE x [<!ENTITY e \"v\">]><x/>");
    EXPECT_EQ(p.report.error, XMLErrorUnexpectedToken);
    const Parsed q = ParseForTest("<!doctype html><html/>");
    EXPECT_EQ(q.tree(), "#root{[<!DOCTYPE| html|>] html}");
}

TEST(XMLClearSections, TextBeforeASectionIsStoredUndecoded) {
    EXPECT_EQ(ParseForTest("<a>x &amp; y<!--c--></a>").tree(),
              "#root{a{\"x &amp; y\" [<!--|c|-->]}}");
}

TEST(XMLClearSections, SectionOpenerInsideATagIsUnexpected) {
    EXPECT_EQ(ParseForTest("<a <!-- x -->>").report.error, XMLErrorUnexpectedToken);
}

// ---- Nesting depth ----

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<a>";
    return text;
}

TEST(XMLNestingDepth, DeepestAllowedNestingParses) {
    const Parsed p = ParseForTest(Nested(kXMLMaxDepth).c_str());
    EXPECT_EQ(p.report.error, 0);
    int depth = 0;
    for (XMLNode n = ChildAt(p.node, 0); !IsEmptyNode(n); n = ChildAt(n, 0))
        ++depth;
    EXPECT_EQ(depth, kXMLMaxDepth);
}

TEST(XMLNestingDepth, OneLevelDeeperEndsTheParseAsUnexpected) {
    EXPECT_EQ(ParseForTest(Nested(kXMLMaxDepth + 1).c_str()).report.error, XMLErrorUnexpectedToken);
}

TEST(XMLNestingDepth, DeclarationsCountAsNesting) {
    std::string text;
    for (int i = 0; i <= kXMLMaxDepth; ++i)
        text += "<?p?>";
    EXPECT_EQ(ParseForTest(text.c_str()).report.error, XMLErrorUnexpectedToken);
}

TEST(XMLNestingDepth, HugeNestingNeitherCrashesNorOverflows) {
    const std::string text = Nested(200000);
    const Parsed p = ParseForTest(text.c_str());
    EXPECT_TRUE(IsEmptyNode(p.node));
    EXPECT_EQ(p.report.error, XMLErrorUnexpectedToken);
    EXPECT_EQ(p.report.column, 3 * (kXMLMaxDepth + 1));
}

} // namespace
