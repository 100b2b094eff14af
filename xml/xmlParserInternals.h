// The parser's working parts, shared by its sources and its tests; not for other subsystems.
#pragma once

#include "xmlParser.h"

#include <array>
#include <cassert>
#include <cstddef>
#include <cstring>

struct ClearTag {
    const char* opener; // matched without regard to case
    const char* closer; // matched exactly
};

constexpr int kClearTagCount = 5;
inline constexpr ClearTag kClearTags[kClearTagCount] = {
    {"<![CDATA[", "]]>"}, {"<PRE>", "</PRE>"}, {"<Script>", "</Script>"},
    {"<!--", "-->"},      {"<!DOCTYPE", ">"},
};
// The second bytes of the openers above, in either case: a tag starting otherwise opens none.
constexpr std::array<bool, 256> ClearSecondBytes() {
    std::array<bool, 256> bytes{};
    for (const ClearTag& tag : kClearTags) {
        const char c = tag.opener[1];
        bytes[static_cast<unsigned char>(c)] = true;
        bytes[static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c)] = true;
        bytes[static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c)] = true;
    }
    return bytes;
}
inline constexpr std::array<bool, 256> kClearSecondBytes = ClearSecondBytes();

struct XMLParseState {
    const char* lpXML = nullptr; // NUL-terminated, not owned
    size_t position = 0;         // next unread byte
    int32_t error = XMLErrorNone;
    const char* pendingEndTag = nullptr;    // end-tag name travelling up to the element it closes
    size_t pendingEndTagLength = 0;         // 0: no pending end tag
    int first = 1;                          // the first element call starts outside a tag
    const ClearTag* clearTags = kClearTags; // each opener: "<" and at least one more byte
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
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a == b) // names are mostly asked for as written
        return true;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && LowerASCII(a[i]) != LowerASCII(b[i]))
            return false;
    }
    return true;
}

// ---- Tokenizer (inline: it runs for every token) ----
// True when `text` starts with `prefix`, letters compared without regard to case. Stops at the
// first difference, so a NUL in `text` ends the comparison before any read past it.
inline bool StartsWithIgnoringCaseXML(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (LowerASCII(*text) != LowerASCII(*prefix))
            return false;
    }
    return true;
}

// The bytes that may end a word: white space, "<", "=", ">", "/" (when ">" follows) and the NUL
// that closes the literal.
constexpr std::array<bool, 256> XMLWordEnds() {
    std::array<bool, 256> ends{};
    for (const char c : "\t\n\r <=>/")
        ends[static_cast<unsigned char>(c)] = true;
    return ends;
}
inline constexpr std::array<bool, 256> kMayEndXMLWord = XMLWordEnds();

inline XMLToken ReadXMLWord(XMLParseState* pXML, const char* start) {
    const char* end = start + 1;
    while (!kMayEndXMLWord[static_cast<unsigned char>(*end)] || (*end == '/' && end[1] != '>'))
        ++end;
    XMLToken token{XMLTokenWord, start, size_t(end - start), nullptr};
    pXML->position = size_t(end - pXML->lpXML) + (IsXMLWhiteSpace(*end) ? 1 : 0);
    return token;
}

inline char FindNonWhiteSpace(XMLParseState* pXML) {
    assert(pXML);
    for (;;) {
        const char c = pXML->lpXML[pXML->position];
        if (c == 0)
            return 0;
        ++pXML->position;
        if (!IsXMLWhiteSpace(c))
            return c;
    }
}

[[gnu::always_inline]] inline XMLToken ReadXMLToken(XMLParseState* pXML) {
    assert(pXML);
    const char first = FindNonWhiteSpace(pXML);
    if (first == 0)
        return XMLToken{XMLTokenEndOfText, pXML->lpXML + pXML->position, 0, nullptr};

    const char* start = pXML->lpXML + pXML->position - 1;
    // Every clear-section opener starts with "<": no other token needs the table, and a tag's
    // second byte rules out most rows before a whole opener is compared.
    const bool may_open = first == '<' && (pXML->clearTags != kClearTags ||
                                           kClearSecondBytes[static_cast<unsigned char>(start[1])]);
    for (int row = 0; may_open && row < kClearTagCount; ++row) {
        const ClearTag& tag = pXML->clearTags[row];
        if (LowerASCII(start[1]) == LowerASCII(tag.opener[1]) &&
            StartsWithIgnoringCaseXML(start, tag.opener)) {
            pXML->position = size_t(start - pXML->lpXML) + std::strlen(tag.opener);
            return XMLToken{XMLTokenClearOpener, start, 0, &tag};
        }
    }

    const char next = start[1];
    switch (first) {
    case '<':
        if (next == '?' || next == '/') {
            ++pXML->position;
            return XMLToken{next == '?' ? XMLTokenDeclarationOpener : XMLTokenEndTagOpener, start,
                            2, nullptr};
        }
        return XMLToken{XMLTokenTagOpener, start, 1, nullptr};
    case '>':
        return XMLToken{XMLTokenTagCloser, start, 1, nullptr};
    case '=':
        return XMLToken{XMLTokenEquals, start, 1, nullptr};
    case '/':
        if (next == '>') {
            ++pXML->position;
            return XMLToken{XMLTokenSelfCloser, start, 2, nullptr};
        }
        return ReadXMLWord(pXML, start);
    case '"':
    case '\'': {
        const char* partner = start + 1 + std::strcspn(start + 1, first == '"' ? "\"<" : "'<");
        if (*partner != first)
            return ReadXMLWord(pXML, start);
        XMLToken token{XMLTokenQuotedString, start, size_t(partner - start) + 1, nullptr};
        const char* after = partner + 1;
        while (IsXMLWhiteSpace(*after))
            ++after;
        pXML->position = size_t(after - pXML->lpXML);
        return token;
    }
    default:
        return ReadXMLWord(pXML, start);
    }
}

// ---- Element parser ----
void FindEndOfText(const char* lpszToken, size_t* pcbText);
bool MatchTagName(const std::optional<std::string>& name, const char* text);
// `known`: how many bytes of `text` are there for sure (the length of its word), so that a name
// no longer than that is compared whole, as written, before letter by letter.
inline bool MatchTagName(std::string_view name, const char* text, size_t known = 0) {
    const size_t length = name.size();
    if (length > known || std::memcmp(text, name.data(), length) != 0) {
        for (size_t i = 0; i < length; ++i) {
            // A NUL in `text` differs from every name byte, so the loop never passes it.
            if (text[i] != name[i] && LowerASCII(text[i]) != LowerASCII(name[i]))
                return false;
        }
    }
    const char after = text[length];
    return IsXMLWhiteSpace(after) || after == '/' || after == '<' || after == '=' || after == '>';
}
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
