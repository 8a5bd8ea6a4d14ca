// Any text as the update list: the reader builds a tree without a fault, and
// lookups on every element stay inside their buffers.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "XMLParserOrvane.h"
#include "XMLSequenceParser.h"

namespace {

void Visit(const CXMLParserOrvane& parser, const CXMLElement* element, int depth)
{
    if (depth > CXMLSequenceParser::kMaxDepth + 1)
        abort();
    char value[16];
    for (const auto& attribute : element->GetAttributes()) {
        const int length = parser.GetAttribute(element, attribute->GetStoredName().c_str(), value, sizeof value);
        if (length < 0 || length >= static_cast<int>(sizeof value) || value[length] != '\0')
            abort();
    }
    if (!element->GetName().empty() && parser.FindChild(element->GetParent(), element->GetName().c_str()) == nullptr &&
        element->GetParent() != nullptr && element->GetName().size() <= CXMLParserOrvane::kMaxNameLength)
        abort();
    for (int i = 0; i < parser.GetChildCount(element); ++i)
        Visit(parser, element->GetChild(static_cast<size_t>(i)), depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CXMLParserOrvane parser;
    parser.Parse(text.c_str());
    if (parser.GetRoot() == nullptr)
        abort();
    Visit(parser, parser.GetRoot(), 0);
    return 0;
}
