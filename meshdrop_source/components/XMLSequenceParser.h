#pragma once
// Builds the tree of one XML document: the element sequence of the document
// and, recursively, of every element's content. Lenient: malformed text gives
// a partial tree and sets the document's error flag.

#include <cstddef>
#include <memory>
#include <string_view>

#include "XMLDocument.h"
#include "XMLEndTagFinder.h"

class CXMLSequenceParser {
public:
    // Content nested deeper than this is dropped (the error flag says so),
    // so that no document can exhaust the stack.
    static constexpr int kMaxDepth = 256;

    CXMLSequenceParser(std::string_view text, CXMLDocument& document);

    // Parses the document's top-level sequence from `begin` (a "<"); returns
    // its result, the root, or null when the text holds no element.
    std::unique_ptr<CXMLElement> ParseDocument(size_t begin);

private:
    // Parses text[cursor, end). Below the top level (parent not null) every
    // element lands in the parent; at the top level the sequence's result
    // is returned: the last element with content or, while there is none,
    // the first empty element.
    std::unique_ptr<CXMLElement> ParseSequence(size_t cursor, size_t end, CXMLElement* parent, int depth);
    // The element of the tag text[tagBegin .. tagEnd] (tagEnd is its ">").
    std::unique_ptr<CXMLElement> CreateElement(size_t tagBegin, size_t tagEnd, CXMLElement* parent) const;
    void AddComment(CXMLElement* parent, size_t begin, size_t end);

    std::string_view m_text;
    CXMLDocument& m_document;
    CXMLEndTagFinder m_endTags;
    bool m_seenTopLevelStartTag = false;
};
