#pragma once
// Holds one reference to an ovIUnknown object. Copying adds a reference,
// destruction releases it; CreateInstance makes objects by class identifier.

#include <cstdint>

#include "ov/ovIUnknown.h"

class ovSmartPtr {
public:
    ovSmartPtr() = default;
    ovSmartPtr(ovIUnknown* object);
    ovSmartPtr(const ovSmartPtr& other);
    ovSmartPtr(ovSmartPtr&& other) noexcept;
    virtual ~ovSmartPtr();

    // Nothing happens when the new pointer is the held one; otherwise the held
    // object is released first and the new one gets a reference.
    ovSmartPtr& operator=(ovIUnknown* object);
    ovSmartPtr& operator=(const ovSmartPtr& other);
    ovSmartPtr& operator=(ovSmartPtr&& other) noexcept;

    ovIUnknown* Get() const { return m_object; }

    // The held pointer seen as the interface the class table names for its
    // class (for example ovIQoSContext for OVCLS_QOS_CONTEXT).
    template <class T>
    T* Get() const
    {
        return static_cast<T*>(m_object);
    }

    ovIUnknown* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    bool operator==(const ovSmartPtr& other) const { return m_object == other.m_object; }

    // Releases the held object, then creates the class named by the identifier
    // and holds it (count 1). Unknown identifiers leave the pointer empty.
    bool CreateInstance(std::uint32_t classId);

    // True exactly when the held object answers the query with a non-negative code.
    bool QueryInterface(std::uint32_t interfaceId, void** out) const;

    void Reset() { *this = nullptr; }

private:
    ovIUnknown* m_object = nullptr;
};
