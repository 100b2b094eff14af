// The element parser: trees, warnings, errors with their places, clear sections, entity
// references and the nesting bound.
#include "xmlParserInternals.h"
#include "xml_test_util.h"

#include <cstring>

namespace {

TEST(XMLElementParser, Trees) {
    ExpectParses({
        {"<?xml version=\"1.0\"?><root><a>x</a></root>", nullptr, 0,
         "#root{xml?(version=1.0){root{a{\"x\"}}}}"},
        // A declaration drops the "?" from its last attribute; its name is a word up to ">".
        {"<?xml version=1.0?>", nullptr, 0, "#root{xml?(version=1.0)}"},
        {"<?xml standalone?>", nullptr, 0, "#root{xml?(standalone)}"},
        {"<?xml ?>", nullptr, 0, "#root{xml?}"},
        {"<?xml?>", nullptr, 0, "#root{xml??}"},
        {"<a c=d? b?>", nullptr, 0, "#root{a(c=d? b?)}"},
        {"<a b c=d e='x y'>", nullptr, 0, "#root{a(b c=d e=x y)}"},
        {"<a x=\"1>2\" y=''/>", nullptr, 0, "#root{a(x=1>2 y=)}"},
        {"<A>t</a>", nullptr, 0, "#root{A{\"t\"}}"},
        // Words end at white space (tab, line feed, return, space), "<", "=", ">" and "/>" only.
        {"<a\vb\xc2\xa0 c=it's/x\"y d=/e/>", nullptr, 0, "#root{a\vb\xc2\xa0(c=it's/x\"y d=/e)}"},
        {"<!-x/><!DOCTYPE\tx>", nullptr, 0, "#root{!-x [<!DOCTYPE|\tx|>]}"},
        {"<a>  two  words \r\n </a>", nullptr, 0, "#root{a{\"two  words\"}}"},
        {"<a>x\n\ty<b/> z </a>", nullptr, 0, "#root{a{\"x\n\ty\" b \"z\"}}"},
        {"<a>x = \"y\" 'z</a>", nullptr, 0, "#root{a{\"x = \"y\" 'z\"}}"},
        // Open elements at the end are kept without error; their pending text is dropped.
        {"<a><b>tail", nullptr, 0, "#root{a{b}}"},
        {"<a x=1", nullptr, 0, "#root{a(x=1)}"},
        // Text before the first markup is kept undecoded.
        {"HTTP/1.1 200 OK\r\nContent-Type: text/xml; a=\"b\"\r\nX: &amp;\r\n\r\n"
         "<?xml version=\"1.0\"?><r/>",
         nullptr, 0,
         "#root{\"HTTP/1.1 200 OK\r\nContent-Type: text/xml; a=\"b\"\r\nX: &amp;\" "
         "xml?(version=1.0){r}}"},
        {"", nullptr, 0, "#root"},
        {" \r\n\t ", nullptr, 0, "#root"},
    });
}

TEST(XMLElementParser, UnmatchedEndTagsWarnAndCloseUpToTheirElement) {
    ExpectParses({
        {"<a><?p x?><b/></a>", nullptr, 1, "#root{a{p?(x){b}}}"},
        {"<a><b>1</a><c/>", nullptr, 1, "#root{a{b{\"1\"}} c}"},
        {"<a><b><c>1</B>2</a>", nullptr, 1, "#root{a{b{c{\"1\"}} \"2\"}}"},
        {"<a><b></a><c></c>", nullptr, 1, "#root{a{b} c}"}, // never reset
        {"</x><a/>", nullptr, 1, "#root"},
    });
}

TEST(XMLElementParser, ErrorsGiveTheEmptyNodeWithLineAndColumn) {
    ExpectParses({
        {"<a></b>", nullptr, 7, "<empty>", 1, 8},
        {"<roots></root>", nullptr, 7, "<empty>", 1, 15},
        {"<root></roots>", nullptr, 7, "<empty>", 1, 15},
        {"<a>\nx\n>", nullptr, 8, "<empty>", 3, 2},
        {"<a b=>", nullptr, 8, "<empty>", 1, 7},
        {"<a =x>", nullptr, 8, "<empty>", 1, 5},
        {"< >", nullptr, 4, "<empty>", 1, 4},
        {"<?'x'?>", nullptr, 4, "<empty>", 1, 6},
        {"<a></>", nullptr, 5, "<empty>", 1, 7},
        {"<a></a b>", nullptr, 5, "<empty>", 1, 9},
        {"<a></a b  >", nullptr, 5, "<empty>", 1, 10}, // a word takes one white-space byte along
        {"<a x=\"1<2\"/>", nullptr, 8, "<empty>", 1, 9},
        {"text /> more", nullptr, 8, "<empty>", 1, 8},
        {"<a b \"c\">", nullptr, 8, "<empty>", 1, 9},
        {"<a b 'c' \t>", nullptr, 8, "<empty>", 1, 11}, // a quoted string takes all of it
        {"<a>\r\n<b>\r\n</c>", nullptr, 7, "<empty>", 3, 5},
        {"<a <!-- x -->>", nullptr, 8, "<empty>", 1, 8},
    });
}

TEST(XMLClearSections, KeptUnparsedUntilTheirExactCloser) {
    ExpectParses({
        {"<a><![CDATA[a<b&c]]><!-- <x> --><script>if (a<b) {}</Script></a>", nullptr, 0,
         "#root{a{[<![CDATA[|a<b&c|]]>] [<!--| <x> |-->] [<Script>|if (a<b) {}|</Script>]}}"},
        {"<a><!----></a>", nullptr, 0, "#root{a{[<!--||-->]}}"},
        {"<a><pre>x</PRE><![cdata[y]]></a>", nullptr, 0,
         "#root{a{[<PRE>|x|</PRE>] [<![CDATA[|y|]]>]}}"},
        {"<!doctype html><html/>", nullptr, 0, "#root{[<!DOCTYPE| html|>] html}"},
        {"<a>x &amp; y<!--c--></a>", nullptr, 0, "#root{a{\"x &amp; y\" [<!--|c|-->]}}"},
        {"<a><pre>x</pre></a>", nullptr, 7, "<empty>", 1, 9},
        {"<a><script>x</script></a>", nullptr, 7, "<empty>", 1, 12},
        {"<a><!-- x", nullptr, 7, "<empty>", 1, 8},
        {"<a><![CDATA[x]]", nullptr, 7, "<empty>", 1, 13},
        {"<!DOCTYPE x [<!ENTITY e \"v\">]><x/>", nullptr, 8, "<empty>", 1, 31},
    });
}

std::string Repeat(const char* piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

TEST(XMLNestingDepth, BoundedWithoutExhaustingTheStack) {
    const int tooDeep = kXMLMaxDepth + 1;
    ExpectParses({
        {Repeat("<a>", kXMLMaxDepth), nullptr, 0,
         "#root{" + Repeat("a{", kXMLMaxDepth - 1) + "a" + Repeat("}", kXMLMaxDepth)},
        {Repeat("<a>", tooDeep), nullptr, 8, "<empty>", 1, 3 * tooDeep},
        {Repeat("<a>", 200000), nullptr, 8, "<empty>", 1, 3 * tooDeep},
        {Repeat("<?p?>", tooDeep), nullptr, 8, "<empty>", 1, 5 * tooDeep},
    });
}

TEST(XMLEntityDecoding, NamedAndNumericReferencesDecodeEverythingElseStaysAsWritten) {
    const struct {
        const char* text;
        long length; // -1: the whole text
        const char* decoded;
    } cases[] = {
        {"&lt;&gt;&amp;&apos;&quot;&LT;&Gt;&AMP;&aPoS;&QUOT;", -1, "<>&'\"<>&'\""},
        {"a&amp;amp;b", -1, "a&amp;b"},
        {"Caf&#233;&#xE9;&#Xe9;", -1, "Caf\xc3\xa9\xc3\xa9\xc3\xa9"},
        {"&#65;&#x7F;&#0000038;", -1, "A\x7f&"},
        {"&#x7FF;&#x800;&#xFFFF;&#65536;&#x10FFFF;", -1,
         "\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
        // Stopping at the given length, or a NUL before it, and never reading past it.
        {"&amp;", 3, "&am"},
        {"x&lt;y", 4, "x&lt"},
        {"&#65;", 4, "&#65"},
        {"ab\0cd", 5, "ab"},
        {"abc", 0, ""},
        {"&&lt;", -1, "&<"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(*DecodeXMLEntities(c.text, c.length < 0 ? long(std::strlen(c.text)) : c.length),
                  c.decoded)
            << c.text;
    for (const char* kept :
         {"&#0;", "&#xD800;", "&#xDFFF;", "&#x110000;", "&#99999999999999999999;", "&#;", "&#x;",
          "&#12", "&#a;", "&#x1G;", "&#-1;", "&# 65;", "&nbsp;", "a & b", "&amp", "&", "&&#12"})
        EXPECT_EQ(*DecodeXMLEntities(kept, long(std::strlen(kept))), kept);
    EXPECT_EQ(*DecodeXMLEntities("abc", -4), "");
    EXPECT_FALSE(DecodeXMLEntities(nullptr, 3).has_value());
}

TEST(XMLEntityDecoding, TextOnlyDirectlyBeforeAnEndTagAttributeValuesAlways) {
    ExpectParses({
        {"<a>x &amp; y</a>", nullptr, 0, "#root{a{\"x & y\"}}"},
        {"<a>x &amp; y<b/></a>", nullptr, 0, "#root{a{\"x &amp; y\" b}}"},
        {"<a>x &amp; y<?p x?></a>", nullptr, 1, "#root{a{\"x &amp; y\" p?(x)}}"},
        {"<a><b/>&lt;tail&gt;</a>", nullptr, 0, "#root{a{b \"<tail>\"}}"},
        {"<a>&LT;</a>", nullptr, 0, "#root{a{\"<\"}}"},
        {"<a b=\"&lt;&#233;\" c=x&amp;y d&amp;=1/>", nullptr, 0,
         "#root{a(b=<\xc3\xa9 c=x&y d&amp;=1)}"},
        {"<a b=\"&#38;\"/>", nullptr, 0, "#root{a(b=&)}"},
        // An unknown reference from a router no longer ends the program.
        {"<root><friendlyName>Caf&#233; &nbsp;Box&#xFFFFFF;</friendlyName><x b='&bogus;'/></root>",
         nullptr, 0, "#root{root{friendlyName{\"Caf\xc3\xa9 &nbsp;Box&#xFFFFFF;\"} x(b=&bogus;)}}"},
        // The reference name runs to the end of its slice: nothing may be read past it.
        {"<a b='&abcdefghijklmnop'/>", nullptr, 0, "#root{a(b=&abcdefghijklmnop)}"},
        {"<a>&ab</a>", nullptr, 0, "#root{a{\"&ab\"}}"},
    });
}

} // namespace
