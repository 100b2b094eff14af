// A small, lenient, non-validating XML parser for device descriptions and SOAP answers.
//
// Texts returned by queries belong to their node: a `const std::string*` stays valid while the
// node lives, and nullptr stands for "none". Trees are not thread-safe: a tree and all handles
// into it belong to one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct XMLNodeRecord;

// Reference-counted handle to one node of a parsed tree; the default handle is the empty node,
// which stands for "not found".
class XMLNode {
  public:
    constexpr XMLNode() noexcept = default;
    // Takes a new reference to `record` (none gives the empty node).
    explicit XMLNode(XMLNodeRecord* record) noexcept;
    XMLNode(const XMLNode& other) noexcept;
    XMLNode(XMLNode&& other) noexcept;
    XMLNode& operator=(const XMLNode& other) noexcept;
    XMLNode& operator=(XMLNode&& other) noexcept;
    ~XMLNode();

    // Takes over a reference the caller already holds.
    static XMLNode adopt(XMLNodeRecord* record) noexcept {
        XMLNode node;
        node.record_ = record;
        return node;
    }
    XMLNodeRecord* record() const noexcept { return record_; }
    // A copy of the process-wide empty node.
    static XMLNode emptyNode() noexcept { return XMLNode(); }

    friend bool operator==(const XMLNode& a, const XMLNode& b) noexcept {
        return a.record_ == b.record_;
    }
    friend bool operator!=(const XMLNode& a, const XMLNode& b) noexcept { return !(a == b); }

  private:
    XMLNodeRecord* record_ = nullptr;
};

struct AttributePair {
    std::string name;                 // empty in the pair that stands for "no attribute"
    std::optional<std::string> value; // none for an attribute written without "=value"
};

struct ClearSection {
    const char* openTag = nullptr;  // constant of the clear-tag table, not owned
    const char* closeTag = nullptr; // constant of the clear-tag table, not owned
    std::string value;              // the bytes between opener and closer, unchanged
};

// Kinds of the order record entries (entry = index * 4 + kind).
enum XMLContentKind : int32_t {
    XMLContentChild = 0,
    XMLContentAttribute = 1,
    XMLContentText = 2,
    XMLContentClear = 3,
    XMLContentNothing = 4,
};

struct XMLNodeRecord {
    std::optional<std::string> name; // as written, prefix included; none for the document root
    int32_t childCount = 0;
    int32_t textCount = 0;
    int32_t clearCount = 0;
    int32_t attributeCount = 0;
    int32_t declaration = 0; // 1 when opened by "<?"
    XMLNodeRecord* parent = nullptr;
    std::vector<XMLNodeRecord*> children; // each entry holds one reference
    std::vector<std::string> texts;
    std::vector<ClearSection> clears;
    std::vector<AttributePair> attributes;
    std::vector<int32_t> contentOrder;
    int32_t refCount = 1;
};

struct XMLContentItem {
    int32_t kind = XMLContentNothing;
    XMLNode child;
    AttributePair attribute;
    std::string text;
    ClearSection clear;
};

enum XMLErrorCode : int32_t {
    XMLErrorNone = 0,
    XMLWarningUnmatchedEndTag = 1,
    XMLErrorNoXMLData = 2,
    XMLErrorFirstTokenNotStartTag = 3,
    XMLErrorMissingStartTagName = 4,
    XMLErrorMissingEndTagName = 5,
    XMLErrorUnmatchedQuote = 6,
    XMLErrorUnmatchedEndTag = 7,
    XMLErrorUnexpectedToken = 8,
    XMLErrorInvalidTag = 9,
    XMLErrorNoElements = 10,
    XMLErrorFileNotFound = 11,
    XMLErrorFirstTagNotFound = 12,
};

struct XMLParseReport {
    int32_t error = 0;
    int32_t line = 0;
    int32_t column = 0;
};

// Deeper nesting ends the parse with XMLErrorUnexpectedToken instead of exhausting the stack.
constexpr int kXMLMaxDepth = 512;

// ---- Parsing ----

// `text` is NUL-terminated (or none); `tag` names the element wanted (or none for the root).
XMLNode ParseXMLText(const char* text, const char* tag = nullptr, XMLParseReport* report = nullptr);
XMLNode ParseXMLText(const std::string& text, const char* tag = nullptr,
                     XMLParseReport* report = nullptr);
XMLNode ParseXMLFile(const char* path, const char* tag = nullptr, XMLParseReport* report = nullptr);
// Returns only when the parse had code 0; otherwise prints the error and exits with status 255.
XMLNode OpenXMLFileOrExit(const char* path, const char* tag = nullptr);
const char* XMLErrorText(int code);

// ---- Queries (every one accepts the empty node) ----

bool IsEmptyNode(const XMLNode& node);
int ChildCount(const XMLNode& node);
int TextCount(const XMLNode& node);
int AttributeCount(const XMLNode& node);
int ClearCount(const XMLNode& node);
int ContentCount(const XMLNode& node);
const std::string* NodeName(const XMLNode& node);
int IsDeclarationNode(const XMLNode& node);
XMLNode ChildAt(const XMLNode& node, int i);
const std::string* TextAt(const XMLNode& node, int i);
// TextAt, with "none" given as the empty string.
std::string TextAtOrEmpty(const XMLNode& node, int i);
// Whole names, prefix included.
int CountChildrenNamed(const XMLNode& node, std::string_view name);
// Local names: the part of a child's name after its first ':' is compared with `name`.
XMLNode FindChildNamed(const XMLNode& node, std::string_view name, int* position = nullptr);
XMLNode ChildNamedAt(const XMLNode& node, std::string_view name, int i);
const std::string* FindAttributeNamed(const XMLNode& node, std::string_view name,
                                      int* position = nullptr);
const std::string* AttributeNamedAt(const XMLNode& node, std::string_view name, int i);
int HasAttribute(const XMLNode& node, std::string_view name);
const AttributePair& AttributeAt(const XMLNode& node, int i);
const ClearSection& ClearAt(const XMLNode& node, int i);
XMLContentItem ContentAt(const XMLNode& node, int i);
XMLNode NewRootNode();

// ---- Writing ----

// Indented (tabs) when `formatted` is nonzero, compact otherwise; none for the empty node.
std::optional<std::string> createXMLString(const XMLNode& node, int formatted, int* size = nullptr);
// Counts (no buffer) or writes the text of `pEntry` at format level F (-1 compact).
int CreateXMLStringR(const XMLNodeRecord* pEntry, char* buffer, int F);
// Writes the encoded text and a NUL; returns `destination`.
char* EncodeXMLEntities(char* destination, const char* text);
std::string EncodeXMLEntities(std::string_view text);
// Encodes into a caller-held buffer, which grows only when the encoded text does not fit.
const char* EncodeXMLEntities(std::string_view text, std::string& buffer);
int EncodedXMLLength(std::string_view text);
