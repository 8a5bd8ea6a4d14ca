// Framework-internal plumbing shared by its source files.
#pragma once

#include "afx/CWnd.h"

class QKeyEvent;
class CDialog;

// The Win32 layer's window class of every framework window.
inline constexpr const wchar_t* kAfxWindowClass = L"AfxQtWindow";
void AfxRegisterWindowClass();

// The handle table: which CWnd a Win32 layer window belongs to.
void AfxMapHandle(HWND hwnd, CWnd* wnd);
void AfxUnmapHandle(HWND hwnd);
CWnd* AfxLookupHandle(HWND hwnd);

// Marks WM_ACTIVATE sent for Qt's own activation changes (second parameter).
inline constexpr LPARAM kAfxQtActivation = static_cast<LPARAM>(0x41667851);

// The virtual-key code of a Qt key event, 0 for keys the framework ignores.
UINT AfxVirtualKey(const QKeyEvent* event);

// Makes sure a QApplication exists, the Win32 layer's queue of this thread is
// watched and input events pass through PreTranslateMessage.
void AfxEnsureApplication();

// While it lives, `popup` is the innermost open modal pop-up of its owner
// (the owner's window, else the application's main window), which
// GetLastActivePopup answers, also to another process.
class AfxActivePopupScope {
public:
    AfxActivePopupScope(CWnd* owner, HWND popup);
    ~AfxActivePopupScope();
    AfxActivePopupScope(const AfxActivePopupScope&) = delete;
    AfxActivePopupScope& operator=(const AfxActivePopupScope&) = delete;

private:
    HWND m_owner = nullptr;
    HWND m_popup = nullptr;
};

// Modal runs of dialogs, innermost last. WM_QUIT ends all of them.
void AfxPushModal(CDialog* dialog);
void AfxPopModal(CDialog* dialog);
bool AfxQuitPending();
void AfxOnQuitMessage(int exitCode);
