// The element parser, over whatever keeps what it finds: the node records of a tree, or the flat
// table that a SOAP answer is read with. One state machine for both, so that both read every
// text alike.
#pragma once

#include "xmlParserInternals.h"

#include <cassert>
#include <cstring>

// A builder names its node handle `Node` and offers:
//   bool Matches(Node, const char* text, size_t length)
//        MatchTagName on the node's name (the root has none), `text` a word of `length` bytes
//   bool Named(Node), bool Declaration(Node)
//   Node AddChild(Node, const char* name, size_t length, int declaration)
//   void AddText(Node, const char* text, size_t length, bool decode)
//   void AddAttribute(Node, const char* name, size_t length, const char* value, size_t size)
//        (value nullptr: an attribute written without "=value")
//   void AddClear(Node, const char* value, size_t length, const ClearTag* row)
//   void Close(Node)                      the element ended with its end tag or "/>"
namespace xml_detail {

template <typename Builder>
int ReadClearInto(Builder& builder, typename Builder::Node node, XMLParseState* pXML,
                  const ClearTag* row) {
    const char* from = pXML->lpXML + pXML->position;
    const char* closer = std::strstr(from, row->closer);
    if (!closer) {
        pXML->error = XMLErrorUnmatchedEndTag;
        return 0;
    }
    builder.AddClear(node, from, size_t(closer - from), row);
    pXML->position = size_t(closer - pXML->lpXML) + std::strlen(row->closer);
    return 1;
}

template <typename Builder>
void FlushTextInto(Builder& builder, typename Builder::Node node, const char*& textStart,
                   const char* end, bool decode) {
    if (!textStart)
        return;
    size_t length = size_t(end - textStart);
    FindEndOfText(textStart, &length);
    builder.AddText(node, textStart, length, decode);
    textStart = nullptr;
}

inline int Fail(XMLParseState* pXML, int32_t code) {
    pXML->error = code;
    return 0;
}

// `leading`: the start of the root's text when the caller stepped over it (see XMLFlatDocument).
template <typename Builder>
int ParseElementInto(Builder& builder, typename Builder::Node node, XMLParseState* pXML, int depth,
                     const char* leading = nullptr) {
    assert(pXML);
    enum class Attribute { ExpectName, HoldingName, ExpectValue };
    bool insideTag = true;
    if (pXML->first) {
        pXML->first = 0;
        insideTag = false;
    }
    Attribute attribute = Attribute::ExpectName;
    const char* textStart = leading;
    const char* attributeName = nullptr;
    size_t attributeNameLength = 0;

    for (;;) {
        const XMLToken token = ReadXMLToken(pXML);
        if (token.kind == XMLTokenEndOfText)
            return 0;

        if (insideTag) {
            switch (attribute) {
            case Attribute::ExpectName:
                if (token.kind == XMLTokenWord) {
                    attributeName = token.start;
                    attributeNameLength = token.length;
                    attribute = Attribute::HoldingName;
                } else if (token.kind == XMLTokenTagCloser) {
                    insideTag = false;
                } else if (token.kind == XMLTokenSelfCloser) {
                    builder.Close(node);
                    return 1;
                } else {
                    return Fail(pXML, XMLErrorUnexpectedToken);
                }
                continue;
            case Attribute::HoldingName:
                if (token.kind == XMLTokenWord) {
                    builder.AddAttribute(node, attributeName, attributeNameLength, nullptr, 0);
                    attributeName = token.start;
                    attributeNameLength = token.length;
                } else if (token.kind == XMLTokenEquals) {
                    attribute = Attribute::ExpectValue;
                } else if (token.kind == XMLTokenTagCloser || token.kind == XMLTokenSelfCloser) {
                    size_t length = attributeNameLength;
                    if (builder.Declaration(node) && attributeName[length - 1] == '?')
                        --length;
                    if (length > 0)
                        builder.AddAttribute(node, attributeName, length, nullptr, 0);
                    attribute = Attribute::ExpectName;
                    if (token.kind == XMLTokenSelfCloser) {
                        builder.Close(node);
                        return 1;
                    }
                    insideTag = false;
                } else {
                    return Fail(pXML, XMLErrorUnexpectedToken);
                }
                continue;
            case Attribute::ExpectValue:
                if (token.kind == XMLTokenWord || token.kind == XMLTokenQuotedString) {
                    const char* value = token.start;
                    size_t length = token.length;
                    if (token.kind == XMLTokenQuotedString) {
                        ++value;
                        length -= 2;
                    } else if (builder.Declaration(node) && value[length - 1] == '?') {
                        --length;
                    }
                    builder.AddAttribute(node, attributeName, attributeNameLength, value, length);
                    attribute = Attribute::ExpectName;
                    continue;
                }
                return Fail(pXML, XMLErrorUnexpectedToken);
            }
        }

        switch (token.kind) {
        case XMLTokenWord:
        case XMLTokenQuotedString:
        case XMLTokenEquals:
            if (!textStart)
                textStart = token.start;
            break;
        case XMLTokenTagOpener:
        case XMLTokenDeclarationOpener: {
            FlushTextInto(builder, node, textStart, token.start, false);
            const XMLToken name = ReadXMLToken(pXML);
            if (name.kind != XMLTokenWord)
                return Fail(pXML, XMLErrorMissingStartTagName);
            if (depth >= kXMLMaxDepth)
                return Fail(pXML, XMLErrorUnexpectedToken);
            const typename Builder::Node child = builder.AddChild(
                node, name.start, name.length, token.kind == XMLTokenDeclarationOpener ? 1 : 0);
            if (!ParseElementInto(builder, child, pXML, depth + 1))
                return 0;
            if (pXML->pendingEndTagLength) {
                if (!builder.Named(node))
                    return Fail(pXML, XMLErrorUnmatchedEndTag);
                if (builder.Matches(node, pXML->pendingEndTag, pXML->pendingEndTagLength)) {
                    pXML->pendingEndTag = nullptr;
                    pXML->pendingEndTagLength = 0;
                }
                return 1;
            }
            textStart = nullptr;
            break;
        }
        case XMLTokenEndTagOpener: {
            FlushTextInto(builder, node, textStart, token.start, true);
            const XMLToken name = ReadXMLToken(pXML);
            if (name.kind != XMLTokenWord)
                return Fail(pXML, XMLErrorMissingEndTagName);
            if (ReadXMLToken(pXML).kind != XMLTokenTagCloser)
                return Fail(pXML, XMLErrorMissingEndTagName);
            if (!builder.Matches(node, name.start, name.length)) {
                pXML->error = XMLWarningUnmatchedEndTag;
                pXML->pendingEndTag = name.start;
                pXML->pendingEndTagLength = name.length;
                if (!pXML->warned) {
                    pXML->warned = true;
                    pXML->warningPosition = pXML->position;
                }
            }
            builder.Close(node);
            return 1;
        }
        case XMLTokenClearOpener:
            FlushTextInto(builder, node, textStart, token.start, false);
            if (!ReadClearInto(builder, node, pXML, token.clearTag))
                return 0;
            break;
        default:
            return Fail(pXML, XMLErrorUnexpectedToken);
        }
    }
}

} // namespace xml_detail
