#pragma once
// Base interface of every reference-counted object of the network library.

#include <atomic>
#include <cstdint>

#include "ov/ovResult.h"

class ovIUnknown {
public:
    virtual OVRESULT AddRef() = 0;
    // Deletes the object when the count reaches 0. Always answers OVR_REF.
    virtual OVRESULT Release() = 0;
    // Default answer: not implemented, `out` untouched.
    virtual OVRESULT QueryInterface(std::uint32_t interfaceId, void** out)
    {
        (void)interfaceId;
        (void)out;
        return OVR_NOT_IMPLEMENTED;
    }
    virtual ~ovIUnknown() = default;
};

// Supplies AddRef/Release with a count of the object's own. The count starts at
// 0; the object is deleted inside the Release that brings it back to 0. Objects
// touched only under the library lock use a plain counter; the connection
// context, which other threads may hold, uses an atomic one.
template <class Base, class Counter = std::uint32_t>
class ovTRefCounted : public Base {
public:
    using Base::Base;

    OVRESULT AddRef() override
    {
        ++m_refCount;
        return OVR_REF;
    }

    OVRESULT Release() override
    {
        if (--m_refCount == 0) {
            delete this;
        }
        return OVR_REF;
    }

    std::uint32_t GetRefCount() const { return m_refCount; }

private:
    Counter m_refCount{0};
};

template <class Base>
using ovTAtomicRefCounted = ovTRefCounted<Base, std::atomic<std::uint32_t>>;
