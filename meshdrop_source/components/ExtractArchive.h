#pragma once
// The extraction dispatcher: picks the action for an archive type, runs it
// and turns its result into a store code of the engine update.

#include <cstdint>

#include "StoreCode.h"

enum ArchiveType {
    kArchiveTypeNone = 0,
    kArchiveType7z = 1,
    kArchiveTypeZip = 2,
};

// 0 when the archive was extracted into the folder; 5 when the action failed
// or the type has no action.
[[nodiscard]] int ExtractArchive(int type, const unsigned char* bytes, int64_t length, const char* folder);
