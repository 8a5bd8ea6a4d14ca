#include "UpdateSignature.h"

#include "SignatureCheck.h"

bool VerifyUpdateSignature(const void* bytes, size_t length, const std::vector<unsigned char>& signature)
{
    // Empty when the build has no key: then nothing verifies.
    static const std::vector<unsigned char> publisherKey = Ed25519KeyFromHex(QLS_UPDATE_PUBLIC_KEY_HEX);
    return VerifyEd25519(publisherKey, bytes, length, signature);
}
