#include "DownloadFolder.h"

#include <atomic>

#include "DisplayFormat.h"

namespace {

std::atomic<uint64_t> g_requiredSize{0};

} // namespace

CString ReservedProgramPath()
{
    return ProgramFilesFolder() + L"\\" + L"Orvane\\" + L"QLSDownloader\\" + L"QLSDownloaderEngine.exe";
}

CString FolderOfPath(const CString& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    if (separator != CString::npos)
        return path.Left(static_cast<int>(separator + 1));
    return DriveOfPath(path);
}

uint64_t FreeSpaceOfPath(const CString& path)
{
    // Asked for the folder itself: the platform answers for the file system
    // its deepest existing part lies on, which is where the files will go.
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExW(path.c_str(), &available, &total, &free))
        return 0;
    return free.QuadPart;
}

uint64_t RequiredDownloadSize()
{
    return g_requiredSize.load();
}

void SetRequiredDownloadSize(uint64_t bytes)
{
    g_requiredSize.store(bytes);
}

CString FolderBrowserTitle(uint64_t requiredBytes)
{
    CString title;
    title.Format(L"至少需要 %ls 容量。\n", FormatSize(static_cast<double>(requiredBytes)).c_str());
    return title;
}

CString FolderBrowserTitleLine(uint64_t requiredBytes, uint64_t freeBytes)
{
    CString line;
    line.Format(L"至少需要 %ls 容量。\n剩餘容量：%ls", FormatSize(static_cast<double>(requiredBytes)).c_str(),
                FormatSize(static_cast<double>(freeBytes)).c_str());
    return line;
}

int CALLBACK DownloadFolderBrowseCallback(HWND hwnd, UINT message, LPARAM lParam, LPARAM data)
{
    switch (message) {
    case BFFM_INITIALIZED:
        ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
        break;
    case BFFM_SELCHANGED: {
        CWnd* browser = CWnd::FromHandle(hwnd);
        CWnd* titleLine = browser ? browser->GetDlgItem(IDC_BROWSER_TITLE_LINE) : nullptr;
        if (titleLine == nullptr)
            break;
        WCHAR path[MAX_PATH] = {};
        if (!SHGetPathFromIDListW(reinterpret_cast<LPCITEMIDLIST>(lParam), path))
            path[0] = L'\0';
        const uint64_t free = path[0] != L'\0' ? FreeSpaceOfPath(path) : 0;
        titleLine->SetWindowText(FolderBrowserTitleLine(RequiredDownloadSize(), free).c_str());
        break;
    }
    default:
        break;
    }
    return 0;
}

FolderChoice BrowseForDownloadFolder(CWnd* owner, const CString& current, const CString& reservedFolder,
                                     CString& chosen)
{
    // One level only: a failure just leaves the browser without a selection.
    if (GetFileAttributesW(current.c_str()) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryW(current.c_str(), nullptr);

    const CString title = FolderBrowserTitle(RequiredDownloadSize());
    WCHAR displayName[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = owner ? owner->GetSafeHwnd() : nullptr;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_NEWDIALOGSTYLE;
    info.lpfn = DownloadFolderBrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(current.c_str());
    LPITEMIDLIST item = SHBrowseForFolderW(&info);
    if (item == nullptr)
        return FolderChoice::Cancelled;

    // A folder whose path does not fit the buffer is refused rather than cut:
    // a cut path names another folder, which would be used and published.
    WCHAR path[MAX_PATH] = {};
    const BOOL havePath = SHGetPathFromIDListW(item, path);
    CoTaskMemFree(item);
    if (!havePath)
        return FolderChoice::Unusable;
    CString folder(path);
    if (folder.IsEmpty() || folder.back() != L'\\')
        folder += L'\\';
    if (folder == reservedFolder)
        return FolderChoice::Unusable;
    chosen = folder;
    return FolderChoice::Chosen;
}
