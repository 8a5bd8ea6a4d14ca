// The download folder's rules that need no window: the default folder and
// publishing the chosen folder in the registry for the installer. The window
// (DownloadFolder.h) and the command-line front end share them.
#pragma once

#include <string>
#include <string_view>

// The platform's program-files folder without a trailing separator; empty
// when the platform cannot tell.
std::wstring ProgramFilesFolder();

// The drive designator of a path ("C:"), or empty when it has none.
std::wstring DriveOfPath(std::wstring_view path);

// "<drive of the program-files folder>\quorvik\veilrune\".
std::wstring DefaultDownloadFolder();
// The same for a given program-files folder.
std::wstring DefaultDownloadFolderFor(std::wstring_view programFilesFolder);

// Writes `folder` as the string value `valueName` under
// HKEY_LOCAL_MACHINE\SOFTWARE\Orvane Inc.\DownloadPath. A registry that
// cannot be written is skipped silently: the download goes on without it.
void PublishDownloadFolder(const wchar_t* valueName, std::wstring_view folder);
