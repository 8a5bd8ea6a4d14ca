#pragma once
// A text, comment or CDATA node of the XML reader's tree. Comments also hold
// processing instructions.

#include <cstddef>
#include <string>

class CXMLElement;

struct CXMLNode {
    CXMLElement* owner = nullptr; // null for a node outside the root
    std::string text;
    // The number of child elements the owner had when the node was created,
    // so that text and elements can be put back in order. Outside the root:
    // 0 before the first start tag, 1 after it.
    size_t position = 0;
};
