#pragma once
// An action that unpacks an archive held in memory into a folder; every
// entry goes straight to a file.

#include <cstdint>

class IExtractAction {
public:
    // Action results.
    enum Result {
        kExtracted = 0,
        kOpen7zFailed = 2,
        kBadArguments = 3,  // null bytes, length not positive, null or empty folder
        kArchiveFailed = 4, // the zip archive could not be opened, or an entry could not be extracted
    };

    // folder: a Windows path in the system code page, with a trailing "\".
    [[nodiscard]] virtual int Extract(const unsigned char* bytes, int64_t length, const char* folder) = 0;
    virtual ~IExtractAction() = default;
};
