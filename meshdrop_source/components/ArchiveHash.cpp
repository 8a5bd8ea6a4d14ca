#include "ArchiveHash.h"

#include <algorithm>
#include <cstring>

#include "ctCMD4.h"

std::vector<unsigned char> BuildArchiveChunkList(const unsigned char* archive, int64_t length)
{
    std::vector<unsigned char> list;
    if (archive == nullptr || length <= 0)
        return list;
    const int64_t pieces = (length + kArchiveHashChunkSize - 1) / kArchiveHashChunkSize;
    list.resize(static_cast<size_t>(pieces + 1) * ctCMD4::kDigestSize);
    // Every piece is hashed where it lies: a copy into a work buffer would
    // only cost time.
    for (int64_t i = 0; i < pieces; ++i) {
        const int64_t offset = i * kArchiveHashChunkSize;
        ctCMD4 piece;
        piece.Update(archive + offset, std::min(kArchiveHashChunkSize, length - offset));
        piece.Final(list.data() + i * ctCMD4::kDigestSize);
    }
    ctCMD4 root;
    root.Update(list.data(), pieces * ctCMD4::kDigestSize);
    root.Final(list.data() + pieces * ctCMD4::kDigestSize);
    return list;
}

bool HashCoversArchive(const CHashData& hashData, int64_t length)
{
    if (length <= 0)
        return false;
    const auto pieces = static_cast<uint64_t>((length + kArchiveHashChunkSize - 1) / kArchiveHashChunkSize);
    const uint64_t digests = pieces * ctCMD4::kDigestSize;
    return hashData.bytes.size() == digests || hashData.bytes.size() == digests + ctCMD4::kDigestSize;
}

int VerifyArchiveHash(const CHashData* hashData, const unsigned char* archive, int64_t length)
{
    if (hashData == nullptr || hashData->bytes.empty())
        return 0;
    const std::vector<unsigned char> list = BuildArchiveChunkList(archive, length);
    const size_t compared = hashData->bytes.size();
    if (list.empty() || compared > list.size())
        return 0;
    return std::memcmp(list.data(), hashData->bytes.data(), compared) == 0 ? 1 : 0;
}
