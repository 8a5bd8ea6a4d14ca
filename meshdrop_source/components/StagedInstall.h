#pragma once
// Installing an update archive all or nothing. The archive is extracted into
// a staging folder beside the install folder (its name followed by
// ".staging"), every file written is synced, and only then is each moved
// over its old version in the install folder (a rename: each file is the old
// one or the new one, never a mix) and the folders synced. An archive that
// fails half-way leaves the install folder as it was, and the staging folder
// is removed.

#include <cstdint>

// folder: the install folder, a Windows path with its trailing "\". Returns
// store code 0, or 5 when extracting, syncing or moving failed.
[[nodiscard]] int InstallArchive(int type, const unsigned char* bytes, int64_t length, const char* folder);
