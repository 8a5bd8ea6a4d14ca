#include "ov/ovSmartPtr.h"

#include <utility>

#include "ov/ovClassFactory.h"

ovSmartPtr::ovSmartPtr(ovIUnknown* object) : m_object(object)
{
    if (m_object) {
        m_object->AddRef();
    }
}

ovSmartPtr::ovSmartPtr(const ovSmartPtr& other) : ovSmartPtr(other.m_object) {}

ovSmartPtr::ovSmartPtr(ovSmartPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}

ovSmartPtr::~ovSmartPtr()
{
    if (m_object) {
        m_object->Release();
    }
}

ovSmartPtr& ovSmartPtr::operator=(ovIUnknown* object)
{
    if (object == m_object) {
        return *this;
    }
    // Take the new reference before dropping the old one: releasing the old
    // object may destroy the only other holder of the new one.
    if (object) {
        object->AddRef();
    }
    ovIUnknown* old = std::exchange(m_object, object);
    if (old) {
        old->Release();
    }
    return *this;
}

ovSmartPtr& ovSmartPtr::operator=(const ovSmartPtr& other)
{
    return *this = other.m_object;
}

ovSmartPtr& ovSmartPtr::operator=(ovSmartPtr&& other) noexcept
{
    if (this != &other) {
        ovIUnknown* old = std::exchange(m_object, std::exchange(other.m_object, nullptr));
        if (old) {
            old->Release();
        }
    }
    return *this;
}

bool ovSmartPtr::CreateInstance(std::uint32_t classId)
{
    *this = nullptr;
    ovIUnknown* created = ovClassFactory::Create(classId);
    if (!created) {
        return false;
    }
    *this = created;
    return true;
}

bool ovSmartPtr::QueryInterface(std::uint32_t interfaceId, void** out) const
{
    if (!m_object) {
        return false;
    }
    return m_object->QueryInterface(interfaceId, out) >= 0;
}
