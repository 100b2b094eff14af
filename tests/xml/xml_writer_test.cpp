// Writing trees back out, compact and indented, byte for byte, and the entity encoder.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Write(const char* text, int formatted, const char* tag = nullptr) {
    int size = -1;
    const std::optional<std::string> out =
        createXMLString(ParseXMLText(text, tag), formatted, &size);
    EXPECT_TRUE(out.has_value());
    EXPECT_EQ(size, out ? int(out->size()) : -2);
    return out.value_or("<none>");
}

const char* const kDocument = "<?xml version=\"1.0\"?><root><a>x &amp; y</a><b/></root>";

TEST(XMLWriterCompact, DocumentComesBackAsItWasWritten) {
    EXPECT_EQ(Write(kDocument, 0), kDocument);
}

TEST(XMLWriterIndented, TabsPerLevelAndALineFeedAfterEachLine) {
    EXPECT_EQ(Write(kDocument, 1), "<?xml version=\"1.0\"?>\n"
                                   "<root>\n"
                                   "\t<a>\n"
                                   "\t\tx &amp; y\n"
                                   "\t</a>\n"
                                   "\t<b/>\n"
                                   "</root>\n");
}

TEST(XMLWriterIndented, InnerNodeStartsAtLevelZero) {
    EXPECT_EQ(Write("<r><a><b>t</b></a></r>", 1, "r"), "<r>\n\t<a>\n\t\t<b>\n\t\t\tt\n\t\t</b>\n"
                                                       "\t</a>\n</r>\n");
}

TEST(XMLWriterIndented, RootTextsAreIndentedOneLevelDeeperThanItsChildren) {
    EXPECT_EQ(Write("HTTP/1.1 200 OK\r\n\r\n<a/>", 1), "\tHTTP/1.1 200 OK\n<a/>\n");
    EXPECT_EQ(Write("HTTP/1.1 200 OK\r\n\r\n<a/>", 0), "HTTP/1.1 200 OK<a/>");
}

TEST(XMLWriterIndented, ClearSectionsGetTheirOwnLines) {
    EXPECT_EQ(Write("<a>t<![CDATA[x<y]]><b/></a>", 1),
              "<a>\n\tt\n\t<![CDATA[x<y]]>\n\t<b/>\n</a>\n");
}

TEST(XMLWriterTags, ElementWithAttributesAndNoContentSelfCloses) {
    EXPECT_EQ(Write("<e k=\"v\"></e>", 0), "<e k=\"v\"/>");
    EXPECT_EQ(Write("<e k=\"v\"></e>", 1), "<e k=\"v\"/>\n");
    EXPECT_EQ(Write("<e/>", 0), "<e/>");
}

TEST(XMLWriterTags, DeclarationWithoutAttributes) {
    EXPECT_EQ(Write("<?xml ?>", 0), "<?xml?>");
    EXPECT_EQ(Write("<?xml ?>", 1), "<?xml?>\n");
}

TEST(XMLWriterTags, DeclarationChildrenAreNotDeepened) {
    EXPECT_EQ(Write("<a><?p x?><b/></a>", 1), "<a>\n\t<?p x?>\n\t<b/>\n</a>\n");
    EXPECT_EQ(Write("<a><?p x?><b/></a>", 0), "<a><?p x?><b/></a>");
}

TEST(XMLWriterTags, AttributeValuesAreEncoded) {
    EXPECT_EQ(Write("<e a='say \"hi\"' b=\"it's &lt;&amp;&gt;\"/>", 0),
              "<e a=\"say &quot;hi&quot;\" b=\"it&apos;s &lt;&amp;&gt;\"/>");
}

TEST(XMLWriterTags, AttributeWithoutValueIsWrittenByName) {
    EXPECT_EQ(Write("<e a b=1 c/>", 0), "<e a b=\"1\" c/>");
    EXPECT_EQ(Write(Write("<e a b=1 c/>", 0).c_str(), 0), "<e a b=\"1\" c/>");
}

TEST(XMLWriterContent, ClearSectionIsWrittenUnchanged) {
    EXPECT_EQ(Write("<a><![CDATA[a<b]]></a>", 0), "<a><![CDATA[a<b]]></a>");
    EXPECT_EQ(Write("<a><!--&amp;--><pre>x</PRE></a>", 0), "<a><!--&amp;--><PRE>x</PRE></a>");
}

TEST(XMLWriterContent, UndecodedTextIsEncodedAgain) {
    EXPECT_EQ(Write("<a>x &amp; y<b/></a>", 0), "<a>x &amp;amp; y<b/></a>");
    EXPECT_EQ(Write("<a>Caf&#233;</a>", 0), "<a>Caf\xc3\xa9</a>");
}

TEST(XMLWriterContent, EmptyTextSegmentsAreSkipped) {
    XMLNode root = NewRootNode();
    XMLNode a = AppendChild(root.record(), std::string("a"), 0);
    AppendText(a.record(), std::string());
    AppendText(a.record(), std::string("t"));
    EXPECT_EQ(*createXMLString(root, 0), "<a>t</a>");
    EXPECT_EQ(*createXMLString(root, 1), "<a>\n\tt\n</a>\n");
}

TEST(XMLWriterContent, EmptyNodeGivesNoneAndSizeZero) {
    int size = -1;
    EXPECT_FALSE(createXMLString(XMLNode(), 1, &size).has_value());
    EXPECT_EQ(size, 0);
}

TEST(XMLWriterContent, BareRootGivesAnEmptyText) {
    int size = -1;
    EXPECT_EQ(*createXMLString(NewRootNode(), 1, &size), "");
    EXPECT_EQ(size, 0);
}

TEST(XMLWriterContent, CountAndWriteAgreeForEveryNode) {
    const XMLNode root =
        ParseXMLText("<?xml version=\"1.0\"?><r a='&quot;'>x<!--y--><s><t/>u</s></r>");
    for (int level : {-1, 0, 3}) {
        const int count = CreateXMLStringR(root.record(), nullptr, level);
        std::string buffer(size_t(count) + 1, '#');
        EXPECT_EQ(CreateXMLStringR(root.record(), buffer.data(), level), count);
        EXPECT_EQ(buffer.back(), '#') << "nothing is written past the count";
    }
}

// ---- Entity encoding ----

TEST(XMLEntityEncoding, FiveSpecialBytesAndTheirLengths) {
    EXPECT_EQ(EncodeXMLEntities("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    EXPECT_EQ(EncodedXMLLength("a&b<c>d\"e'f"), 6 + 5 + 4 + 4 + 6 + 6);
    EXPECT_EQ(EncodedXMLLength(""), 0);
    EXPECT_EQ(EncodeXMLEntities("\xc3\xa9\t\n"), "\xc3\xa9\t\n");
}

TEST(XMLEntityEncoding, WritesIntoADestinationWithATerminator) {
    char destination[32];
    std::memset(destination, '#', sizeof destination);
    EXPECT_EQ(EncodeXMLEntities(destination, "<&>"), destination);
    EXPECT_STREQ(destination, "&lt;&amp;&gt;");
    EXPECT_EQ(destination[14], '#');
}

TEST(XMLEntityEncoding, CallerBufferGrowsOnlyWhenTheTextDoesNotFit) {
    std::string buffer;
    buffer.reserve(64);
    const char* data = buffer.data();
    EXPECT_STREQ(EncodeXMLEntities("<a>", buffer), "&lt;a&gt;");
    EXPECT_EQ(buffer.data(), data);
    EXPECT_STREQ(EncodeXMLEntities(std::string(40, '&'), buffer),
                 [] {
                     std::string s;
                     for (int i = 0; i < 40; ++i)
                         s += "&amp;";
                     return s;
                 }()
                     .c_str());
    EXPECT_GE(buffer.capacity(), 200u);
}

} // namespace
