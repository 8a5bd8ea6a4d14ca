#include "ProgramVersion.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

constexpr UINT kSingleTranslationSize = 4;

} // namespace

bool ReadProgramVersion(const char* path, std::string& version)
{
    version.clear();
    if (path == nullptr || path[0] == '\0' || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return false;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoA(path, handle, size, block.data()))
        return false;

    char query[64];
    void* translation = nullptr;
    UINT translationSize = 0;
    if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translation, &translationSize) &&
        translationSize == kSingleTranslationSize) {
        const auto* words = static_cast<const WORD*>(translation);
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%02X%02X%02X%02X\\FileVersion", HIBYTE(words[0]),
                      LOBYTE(words[0]), HIBYTE(words[1]), LOBYTE(words[1]));
    } else {
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04X04B0\\FileVersion", GetUserDefaultLangID());
    }
    void* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, &text, &length) || text == nullptr)
        return false;
    version = static_cast<const char*>(text);
    return true;
}
