#include "XMLElement.h"

#include "XMLEscape.h"

CXMLElement::CXMLElement(std::string_view name, CXMLElement* parent) : m_name(EscapeXmlName(name)), m_pParent(parent) {}

std::string CXMLElement::GetName() const
{
    return UnescapeXml(m_name);
}

void CXMLElement::AddChild(std::unique_ptr<CXMLElement> child)
{
    m_children.push_back(std::move(child));
}

void CXMLElement::AddAttribute(std::string_view name, std::string_view value)
{
    m_attributes.push_back(std::make_unique<CXMLAttribute>(std::string(name), std::string(value), this));
}

void CXMLElement::AddText(std::string_view text)
{
    constexpr std::string_view kBlank = " \t\r\n";
    const size_t first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return;
    const size_t last = text.find_last_not_of(kBlank);
    AddNode(m_texts, text.substr(first, last + 1 - first));
}

void CXMLElement::AddComment(std::string_view text)
{
    AddNode(m_comments, text);
}

void CXMLElement::AddCData(std::string_view text)
{
    AddNode(m_cdatas, text);
}

void CXMLElement::AddNode(std::vector<std::unique_ptr<CXMLNode>>& nodes, std::string_view text)
{
    auto node = std::make_unique<CXMLNode>();
    node->owner = this;
    node->text = std::string(text);
    node->position = m_children.size();
    nodes.push_back(std::move(node));
}
