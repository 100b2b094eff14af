// The parser's working parts, shared by its sources and its tests; not for other subsystems.
#pragma once

#include "xmlParser.h"

#include <cstddef>

struct ClearTag {
    const char* opener; // matched without regard to case
    const char* closer; // matched exactly
};

constexpr int kClearTagCount = 5;
extern const ClearTag kClearTags[kClearTagCount];

struct XMLParseState {
    const char* lpXML = nullptr; // NUL-terminated, not owned
    size_t position = 0;         // next unread byte
    int32_t error = XMLErrorNone;
    const char* pendingEndTag = nullptr;    // end-tag name travelling up to the element it closes
    size_t pendingEndTagLength = 0;         // 0: no pending end tag
    int first = 1;                          // the first element call starts outside a tag
    const ClearTag* clearTags = kClearTags; // each opener starts with "<"
    // Where the first unmatched end tag ended, for reports of the warning.
    size_t warningPosition = 0;
    bool warned = false;
};

enum XMLTokenKind : int {
    XMLTokenWord = 0,
    XMLTokenQuotedString = 1,
    XMLTokenTagOpener = 2,
    XMLTokenEndTagOpener = 3,
    XMLTokenTagCloser = 4,
    XMLTokenEquals = 5,
    XMLTokenDeclarationOpener = 6,
    XMLTokenSelfCloser = 7,
    XMLTokenClearOpener = 8,
    XMLTokenEndOfText = 9,
};

struct XMLToken {
    XMLTokenKind kind = XMLTokenEndOfText;
    const char* start = nullptr; // into the document text
    size_t length = 0;
    const ClearTag* clearTag = nullptr; // the matching row, for a clear opener
};

inline bool IsXMLWhiteSpace(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}
inline char LowerASCII(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// ---- Tokenizer and element parser ----
char FindNonWhiteSpace(XMLParseState* pXML);
XMLToken ReadXMLToken(XMLParseState* pXML);
void FindEndOfText(const char* lpszToken, size_t* pcbText);
bool MatchTagName(const std::optional<std::string>& name, const char* text);
bool MatchTagName(std::string_view name, const char* text);
std::optional<std::string> DecodeXMLEntities(const char* text, long length);
std::optional<std::string> CopyXMLText(const char* text, size_t length);
int ReadClearSection(XMLNodeRecord* node, XMLParseState* pXML, const ClearTag* row);
// `depth` is the nesting depth of `node` (0 for the document root).
int ParseXMLElement(XMLNodeRecord* node, XMLParseState* pXML, int depth = 0);
void CountLinesAndColumns(const char* lpXML, size_t position, int32_t* line, int32_t* column);
// The element a caller asked for by name, looked up from the root.
XMLNode FindFirstTag(const XMLNode& root, const char* tag);

// ---- Tree building ----
XMLNode AppendChild(XMLNodeRecord* node, std::optional<std::string> name, int declaration);
void AppendText(XMLNodeRecord* node, std::optional<std::string> text);
void AppendAttribute(XMLNodeRecord* node, std::optional<std::string> name,
                     std::optional<std::string> value);
void AppendClear(XMLNodeRecord* node, std::optional<std::string> value, const char* openTag,
                 const char* closeTag);
void ReleaseNode(XMLNodeRecord* record);
void TrimNodeArrays(XMLNodeRecord* record);
void RemoveContentOrder(XMLNodeRecord* record, int kind, int index);

// Array room grows in fixed steps: 50 for the item arrays, 150 for the order record.
constexpr size_t kXMLArrayStep = 50;
constexpr size_t kXMLOrderStep = 150;
