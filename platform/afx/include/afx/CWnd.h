// CWnd: a window of the framework. Each one is a Qt widget for the screen and
// a window of the Win32 layer (an HWND) for messages: messages posted to the
// HWND from any thread reach WindowProc on the Qt thread, also while a
// message box or another dialog runs its nested loop. Mouse, keyboard, paint
// and focus events of the widget arrive as the window messages they are.
#pragma once

#include <memory>

#include "afx/AfxTypes.h"
#include "afx/CCmdTarget.h"
#include "afx/CDC.h"
#include "afx/CString.h"
#include "afx/GdiObjects.h"
#include "afx/Geometry.h"

class QWidget;
class AfxWindowWidget;

inline CPoint AfxPointFromLParam(LPARAM lParam)
{
    return CPoint(static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam)));
}

class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    // Places in the stacking order for SetWindowPos.
    static const CWnd wndTop;
    static const CWnd wndBottom;
    static const CWnd wndTopMost;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    // The framework window behind a handle; null for handles of other
    // processes or of windows the framework did not make.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd) { return FromHandle(hWnd); }

    // A pop-up (WS_POPUP) or child (WS_CHILD) window of class "Static",
    // "Button", "msctls_progress32" or any other name (a plain window).
    virtual BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                          int height, HWND parent, UINT id);
    virtual BOOL DestroyWindow();
    // Takes over the dialog control `id` of `parent`: its messages now come
    // to this object.
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    BOOL SubclassWindow(HWND hWnd);

    // Messages
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual void PreSubclassWindow();
    // Runs the default course of the message being handled.
    LRESULT Default();
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Geometry and state. The rectangle of a top-level window is its client
    // rectangle: the window system adds the frame around it.
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags);
    void GetClientRect(LPRECT rect) const;
    void GetWindowRect(LPRECT rect) const;
    void ScreenToClient(LPPOINT point) const;
    void ScreenToClient(LPRECT rect) const;
    void ClientToScreen(LPPOINT point) const;
    void ClientToScreen(LPRECT rect) const;
    void CenterWindow(CWnd* alternateOwner = nullptr);
    // The window rectangle for a client rectangle; the same rectangle here.
    void CalcWindowRect(LPRECT) const {}
    BOOL ShowWindow(int showCommand);
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    BOOL BringWindowToTop();
    BOOL ShowScrollBar(UINT bar, BOOL show = TRUE);

    // Text and look
    void SetWindowText(LPCWSTR text);
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const;
    void SetFont(CFont* font, BOOL redraw = TRUE);
    CFont* GetFont() const;
    HICON SetIcon(HICON icon, BOOL bigIcon);
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);

    // Painting
    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
    void UpdateWindow();
    BOOL RedrawWindow(LPCRECT rect = nullptr, void* region = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);

    // Relations
    CWnd* GetParent() const;
    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    CWnd* GetTopLevelParent() const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    // The active window of this program; null while the player works in
    // another program.
    static CWnd* GetForegroundWindow();

    // Timers through the Win32 layer's thread timers: WM_TIMER arrives with
    // the id as its first parameter.
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, void* reserved = nullptr);
    BOOL KillTimer(UINT_PTR id);

    // A message box owned by this window; the caption defaults to the
    // application's title. Answers IDOK, IDCANCEL, IDYES or IDNO.
    int MessageBox(LPCWSTR text, LPCWSTR caption = nullptr, UINT type = MB_OK);

    // The Qt widget of the window, for tests and screenshots.
    QWidget* GetQWidget() const;

    // Standard handlers: the default course of each message. Classes bind
    // their own versions with the ON_WM_* entries of their message map.
    void OnPaint() { Default(); }
    BOOL OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
    void OnMouseMove(UINT, CPoint) { Default(); }
    void OnLButtonDown(UINT, CPoint) { Default(); }
    void OnLButtonUp(UINT, CPoint) { Default(); }
    void OnLButtonDblClk(UINT, CPoint) { Default(); }
    void OnSetFocus(CWnd*) { Default(); }
    void OnKillFocus(CWnd*) { Default(); }
    void OnActivate(UINT, CWnd*, BOOL) { Default(); }
    void OnEnable(BOOL) { Default(); }
    void OnCancelMode() { Default(); }
    void OnTimer(UINT_PTR) { Default(); }
    void OnClose() { Default(); }
    void OnDestroy() { Default(); }
    void OnSysCommand(UINT, LPARAM) { Default(); }
    HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
    // Asks the control for its own colours first (a reflected request), then
    // takes the default colours.
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

    // Called when the window and its handle are gone; the object stays.
    virtual void PostNcDestroy() {}

private:
    explicit CWnd(HWND sentinel) : m_hWnd(sentinel) {}
    void SetGeometry(int x, int y, int width, int height);

    friend class AfxWindowWidget;
    friend class CDialog;

    const AFX_MSGMAP_ENTRY* FindEntry(UINT message, UINT code, UINT id) const;
    BOOL ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    void Attach(AfxWindowWidget* widget);
    void Detach();

    AfxWindowWidget* m_widget = nullptr;
    // The message being handled, for Default().
    const MSG* m_currentMsg = nullptr;
};

// The window that an application box and a parentless dialog belong to.
CWnd* AfxGetMainWnd();

// user32 functions that the Win32 layer leaves to the window framework.
BOOL GetCursorPos(LPPOINT point);
HWND GetDlgItem(HWND dialog, int id);

typedef struct tagTRACKMOUSEEVENT {
    DWORD cbSize;
    DWORD dwFlags;
    HWND hwndTrack;
    DWORD dwHoverTime;
} TRACKMOUSEEVENT, *LPTRACKMOUSEEVENT;
// With TME_LEAVE, the window gets one WM_MOUSELEAVE when the mouse leaves it.
BOOL TrackMouseEvent(LPTRACKMOUSEEVENT track);
