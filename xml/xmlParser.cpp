// Tokenizer, element parser, entity decoding and the parse entry points.
#include "xmlElementParser.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void FindEndOfText(const char* lpszToken, size_t* pcbText) {
    assert(lpszToken && pcbText);
    size_t length = *pcbText;
    while (length > 0 && IsXMLWhiteSpace(lpszToken[length - 1]))
        --length;
    assert(length > 0 && "cbText >= 0");
    *pcbText = length;
}

bool MatchTagName(const std::optional<std::string>& name, const char* text) {
    return name && MatchTagName(std::string_view(*name), text);
}

std::optional<std::string> CopyXMLText(const char* text, size_t length) {
    if (!text)
        return std::nullopt;
    return std::string(text, length);
}

namespace {

void AppendUTF8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out.push_back(char(code));
    } else if (code < 0x800) {
        out.push_back(char(0xC0 | (code >> 6)));
        out.push_back(char(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(char(0xE0 | (code >> 12)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(char(0x80 | (code & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (code >> 18)));
        out.push_back(char(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(char(0x80 | (code & 0x3F)));
    }
}

int DigitValue(char c, int base) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16) {
        const char lower = LowerASCII(c);
        if (lower >= 'a' && lower <= 'f')
            return lower - 'a' + 10;
    }
    return -1;
}

// A numeric character reference "&#NNN;" or "&#xHHH;" within `available` bytes from `p` (on the
// "&"). Returns its length, or 0 when it is not one or names no valid code point.
size_t ReadNumericReference(const char* p, size_t available, uint32_t* code) {
    size_t i = 2;
    if (available < 4 || p[1] != '#')
        return 0;
    int base = 10;
    if (p[i] == 'x' || p[i] == 'X') {
        base = 16;
        ++i;
    }
    const size_t digits = i;
    uint32_t value = 0;
    int digit = 0;
    while (i < available && (digit = DigitValue(p[i], base)) >= 0) {
        // Clamped just above the last code point, so long digit runs cannot overflow.
        value = std::min<uint32_t>(value * uint32_t(base) + uint32_t(digit), 0x110000);
        ++i;
    }
    if (i == digits || i >= available || p[i] != ';')
        return 0;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return i + 1;
}

struct NamedEntity {
    const char* name; // after the "&", ";" included
    char byte;
};
constexpr NamedEntity kNamedEntities[] = {
    {"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"apos;", '\''}, {"quot;", '"'},
};

} // namespace

std::optional<std::string> DecodeXMLEntities(const char* text, long length) {
    if (!text)
        return std::nullopt;
    std::string out;
    if (length <= 0)
        return out;
    const size_t end = size_t(length);
    out.reserve(end);
    size_t i = 0;
    while (i < end && text[i]) {
        // Plain bytes are taken a run at a time, up to the next reference or NUL.
        size_t plain = i;
        while (plain < end && text[plain] && text[plain] != '&')
            ++plain;
        if (plain > i) {
            out.append(text + i, plain - i);
            i = plain;
            continue;
        }
        if (text[i] == '&') {
            const size_t available = end - i;
            bool decoded = false;
            for (const NamedEntity& entity : kNamedEntities) {
                const size_t size = std::strlen(entity.name) + 1;
                if (size <= available && StartsWithIgnoringCaseXML(text + i + 1, entity.name)) {
                    out.push_back(entity.byte);
                    i += size;
                    decoded = true;
                    break;
                }
            }
            if (decoded)
                continue;
            uint32_t code = 0;
            if (const size_t size = ReadNumericReference(text + i, available, &code)) {
                AppendUTF8(out, code);
                i += size;
                continue;
            }
            // Any other reference is kept as written: routers send names we do not know.
        }
        out.push_back(text[i]);
        ++i;
    }
    return out;
}

namespace {

// The public tree: a record per element, texts and attributes copied as they are found.
struct TreeBuilder {
    using Node = XMLNodeRecord*;
    static bool Matches(Node node, const char* text, size_t length) {
        return node->name && MatchTagName(*node->name, text, length);
    }
    static bool Named(Node node) { return bool(node->name); }
    static bool Declaration(Node node) { return node->declaration != 0; }
    static Node AddChild(Node node, const char* name, size_t length, int declaration) {
        return AppendChild(node, CopyXMLText(name, length), declaration).record();
    }
    static void AddText(Node node, const char* text, size_t length, bool decode) {
        AppendText(node,
                   decode ? DecodeXMLEntities(text, long(length)) : CopyXMLText(text, length));
    }
    static void AddAttribute(Node node, const char* name, size_t length, const char* value,
                             size_t size) {
        AppendAttribute(node, CopyXMLText(name, length),
                        value ? DecodeXMLEntities(value, long(size)) : std::nullopt);
    }
    static void AddClear(Node node, const char* value, size_t length, const ClearTag* row) {
        AppendClear(node, CopyXMLText(value, length), row->opener, row->closer);
    }
    static void Close(Node node) { TrimNodeArrays(node); }
};

} // namespace

int ReadClearSection(XMLNodeRecord* node, XMLParseState* pXML, const ClearTag* row) {
    TreeBuilder builder;
    return xml_detail::ReadClearInto(builder, node, pXML, row);
}

int ParseXMLElement(XMLNodeRecord* node, XMLParseState* pXML, int depth) {
    TreeBuilder builder;
    return xml_detail::ParseElementInto(builder, node, pXML, depth);
}

void CountLinesAndColumns(const char* lpXML, size_t position, int32_t* line, int32_t* column) {
    assert(lpXML);
    int32_t l = 1;
    int32_t c = 1;
    for (size_t i = 0; i < position; ++i) {
        const char ch = lpXML[i];
        assert(ch && "ch");
        if (ch == '\n') {
            ++l;
            c = 1;
        } else {
            ++c;
        }
    }
    *line = l;
    *column = c;
}

XMLNode FindFirstTag(const XMLNode& root, const char* tag) {
    const XMLNodeRecord* container = root.record();
    XMLNodeRecord* last = nullptr;
    int index = 0;
    while (container && index < container->childCount) {
        XMLNodeRecord* child = container->children[size_t(index)];
        last = child;
        if (child->name && EqualsIgnoringCase(*child->name, tag))
            return XMLNode(child);
        if (child->declaration) {
            container = child;
            index = 0;
        } else {
            ++index;
        }
    }
    // A SOAP answer's "s:Envelope" is found here, as the last element looked at.
    return last ? XMLNode(last) : XMLNode::emptyNode();
}

namespace {

struct ParseOutcome {
    XMLNode node;
    size_t warningPosition = 0;
    bool warned = false;
};

ParseOutcome RunParse(const char* text, const char* tag, XMLParseReport* report) {
    ParseOutcome outcome;
    if (!text) {
        if (report)
            *report = XMLParseReport{XMLErrorNoElements, 0, 0};
        return outcome;
    }
    XMLNode root = NewRootNode();
    XMLParseState state;
    state.lpXML = text;
    ParseXMLElement(root.record(), &state);

    if (state.error <= XMLWarningUnmatchedEndTag)
        outcome.node = (tag && *tag) ? FindFirstTag(root, tag) : root;
    if (report) {
        report->error = state.error;
        if (state.error > XMLWarningUnmatchedEndTag)
            CountLinesAndColumns(text, state.position, &report->line, &report->column);
    }
    outcome.warned = state.warned;
    outcome.warningPosition = state.warningPosition;
    return outcome;
}

} // namespace

XMLNode ParseXMLText(const char* text, const char* tag, XMLParseReport* report) {
    return RunParse(text, tag, report).node;
}

XMLNode ParseXMLText(const std::string& text, const char* tag, XMLParseReport* report) {
    return ParseXMLText(text.c_str(), tag, report);
}

namespace {

// The whole file with a NUL after it, or none when it cannot be read.
std::optional<std::string> ReadWholeFile(const char* path) {
    FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file)
        return std::nullopt;
    std::optional<std::string> data;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    // Sizes are held in 32 bits; a larger file is treated as unreadable.
    if (size >= 0 && size < 0x7FFFFFFF && std::fseek(file, 0, SEEK_SET) == 0) {
        data.emplace(size_t(size), '\0');
        data->resize(std::fread(data->data(), 1, size_t(size), file));
    }
    std::fclose(file);
    return data;
}

} // namespace

XMLNode ParseXMLFile(const char* path, const char* tag, XMLParseReport* report) {
    const std::optional<std::string> data = ReadWholeFile(path);
    if (!data) {
        if (report)
            *report = XMLParseReport{XMLErrorFileNotFound, 0, 0};
        return XMLNode::emptyNode();
    }
    return ParseXMLText(data->c_str(), tag, report);
}

XMLNode OpenXMLFileOrExit(const char* path, const char* tag) {
    XMLParseReport report;
    ParseOutcome outcome;
    const std::optional<std::string> data = ReadWholeFile(path);
    if (!data)
        report = XMLParseReport{XMLErrorFileNotFound, 0, 0};
    else
        outcome = RunParse(data->c_str(), tag, &report);
    if (report.error == XMLErrorNone)
        return outcome.node;
    // The warning carries no place of its own: give where the first unmatched end tag ended.
    if (report.error == XMLWarningUnmatchedEndTag && data && outcome.warned)
        CountLinesAndColumns(data->c_str(), outcome.warningPosition, &report.line, &report.column);
    std::printf("XML Parsing error inside file '%s'.\nError: %s\nAt line %i, column %i.\n",
                path ? path : "", XMLErrorText(report.error), report.line, report.column);
    if (report.error == XMLErrorFirstTagNotFound)
        std::printf("Tag is '%s'.\n", tag ? tag : "");
    std::fflush(stdout);
    std::exit(255);
}

const char* XMLErrorText(int code) {
    static const char* const messages[] = {
        "No error",
        "Warning: Unmatched end tag",
        "Error: No XML data",
        "Error: First token not start tag",
        "Error: Missing start tag name",
        "Error: Missing end tag name",
        "Error: Unmatched quote",
        "Error: Unmatched end tag",
        "Error: Unexpected token found",
        "Error: Invalid tag found",
        "Error: No elements found",
        "Error: File not found",
        "Error: First Tag not found",
    };
    if (code < 0 || code >= int(sizeof messages / sizeof messages[0]))
        return "Unknown";
    return messages[code];
}
