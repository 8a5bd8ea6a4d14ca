#include "afx/CWnd.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "AfxInternal.h"
#include "WindowWidget.h"
#include "afx/AfxAssert.h"
#include "afx/MessageBox.h"

namespace {

std::unordered_map<HWND, CWnd*>& HandleMap()
{
    static std::unordered_map<HWND, CWnd*> map;
    return map;
}

bool IsCtlColor(UINT message)
{
    return message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN || message == WM_CTLCOLORDLG ||
           message == WM_CTLCOLORMSGBOX;
}

UINT CtlColorType(UINT message)
{
    switch (message) {
    case WM_CTLCOLORBTN:
        return CTLCOLOR_BTN;
    case WM_CTLCOLORDLG:
        return CTLCOLOR_DLG;
    case WM_CTLCOLORMSGBOX:
        return CTLCOLOR_MSGBOX;
    default:
        return CTLCOLOR_STATIC;
    }
}

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (CWnd* wnd = AfxLookupHandle(hwnd))
        return wnd->WindowProc(message, wParam, lParam);
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

#if defined(MESHDROP_CHECKED)
void AfxAssertFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: ASSERT failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}
#endif

void AfxRegisterWindowClass()
{
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = AfxWndProc;
        wc.lpszClassName = kAfxWindowClass;
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
}

void AfxMapHandle(HWND hwnd, CWnd* wnd)
{
    if (hwnd)
        HandleMap()[hwnd] = wnd;
}

void AfxUnmapHandle(HWND hwnd)
{
    HandleMap().erase(hwnd);
}

CWnd* AfxLookupHandle(HWND hwnd)
{
    auto it = HandleMap().find(hwnd);
    return it == HandleMap().end() ? nullptr : it->second;
}

const CWnd CWnd::wndTop(HWND_TOP);
const CWnd CWnd::wndBottom(HWND_BOTTOM);
const CWnd CWnd::wndTopMost(HWND_TOPMOST);

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_widget)
        DestroyWindow();
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    return hWnd ? AfxLookupHandle(hWnd) : nullptr;
}

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    return CCmdTarget::GetThisMessageMap();
}

const AFX_MSGMAP* CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

void CWnd::Attach(AfxWindowWidget* widget)
{
    m_widget = widget;
    m_hWnd = widget->Handle();
}

void CWnd::Detach()
{
    m_widget = nullptr;
    m_hWnd = nullptr;
}

QWidget* CWnd::GetQWidget() const
{
    return m_widget;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, UINT id)
{
    AfxEnsureApplication();
    if (m_widget)
        return FALSE;
    AfxWindowWidget* parentWidget = AfxWindowWidget::Of(FromHandle(parent));
    const bool popup = (style & WS_POPUP) || !(style & WS_CHILD) || !parentWidget;
    AfxWindowWidget::Kind kind = AfxWindowWidget::KindOfClass(className);
    if (popup && kind == AfxWindowWidget::Kind::Window)
        kind = AfxWindowWidget::Kind::Popup;
    auto* widget = new AfxWindowWidget(kind, style, exStyle, id, popup ? nullptr : parentWidget);
    if (popup) {
        // A pop-up of the framework is a tip-like window: no frame, never
        // taking the focus from its owner.
        widget->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
        widget->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    widget->setGeometry(x, y, width > 0 ? width : 1, height > 0 ? height : 1);
    if (!widget->Bind(this, windowName)) {
        delete widget;
        return FALSE;
    }
    if (parentWidget) {
        widget->fontObject = parentWidget->fontObject;
        widget->ApplyFont();
    }
    // As with a control taken over from a dialog, the class sees its new
    // window before anything is drawn.
    PreSubclassWindow();
    if (style & WS_VISIBLE)
        widget->show();
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    AfxWindowWidget* widget = m_widget;
    if (!widget)
        return FALSE;
    widget->DestroyTree();
    widget->hide();
    if (AfxEventScope::IsBusy(widget->window()))
        widget->deleteLater();
    else
        delete widget;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    CWnd* control = parent ? parent->GetDlgItem(static_cast<int>(id)) : nullptr;
    if (!control)
        return FALSE;
    return SubclassWindow(control->m_hWnd);
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    CWnd* current = FromHandle(hWnd);
    if (!current || m_widget)
        return FALSE;
    AfxWindowWidget* widget = current->m_widget;
    widget->Rebind(this);
    PreSubclassWindow();
    return TRUE;
}

void CWnd::PreSubclassWindow() {}

// ---------------------------------------------------------------------------
// Messages

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    // A window's messages are handled on the thread that owns it (the GUI
    // thread): the library's events arrive as posted messages, never as calls.
    ASSERT(m_hWnd == nullptr || GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId());
    MSG msg{};
    msg.hwnd = m_hWnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    const MSG* previous = m_currentMsg;
    m_currentMsg = &msg;
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    m_currentMsg = previous;
    return result;
}

LRESULT CWnd::Default()
{
    if (!m_currentMsg)
        return 0;
    return DefWindowProc(m_currentMsg->message, m_currentMsg->wParam, m_currentMsg->lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_widget)
        return m_widget->DefaultProc(message, wParam, lParam);
    return 0;
}

const AFX_MSGMAP_ENTRY* CWnd::FindEntry(UINT message, UINT code, UINT id) const
{
    const bool command = message == WM_COMMAND;
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->entries; entry->thunk; ++entry) {
            if (entry->message != message)
                continue;
            if (command && (entry->id != id || entry->code != code))
                continue;
            if (message == WM_REFLECT_BASE + WM_COMMAND && entry->code != code)
                continue;
            return entry;
        }
    }
    return nullptr;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (message == WM_COMMAND) {
        if (OnCommand(wParam, lParam)) {
            *result = 1;
            return TRUE;
        }
        return FALSE;
    }
    if (message == WM_DRAWITEM) {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        CWnd* child = item ? FromHandle(item->hwndItem) : nullptr;
        if (child && child->OnChildNotify(message, wParam, lParam, result))
            return TRUE;
    }
    if (IsCtlColor(message)) {
        const UINT type = CtlColorType(message);
        if (const AFX_MSGMAP_ENTRY* entry = FindEntry(AFX_WM_CTLCOLOR, 0, 0))
            *result = entry->thunk(this, type, wParam, lParam);
        else
            *result = reinterpret_cast<LRESULT>(OnCtlColor(CDC::FromHandle(reinterpret_cast<HDC>(wParam)),
                                                           FromHandle(reinterpret_cast<HWND>(lParam)), type));
        return TRUE;
    }
    if (const AFX_MSGMAP_ENTRY* entry = FindEntry(message, 0, 0)) {
        *result = entry->thunk(this, message, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (control) {
        CWnd* child = FromHandle(control);
        LRESULT reflected = 0;
        if (child && child->OnChildNotify(WM_COMMAND, wParam, lParam, &reflected))
            return TRUE;
    }
    if (const AFX_MSGMAP_ENTRY* entry = FindEntry(WM_COMMAND, code, id)) {
        entry->thunk(this, WM_COMMAND, wParam, lParam);
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    return ReflectChildNotify(message, wParam, lParam, result);
}

BOOL CWnd::ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (message == WM_COMMAND) {
        const AFX_MSGMAP_ENTRY* entry = FindEntry(WM_REFLECT_BASE + WM_COMMAND, HIWORD(wParam), 0);
        if (!entry)
            return FALSE;
        // TRUE from the control keeps the notification from the parent.
        *result = entry->thunk(this, WM_REFLECT_BASE + WM_COMMAND, wParam, lParam);
        return *result != 0;
    }
    if (message == AFX_WM_CTLCOLOR) {
        const AFX_MSGMAP_ENTRY* entry = FindEntry(WM_REFLECT_BASE + AFX_WM_CTLCOLOR, 0, 0);
        if (!entry)
            return FALSE;
        *result = entry->thunk(this, static_cast<UINT>(lParam), wParam, 0);
        return *result != 0;
    }
    const AFX_MSGMAP_ENTRY* entry = FindEntry(WM_REFLECT_BASE + message, 0, 0);
    if (!entry)
        return FALSE;
    *result = entry->thunk(this, message, wParam, lParam);
    return TRUE;
}

HBRUSH CWnd::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor)
{
    if (wnd && wnd != this) {
        LRESULT brush = 0;
        if (wnd->OnChildNotify(AFX_WM_CTLCOLOR, reinterpret_cast<WPARAM>(dc ? dc->GetSafeHdc() : nullptr), ctlColor,
                               &brush))
            return reinterpret_cast<HBRUSH>(brush);
    }
    return reinterpret_cast<HBRUSH>(Default());
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return m_hWnd ? ::PostMessageW(m_hWnd, message, wParam, lParam) : FALSE;
}

// ---------------------------------------------------------------------------
// Geometry and state

void CWnd::SetGeometry(int x, int y, int width, int height)
{
    // Dialogs keep a fixed size: the program decides it, not the player.
    if (m_widget->isWindow() && !(m_widget->style & WS_THICKFRAME))
        m_widget->setFixedSize(width, height);
    m_widget->setGeometry(x, y, width, height);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint)
{
    if (!m_widget)
        return;
    SetGeometry(x, y, width, height);
    if (repaint)
        m_widget->update();
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint)
{
    if (rect)
        MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags)
{
    if (!m_widget)
        return FALSE;
    SetGeometry(flags & SWP_NOMOVE ? m_widget->x() : x, flags & SWP_NOMOVE ? m_widget->y() : y,
                flags & SWP_NOSIZE ? m_widget->width() : width, flags & SWP_NOSIZE ? m_widget->height() : height);
    if (!(flags & SWP_NOZORDER)) {
        HWND after = insertAfter ? insertAfter->m_hWnd : HWND_TOP;
        if (after == HWND_TOP || after == HWND_TOPMOST)
            m_widget->raise();
        else if (after == HWND_BOTTOM)
            m_widget->lower();
        else if (AfxWindowWidget* other = AfxWindowWidget::Of(insertAfter))
            m_widget->stackUnder(other);
    }
    if (flags & SWP_SHOWWINDOW)
        m_widget->show();
    if (flags & SWP_HIDEWINDOW)
        m_widget->hide();
    if (!(flags & SWP_NOREDRAW))
        m_widget->update();
    return TRUE;
}

void CWnd::GetClientRect(LPRECT rect) const
{
    if (!rect)
        return;
    *rect = m_widget ? CRect(0, 0, m_widget->width(), m_widget->height()) : CRect();
}

void CWnd::GetWindowRect(LPRECT rect) const
{
    if (!rect)
        return;
    if (!m_widget) {
        *rect = CRect();
        return;
    }
    const QPoint topLeft = m_widget->mapToGlobal(QPoint(0, 0));
    *rect = CRect(topLeft.x(), topLeft.y(), topLeft.x() + m_widget->width(), topLeft.y() + m_widget->height());
}

namespace {

// Moves a point, or both corners of a rectangle, between a window's client
// coordinates and the screen's: by the offset of the window's top-left corner.
QPoint ScreenOffset(const QWidget* widget)
{
    return widget ? widget->mapToGlobal(QPoint(0, 0)) : QPoint();
}

void Shift(LPPOINT point, QPoint by)
{
    if (point) {
        point->x += by.x();
        point->y += by.y();
    }
}

void Shift(LPRECT rect, QPoint by)
{
    if (rect) {
        rect->left += by.x();
        rect->right += by.x();
        rect->top += by.y();
        rect->bottom += by.y();
    }
}

} // namespace

void CWnd::ScreenToClient(LPPOINT point) const
{
    Shift(point, -ScreenOffset(m_widget));
}

void CWnd::ScreenToClient(LPRECT rect) const
{
    Shift(rect, -ScreenOffset(m_widget));
}

void CWnd::ClientToScreen(LPPOINT point) const
{
    Shift(point, ScreenOffset(m_widget));
}

void CWnd::ClientToScreen(LPRECT rect) const
{
    Shift(rect, ScreenOffset(m_widget));
}

void CWnd::CenterWindow(CWnd* alternateOwner)
{
    if (!m_widget)
        return;
    QScreen* screen = m_widget->screen() ? m_widget->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Over the given window or the owner (a top-level window's parent widget
    // is its owner) while it is shown and not minimised; else on the screen.
    QWidget* centre = alternateOwner         ? alternateOwner->GetQWidget()
                      : m_widget->isWindow() ? m_widget->parentWidget()
                                             : nullptr;
    if (centre)
        centre = centre->window();
    if (centre && (!centre->isVisible() || centre->isMinimized()))
        centre = nullptr;
    const QRect workArea = screen->availableGeometry();
    QRect frame = m_widget->frameGeometry();
    frame.moveCenter(centre ? centre->frameGeometry().center() : workArea.center());
    // Kept on the screen, as the platform keeps a centred dialog.
    frame.moveRight(std::min(frame.right(), workArea.right()));
    frame.moveBottom(std::min(frame.bottom(), workArea.bottom()));
    frame.moveLeft(std::max(frame.left(), workArea.left()));
    frame.moveTop(std::max(frame.top(), workArea.top()));
    m_widget->move(frame.topLeft());
}

BOOL CWnd::ShowWindow(int showCommand)
{
    if (!m_widget)
        return FALSE;
    const BOOL wasVisible = m_widget->isVisible();
    switch (showCommand) {
    case SW_HIDE:
        m_widget->hide();
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
        m_widget->showMinimized();
        break;
    case SW_RESTORE:
        m_widget->showNormal();
        break;
    default:
        m_widget->show();
        break;
    }
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const
{
    return m_widget && m_widget->isVisible();
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    if (!m_widget)
        return FALSE;
    const BOOL wasDisabled = !m_widget->isEnabled();
    m_widget->setEnabled(enable != FALSE);
    if (enable)
        m_widget->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
        m_widget->style |= WS_DISABLED;
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const
{
    return m_widget && m_widget->isEnabled();
}

BOOL CWnd::IsIconic() const
{
    return m_widget && m_widget->isMinimized();
}

BOOL CWnd::BringWindowToTop()
{
    if (!m_widget)
        return FALSE;
    m_widget->raise();
    return TRUE;
}

BOOL CWnd::ShowScrollBar(UINT, BOOL)
{
    // Framework windows have no scroll bars of their own.
    return m_widget != nullptr;
}

// ---------------------------------------------------------------------------
// Text and look

void CWnd::SetWindowText(LPCWSTR text)
{
    SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : L""));
}

void CWnd::GetWindowText(CString& text) const
{
    text = m_widget ? m_widget->text : CString();
}

int CWnd::GetWindowTextLength() const
{
    return m_widget ? m_widget->text.GetLength() : 0;
}

void CWnd::SetFont(CFont* font, BOOL redraw)
{
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->GetSafeHandle() : nullptr), redraw);
}

CFont* CWnd::GetFont() const
{
    return m_widget ? m_widget->fontObject : nullptr;
}

HICON CWnd::SetIcon(HICON icon, BOOL)
{
    // Window icons come from the desktop entry on Linux; the handle is kept
    // only as the answer.
    return icon;
}

DWORD CWnd::GetStyle() const
{
    return m_widget ? m_widget->style : 0;
}

DWORD CWnd::GetExStyle() const
{
    return m_widget ? m_widget->exStyle : 0;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT)
{
    if (!m_widget)
        return FALSE;
    const DWORD before = m_widget->style;
    m_widget->style = (before & ~remove) | add;
    if ((m_widget->style & WS_DISABLED) != (before & WS_DISABLED))
        m_widget->setEnabled(!(m_widget->style & WS_DISABLED));
    if ((m_widget->style & WS_VISIBLE) && !(before & WS_VISIBLE))
        m_widget->show();
    m_widget->update();
    return before != m_widget->style;
}

// ---------------------------------------------------------------------------
// Painting

void CWnd::Invalidate(BOOL)
{
    if (m_widget)
        m_widget->update();
}

void CWnd::InvalidateRect(LPCRECT rect, BOOL)
{
    if (!m_widget)
        return;
    if (rect)
        m_widget->update(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
    else
        m_widget->update();
}

void CWnd::UpdateWindow()
{
    if (m_widget && m_widget->isVisible())
        m_widget->repaint();
}

BOOL CWnd::RedrawWindow(LPCRECT rect, void*, UINT flags)
{
    if (!m_widget)
        return FALSE;
    if (flags & (RDW_INVALIDATE | RDW_ERASE))
        InvalidateRect(rect, TRUE);
    if (flags & (RDW_UPDATENOW | RDW_ERASENOW))
        UpdateWindow();
    return TRUE;
}

// ---------------------------------------------------------------------------
// Relations

CWnd* CWnd::GetParent() const
{
    if (!m_widget || m_widget->isWindow())
        return nullptr;
    auto* parent = dynamic_cast<AfxWindowWidget*>(m_widget->parentWidget());
    return parent ? parent->Owner() : nullptr;
}

CWnd* CWnd::GetDlgItem(int id) const
{
    if (!m_widget)
        return nullptr;
    for (QObject* child : m_widget->children()) {
        auto* w = dynamic_cast<AfxWindowWidget*>(child);
        if (w && w->Handle() && static_cast<int>(w->Id()) == id)
            return w->Owner();
    }
    return nullptr;
}

int CWnd::GetDlgCtrlID() const
{
    return m_widget ? static_cast<int>(m_widget->Id()) : 0;
}

CWnd* CWnd::GetTopLevelParent() const
{
    auto* top = m_widget ? dynamic_cast<AfxWindowWidget*>(m_widget->window()) : nullptr;
    return top ? top->Owner() : nullptr;
}

CWnd* CWnd::SetFocus()
{
    CWnd* previous = GetFocus();
    if (m_widget)
        m_widget->setFocus(Qt::OtherFocusReason);
    return previous;
}

CWnd* CWnd::GetFocus()
{
    auto* focus = dynamic_cast<AfxWindowWidget*>(QApplication::focusWidget());
    return focus ? focus->Owner() : nullptr;
}

CWnd* CWnd::GetForegroundWindow()
{
    auto* active = dynamic_cast<AfxWindowWidget*>(QApplication::activeWindow());
    return active ? active->Owner() : nullptr;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, void*)
{
    return m_hWnd ? ::SetTimer(m_hWnd, id, elapse, nullptr) : 0;
}

BOOL CWnd::KillTimer(UINT_PTR id)
{
    return m_hWnd ? ::KillTimer(m_hWnd, id) : FALSE;
}

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type)
{
    return AfxShowMessageBox(this, text, caption, type, false);
}

// ---------------------------------------------------------------------------
// user32 functions

BOOL GetCursorPos(LPPOINT point)
{
    if (!point)
        return FALSE;
    const QPoint p = QCursor::pos();
    point->x = p.x();
    point->y = p.y();
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id)
{
    CWnd* wnd = CWnd::FromHandle(dialog);
    CWnd* item = wnd ? wnd->GetDlgItem(id) : nullptr;
    return item ? item->m_hWnd : nullptr;
}

BOOL TrackMouseEvent(LPTRACKMOUSEEVENT track)
{
    if (!track)
        return FALSE;
    AfxWindowWidget* widget = AfxWindowWidget::Of(CWnd::FromHandle(track->hwndTrack));
    if (!widget)
        return FALSE;
    widget->trackLeave = (track->dwFlags & TME_LEAVE) != 0;
    return TRUE;
}
