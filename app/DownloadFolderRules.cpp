#include "DownloadFolderRules.h"

#include <windows.h>

#include <shlobj.h>

namespace {

constexpr const wchar_t* kDownloadPathKey = L"SOFTWARE\\Orvane Inc.\\DownloadPath";

} // namespace

std::wstring ProgramFilesFolder()
{
    WCHAR path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::wstring();
    std::wstring folder(path);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

std::wstring DriveOfPath(std::wstring_view path)
{
    if (path.size() >= 2 && path[1] == L':')
        return std::wstring(path.substr(0, 2));
    return std::wstring();
}

std::wstring DefaultDownloadFolder()
{
    return DefaultDownloadFolderFor(ProgramFilesFolder());
}

std::wstring DefaultDownloadFolderFor(std::wstring_view programFilesFolder)
{
    // Only the drive of the program-files folder matters.
    const std::wstring drive = DriveOfPath(std::wstring(programFilesFolder) + L"\\Orvane\\");
    return drive + L"\\quorvik\\veilrune\\";
}

void PublishDownloadFolder(const wchar_t* valueName, std::wstring_view folder)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDownloadPathKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &key, &disposition) != ERROR_SUCCESS)
        return;
    // The whole text with its terminating null.
    const std::wstring text(folder);
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    RegCloseKey(key);
}
