#pragma once
// One parsed XML document: its coarse error flag, declaration and root.

#include <memory>

#include "XMLDeclaration.h"
#include "XMLElement.h"

struct CXMLDocument {
    enum ErrorFlag {
        kNoError = 0,
        kNoDeclarationOrElement = 1, // no "?>" declaration, or no "<" at all
        kNoMatchingEndTag = 2,       // a start tag without its end tag
        kTooDeep = 3,                // content nested deeper than the reader follows was dropped
    };

    int errorFlag = kNoError;
    CXMLDeclaration declaration;
    std::unique_ptr<CXMLElement> root;
};
