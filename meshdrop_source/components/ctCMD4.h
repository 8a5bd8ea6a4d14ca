#pragma once
// ctCMD4: one MD4 digest (RFC 1320) over bytes fed in pieces of any size and
// alignment. A fresh object is used for every digest.

#include <cstdint>

class ctCMD4 {
public:
    static constexpr int kDigestSize = 16;

    ctCMD4();
    virtual ~ctCMD4() = default;

    // Hashes count bytes. A null pointer or a negative count returns 0; a
    // count of 0 returns 1 and changes nothing; otherwise returns 1.
    int Update(const void* bytes, int64_t count);
    // Pads the message, writes the 16-byte digest and returns 1; a null
    // output returns 0.
    int Final(unsigned char* digest);

private:
    void HashBlocks(const unsigned char* blocks, uint64_t count);

    uint32_t m_state[4];
    uint64_t m_bitCount = 0;
    unsigned char m_block[64] = {};
    uint32_t m_blockUsed = 0;
};
