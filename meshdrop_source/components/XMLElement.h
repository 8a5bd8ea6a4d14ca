#pragma once
// An element of the XML reader's tree. It owns its children, attributes and
// nodes; its name is stored escaped.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "XMLAttribute.h"
#include "XMLNode.h"

class CXMLElement {
public:
    // name: the name as written in the tag; it is stored escaped.
    CXMLElement(std::string_view name, CXMLElement* parent);
    CXMLElement(const CXMLElement&) = delete;
    CXMLElement& operator=(const CXMLElement&) = delete;

    // The name as written (unescaped).
    std::string GetName() const;
    const std::string& GetStoredName() const { return m_name; }
    CXMLElement* GetParent() const { return m_pParent; }

    size_t GetChildCount() const { return m_children.size(); }
    CXMLElement* GetChild(size_t index) const { return m_children[index].get(); }
    const std::vector<std::unique_ptr<CXMLAttribute>>& GetAttributes() const { return m_attributes; }
    const std::vector<std::unique_ptr<CXMLNode>>& GetTexts() const { return m_texts; }
    const std::vector<std::unique_ptr<CXMLNode>>& GetComments() const { return m_comments; }
    const std::vector<std::unique_ptr<CXMLNode>>& GetCDatas() const { return m_cdatas; }

    void AddChild(std::unique_ptr<CXMLElement> child);
    void AddAttribute(std::string_view name, std::string_view value);
    void AddText(std::string_view text);
    void AddComment(std::string_view text);
    void AddCData(std::string_view text);

private:
    void AddNode(std::vector<std::unique_ptr<CXMLNode>>& nodes, std::string_view text);

    std::string m_name;
    CXMLElement* m_pParent;
    std::vector<std::unique_ptr<CXMLElement>> m_children;
    std::vector<std::unique_ptr<CXMLAttribute>> m_attributes;
    std::vector<std::unique_ptr<CXMLNode>> m_texts;
    std::vector<std::unique_ptr<CXMLNode>> m_comments; // and processing instructions
    std::vector<std::unique_ptr<CXMLNode>> m_cdatas;
};
