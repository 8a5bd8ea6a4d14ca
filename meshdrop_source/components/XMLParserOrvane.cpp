#include "XMLParserOrvane.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "XMLEscape.h"
#include "XMLSequenceParser.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kDefaultRootName = "root";

std::string LowerCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

} // namespace

CXMLParserOrvane::~CXMLParserOrvane() = default;

void CXMLParserOrvane::Parse(const char* text)
{
    m_document.reset();
    auto document = std::make_unique<CXMLDocument>();
    const std::string_view input = text != nullptr ? std::string_view(text) : std::string_view();

    if (input.empty()) {
        document->declaration.text = kDefaultDeclaration;
    } else {
        size_t begin = 0;
        const size_t declarationEnd = input.find("?>");
        if (declarationEnd != std::string_view::npos) {
            begin = declarationEnd + 2;
            document->declaration.text = std::string(input.substr(0, begin));
        } else {
            document->errorFlag = CXMLDocument::kNoDeclarationOrElement;
            document->declaration.text = std::string(kByteOrderMark) + kDefaultDeclaration;
        }
        const size_t firstTag = input.find('<', begin);
        if (firstTag != std::string_view::npos)
            document->root = CXMLSequenceParser(input, *document).ParseDocument(firstTag);
        else
            document->errorFlag = CXMLDocument::kNoDeclarationOrElement;
    }
    if (!document->root)
        document->root = std::make_unique<CXMLElement>(kDefaultRootName, nullptr);
    m_document = std::move(document);
}

CXMLElement* CXMLParserOrvane::GetRoot() const
{
    return m_document ? m_document->root.get() : nullptr;
}

CXMLElement* CXMLParserOrvane::FindChild(const CXMLElement* element, const char* name) const
{
    if (element == nullptr || name == nullptr)
        return nullptr;
    const std::string wanted = LowerCase(name);
    for (size_t i = 0; i < element->GetChildCount(); ++i) {
        CXMLElement* child = element->GetChild(i);
        const std::string childName = child->GetName();
        if (childName.size() <= kMaxNameLength && LowerCase(childName) == wanted)
            return child;
    }
    return nullptr;
}

int CXMLParserOrvane::GetAttribute(const CXMLElement* element, const char* name, char* value, size_t valueSize) const
{
    if (value != nullptr && valueSize > 0)
        value[0] = '\0';
    if (element == nullptr || name == nullptr || value == nullptr || valueSize == 0)
        return 0;
    for (const auto& attribute : element->GetAttributes()) {
        const std::string attributeName = UnescapeXml(attribute->GetStoredName());
        if (attributeName.size() > kMaxAttributeNameLength || attributeName != name)
            continue;
        const std::string text = UnescapeXml(attribute->GetStoredValue());
        const size_t length = std::min(text.size(), valueSize - 1);
        std::memcpy(value, text.data(), length);
        value[length] = '\0';
        return static_cast<int>(length);
    }
    return 0;
}

int CXMLParserOrvane::GetChildCount(const CXMLElement* element) const
{
    return element != nullptr ? static_cast<int>(element->GetChildCount()) : 0;
}
