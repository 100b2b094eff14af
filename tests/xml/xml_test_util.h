// Renders a tree as one line, so a test can state a whole expected tree at once:
//   name?(attr=value flag){child "text" [opener|value|closer]}
// "?" marks a declaration, the unnamed document root is "#root", items keep document order.
#pragma once

#include "xmlParser.h"

#include <string>

inline std::string DumpTree(const XMLNode& node) {
    if (IsEmptyNode(node))
        return "<empty>";
    const XMLNodeRecord* r = node.record();
    std::string out = r->name ? *r->name : "#root";
    if (r->declaration)
        out += '?';
    if (r->attributeCount) {
        out += '(';
        for (int i = 0; i < r->attributeCount; ++i) {
            const AttributePair& a = r->attributes[size_t(i)];
            out += (i ? " " : "") + a.name;
            if (a.value)
                out += "=" + *a.value;
        }
        out += ')';
    }
    if (r->childCount + r->textCount + r->clearCount == 0)
        return out;
    out += '{';
    bool first = true;
    for (int32_t entry : r->contentOrder) {
        const size_t index = size_t(entry / 4);
        std::string item;
        switch (entry % 4) {
        case XMLContentChild:
            item = DumpTree(XMLNode(r->children[index]));
            break;
        case XMLContentText:
            item = "\"" + r->texts[index] + "\"";
            break;
        case XMLContentClear:
            item = std::string("[") + r->clears[index].openTag + "|" + r->clears[index].value +
                   "|" + r->clears[index].closeTag + "]";
            break;
        default:
            continue;
        }
        out += (first ? "" : " ") + item;
        first = false;
    }
    return out + '}';
}

// Parses `text` with no first tag and gives the tree and the code.
struct Parsed {
    XMLNode node;
    XMLParseReport report;
    std::string tree() const { return DumpTree(node); }
};

inline Parsed ParseForTest(const char* text, const char* tag = nullptr) {
    Parsed parsed;
    parsed.report = XMLParseReport{-1, -1, -1};
    parsed.node = ParseXMLText(text, tag, &parsed.report);
    return parsed;
}
