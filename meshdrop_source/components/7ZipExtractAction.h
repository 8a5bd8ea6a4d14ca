#pragma once
// C7ZipExtractAction: unpacks a 7z archive held in memory into a folder
// (libarchive's 7z reader). Every entry is created relative to the folder;
// the process's current directory is neither used nor changed.

#include "IExtractAction.h"

class C7ZipExtractAction : public IExtractAction {
public:
    // Creates the folder with its missing parents first. 0, 3 for bad
    // arguments, 2 when the archive cannot be opened, 4 when an entry cannot
    // be extracted or written (entries before it stay written).
    [[nodiscard]] int Extract(const unsigned char* bytes, int64_t length, const char* folder) override;
};
