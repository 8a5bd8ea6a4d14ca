#pragma once
// Detached Ed25519 signatures (RFC 8032): 64 bytes over the whole of a
// file's bytes, served beside the file, checked against a 32-byte public key
// with OpenSSL's EVP interface. Nothing here knows what is signed: the
// engine update checks its list and archives with it.

#include <cstddef>
#include <string_view>
#include <vector>

inline constexpr size_t kEd25519PublicKeySize = 32;
inline constexpr size_t kEd25519SignatureSize = 64;

// True when `signature` is a valid signature of the bytes by the key. A key
// or signature of the wrong size, or a null pointer, is never valid.
[[nodiscard]] bool VerifyEd25519(const std::vector<unsigned char>& publicKey, const void* bytes, size_t length,
                                 const std::vector<unsigned char>& signature);

// A public key written as 64 hexadecimal digits (either case), as a build
// passes it; empty when the text is anything else.
[[nodiscard]] std::vector<unsigned char> Ed25519KeyFromHex(std::string_view hex);
