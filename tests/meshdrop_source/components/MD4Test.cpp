// MD4 (RFC 1320) and the chunk-list hash check of update archives.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "ArchiveHash.h"
#include "TempDir.h"
#include "ctCMD4.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Digest(const void* data, size_t size)
{
    Bytes out(16);
    ctCMD4 md4;
    md4.Update(data, static_cast<int64_t>(size));
    md4.Final(out.data());
    return out;
}

Bytes Digest(const Bytes& data)
{
    return Digest(data.data(), data.size());
}

std::string Hex(const Bytes& bytes)
{
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

Bytes Pattern(size_t size, unsigned seed)
{
    const std::string text = testsupport::patternBytes(size, seed);
    return Bytes(text.begin(), text.end());
}

// The MD4 digest of a file by OpenSSL's command line (its legacy provider).
std::string OpenSslMd4(const std::string& path)
{
    const std::string command = "openssl dgst -md4 -provider legacy -provider default -r '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    return read ? std::string(line).substr(0, 32) : std::string();
}

TEST(MD4Test, RfcSuiteHoldsWholeAndInPiecesOfAnyAlignment)
{
    const std::pair<std::string, std::string> suite[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    std::mt19937 random(7);
    for (const auto& [text, expected] : suite) {
        EXPECT_EQ(Hex(Digest(text.data(), text.size())), expected) << text;
        // The same text copied to an odd address and fed in random pieces.
        std::vector<unsigned char> shifted(text.size() + 3);
        std::copy(text.begin(), text.end(), shifted.begin() + 3);
        ctCMD4 md4;
        for (size_t at = 0; at < text.size();) {
            const size_t piece = std::min<size_t>(random() % 70, text.size() - at);
            ASSERT_EQ(md4.Update(shifted.data() + 3 + at, static_cast<int64_t>(piece)), 1);
            at += piece;
        }
        Bytes out(16);
        md4.Final(out.data());
        EXPECT_EQ(Hex(out), expected) << text << " in pieces";
    }
}

TEST(MD4Test, RejectsNullAndNegativeInputAndIgnoresEmptyInput)
{
    ctCMD4 md4;
    const unsigned char byte = 'a';
    EXPECT_EQ(md4.Update(nullptr, 1), 0);
    EXPECT_EQ(md4.Update(&byte, -1), 0);
    EXPECT_EQ(md4.Update(&byte, 0), 1);
    EXPECT_EQ(md4.Update(&byte, 1), 1);
    EXPECT_EQ(md4.Final(nullptr), 0);
    Bytes out(16);
    EXPECT_EQ(md4.Final(out.data()), 1);
    EXPECT_EQ(Hex(out), "bde52cb31de33e46245e05fbdbd6fb24");
}

TEST(MD4Test, DigestsAgreeWithOpenSsl)
{
    testsupport::TempDir dir;
    for (size_t size : {size_t{55}, size_t{56}, size_t{64}, size_t{1000003}, size_t{kArchiveHashChunkSize + 1}}) {
        const Bytes data = Pattern(size, static_cast<unsigned>(size));
        const std::string file = dir.file("data");
        ASSERT_TRUE(testsupport::writeFile(file, std::string(data.begin(), data.end())));
        EXPECT_EQ(Hex(Digest(data)), OpenSslMd4(file)) << size << " bytes";
    }
}

TEST(MD4Test, HashFileMatchesThePrefixOfTheChunkListOnly)
{
    auto verify = [](const Bytes& hash, const Bytes& archive) {
        CHashData data{hash};
        return VerifyArchiveHash(&data, archive.data(), static_cast<int64_t>(archive.size()));
    };
    // Exactly 1 MiB: one chunk, so the hash file is the archive's own MD4.
    const Bytes one = Pattern(kArchiveHashChunkSize, 2);
    const Bytes digest = Digest(one);
    EXPECT_EQ(verify(digest, one), 1);
    // 32 bytes match only when the second half is the MD4 of the first.
    Bytes withRoot = digest;
    const Bytes root = Digest(digest);
    withRoot.insert(withRoot.end(), root.begin(), root.end());
    EXPECT_EQ(verify(withRoot, one), 1);
    withRoot.back() ^= 1;
    EXPECT_EQ(verify(withRoot, one), 0);
    // Longer than the whole list, empty, or no hash data at all: no match.
    Bytes tooLong = digest;
    tooLong.insert(tooLong.end(), root.begin(), root.end());
    tooLong.push_back(0);
    EXPECT_EQ(verify(tooLong, one), 0);
    EXPECT_EQ(verify({}, one), 0);
    EXPECT_EQ(VerifyArchiveHash(nullptr, one.data(), static_cast<int64_t>(one.size())), 0);

    // 1 MiB + 1: two chunk digests; the first alone matches too.
    Bytes two = one;
    two.push_back(9);
    const Bytes list = BuildArchiveChunkList(two.data(), static_cast<int64_t>(two.size()));
    ASSERT_EQ(list.size(), 48u);
    EXPECT_EQ(verify(Bytes(list.begin(), list.begin() + 16), two), 1);
    EXPECT_EQ(verify(Bytes(list.begin(), list.begin() + 32), two), 1);
    EXPECT_EQ(verify(list, two), 1);
    EXPECT_EQ(Bytes(list.begin() + 32, list.end()), Digest(list.data(), 32)); // the root digest
    EXPECT_TRUE(BuildArchiveChunkList(nullptr, 1).empty());
    EXPECT_TRUE(BuildArchiveChunkList(two.data(), 0).empty());
    // One byte changed in the second chunk: its digest no longer matches.
    Bytes changed = two;
    changed.back() ^= 0x40;
    EXPECT_EQ(verify(Bytes(list.begin(), list.begin() + 16), changed), 1);
    EXPECT_EQ(verify(Bytes(list.begin(), list.begin() + 32), changed), 0);
}

} // namespace
