#pragma once
// CXMLParserOrvane: reads a small XML document held in memory into a tree and
// answers lookups on it. Lenient: it never fails, builds whatever tree the
// text allows and records a coarse error flag. Text is narrow and compared as
// bytes; element names match in any letter case, attribute names exactly.

#include <cstddef>
#include <memory>

#include "XMLDocument.h"

class CXMLParserOrvane {
public:
    // The declaration stored for an empty input (and, after a byte-order
    // mark, for an input without "?>").
    static constexpr const char* kDefaultDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>";
    static constexpr size_t kMaxNameLength = 127;
    static constexpr size_t kMaxAttributeNameLength = 255;

    CXMLParserOrvane() = default;
    virtual ~CXMLParserOrvane();

    // Replaces the document by the parse of a zero-terminated text (null: empty).
    void Parse(const char* text);

    // The root element; null before the first parse. Element pointers stay
    // valid until the next parse or the destruction of the parser.
    CXMLElement* GetRoot() const;
    // The document of the last parse (declaration, error flag), or null.
    const CXMLDocument* GetDocument() const { return m_document.get(); }

    // The first child whose unescaped name equals `name` in any letter case
    // (names longer than 127 bytes are not found); null when there is none or
    // either argument is null.
    CXMLElement* FindChild(const CXMLElement* element, const char* name) const;
    // Finds the first attribute whose unescaped name equals `name` exactly
    // (up to 255 bytes) and writes its unescaped value, cut to the buffer and
    // terminated. Returns the length written; 0 when there is no such attribute.
    int GetAttribute(const CXMLElement* element, const char* name, char* value, size_t valueSize) const;
    // The number of child elements; 0 for null.
    int GetChildCount(const CXMLElement* element) const;

private:
    std::unique_ptr<CXMLDocument> m_document;
};
