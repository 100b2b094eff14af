// The node tree: handles, records, their arrays, and the queries.
#include "xmlParserInternals.h"

#include <algorithm>
#include <cassert>
#include <utility>

XMLNode::XMLNode(XMLNodeRecord* record) noexcept : record_(record) {
    if (record_)
        ++record_->refCount;
}

XMLNode::XMLNode(const XMLNode& other) noexcept : XMLNode(other.record_) {}

XMLNode::XMLNode(XMLNode&& other) noexcept : record_(std::exchange(other.record_, nullptr)) {}

XMLNode& XMLNode::operator=(const XMLNode& other) noexcept {
    if (record_ == other.record_)
        return *this;
    XMLNodeRecord* old = record_;
    record_ = other.record_;
    if (record_)
        ++record_->refCount;
    if (old)
        ReleaseNode(old);
    return *this;
}

XMLNode& XMLNode::operator=(XMLNode&& other) noexcept {
    if (this == &other)
        return *this;
    XMLNodeRecord* old = std::exchange(record_, std::exchange(other.record_, nullptr));
    if (old)
        ReleaseNode(old);
    return *this;
}

XMLNode::~XMLNode() {
    if (record_)
        ReleaseNode(record_);
}

namespace {

// Room is set ahead of each append, so the vector never picks its own growth.
template <typename T> void GrowXMLArray(std::vector<T>& array, size_t step) {
    if (array.capacity() == 0)
        array.reserve(step);
}

template <typename T> void AfterXMLAppend(std::vector<T>& array, size_t step) {
    if (array.size() % step == 0)
        array.reserve(array.size() + step);
}

template <typename T> void AppendItem(std::vector<T>& array, T&& item) {
    GrowXMLArray(array, kXMLArrayStep);
    array.push_back(std::move(item));
    AfterXMLAppend(array, kXMLArrayStep);
}

void AppendOrder(XMLNodeRecord* node, size_t index, int kind) {
    GrowXMLArray(node->contentOrder, kXMLOrderStep);
    node->contentOrder.push_back(int32_t(index * 4 + size_t(kind)));
    AfterXMLAppend(node->contentOrder, kXMLOrderStep);
}

std::string_view LocalName(std::string_view name) {
    size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

} // namespace

XMLNode AppendChild(XMLNodeRecord* node, std::optional<std::string> name, int declaration) {
    if (!node || !name)
        return XMLNode();
    auto* child = new XMLNodeRecord;
    child->name = std::move(name);
    child->declaration = declaration;
    child->parent = node;
    AppendItem(node->children, std::move(child));
    AppendOrder(node, node->children.size() - 1, XMLContentChild);
    ++node->childCount;
    return XMLNode(node->children.back());
}

void AppendText(XMLNodeRecord* node, std::optional<std::string> text) {
    if (!node || !text)
        return;
    AppendItem(node->texts, std::move(*text));
    AppendOrder(node, node->texts.size() - 1, XMLContentText);
    ++node->textCount;
}

void AppendAttribute(XMLNodeRecord* node, std::optional<std::string> name,
                     std::optional<std::string> value) {
    if (!node || !name)
        return;
    AppendItem(node->attributes, AttributePair{std::move(*name), std::move(value)});
    AppendOrder(node, node->attributes.size() - 1, XMLContentAttribute);
    ++node->attributeCount;
}

void AppendClear(XMLNodeRecord* node, std::optional<std::string> value, const char* openTag,
                 const char* closeTag) {
    if (!node || !value)
        return;
    AppendItem(node->clears, ClearSection{openTag, closeTag, std::move(*value)});
    AppendOrder(node, node->clears.size() - 1, XMLContentClear);
    ++node->clearCount;
}

void TrimNodeArrays(XMLNodeRecord* record) {
    record->children.shrink_to_fit();
    record->texts.shrink_to_fit();
    record->clears.shrink_to_fit();
    record->attributes.shrink_to_fit();
    record->contentOrder.shrink_to_fit();
}

void RemoveContentOrder(XMLNodeRecord* record, int kind, int index) {
    auto& order = record->contentOrder;
    const int32_t entry = index * 4 + kind;
    auto at = std::find(order.begin(), order.end(), entry);
    if (at == order.end())
        return;
    at = order.erase(at);
    for (; at != order.end(); ++at) {
        if (*at % 4 == kind)
            *at -= 4;
    }
}

void ReleaseNode(XMLNodeRecord* record) {
    assert(record && record->refCount > 0);
    if (--record->refCount > 0)
        return;
    if (XMLNodeRecord* parent = record->parent) {
        auto& siblings = parent->children;
        auto at = std::find(siblings.begin(), siblings.end(), record);
        if (at != siblings.end()) {
            const int index = int(at - siblings.begin());
            siblings.erase(at);
            --parent->childCount;
            RemoveContentOrder(parent, XMLContentChild, index);
        }
    }
    // Depth is bounded by the parser, so this recursion is too.
    for (XMLNodeRecord* child : record->children) {
        child->parent = nullptr;
        ReleaseNode(child);
    }
    delete record;
}

// ---- Queries ----

bool IsEmptyNode(const XMLNode& node) {
    return node.record() == nullptr;
}

int ChildCount(const XMLNode& node) {
    return node.record() ? node.record()->childCount : 0;
}
int TextCount(const XMLNode& node) {
    return node.record() ? node.record()->textCount : 0;
}
int AttributeCount(const XMLNode& node) {
    return node.record() ? node.record()->attributeCount : 0;
}
int ClearCount(const XMLNode& node) {
    return node.record() ? node.record()->clearCount : 0;
}

int ContentCount(const XMLNode& node) {
    const XMLNodeRecord* r = node.record();
    return r ? r->childCount + r->textCount + r->clearCount + r->attributeCount : 0;
}

const std::string* NodeName(const XMLNode& node) {
    const XMLNodeRecord* r = node.record();
    return r && r->name ? &*r->name : nullptr;
}

int IsDeclarationNode(const XMLNode& node) {
    return node.record() ? node.record()->declaration : 0;
}

XMLNode ChildAt(const XMLNode& node, int i) {
    const XMLNodeRecord* r = node.record();
    if (!r || i < 0 || i >= r->childCount)
        return XMLNode::emptyNode();
    return XMLNode(r->children[size_t(i)]);
}

const std::string* TextAt(const XMLNode& node, int i) {
    const XMLNodeRecord* r = node.record();
    if (!r || i < 0 || i >= r->textCount)
        return nullptr;
    return &r->texts[size_t(i)];
}

std::string TextAtOrEmpty(const XMLNode& node, int i) {
    const std::string* text = TextAt(node, i);
    return text ? *text : std::string();
}

int CountChildrenNamed(const XMLNode& node, std::string_view name) {
    const XMLNodeRecord* r = node.record();
    if (!r)
        return 0;
    int count = 0;
    for (const XMLNodeRecord* child : r->children) {
        if (child->name && EqualsIgnoringCase(*child->name, name))
            ++count;
    }
    return count;
}

XMLNode FindChildNamed(const XMLNode& node, std::string_view name, int* position) {
    const XMLNodeRecord* r = node.record();
    if (!r)
        return XMLNode::emptyNode();
    for (int i = position ? std::max(*position, 0) : 0; i < r->childCount; ++i) {
        XMLNodeRecord* child = r->children[size_t(i)];
        if (child->name && EqualsIgnoringCase(LocalName(*child->name), name)) {
            if (position)
                *position = i + 1;
            return XMLNode(child);
        }
    }
    return XMLNode::emptyNode();
}

XMLNode ChildNamedAt(const XMLNode& node, std::string_view name, int i) {
    int position = 0;
    for (int skipped = 0; skipped < i; ++skipped)
        FindChildNamed(node, name, &position);
    return FindChildNamed(node, name, &position);
}

namespace {

const AttributePair* FindAttributePair(const XMLNode& node, std::string_view name, int* position) {
    const XMLNodeRecord* r = node.record();
    if (!r)
        return nullptr;
    for (int i = position ? std::max(*position, 0) : 0; i < r->attributeCount; ++i) {
        const AttributePair& pair = r->attributes[size_t(i)];
        if (EqualsIgnoringCase(pair.name, name)) {
            if (position)
                *position = i + 1;
            return &pair;
        }
    }
    return nullptr;
}

const std::string* ValueOf(const AttributePair* pair) {
    return pair && pair->value ? &*pair->value : nullptr;
}

} // namespace

const std::string* FindAttributeNamed(const XMLNode& node, std::string_view name, int* position) {
    return ValueOf(FindAttributePair(node, name, position));
}

const std::string* AttributeNamedAt(const XMLNode& node, std::string_view name, int i) {
    int position = 0;
    for (int skipped = 0; skipped < i; ++skipped)
        FindAttributePair(node, name, &position);
    return ValueOf(FindAttributePair(node, name, &position));
}

int HasAttribute(const XMLNode& node, std::string_view name) {
    return FindAttributePair(node, name, nullptr) ? 1 : 0;
}

const AttributePair& AttributeAt(const XMLNode& node, int i) {
    static const AttributePair none;
    const XMLNodeRecord* r = node.record();
    if (!r || i < 0 || i >= r->attributeCount)
        return none;
    return r->attributes[size_t(i)];
}

const ClearSection& ClearAt(const XMLNode& node, int i) {
    static const ClearSection none;
    const XMLNodeRecord* r = node.record();
    if (!r || i < 0 || i >= r->clearCount)
        return none;
    return r->clears[size_t(i)];
}

XMLContentItem ContentAt(const XMLNode& node, int i) {
    XMLContentItem item;
    const XMLNodeRecord* r = node.record();
    // Checked here too: an index out of range must not read past the order record.
    if (!r || i < 0 || size_t(i) >= r->contentOrder.size())
        return item;
    const int32_t entry = r->contentOrder[size_t(i)];
    const int index = entry / 4;
    item.kind = entry % 4;
    switch (item.kind) {
    case XMLContentChild:
        item.child = ChildAt(node, index);
        break;
    case XMLContentAttribute:
        item.attribute = AttributeAt(node, index);
        break;
    case XMLContentText:
        item.text = TextAtOrEmpty(node, index);
        break;
    default:
        item.clear = ClearAt(node, index);
        break;
    }
    return item;
}

XMLNode NewRootNode() {
    return XMLNode::adopt(new XMLNodeRecord);
}
