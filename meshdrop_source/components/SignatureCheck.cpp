#include "SignatureCheck.h"

#include <openssl/evp.h>

#include <memory>

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool VerifyEd25519(const std::vector<unsigned char>& publicKey, const void* bytes, size_t length,
                   const std::vector<unsigned char>& signature)
{
    if (publicKey.size() != kEd25519PublicKeySize || signature.size() != kEd25519SignatureSize ||
        (bytes == nullptr && length != 0))
        return false;
    const std::unique_ptr<EVP_PKEY, KeyFree> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    // Ed25519 hashes the message itself: no digest is named, and the whole
    // message goes in one call.
    return key && context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), signature.data(), signature.size(), static_cast<const unsigned char*>(bytes),
                            length) == 1;
}

std::vector<unsigned char> Ed25519KeyFromHex(std::string_view hex)
{
    if (hex.size() != 2 * kEd25519PublicKeySize)
        return {};
    std::vector<unsigned char> key;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]);
        const int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return {};
        key.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return key;
}
