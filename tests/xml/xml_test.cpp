// The XML parser: trees, warnings, errors and their places, clear sections, the nesting bound,
// entity references, writing, handles, the first-tag lookup, queries and files.
#include "flat_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace {

// A tree as one line: name?(attr=value flag){child "text" [open|value|close]}, "?" = declaration
std::string DumpTree(const XMLNode& node) {
    if (IsEmptyNode(node))
        return "<empty>";
    const XMLNodeRecord* r = node.record();
    std::string out = (r->name ? *r->name : "#root") + (r->declaration ? "?" : ""), items;
    for (const AttributePair& a : r->attributes)
        out += (&a == &r->attributes[0] ? "(" : " ") + a.name + (a.value ? "=" + *a.value : "");
    out += r->attributes.empty() ? "" : ")";
    for (int32_t entry : r->contentOrder) {
        const size_t i = size_t(entry / 4);
        if (entry % 4 == XMLContentChild)
            items += " " + DumpTree(XMLNode(r->children[i]));
        else if (entry % 4 == XMLContentText)
            items += " \"" + r->texts[i] + "\"";
        else if (entry % 4 == XMLContentClear)
            items += std::string(" [") + r->clears[i].openTag + "|" + r->clears[i].value + "|" +
                     r->clears[i].closeTag + "]";
    }
    return items.empty() ? out : out + "{" + items.substr(1) + "}";
}

// "tree" for a clean parse, "W tree" with the unmatched-end-tag warning, "E<code> line:column"
// for an error (the tree follows should the node not be empty).
std::string Outcome(const XMLParseReport& r, const XMLNode& node) {
    if (r.error > XMLWarningUnmatchedEndTag)
        return "E" + std::to_string(r.error) + " " + std::to_string(r.line) + ":" +
               std::to_string(r.column) + (IsEmptyNode(node) ? "" : " " + DumpTree(node));
    return (r.error ? "W " : "") + DumpTree(node);
}

struct ParseCase {
    std::string text, outcome;
    const char* tag = nullptr;
};

// Parsed from a copy of exactly the text's size, so a sanitizer build sees any read past it; the
// copy is wiped before the tree is read, which must hold its own.
void ExpectParses(const std::vector<ParseCase>& cases) {
    for (const ParseCase& c : cases) {
        const std::unique_ptr<char[]> copy(std::strcpy(new char[c.text.size() + 1], c.text.data()));
        XMLParseReport report{-1, -1, -1};
        const XMLNode node = ParseXMLText(copy.get(), c.tag, &report);
        // SOAP answers are read flat: that reading must find the same.
        EXPECT_TRUE(FlatReadsAsTree(copy.get(), c.tag)) << c.text.substr(0, 80);
        std::memset(copy.get(), 'z', c.text.size());
        EXPECT_EQ(Outcome(report, node), c.outcome) << c.text.substr(0, 80);
    }
}

TEST(XMLParser, TreesAndUnmatchedEndTagWarnings) {
    ExpectParses({
        {"<?xml version=\"1.0\"?><root><a>x</a></root>",
         "#root{xml?(version=1.0){root{a{\"x\"}}}}"},
        // Declarations drop the "?" from their last attribute, other elements keep it.
        {"<?xml standalone?><?p v=1.0?><a c=d? b?>",
         "#root{xml?(standalone){p?(v=1.0){a(c=d? b?)}}}"},
        {"<a b c=d e='x y' f=\"1>2\" g=''/>", "#root{a(b c=d e=x y f=1>2 g=)}"},
        // Words end at white space (tab, line feed, return, space), "<", "=", ">" and "/>" only.
        {"<a\vb\xc2\xa0 c=it's/x\"y d=/e/>", "#root{a\vb\xc2\xa0(c=it's/x\"y d=/e)}"},
        {"<a> x  = \"y\" 'z \r\n </a>", "#root{a{\"x  = \"y\" 'z\"}}"},
        // Open elements at the end are kept without error; their pending text is dropped.
        {"<a><b>tail", "#root{a{b}}"},
        {"<a b='c", "#root{a(b='c)}"},
        // Text before the first markup (an HTTP header) is kept undecoded.
        {"HTTP/1.1 200 OK\r\nX: &amp;\r\n\r\n<r/>", "#root{\"HTTP/1.1 200 OK\r\nX: &amp;\" r}"},
        {" \r\n\t ", "#root"},
        // An unmatched end tag closes elements up to the one it names.
        {"<a><?p x?><b/></a>", "W #root{a{p?(x){b}}}"},
        {"<a><b><c>1</B>2</a>", "W #root{a{b{c{\"1\"}} \"2\"}}"},
        {"<a><b></a><c></c>", "W #root{a{b} c}"},
        {"</x><a/>", "W #root"},
    });
}

TEST(XMLParser, ErrorsGiveTheEmptyNodeAndTheirPlace) {
    ExpectParses({
        {"<a></b>", "E7 1:8"},
        {"<root></roots>", "E7 1:15"},
        {"<a>\r\n<b>\r\n</c>", "E7 3:5"},
        {"<a>\nx\n>", "E8 3:2"},
        {"<a b=>", "E8 1:7"},
        {"<a =x>", "E8 1:5"},
        {"< >", "E4 1:4"},
        {"<a></>", "E5 1:7"},
        {"<a></a b  >", "E5 1:10"}, // a word takes one white-space byte along
        {"<a x=\"1<2\"/>", "E8 1:9"},
        {"text /> more", "E8 1:8"},
        {"<a <!-- x -->>", "E8 1:8"},
    });
}

TEST(XMLParser, ClearSectionsAreKeptUnparsedUntilTheirExactCloser) {
    ExpectParses({
        {"<a><![CDATA[a<b&c]]><!-- <x> --><script>if (a<b) {}</Script></a>",
         "#root{a{[<![CDATA[|a<b&c|]]>] [<!--| <x> |-->] [<Script>|if (a<b) {}|</Script>]}}"},
        {"<a><!----><pre>x</PRE><![cdata[y]]></a>",
         "#root{a{[<!--||-->] [<PRE>|x|</PRE>] [<![CDATA[|y|]]>]}}"},
        {"<!doctype html><html/>", "#root{[<!DOCTYPE| html|>] html}"},
        {"<a>x &amp; y<!--c--></a>", "#root{a{\"x &amp; y\" [<!--|c|-->]}}"},
        {"<a><pre>x</pre></a>", "E7 1:9"},
        {"<a><!-- x", "E7 1:8"},
        {"<!DOCTYPE x [<!ENTITY e \"v\">]><x/>", "E8 1:31"},
    });
}

std::string Repeat(const std::string& piece, int count) {
    std::string text;
    while (count-- > 0)
        text += piece;
    return text;
}

TEST(XMLParser, NestingIsBoundedWithoutExhaustingTheStack) {
    const int max = kXMLMaxDepth;
    ExpectParses({
        {Repeat("<a>", max), "#root{" + Repeat("a{", max - 1) + "a" + Repeat("}", max)},
        {Repeat("<a>", max + 1), "E8 1:" + std::to_string(3 * (max + 1))},
        {Repeat("<a>", 200000), "E8 1:" + std::to_string(3 * (max + 1))},
        {Repeat("<?p?>", max + 1), "E8 1:" + std::to_string(5 * (max + 1))},
    });
}

TEST(XMLEntities, NamedAndNumericReferencesDecodeAnythingElseStaysAsWritten) {
    auto decode = [](const std::string& text) { // an exact copy: a sanitizer sees any overread
        const std::unique_ptr<char[]> exact(new char[text.size()]);
        std::memcpy(exact.get(), text.data(), text.size());
        return *DecodeXMLEntities(exact.get(), long(text.size()));
    };
    EXPECT_EQ(decode("&lt;&gt;&amp;&apos;&quot;&LT;&Gt;&AMP;&aPoS;&QUOT;a&amp;amp;b&&lt;"),
              "<>&'\"<>&'\"a&amp;b&<");
    EXPECT_EQ(decode("Caf&#233;&#xE9;&#Xe9;&#64;&#x7F;&#0000038;"),
              "Caf\xc3\xa9\xc3\xa9\xc3\xa9@\x7f&");
    EXPECT_EQ(decode("&#x7FF;&#x800;&#xFFFF;&#65536;&#x10FFFF;"),
              "\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf");
    const std::string kept = "&#0; &#xD800; &#xDFFF; &#x110000; &#99999999999999999999; &#; &#x; "
                             "&#12 &#a; &#x1G; &#-1; &# 65; &nbsp; a & b &amp &&#12";
    EXPECT_EQ(decode(kept), kept);
    // Stopping at the given length, or a NUL before it, and never reading past it.
    EXPECT_EQ(*DecodeXMLEntities("&amp;", 3) + "|" + *DecodeXMLEntities("&#65;", 4), "&am|&#65");
    EXPECT_EQ(*DecodeXMLEntities("ab\0cd", 5) + *DecodeXMLEntities("abc", -4), "ab");
    EXPECT_FALSE(DecodeXMLEntities(nullptr, 3).has_value());
    // Attribute values are decoded, texts only directly before an end tag.
    ExpectParses({
        {"<a>x &amp; y</a>", "#root{a{\"x & y\"}}"},
        {"<a>x &amp; y<b/></a>", "#root{a{\"x &amp; y\" b}}"},
        {"<a><b/>&LT;tail&gt;</a>", "#root{a{b \"<tail>\"}}"},
        {"<a b=\"&lt;&#233;\" c=x&amp;y d&amp;=1/>", "#root{a(b=<\xc3\xa9 c=x&y d&amp;=1)}"},
        // Routers send references nobody knows: they stay as written and the parse goes on.
        {"<r><n>Caf&#233; &nbsp;Box&#xFFFFFF;&ab</n><x b='&bogus;'/></r>",
         "#root{r{n{\"Caf\xc3\xa9 &nbsp;Box&#xFFFFFF;&ab\"} x(b=&bogus;)}}"},
    });
}

TEST(XMLWriter, CompactAndIndentedFormsAndTheEncoder) {
    // Tabs per level and a line feed after each line; a declaration's children are not deepened,
    // the root's own texts sit one level deeper than its children. Text kept undecoded (before a
    // child) is encoded again; clear sections are written as they came.
    const XMLNode tree = ParseXMLText("HTTP/1.1 200 OK\r\n\r\n<?xml version=\"1.0\"?><r><a>x &amp; "
                                      "y<b/>&lt;&#233;</a><c k='say \"hi\"' f d=\"it's &gt;\"/>"
                                      "<e></e><!--&amp;--><pre>z</PRE><![CDATA[a<b]]></r>");
    EXPECT_EQ(*createXMLString(tree, 0),
              "HTTP/1.1 200 OK<?xml version=\"1.0\"?><r><a>x &amp;amp; y<b/>&lt;\xc3\xa9</a>"
              "<c k=\"say &quot;hi&quot;\" f d=\"it&apos;s &gt;\"/><e/><!--&amp;--><PRE>z</PRE>"
              "<![CDATA[a<b]]></r>");
    EXPECT_EQ(
        *createXMLString(tree, 1),
        "\tHTTP/1.1 200 OK\n<?xml version=\"1.0\"?>\n<r>\n\t<a>\n\t\tx &amp;amp; y\n\t\t<b/>\n"
        "\t\t&lt;\xc3\xa9\n\t</a>\n\t<c k=\"say &quot;hi&quot;\" f d=\"it&apos;s &gt;\"/>\n"
        "\t<e/>\n\t<!--&amp;-->\n\t<PRE>z</PRE>\n\t<![CDATA[a<b]]>\n</r>\n");
    const char* const text = "a&b<c>d\"e'f\xc3\xa9\t"; // the encoder on its own, in every form
    const std::string encoded = "a&amp;b&lt;c&gt;d&quot;e&apos;f\xc3\xa9\t";
    char destination[64] = "################################################";
    EXPECT_EQ(std::string(EncodeXMLEntities(destination, text), encoded.size() + 2),
              encoded + '\0' + '#');
    std::string buffer;
    EXPECT_EQ(EncodeXMLEntities(text) + EncodeXMLEntities(text, buffer), encoded + encoded);
    EXPECT_EQ(EncodeXMLEntities(std::string(40, '&'), buffer), Repeat("&amp;", 40));
}

const std::string kSoap = "<?xml version=\"1.0\"?>"
                          "<s:Envelope><s:Body><u:R><X>5</X></u:R></s:Body></s:Envelope>";
const char* const kEnvelope = "s:Envelope{s:Body{u:R{X{\"5\"}}}}";

TEST(XMLNodeHandle, HandlesShareTheTreeAndKeepTheirSubtreeAlive) {
    XMLNode inner, other = NewRootNode();
    {
        XMLNode root = ParseXMLText("<a><b><c>deep</c></b><d/></a>"), copy = root;
        XMLNode moved = std::move(copy);
        moved = other; // a sanitizer build reports the tree should this keep it
        moved = static_cast<const XMLNode&>(moved);
        inner = FindChildNamed(ChildAt(root, 0), "b");
    }
    EXPECT_EQ(DumpTree(inner), "b{c{\"deep\"}}");
    // The last release of a child still listed in its parent takes it out of the parent.
    const XMLNode root = ParseXMLText("t0<a/><b/>t1<c/>");
    ReleaseNode(root.record()->children[1]);
    EXPECT_EQ(DumpTree(root) + DumpTree(ContentAt(root, 3).child), "#root{\"t0\" a \"t1\" c}c");
}

TEST(XMLParseText, FirstTagLooksThroughDeclarationsAndTextBeforeTheMarkup) {
    XMLParseReport report{-1, -1, -1};
    EXPECT_EQ(Outcome(report, ParseXMLText(nullptr, "root", &report)), "E10 0:0");
    ExpectParses({
        {"HTTP/1.1 200 OK\r\nEXT:\r\n\r\n" + kSoap, kEnvelope, "Envelope"},
        {"HTTP/1.1 200 OK\r\nX: a>b\r\n\r\n" + kSoap, "E8 2:6", "Envelope"},
        {"<?xml?><!-- c --><?style x?><ROOT><a/></ROOT><z/>", "ROOT{a}", "root"},
        // A missing tag gives the last element looked at, without error.
        {"<a/><b/><c/>", "c", "zzz"},
        {"<root><a><b>1</a></root>", "W root{a{b{\"1\"}}}", "root"},
        {"<a/>", "#root{a}", ""},
        {" \r\n\t ", "<empty>", "root"},
        {"<a></b>", "E7 1:8", "a"},
    });
}

TEST(XMLQueries, ChildrenByLocalNameCountsByWholeNameAttributesByWholeName) {
    const XMLNode envelope = ParseXMLText(kSoap, "Envelope");
    EXPECT_EQ(DumpTree(FindChildNamed(FindChildNamed(envelope, "Body"), "R")), "u:R{X{\"5\"}}");
    EXPECT_TRUE(IsEmptyNode(FindChildNamed(envelope, "s:Body")));
    const XMLNode l = ParseXMLText("<l><device/><x:device/><DEVICE/><d:x:device/></l>", "l");
    EXPECT_EQ(CountChildrenNamed(l, "device") * 10 + CountChildrenNamed(l, "x:device"), 21);
    std::string found = DumpTree(ChildNamedAt(l, "x:device", 0));
    for (int i : {-5, 1, 2, 3})
        found += " " + DumpTree(ChildNamedAt(l, "device", i));
    EXPECT_EQ(found, "d:x:device device x:device DEVICE <empty>");
    // A position moves past each match only; indexes out of range give nothing.
    const XMLNode r = ParseXMLText("<r x='1'>t<a/><![CDATA[c]]><b/><a y/></r>", "r");
    int position = 1;
    EXPECT_EQ(DumpTree(FindChildNamed(r, "a", &position)), "a(y)");
    EXPECT_TRUE(IsEmptyNode(FindChildNamed(r, "a", &position)) && position == 3);
    EXPECT_TRUE(IsEmptyNode(ChildAt(r, 3)) && IsEmptyNode(ChildAt(r, -1)) && !TextAt(r, 1));
    std::string items; // content in document order, then nothing
    for (int i = 0; i <= ContentCount(r); ++i) {
        const XMLContentItem item = ContentAt(r, i);
        items += std::to_string(item.kind) + item.attribute.name + item.text + item.clear.value +
                 (IsEmptyNode(item.child) ? "" : *NodeName(item.child)) + " ";
    }
    EXPECT_EQ(items, "1x 2t 0a 3c 0b 0a 4 ");
    // Attributes: whole names, prefix included, without regard to case.
    const XMLNode e = ParseXMLText("<e xmlns:s='u' S:x=1 Flag k=a k=b K=c/>", "e");
    EXPECT_EQ(*FindAttributeNamed(e, "XMLNS:S") + *FindAttributeNamed(e, "s:x"), "u1");
    EXPECT_TRUE(!FindAttributeNamed(e, "x") && !FindAttributeNamed(e, "flag")); // none: no value
    EXPECT_EQ(HasAttribute(e, "flag") * 10 + HasAttribute(e, "none"), 10);
    EXPECT_TRUE(*AttributeNamedAt(e, "k", 2) == "c" && !AttributeNamedAt(e, "k", 3));
    position = 0;
    const std::string first = *FindAttributeNamed(e, "k", &position);
    EXPECT_EQ(first + *FindAttributeNamed(e, "k", &position) + AttributeAt(e, 2).name, "abFlag");
    EXPECT_TRUE(position == 5 && AttributeAt(e, 6).name.empty());
}

TEST(XMLFiles, ParseOrReportWhereItFailedOrExitSaying) {
    const std::string path = ::testing::TempDir() + "quaymap_xml_" + std::to_string(::getpid());
    std::ofstream(path, std::ios::binary) << "<a>\n<b></a>\n<c><d></c>";
    XMLParseReport report{-1, -1, -1};
    EXPECT_EQ(Outcome(report, ParseXMLFile(path.c_str(), "a", &report)), "W a{b}");
    // The warning counts as an error here, placed where the first unmatched end tag ended. The
    // message goes to standard output; the death test only sees standard error.
    EXPECT_EXIT((::dup2(2, 1), OpenXMLFileOrExit(path.c_str(), "a")),
                ::testing::ExitedWithCode(255),
                "^XML Parsing error inside file '.*quaymap_xml_[0-9]+'\\.\n"
                "Error: Warning: Unmatched end tag\nAt line 2, column 8\\.\n$");
    std::ofstream(path, std::ios::binary) << "<r><a>x</a></r>";
    EXPECT_EQ(DumpTree(OpenXMLFileOrExit(path.c_str(), "r")), "r{a{\"x\"}}");
    std::remove(path.c_str());
    EXPECT_EQ(Outcome(report, ParseXMLFile(path.c_str(), nullptr, &report)), "E11 0:0");
}

} // namespace
