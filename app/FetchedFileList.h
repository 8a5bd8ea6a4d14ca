// Copies the file list that the download library fetched out of it, once the
// library has reported it (event 522). The window and the command-line front
// end take it the same way.
#pragma once

#include <cstdint>
#include <vector>

// The library keeps no limit of its own on a fetched list that a client can
// rely on; no more than this is copied, so that a broken size cannot make
// the client allocate without bound.
inline constexpr uint64_t kFileListSizeLimit = 64ull * 1024 * 1024;

// The fetched bytes; empty when there are none, when they are larger than
// the limit, or when the library cannot hand them out.
std::vector<unsigned char> CopyFetchedFileList();
