// Renders a tree as one line, so a test can state a whole expected tree at once:
//   name?(attr=value flag){child "text" [opener|value|closer]}
// "?" marks a declaration, the unnamed document root is "#root", items keep document order.
#pragma once

#include "xmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline std::string DumpTree(const XMLNode& node) {
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

// The code, place and tree of one parse, as one line: "7 1:8 <empty>".
inline std::string Outcome(const XMLParseReport& r, const std::string& tree) {
    return std::to_string(r.error) + " " + std::to_string(r.line) + ":" + std::to_string(r.column) +
           " " + tree;
}

// One parse: the text, the first tag asked for, and the code, tree and place expected. Line and
// column are preset to -1, so success and warning rows also check they are left alone.
struct ParseCase {
    std::string text;
    const char* tag;
    int error;
    std::string tree; // "<empty>" for the empty node
    int line = -1;
    int column = -1;
};

inline void ExpectParses(const std::vector<ParseCase>& cases) {
    for (const ParseCase& c : cases) {
        XMLParseReport report{-1, -1, -1};
        const XMLNode node = ParseXMLText(c.text, c.tag, &report);
        EXPECT_EQ(Outcome(report, DumpTree(node)), Outcome({c.error, c.line, c.column}, c.tree))
            << c.text.substr(0, 80) << " / tag " << (c.tag ? c.tag : "none");
    }
}
