#include "ctCMD4.h"

#include <algorithm>
#include <cstring>

namespace {

inline uint32_t LoadLittleEndian(const unsigned char* p)
{
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    return word;
}

inline void StoreLittleEndian(unsigned char* p, uint32_t word)
{
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    std::memcpy(p, &word, sizeof word);
}

inline uint32_t RotateLeft(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

// The three rounds of RFC 1320.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z)
{
    return z ^ (x & (y ^ z));
}
// The majority function; its two terms share no bits, so they can be added,
// which lets the sum start before both are ready.
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z)
{
    return (x & y) + (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z)
{
    return x ^ y ^ z;
}

constexpr uint32_t kRound2 = 0x5A827999;
constexpr uint32_t kRound3 = 0x6ED9EBA1;

} // namespace

ctCMD4::ctCMD4() : m_state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476} {}

int ctCMD4::Update(const void* bytes, int64_t count)
{
    if (bytes == nullptr || count < 0)
        return 0;
    if (count == 0)
        return 1;
    const auto* in = static_cast<const unsigned char*>(bytes);
    uint64_t left = static_cast<uint64_t>(count);
    m_bitCount += left << 3;

    if (m_blockUsed > 0) {
        const uint64_t take = std::min<uint64_t>(left, sizeof m_block - m_blockUsed);
        std::memcpy(m_block + m_blockUsed, in, take);
        m_blockUsed += static_cast<uint32_t>(take);
        in += take;
        left -= take;
        if (m_blockUsed < sizeof m_block)
            return 1;
        HashBlocks(m_block, 1);
        m_blockUsed = 0;
    }
    const uint64_t whole = left / sizeof m_block;
    if (whole > 0) {
        HashBlocks(in, whole);
        in += whole * sizeof m_block;
        left -= whole * sizeof m_block;
    }
    if (left > 0) {
        std::memcpy(m_block, in, left);
        m_blockUsed = static_cast<uint32_t>(left);
    }
    return 1;
}

int ctCMD4::Final(unsigned char* digest)
{
    if (digest == nullptr)
        return 0;
    const uint64_t bits = m_bitCount;
    unsigned char tail[sizeof m_block * 2] = {0x80};
    const uint32_t padding = (m_blockUsed < 56 ? 56 : 120) - m_blockUsed;
    for (int i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<unsigned char>(bits >> (8 * i));
    Update(tail, padding + 8);
    for (int i = 0; i < 4; ++i)
        StoreLittleEndian(digest + 4 * i, m_state[i]);
    return 1;
}

void ctCMD4::HashBlocks(const unsigned char* blocks, uint64_t count)
{
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (; count > 0; --count, blocks += sizeof m_block) {
        // Each word is loaded just before the first round uses it, which
        // keeps the loads off the rounds' dependency chain.
        uint32_t x[16];
        const uint32_t aa = a, bb = b, cc = c, dd = d;

// The round function comes last, so the other additions need not wait for it.
#define MD4_STEP(f, w, i, k, s) w = RotateLeft(w + x[i] + k + f, s)
        x[0] = LoadLittleEndian(blocks + 4 * 0);
        MD4_STEP(F(b, c, d), a, 0, 0, 3);
        x[1] = LoadLittleEndian(blocks + 4 * 1);
        MD4_STEP(F(a, b, c), d, 1, 0, 7);
        x[2] = LoadLittleEndian(blocks + 4 * 2);
        MD4_STEP(F(d, a, b), c, 2, 0, 11);
        x[3] = LoadLittleEndian(blocks + 4 * 3);
        MD4_STEP(F(c, d, a), b, 3, 0, 19);
        x[4] = LoadLittleEndian(blocks + 4 * 4);
        MD4_STEP(F(b, c, d), a, 4, 0, 3);
        x[5] = LoadLittleEndian(blocks + 4 * 5);
        MD4_STEP(F(a, b, c), d, 5, 0, 7);
        x[6] = LoadLittleEndian(blocks + 4 * 6);
        MD4_STEP(F(d, a, b), c, 6, 0, 11);
        x[7] = LoadLittleEndian(blocks + 4 * 7);
        MD4_STEP(F(c, d, a), b, 7, 0, 19);
        x[8] = LoadLittleEndian(blocks + 4 * 8);
        MD4_STEP(F(b, c, d), a, 8, 0, 3);
        x[9] = LoadLittleEndian(blocks + 4 * 9);
        MD4_STEP(F(a, b, c), d, 9, 0, 7);
        x[10] = LoadLittleEndian(blocks + 4 * 10);
        MD4_STEP(F(d, a, b), c, 10, 0, 11);
        x[11] = LoadLittleEndian(blocks + 4 * 11);
        MD4_STEP(F(c, d, a), b, 11, 0, 19);
        x[12] = LoadLittleEndian(blocks + 4 * 12);
        MD4_STEP(F(b, c, d), a, 12, 0, 3);
        x[13] = LoadLittleEndian(blocks + 4 * 13);
        MD4_STEP(F(a, b, c), d, 13, 0, 7);
        x[14] = LoadLittleEndian(blocks + 4 * 14);
        MD4_STEP(F(d, a, b), c, 14, 0, 11);
        x[15] = LoadLittleEndian(blocks + 4 * 15);
        MD4_STEP(F(c, d, a), b, 15, 0, 19);

        MD4_STEP(G(b, c, d), a, 0, kRound2, 3);
        MD4_STEP(G(a, b, c), d, 4, kRound2, 5);
        MD4_STEP(G(d, a, b), c, 8, kRound2, 9);
        MD4_STEP(G(c, d, a), b, 12, kRound2, 13);
        MD4_STEP(G(b, c, d), a, 1, kRound2, 3);
        MD4_STEP(G(a, b, c), d, 5, kRound2, 5);
        MD4_STEP(G(d, a, b), c, 9, kRound2, 9);
        MD4_STEP(G(c, d, a), b, 13, kRound2, 13);
        MD4_STEP(G(b, c, d), a, 2, kRound2, 3);
        MD4_STEP(G(a, b, c), d, 6, kRound2, 5);
        MD4_STEP(G(d, a, b), c, 10, kRound2, 9);
        MD4_STEP(G(c, d, a), b, 14, kRound2, 13);
        MD4_STEP(G(b, c, d), a, 3, kRound2, 3);
        MD4_STEP(G(a, b, c), d, 7, kRound2, 5);
        MD4_STEP(G(d, a, b), c, 11, kRound2, 9);
        MD4_STEP(G(c, d, a), b, 15, kRound2, 13);

        MD4_STEP(H(b, c, d), a, 0, kRound3, 3);
        MD4_STEP(H(a, b, c), d, 8, kRound3, 9);
        MD4_STEP(H(d, a, b), c, 4, kRound3, 11);
        MD4_STEP(H(c, d, a), b, 12, kRound3, 15);
        MD4_STEP(H(b, c, d), a, 2, kRound3, 3);
        MD4_STEP(H(a, b, c), d, 10, kRound3, 9);
        MD4_STEP(H(d, a, b), c, 6, kRound3, 11);
        MD4_STEP(H(c, d, a), b, 14, kRound3, 15);
        MD4_STEP(H(b, c, d), a, 1, kRound3, 3);
        MD4_STEP(H(a, b, c), d, 9, kRound3, 9);
        MD4_STEP(H(d, a, b), c, 5, kRound3, 11);
        MD4_STEP(H(c, d, a), b, 13, kRound3, 15);
        MD4_STEP(H(b, c, d), a, 3, kRound3, 3);
        MD4_STEP(H(a, b, c), d, 11, kRound3, 9);
        MD4_STEP(H(d, a, b), c, 7, kRound3, 11);
        MD4_STEP(H(c, d, a), b, 15, kRound3, 15);
#undef MD4_STEP

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    m_state[0] = a;
    m_state[1] = b;
    m_state[2] = c;
    m_state[3] = d;
}
