#include "xmlParser.h"

// First cut: the handle and the entry points answer as for the empty node.

XMLNode::XMLNode(XMLNodeRecord* record) noexcept : record_(record) {
    if (record_)
        ++record_->refCount;
}
XMLNode::XMLNode(const XMLNode& other) noexcept : XMLNode(other.record_) {}
XMLNode::XMLNode(XMLNode&& other) noexcept : record_(other.record_) {
    other.record_ = nullptr;
}
XMLNode& XMLNode::operator=(const XMLNode& other) noexcept {
    XMLNode copy(other);
    std::swap(record_, copy.record_);
    return *this;
}
XMLNode& XMLNode::operator=(XMLNode&& other) noexcept {
    std::swap(record_, other.record_);
    return *this;
}
XMLNode::~XMLNode() {}

XMLNode ParseXMLText(const char*, const char*, XMLParseReport* report) {
    if (report)
        *report = XMLParseReport{XMLErrorNoElements, 0, 0};
    return XMLNode();
}
XMLNode ParseXMLText(const std::string& text, const char* tag, XMLParseReport* report) {
    return ParseXMLText(text.c_str(), tag, report);
}
XMLNode ParseXMLFile(const char*, const char*, XMLParseReport*) {
    return XMLNode();
}
XMLNode OpenXMLFileOrExit(const char*, const char*) {
    return XMLNode();
}
const char* XMLErrorText(int) {
    return "Unknown";
}
bool IsEmptyNode(const XMLNode& node) {
    return node.record() == nullptr;
}
int ChildCount(const XMLNode&) {
    return 0;
}
int TextCount(const XMLNode&) {
    return 0;
}
int AttributeCount(const XMLNode&) {
    return 0;
}
int ClearCount(const XMLNode&) {
    return 0;
}
int ContentCount(const XMLNode&) {
    return 0;
}
const std::string* NodeName(const XMLNode&) {
    return nullptr;
}
int IsDeclarationNode(const XMLNode&) {
    return 0;
}
XMLNode ChildAt(const XMLNode&, int) {
    return XMLNode();
}
const std::string* TextAt(const XMLNode&, int) {
    return nullptr;
}
std::string TextAtOrEmpty(const XMLNode&, int) {
    return {};
}
int CountChildrenNamed(const XMLNode&, std::string_view) {
    return 0;
}
XMLNode FindChildNamed(const XMLNode&, std::string_view, int*) {
    return XMLNode();
}
XMLNode ChildNamedAt(const XMLNode&, std::string_view, int) {
    return XMLNode();
}
const std::string* FindAttributeNamed(const XMLNode&, std::string_view, int*) {
    return nullptr;
}
const std::string* AttributeNamedAt(const XMLNode&, std::string_view, int) {
    return nullptr;
}
int HasAttribute(const XMLNode&, std::string_view) {
    return 0;
}
const AttributePair& AttributeAt(const XMLNode&, int) {
    static const AttributePair none;
    return none;
}
const ClearSection& ClearAt(const XMLNode&, int) {
    static const ClearSection none;
    return none;
}
XMLContentItem ContentAt(const XMLNode&, int) {
    return {};
}
XMLNode NewRootNode() {
    return XMLNode();
}
std::optional<std::string> createXMLString(const XMLNode&, int, int* size) {
    if (size)
        *size = 0;
    return std::nullopt;
}
int CreateXMLStringR(const XMLNodeRecord*, char*, int) {
    return 0;
}
char* EncodeXMLEntities(char* destination, const char*) {
    destination[0] = 0;
    return destination;
}
std::string EncodeXMLEntities(std::string_view) {
    return {};
}
const char* EncodeXMLEntities(std::string_view, std::string& buffer) {
    return buffer.c_str();
}
int EncodedXMLLength(std::string_view) {
    return 0;
}
