// Writing trees back out, compact and indented, byte for byte, and the entity encoder.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <cstring>

namespace {

const char* const kDocument = "<?xml version=\"1.0\"?><root><a>x &amp; y</a><b/></root>";

TEST(XMLWriter, TreesComeBackByteForByte) {
    const struct {
        const char* text;
        const char* tag;
        const char* compact;
        const char* indented;
    } cases[] = {
        // Tabs per level, a line feed after each line; a declaration's children are not deepened.
        {kDocument, nullptr, kDocument,
         "<?xml version=\"1.0\"?>\n<root>\n\t<a>\n\t\tx &amp; y\n\t</a>\n\t<b/>\n</root>\n"},
        {"<a><?p x?><b/></a>", nullptr, "<a><?p x?><b/></a>", "<a>\n\t<?p x?>\n\t<b/>\n</a>\n"},
        {"<r><a><b>t</b></a></r>", "r", "<r><a><b>t</b></a></r>",
         "<r>\n\t<a>\n\t\t<b>\n\t\t\tt\n\t\t</b>\n\t</a>\n</r>\n"},
        // The root's own texts sit one level deeper than its children.
        {"HTTP/1.1 200 OK\r\n\r\n<a/>", nullptr, "HTTP/1.1 200 OK<a/>",
         "\tHTTP/1.1 200 OK\n<a/>\n"},
        {"<e k=\"v\"></e>", nullptr, "<e k=\"v\"/>", "<e k=\"v\"/>\n"},
        {"<?xml ?>", nullptr, "<?xml?>", "<?xml?>\n"},
        {"<e a='say \"hi\"' b=\"it's &lt;&amp;&gt;\" c d=1/>", nullptr,
         "<e a=\"say &quot;hi&quot;\" b=\"it&apos;s &lt;&amp;&gt;\" c d=\"1\"/>",
         "<e a=\"say &quot;hi&quot;\" b=\"it&apos;s &lt;&amp;&gt;\" c d=\"1\"/>\n"},
        {"<e a b=\"1\" c/>", nullptr, "<e a b=\"1\" c/>", "<e a b=\"1\" c/>\n"},
        {"<a>t<!--&amp;--><pre>x</PRE><![CDATA[a<b]]><b/></a>", nullptr,
         "<a>t<!--&amp;--><PRE>x</PRE><![CDATA[a<b]]><b/></a>",
         "<a>\n\tt\n\t<!--&amp;-->\n\t<PRE>x</PRE>\n\t<![CDATA[a<b]]>\n\t<b/>\n</a>\n"},
        // Text kept undecoded (before a child) is encoded again.
        {"<a>x &amp; y<b/></a>", nullptr, "<a>x &amp;amp; y<b/></a>",
         "<a>\n\tx &amp;amp; y\n\t<b/>\n</a>\n"},
        {"<a>Caf&#233;</a>", nullptr, "<a>Caf\xc3\xa9</a>", "<a>\n\tCaf\xc3\xa9\n</a>\n"},
        {"", nullptr, "", ""},
    };
    for (const auto& c : cases) {
        for (int formatted : {0, 1}) {
            int size = -1;
            const std::optional<std::string> out =
                createXMLString(ParseXMLText(c.text, c.tag), formatted, &size);
            ASSERT_TRUE(out.has_value()) << c.text;
            EXPECT_EQ(*out, formatted ? c.indented : c.compact) << c.text << " / " << formatted;
            EXPECT_EQ(size, int(out->size())) << c.text;
        }
    }
}

TEST(XMLWriter, CountAndWriteAgreeAtEveryLevel) {
    const XMLNode root =
        ParseXMLText("<?xml version=\"1.0\"?><r a='&quot;'>x<!--y--><s><t/>u</s></r>");
    for (int level : {-1, 0, 3}) {
        const int count = CreateXMLStringR(root.record(), nullptr, level);
        std::string buffer(size_t(count) + 1, '#');
        EXPECT_EQ(CreateXMLStringR(root.record(), buffer.data(), level), count);
        EXPECT_EQ(buffer.back(), '#') << "nothing is written past the count";
    }
    int size = -1;
    EXPECT_FALSE(createXMLString(XMLNode(), 1, &size).has_value());
    EXPECT_EQ(size, 0);
    const XMLNode a = ParseXMLText("<a>t</a>", "a");
    AppendText(a.record(), std::string()); // an empty segment writes nothing, not even a line
    EXPECT_EQ(*createXMLString(a, 1), "<a>\n\tt\n</a>\n");
}

TEST(XMLEntityEncoding, FiveSpecialBytesInEveryForm) {
    const char* const text = "a&b<c>d\"e'f\xc3\xa9\t";
    const std::string encoded = "a&amp;b&lt;c&gt;d&quot;e&apos;f\xc3\xa9\t";
    EXPECT_EQ(EncodeXMLEntities(text), encoded);
    EXPECT_EQ(EncodedXMLLength(text), int(encoded.size()));
    char destination[64];
    std::memset(destination, '#', sizeof destination);
    EXPECT_EQ(EncodeXMLEntities(destination, text), destination);
    EXPECT_EQ(std::string(destination, encoded.size() + 2), encoded + '\0' + '#');
    std::string buffer;
    buffer.reserve(64);
    const char* const room = buffer.data();
    EXPECT_EQ(EncodeXMLEntities(text, buffer), encoded);
    EXPECT_EQ(buffer.data(), room) << "a buffer with room is not reallocated";
    EXPECT_EQ(EncodeXMLEntities(std::string(40, '&'), buffer),
              EncodeXMLEntities(std::string(40, '&')));
}

} // namespace
