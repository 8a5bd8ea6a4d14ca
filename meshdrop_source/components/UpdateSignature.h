#pragma once
// The signatures of the engine update: its list and every archive carry a
// detached Ed25519 signature ("<address>.sig") by the publisher's key, whose
// public half is built into the library (the build's QLS_UPDATE_PUBLIC_KEY).
// A library built without that key accepts no update at all.

#include <cstddef>
#include <vector>

// The suffix of a signature's address after its file's address.
inline constexpr const char* kUpdateSignatureSuffix = ".sig";

// True when the signature is the publisher's for these bytes.
[[nodiscard]] bool VerifyUpdateSignature(const void* bytes, size_t length, const std::vector<unsigned char>& signature);
