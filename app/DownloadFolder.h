// The download folder: its default, the folder that may not be chosen, the
// folder browser with the space the download needs and the space the chosen
// place has, and publishing the folder in the registry for the installer.
#pragma once

#include <afxwin.h>

#include <cstdint>
#include <optional>

#include "DownloadFolderRules.h"

// <program files>\Orvane\QLSDownloader\QLSDownloaderEngine.exe: the folder of
// this path may not be chosen as the download folder.
CString ReservedProgramPath();

// The drive and folder part of a path, with its trailing "\".
CString FolderOfPath(const CString& path);

// Free bytes of the file system the path's files would land on (all free
// bytes, not only the caller's quota); 0 when the platform cannot tell.
uint64_t FreeSpaceOfPath(const CString& path);

// The size the download needs, process-wide: the size check's total, shown
// by the folder browser. 0 until the sizes are known.
uint64_t RequiredDownloadSize();
void SetRequiredDownloadSize(uint64_t bytes);

// "至少需要 <size> 容量。\n" and the title line with the free space under it.
CString FolderBrowserTitle(uint64_t requiredBytes);
CString FolderBrowserTitleLine(uint64_t requiredBytes, uint64_t freeBytes);

// The browser's callback: preselects the folder given as its data when the
// browser opens, and shows the free space of every folder the player moves
// to in the title line.
int CALLBACK DownloadFolderBrowseCallback(HWND hwnd, UINT message, LPARAM lParam, LPARAM data);

enum class FolderChoice { Cancelled, Unusable, Chosen };

// Lets the player choose a folder, starting at `current` (created first when
// it is missing). A chosen folder ends with "\"; the reserved folder, and a
// folder whose path is too long for the platform's buffer, are unusable.
FolderChoice BrowseForDownloadFolder(CWnd* owner, const CString& current, const CString& reservedFolder,
                                     CString& chosen);
