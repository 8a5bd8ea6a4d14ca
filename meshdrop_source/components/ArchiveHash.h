#pragma once
// The hash check of update archives. A hash file holds binary MD4 digests of
// the archive taken in 1 MiB chunks, optionally followed by the root digest
// (the MD4 of all chunk digests in order). Digests are compared as bytes.

#include <cstdint>
#include <vector>

// The hash bytes of one archive, exactly as fetched.
struct CHashData {
    std::vector<unsigned char> bytes;
};

constexpr int64_t kArchiveHashChunkSize = 1048576;

// The chunk list of an archive: the MD4 digest of every 1 MiB piece (the
// last may be shorter), then the root digest: 16 * n + 16 bytes for n pieces.
// Empty for a null archive or a length that is not positive.
[[nodiscard]] std::vector<unsigned char> BuildArchiveChunkList(const unsigned char* archive, int64_t length);

// Whether the hash bytes are a whole chunk list of an archive of that
// length: every chunk digest, with or without the root digest after them.
[[nodiscard]] bool HashCoversArchive(const CHashData& hashData, int64_t length);
// 1 when the hash bytes equal the start of the archive's chunk list, else 0.
// Hash bytes longer than the whole list, or none at all, do not match.
[[nodiscard]] int VerifyArchiveHash(const CHashData* hashData, const unsigned char* archive, int64_t length);
