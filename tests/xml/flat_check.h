// Whether a document read flat holds what its tree holds: the same elements, names, declarations,
// texts, and children found by local name (the flat reading keeps no attributes or clear sections).
#pragma once

#include "xmlFlatDocument.h"
#include "xmlParserInternals.h"

#include <algorithm>

inline bool SameAsTree(const XMLNodeRecord* r, const XMLFlatDocument& flat,
                       XMLFlatDocument::Element e) {
    if (flat.Name(e) != (r->name ? *r->name : "") || flat.IsDeclaration(e) != bool(r->declaration))
        return false;
    for (int i = 0; i <= r->textCount; ++i)
        if (flat.TextAt(e, i) !=
            (i < r->textCount ? std::optional<std::string>(r->texts[size_t(i)]) : std::nullopt))
            return false;
    for (int i = 0; i <= r->childCount; ++i) {
        const XMLFlatDocument::Element child = flat.ChildAt(e, i);
        if (i == r->childCount)
            return child == XMLFlatDocument::kNone;
        const std::string& name = *r->children[size_t(i)]->name;
        const std::string local = name.substr(name.find(':') + 1);
        // The first child of that local name, and the next one after this child.
        int position = i + 1;
        const XMLNode tree(const_cast<XMLNodeRecord*>(r));
        const XMLNodeRecord* first = FindChildNamed(tree, local).record();
        const XMLNodeRecord* next = FindChildNamed(tree, local, &position).record();
        const auto index = [r](const XMLNodeRecord* c) {
            return int(std::find(r->children.begin(), r->children.end(), c) - r->children.begin());
        };
        if (child == XMLFlatDocument::kNone ||
            flat.FindChildNamed(e, local) != flat.ChildAt(e, index(first)) ||
            flat.FindChildNamed(e, local, child) != flat.ChildAt(e, index(next)) ||
            !SameAsTree(r->children[size_t(i)], flat, child))
            return false;
    }
    return true;
}

// Read flat, `text` gives what ParseXMLText(text, tag) gives.
inline bool FlatReadsAsTree(const char* text, const char* tag) {
    const XMLNode node = ParseXMLText(text, tag);
    const XMLFlatDocument flat(text, tag);
    return IsEmptyNode(node) ? flat.Found() == XMLFlatDocument::kNone
                             : flat.Found() != XMLFlatDocument::kNone &&
                                   SameAsTree(node.record(), flat, flat.Found());
}
