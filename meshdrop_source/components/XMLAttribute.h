#pragma once
// An attribute of an element: name and value exactly as written in the
// document (unescaped when read).

#include <string>

class CXMLElement;

class CXMLAttribute {
public:
    CXMLAttribute(std::string name, std::string value, CXMLElement* owner)
        : m_name(std::move(name)), m_value(std::move(value)), m_pOwner(owner)
    {}

    const std::string& GetStoredName() const { return m_name; }
    const std::string& GetStoredValue() const { return m_value; }
    CXMLElement* GetOwner() const { return m_pOwner; }

private:
    std::string m_name;
    std::string m_value;
    CXMLElement* m_pOwner;
};
