// The shell's folder browser: a modal window in which the player picks a
// folder. Its callback hears BFFM_INITIALIZED when it opens (answer with
// BFFM_SETSELECTIONW to preselect a folder) and BFFM_SELCHANGED with the new
// selection whenever the player moves; its title line is the control with
// id 14146, whose text the callback may change at any time. Paths are
// Windows paths (C:\..., Z:\...).
//
// A test responder plays the player: it sees the title, the title line and
// the selection, moves the selection, and picks a folder or cancels.
#pragma once

#include <functional>
#include <optional>

#include "afx/CString.h"

#define IDC_BROWSER_TITLE_LINE 14146

// An item of the shell's namespace; here always a file-system folder. A
// folder whose path does not fit MAX_PATH characters is still an item, but
// SHGetPathFromIDListW cannot give its path: `path` is then empty.
struct ITEMIDLIST {
    WCHAR path[MAX_PATH];
    size_t length; // of the whole path, in characters
};
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef ITEMIDLIST* PIDLIST_ABSOLUTE;

typedef int(CALLBACK* BFFCALLBACK)(HWND hwnd, UINT message, LPARAM lParam, LPARAM data);

typedef struct _browseinfoW {
    HWND hwndOwner;
    LPCITEMIDLIST pidlRoot;
    LPWSTR pszDisplayName; // MAX_PATH characters
    LPCWSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
} BROWSEINFOW, *LPBROWSEINFOW;

// Runs the browser; the chosen folder, or null when the player cancelled.
// Free the result with CoTaskMemFree.
LPITEMIDLIST SHBrowseForFolderW(LPBROWSEINFOW info);
// Copies the item's path into a MAX_PATH buffer; FALSE (and an empty text)
// when the path is longer than the buffer holds.
BOOL SHGetPathFromIDListW(LPCITEMIDLIST item, LPWSTR path);
void CoTaskMemFree(void* memory);

class CFolderBrowserSession {
public:
    virtual ~CFolderBrowserSession() = default;
    virtual CString Title() const = 0;
    // The text of the title line (control 14146).
    virtual CString TitleLine() const = 0;
    virtual CString Selection() const = 0;
    // Moves the selection as the player would; the callback hears of it.
    virtual void Select(const CString& windowsPath) = 0;
    // The browser's window, for screenshots.
    virtual class CWnd* Window() const = 0;
};

// Returns the chosen folder, or nothing to cancel.
using AfxFolderBrowserResponder = std::function<std::optional<CString>(CFolderBrowserSession&)>;
void AfxSetFolderBrowserResponder(AfxFolderBrowserResponder responder);
