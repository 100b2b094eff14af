// Parses any bytes with and without a first tag, writes the result back out, and parses that
// again: no input may crash, read past its text or break the tree's bookkeeping.
#include "xmlParserInternals.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckTree(const XMLNodeRecord* record, int depth) {
    Check(depth <= kXMLMaxDepth + 1);
    Check(record->childCount == int32_t(record->children.size()));
    Check(record->textCount == int32_t(record->texts.size()));
    Check(record->clearCount == int32_t(record->clears.size()));
    Check(record->attributeCount == int32_t(record->attributes.size()));
    Check(size_t(record->childCount + record->textCount + record->clearCount +
                 record->attributeCount) == record->contentOrder.size());
    for (const XMLNodeRecord* child : record->children) {
        Check(child->parent == record);
        CheckTree(child, depth + 1);
    }
}

void Exercise(const XMLNode& node) {
    if (IsEmptyNode(node))
        return;
    XMLNodeRecord* record = node.record();
    const XMLNodeRecord* top = record;
    while (top->parent)
        top = top->parent;
    CheckTree(top, 0);

    for (int formatted = 0; formatted < 2; ++formatted) {
        int size = -1;
        const std::optional<std::string> text = createXMLString(node, formatted, &size);
        Check(text && size == int(text->size()));
        XMLParseReport report;
        XMLNode again = ParseXMLText(text->c_str(), nullptr, &report);
        if (!IsEmptyNode(again))
            CheckTree(again.record(), 0);
    }
    for (int i = 0; i < ContentCount(node); ++i)
        (void)ContentAt(node, i);
    (void)FindChildNamed(node, "device");
    (void)ChildNamedAt(node, "service", 1);
    (void)CountChildrenNamed(node, "Body");
    (void)AttributeNamedAt(node, "version", 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* tags[] = {nullptr, "root", "Envelope"};
    for (const char* tag : tags) {
        XMLParseReport report;
        XMLNode node = ParseXMLText(text.c_str(), tag, &report);
        Check(report.error >= 0 && report.error <= XMLErrorUnexpectedToken);
        if (report.error > XMLWarningUnmatchedEndTag)
            Check(IsEmptyNode(node));
        else if (!tag)
            Check(!IsEmptyNode(node));
        Exercise(node);
    }
    // Attribute values decode whole slices, entity references included, up to a given length.
    (void)DecodeXMLEntities(text.c_str(), long(size));
    (void)EncodeXMLEntities(text);
    return 0;
}
