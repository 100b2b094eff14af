#include "xmlFlatDocument.h"
#include "xmlElementParser.h"

// Records elements and texts as places in the document's own text; the rest is passed over.
struct FlatBuilder {
    using Node = XMLFlatDocument::Element;
    XMLFlatDocument& document;

    bool Matches(Node node, const char* text, size_t length) const {
        return node != 0 &&
               MatchTagName(document.NameOf(document.items_[size_t(node)]), text, length);
    }
    static bool Named(Node node) { return node != 0; }
    bool Declaration(Node node) const { return document.items_[size_t(node)].declaration; }
    Node AddChild(Node node, const char* name, size_t length, int declaration) {
        auto& items = document.items_;
        XMLFlatDocument::Item child;
        child.name = Offset(name);
        child.name_length = uint32_t(length);
        child.declaration = declaration != 0;
        const void* colon = std::memchr(name, ':', length);
        child.local = colon ? uint32_t(static_cast<const char*>(colon) - name) + 1 : 0;
        const Node added = Node(items.size());
        items.push_back(child);
        XMLFlatDocument::Item& parent = items[size_t(node)];
        if (parent.last_child == XMLFlatDocument::kNone)
            parent.first_child = added;
        else
            items[size_t(parent.last_child)].next_sibling = added;
        parent.last_child = added;
        return added;
    }
    void AddText(Node node, const char* text, size_t length, bool decode) {
        auto& texts = document.texts_;
        const int32_t added = int32_t(texts.size());
        texts.push_back({Offset(text), uint32_t(length), -1, decode});
        XMLFlatDocument::Item& item = document.items_[size_t(node)];
        if (item.last_text < 0)
            item.first_text = added;
        else
            texts[size_t(item.last_text)].next = added;
        item.last_text = added;
    }
    static void AddAttribute(Node, const char*, size_t, const char*, size_t) {}
    static void AddClear(Node, const char*, size_t, const ClearTag*) {}
    static void Close(Node) {}

    uint32_t Offset(const char* at) const { return uint32_t(at - document.text_.c_str()); }
};

XMLFlatDocument::XMLFlatDocument(std::string text, const char* tag) : text_(std::move(text)) {
    // A SOAP answer holds a dozen elements.
    items_.reserve(16);
    texts_.reserve(16);
    items_.emplace_back();
    XMLParseState state;
    const char* const start = state.lpXML = text_.c_str();
    // Before the first "<" (an answer's HTTP header) every token is text, which can only make
    // the root's first text: stepped over at once, unless a ">" there ends the parse.
    const char* leading = nullptr;
    const char* const markup = std::strchr(start, '<');
    if (markup && !std::memchr(start, '>', size_t(markup - start))) {
        leading = start + std::strspn(start, "\t\n\r ");
        leading = leading < markup ? leading : nullptr;
        state.position = size_t(markup - start);
    }
    FlatBuilder builder{*this};
    xml_detail::ParseElementInto(builder, 0, &state, 0, leading);
    if (state.error > XMLWarningUnmatchedEndTag)
        return;
    if (!tag || !*tag) {
        found_ = 0;
        return;
    }
    // As FindFirstTag looks: along the root's elements, into a declaration's.
    for (Element child = items_[0].first_child; child != kNone;) {
        const Item& item = items_[size_t(child)];
        found_ = child;
        if (EqualsIgnoringCase(NameOf(item), tag))
            return;
        child = item.declaration ? item.first_child : item.next_sibling;
    }
}

XMLFlatDocument::Element XMLFlatDocument::FindChildNamed(Element node, std::string_view name,
                                                         Element after) const {
    if (node == kNone)
        return kNone;
    for (Element child = after == kNone ? items_[size_t(node)].first_child
                                        : items_[size_t(after)].next_sibling;
         child != kNone; child = items_[size_t(child)].next_sibling) {
        const Item& item = items_[size_t(child)];
        if (item.name_length - item.local == name.size() &&
            EqualsIgnoringCase(NameOf(item).substr(item.local), name))
            return child;
    }
    return kNone;
}

std::optional<std::string> XMLFlatDocument::TextAt(Element node, int i) const {
    if (node == kNone || i < 0)
        return std::nullopt;
    int32_t at = items_[size_t(node)].first_text;
    for (; at >= 0 && i > 0; --i)
        at = texts_[size_t(at)].next;
    if (at < 0)
        return std::nullopt;
    const Text& text = texts_[size_t(at)];
    const char* start = text_.c_str() + text.start;
    // Without a reference the text decodes to itself (it holds no NUL: the parse stopped there).
    if (!text.decode || !std::memchr(start, '&', text.length))
        return std::string(start, text.length);
    return DecodeXMLEntities(start, long(text.length));
}

XMLFlatDocument::Element XMLFlatDocument::ChildAt(Element node, int i) const {
    if (node == kNone || i < 0)
        return kNone;
    Element child = items_[size_t(node)].first_child;
    for (; child != kNone && i > 0; --i)
        child = items_[size_t(child)].next_sibling;
    return child;
}
