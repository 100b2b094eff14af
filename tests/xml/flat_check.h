// Whether a document read flat holds what its tree holds: the same elements, names, declarations,
// texts and first children by local name (the flat reading keeps no attributes or clear sections).
#pragma once

#include "xmlFlatDocument.h"
#include "xmlParserInternals.h"

#include <algorithm>

inline bool SameAsTree(const XMLNodeRecord* r, const XMLFlatDocument& flat,
                       XMLFlatDocument::Element e) {
    if (flat.Name(e) != (r->name ? *r->name : "") || flat.IsDeclaration(e) != bool(r->declaration))
        return false;
    for (int i = 0; i <= r->textCount; ++i)
        if (flat.TextAtOrEmpty(e, i) != (i < r->textCount ? r->texts[size_t(i)] : ""))
            return false;
    for (int i = 0; i <= r->childCount; ++i) {
        const XMLFlatDocument::Element child = flat.ChildAt(e, i);
        if (i == r->childCount)
            return child == XMLFlatDocument::kNone;
        const std::string& name = *r->children[size_t(i)]->name;
        const std::string local = name.substr(name.find(':') + 1);
        const XMLNodeRecord* first =
            FindChildNamed(XMLNode(const_cast<XMLNodeRecord*>(r)), local).record();
        const auto at =
            std::find(r->children.begin(), r->children.end(), first) - r->children.begin();
        if (child == XMLFlatDocument::kNone ||
            flat.FindChildNamed(e, local) != flat.ChildAt(e, int(at)) ||
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
