#pragma once
// The document's declaration text and the nodes outside the root element
// (comments and processing instructions).

#include <memory>
#include <string>
#include <vector>

#include "XMLNode.h"

struct CXMLDeclaration {
    std::string text;
    std::vector<std::unique_ptr<CXMLNode>> nodes;
};
