// A document read once and then dropped (a SOAP answer, a device description): parsed as
// ParseXMLText parses it, into one table of elements instead of a record per node. Attributes and
// clear sections are passed over, and a text is decoded only when asked for. Its queries answer as
// the tree's do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class XMLFlatDocument {
  public:
    // An element; kNone stands for the empty node.
    using Element = int32_t;
    static constexpr Element kNone = -1;

    // Takes `text` up to its first NUL, as ParseXMLText(text.c_str(), tag) would.
    XMLFlatDocument(std::string text, const char* tag);

    // The element ParseXMLText(text, tag) gives.
    Element Found() const { return found_; }
    // FindChildNamed: the first child whose local name is `name`, letter case ignored; after
    // `after` when given (as a position carried on).
    Element FindChildNamed(Element node, std::string_view name, Element after = kNone) const;
    // TextAt: the element's text number `i`, decoded as the tree's is; none when it has none.
    std::optional<std::string> TextAt(Element node, int i) const;
    std::string TextAtOrEmpty(Element node, int i) const {
        return TextAt(node, i).value_or(std::string());
    }
    // ChildAt, and the name and declaration flag of an element.
    Element ChildAt(Element node, int i) const;
    std::string_view Name(Element node) const { return NameOf(items_[size_t(node)]); }
    bool IsDeclaration(Element node) const { return items_[size_t(node)].declaration; }

  private:
    friend struct FlatBuilder;
    struct Item {
        uint32_t name = 0, name_length = 0; // where the name stands in the text
        uint32_t local = 0;                 // where its local name starts, past the prefix
        Element first_child = kNone, last_child = kNone, next_sibling = kNone;
        int32_t first_text = -1, last_text = -1;
        bool declaration = false;
    };
    struct Text {
        uint32_t start = 0, length = 0;
        int32_t next = -1; // the same element's next text
        bool decode = false;
    };
    std::string_view NameOf(const Item& item) const {
        return std::string_view(text_.data() + item.name, item.name_length);
    }

    std::string text_;
    std::vector<Item> items_; // the document's root first, without a name
    std::vector<Text> texts_;
    Element found_ = kNone;
};
