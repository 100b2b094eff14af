// Turning a tree back into text, compact or indented with tabs.
#include "xmlParserInternals.h"

#include <cassert>
#include <cstring>

namespace {

const char* EntityFor(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\'':
        return "&apos;";
    default:
        return nullptr;
    }
}

// Counts what it is given, and writes it too when it has a buffer.
class Output {
  public:
    explicit Output(char* buffer) : buffer_(buffer) {}

    void put(const char* text, size_t length) {
        if (buffer_)
            std::memcpy(buffer_ + cursor_, text, length);
        cursor_ += length;
    }
    void put(std::string_view text) { put(text.data(), text.size()); }
    void put(char c) { put(&c, 1); }
    void tabs(int count) {
        for (int i = 0; i < count; ++i)
            put('\t');
    }
    void encoded(std::string_view text) {
        if (buffer_)
            EncodeXMLEntitiesInto(buffer_ + cursor_, text);
        cursor_ += size_t(EncodedXMLLength(text));
    }
    // Takes back the last byte written.
    void unput() { --cursor_; }
    char* at() const { return buffer_ ? buffer_ + cursor_ : nullptr; }
    void advance(size_t count) { cursor_ += count; }
    size_t size() const { return cursor_; }

    static void EncodeXMLEntitiesInto(char* destination, std::string_view text) {
        for (char c : text) {
            if (const char* entity = EntityFor(c)) {
                const size_t length = std::strlen(entity);
                std::memcpy(destination, entity, length);
                destination += length;
            } else {
                *destination++ = c;
            }
        }
    }

  private:
    char* buffer_;
    size_t cursor_ = 0;
};

} // namespace

int EncodedXMLLength(std::string_view text) {
    size_t length = 0;
    for (char c : text) {
        const char* entity = EntityFor(c);
        length += entity ? std::strlen(entity) : 1;
    }
    return int(length);
}

char* EncodeXMLEntities(char* destination, const char* text) {
    const std::string_view view(text ? text : "");
    Output::EncodeXMLEntitiesInto(destination, view);
    destination[EncodedXMLLength(view)] = 0;
    return destination;
}

std::string EncodeXMLEntities(std::string_view text) {
    std::string encoded(size_t(EncodedXMLLength(text)), '\0');
    Output::EncodeXMLEntitiesInto(encoded.data(), text);
    return encoded;
}

const char* EncodeXMLEntities(std::string_view text, std::string& buffer) {
    const size_t length = size_t(EncodedXMLLength(text));
    if (buffer.capacity() < length)
        buffer.reserve(length);
    buffer.resize(length);
    Output::EncodeXMLEntitiesInto(buffer.data(), text);
    return buffer.c_str();
}

int CreateXMLStringR(const XMLNodeRecord* pEntry, char* buffer, int F) {
    assert(pEntry);
    Output out(buffer);
    const bool indented = F >= 0;
    const int indent = indented ? F : 0;
    const bool named = pEntry->name && !pEntry->name->empty();
    const bool hasContent = pEntry->childCount + pEntry->textCount + pEntry->clearCount != 0;
    int childLevel = F;

    if (named) {
        out.tabs(indent);
        out.put('<');
        if (pEntry->declaration)
            out.put('?');
        out.put(*pEntry->name);
        out.put(' ');
        for (const AttributePair& attribute : pEntry->attributes) {
            if (attribute.name.empty())
                continue;
            out.put(attribute.name);
            // An attribute read without a value is written back the same way.
            if (attribute.value) {
                out.put("=\"");
                out.encoded(*attribute.value);
                out.put('"');
            }
            out.put(' ');
        }
        out.unput();
        if (pEntry->declaration) {
            out.put("?>");
            if (indented)
                out.put('\n');
        } else if (hasContent) {
            out.put('>');
            if (indented) {
                out.put('\n');
                childLevel = F + 1;
            }
        }
    }

    if (hasContent) {
        for (int32_t entry : pEntry->contentOrder) {
            const size_t index = size_t(entry / 4);
            switch (entry % 4) {
            case XMLContentChild:
                out.advance(
                    size_t(CreateXMLStringR(pEntry->children[index], out.at(), childLevel)));
                break;
            case XMLContentText: {
                const std::string& text = pEntry->texts[index];
                if (text.empty())
                    break;
                if (indented)
                    out.tabs(F + 1);
                out.encoded(text);
                if (indented)
                    out.put('\n');
                break;
            }
            case XMLContentClear: {
                const ClearSection& clear = pEntry->clears[index];
                const bool hasOpener = clear.openTag && *clear.openTag;
                if (indented && hasOpener)
                    out.tabs(F + 1);
                if (hasOpener)
                    out.put(clear.openTag);
                out.put(clear.value);
                if (clear.closeTag)
                    out.put(clear.closeTag);
                if (indented)
                    out.put('\n');
                break;
            }
            default:
                break;
            }
        }
    }

    if (named && !pEntry->declaration) {
        if (hasContent) {
            out.tabs(indent);
            out.put("</");
            out.put(*pEntry->name);
            out.put('>');
        } else {
            out.put("/>");
        }
        if (indented)
            out.put('\n');
    }
    return int(out.size());
}

std::optional<std::string> createXMLString(const XMLNode& node, int formatted, int* size) {
    if (size)
        *size = 0;
    const XMLNodeRecord* record = node.record();
    if (!record)
        return std::nullopt;
    const int level = formatted ? 0 : -1;
    std::string text(size_t(CreateXMLStringR(record, nullptr, level)), '\0');
    CreateXMLStringR(record, text.data(), level);
    if (size)
        *size = int(text.size());
    return text;
}
