// Writes the hash file of an engine update archive: the MD4 digests of its
// 1 MiB chunks followed by the root digest, as the engine update checks them.
//
//   meshdrop_update_hash ARCHIVE HASHFILE

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "ArchiveHash.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE HASHFILE\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> archive((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || archive.empty()) {
        std::fprintf(stderr, "%s: cannot read %s, or it is empty\n", argv[0], argv[1]);
        return 1;
    }
    const std::vector<unsigned char> list = BuildArchiveChunkList(archive.data(), static_cast<int64_t>(archive.size()));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(list.data()), static_cast<std::streamsize>(list.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
