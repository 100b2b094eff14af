// Entity references: the five named ones, numeric references, and everything else kept as written.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Decode(const char* text) {
    return *DecodeXMLEntities(text, long(std::strlen(text)));
}

TEST(XMLEntityDecoding, FiveNamedReferencesWithoutRegardToCase) {
    EXPECT_EQ(Decode("&lt;&gt;&amp;&apos;&quot;"), "<>&'\"");
    EXPECT_EQ(Decode("&LT;&Gt;&AMP;&aPoS;&QUOT;"), "<>&'\"");
    EXPECT_EQ(Decode("a&amp;amp;b"), "a&amp;b");
}

TEST(XMLEntityDecoding, NumericReferencesBecomeUTF8) {
    EXPECT_EQ(Decode("Caf&#233;"), "Caf\xc3\xa9");
    EXPECT_EQ(Decode("Caf&#xE9;"), "Caf\xc3\xa9");
    EXPECT_EQ(Decode("&#Xe9;"), "\xc3\xa9");
    EXPECT_EQ(Decode("&#65;&#x7F;"), "A\x7f");
    EXPECT_EQ(Decode("&#x20AC;"), "\xe2\x82\xac");
    EXPECT_EQ(Decode("&#128512;"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(Decode("&#x10FFFF;"), "\xf4\x8f\xbf\xbf");
    EXPECT_EQ(Decode("&#0000038;"), "&");
}

TEST(XMLEntityDecoding, ReferencesNamingNoValidCodePointStayAsWritten) {
    for (const char* text :
         {"&#0;", "&#xD800;", "&#xDFFF;", "&#x110000;", "&#99999999999999999999;", "&#;", "&#x;",
          "&#12", "&#a;", "&#x1G;", "&#-1;", "&# 65;"})
        EXPECT_EQ(Decode(text), text);
}

TEST(XMLEntityDecoding, UnknownReferencesStayAsWritten) {
    EXPECT_EQ(Decode("&nbsp;&copy;"), "&nbsp;&copy;");
    EXPECT_EQ(Decode("a & b"), "a & b");
    EXPECT_EQ(Decode("&amp"), "&amp");
    EXPECT_EQ(Decode("&"), "&");
    EXPECT_EQ(Decode("&&lt;"), "&<");
}

TEST(XMLEntityDecoding, NeverReadsPastTheGivenLength) {
    EXPECT_EQ(*DecodeXMLEntities("&amp;", 3), "&am");
    EXPECT_EQ(*DecodeXMLEntities("x&lt;y", 4), "x&lt");
    EXPECT_EQ(*DecodeXMLEntities("&#65;", 4), "&#65");
    EXPECT_EQ(*DecodeXMLEntities("abc", 2), "ab");
}

TEST(XMLEntityDecoding, StopsAtNULAndHandlesMissingOrEmptyText) {
    EXPECT_EQ(*DecodeXMLEntities("ab\0cd", 5), "ab");
    EXPECT_EQ(*DecodeXMLEntities("abc", 0), "");
    EXPECT_EQ(*DecodeXMLEntities("abc", -4), "");
    EXPECT_FALSE(DecodeXMLEntities(nullptr, 3).has_value());
}

TEST(XMLEntityDecodingInDocuments, TextIsDecodedOnlyDirectlyBeforeAnEndTag) {
    EXPECT_EQ(ParseForTest("<a>x &amp; y</a>").tree(), "#root{a{\"x & y\"}}");
    EXPECT_EQ(ParseForTest("<a>x &amp; y<b/></a>").tree(), "#root{a{\"x &amp; y\" b}}");
    EXPECT_EQ(ParseForTest("<a>x &amp; y<?p x?></a>").tree(), "#root{a{\"x &amp; y\" p?(x)}}");
    EXPECT_EQ(ParseForTest("<a><b/>&lt;tail&gt;</a>").tree(), "#root{a{b \"<tail>\"}}");
    EXPECT_EQ(ParseForTest("<a>&LT;</a>").tree(), "#root{a{\"<\"}}");
}

TEST(XMLEntityDecodingInDocuments, AttributeValuesAreAlwaysDecodedNamesNever) {
    EXPECT_EQ(ParseForTest("<a b=\"&lt;&#233;\" c=x&amp;y d&amp;=1/>").tree(),
              "#root{a(b=<\xc3\xa9 c=x&y d&amp;=1)}");
    EXPECT_EQ(ParseForTest("<a b=\"&#38;\"/>").tree(), "#root{a(b=&)}");
}

TEST(XMLEntityDecodingInDocuments, UnknownReferenceNoLongerEndsTheProgram) {
    const Parsed p = ParseForTest("<root><friendlyName>Caf&#233; &nbsp;Box&#xFFFFFF;</friendlyName>"
                                  "<x b='&bogus;'/></root>");
    EXPECT_EQ(p.report.error, 0);
    EXPECT_EQ(p.tree(), "#root{root{friendlyName{\"Caf\xc3\xa9 &nbsp;Box&#xFFFFFF;\"} "
                        "x(b=&bogus;)}}");
}

TEST(XMLEntityDecodingInDocuments, UnknownReferenceAtTheVeryEndOfTheText) {
    // The reference name runs to the end of the document: nothing may be read past it.
    EXPECT_EQ(ParseForTest("<a b='&abcdefghijklmnop'/>").tree(), "#root{a(b=&abcdefghijklmnop)}");
    EXPECT_EQ(ParseForTest("<a>&ab</a>").tree(), "#root{a{\"&ab\"}}");
}

} // namespace
