#pragma once
// Creates library objects by class identifier. The classes of the library
// itself are listed in ovClassRegistry.cpp (each class adds its line when it
// exists); code outside the library, such as a test's own layer, can add more
// with Register.

#include <cstdint>
#include <span>

#include "ov/ovIUnknown.h"

// Makes a new object with reference count 0 and answers the interface that
// the class table names for it, or null when it cannot be made.
using ovCreateInstanceFn = ovIUnknown* (*)();

class ovClassFactory {
public:
    // False when the identifier is already taken or the function is null.
    static bool Register(std::uint32_t classId, ovCreateInstanceFn create);
    // Removes a registration made with Register.
    static void Unregister(std::uint32_t classId);
    static bool IsRegistered(std::uint32_t classId);
    // A new object (count 0) or null for an unknown identifier.
    static ovIUnknown* Create(std::uint32_t classId);
};

struct ovClassEntry {
    std::uint32_t classId;
    ovCreateInstanceFn create;
};

// The library's own classes; defined in ovClassRegistry.cpp.
std::span<const ovClassEntry> ovLibraryClasses();
