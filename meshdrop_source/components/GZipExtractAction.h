#pragma once
// CGZipExtractAction: unpacks a zip archive held in memory (zlib's minizip,
// read through memory callbacks) into a folder.

#include "IExtractAction.h"

class CGZipExtractAction : public IExtractAction {
public:
    // 0, 3 for bad arguments, 4 when the archive cannot be opened or an entry
    // cannot be written; entries before a failing one stay written.
    [[nodiscard]] int Extract(const unsigned char* bytes, int64_t length, const char* folder) override;
};
