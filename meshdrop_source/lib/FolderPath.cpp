#include "FolderPath.h"

#include <win32_ext.h>
#include <windows.h>

std::string NormalizeFolder(const char* folder)
{
    std::string result = folder != nullptr ? folder : "";
    for (char& c : result) {
        if (c == '/')
            c = '\\';
    }
    if (result.empty() || result.back() != '\\')
        result.push_back('\\');
    return result;
}

bool CreateFolderPrefixes(const std::string& path)
{
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '\\')
            continue;
        const std::string prefix = path.substr(0, i + 1);
        if (GetFileAttributesA(prefix.c_str()) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (!CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

bool CreateFolderPath(const char* folder)
{
    if (folder == nullptr || *folder == '\0')
        return false;
    if (GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES)
        return true;
    // Walking the normalised form also creates the last level of a folder
    // given without a trailing separator, or with "/" separators.
    return CreateFolderPrefixes(NormalizeFolder(folder));
}

bool LiesDirectlyInFolder(const std::string& folder, const std::string& path)
{
    std::string posixFolder = W32PathToPosix(std::string_view(folder));
    const std::string posixPath = W32PathToPosix(std::string_view(path));
    if (posixFolder.empty() || posixPath.empty())
        return false;
    while (posixFolder.size() > 1 && posixFolder.back() == '/')
        posixFolder.pop_back();
    const std::string prefix = posixFolder == "/" ? posixFolder : posixFolder + "/";
    return posixPath.size() > prefix.size() && posixPath.compare(0, prefix.size(), prefix) == 0 &&
           posixPath.find('/', prefix.size()) == std::string::npos;
}

unsigned long long GetFolderFreeSpace(const std::string& folder)
{
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    if (folder.empty() || !GetDiskFreeSpaceExA(folder.c_str(), &available, &total, &totalFree))
        return 0;
    return available.QuadPart;
}
