// Parses any bytes with and without a first tag, writes the result back out, and parses that
// again: no input may crash, read past its text or break the tree's bookkeeping, and the flat
// reading of SOAP answers finds what the tree holds.
#include "../flat_check.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckTree(const XMLNodeRecord* r, int depth) {
    Check(depth <= kXMLMaxDepth + 1 && size_t(r->childCount) == r->children.size() &&
          size_t(r->textCount) == r->texts.size() && size_t(r->clearCount) == r->clears.size() &&
          size_t(r->attributeCount) == r->attributes.size() &&
          size_t(r->childCount + r->textCount + r->clearCount + r->attributeCount) ==
              r->contentOrder.size());
    for (const XMLNodeRecord* child : r->children)
        Check(child->parent == r), CheckTree(child, depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the input and a NUL, so a sanitizer build sees any read past the text.
    const std::unique_ptr<char[]> text(new char[size + 1]);
    *std::copy(data, data + size, text.get()) = 0;
    for (const char* tag : {static_cast<const char*>(nullptr), "root", "Envelope"}) {
        XMLParseReport report;
        const XMLNode node = ParseXMLText(text.get(), tag, &report);
        Check(FlatReadsAsTree(text.get(), tag));
        Check(report.error >= 0 && report.error <= XMLErrorUnexpectedToken);
        Check(report.error > XMLWarningUnmatchedEndTag ? IsEmptyNode(node)
                                                       : (tag || !IsEmptyNode(node)));
        // The empty node included: every query accepts it. A result holds the only reference left
        // to its part of the tree, so it has no parent.
        if (!IsEmptyNode(node))
            Check(!node.record()->parent), CheckTree(node.record(), 0);
        for (int i = -1; i <= ContentCount(node); ++i)
            (void)ContentAt(node, i), (void)ChildAt(node, i), (void)TextAt(node, i);
        (void)FindChildNamed(node, "device"), (void)ChildNamedAt(node, "service", 1);
        (void)CountChildrenNamed(node, "Body"), (void)AttributeNamedAt(node, "version", 0);
        for (int formatted = 0; formatted < 2; ++formatted) {
            int size = -1;
            const std::optional<std::string> out = createXMLString(node, formatted, &size);
            Check(out.has_value() != IsEmptyNode(node) && size == int(out ? out->size() : 0));
            const XMLNode again = ParseXMLText(out ? out->c_str() : "");
            if (!IsEmptyNode(again))
                CheckTree(again.record(), 0);
        }
    }
    // Attribute values decode whole slices, entity references included, up to a given length.
    (void)DecodeXMLEntities(text.get(), long(size));
    (void)EncodeXMLEntities(std::string_view(text.get(), size));
    return 0;
}
