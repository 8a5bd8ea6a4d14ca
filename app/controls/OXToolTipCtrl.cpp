#include "OXToolTipCtrl.h"

BEGIN_MESSAGE_MAP(COXToolTipCtrl, CWnd)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
    ON_WM_TIMER()
END_MESSAGE_MAP()

BOOL COXToolTipCtrl::Create(CWnd* parent)
{
    if (!CreateEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"OXToolTip", L"", WS_POPUP, 0, 0, 0, 0,
                  parent ? parent->GetSafeHwnd() : nullptr, 0))
        return FALSE;
    m_font.CreateStatusBarFont();
    SetFont(&m_font, FALSE);
    return TRUE;
}

BOOL COXToolTipCtrl::AddTool(CWnd* tool, LPCWSTR text)
{
    if (!tool || !tool->GetSafeHwnd())
        return FALSE;
    m_tools.push_back({tool->GetSafeHwnd(), text ? text : L""});
    m_current = nullptr;
    return TRUE;
}

int COXToolTipCtrl::SetMaxTipWidth(int width)
{
    const int previous = m_maxWidth;
    m_maxWidth = width;
    return previous;
}

const COXToolTipCtrl::Tool* COXToolTipCtrl::ToolAt(POINT screenPoint) const
{
    for (const Tool& tool : m_tools) {
        CWnd* wnd = CWnd::FromHandle(tool.window);
        if (!wnd || !wnd->IsWindowVisible())
            continue;
        CRect rect;
        wnd->GetWindowRect(&rect);
        if (rect.PtInRect(screenPoint))
            return &tool;
    }
    return nullptr;
}

void COXToolTipCtrl::RelayEvent(MSG* msg)
{
    if (!msg || !GetSafeHwnd())
        return;
    switch (msg->message) {
    case WM_MOUSEMOVE: {
        const Tool* tool = ToolAt(msg->pt);
        if (tool == m_current)
            return;
        Hide();
        m_current = tool;
        if (tool)
            SetTimer(kTimerShow, kShowDelay);
        return;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
        Hide();
        return;
    default:
        return;
    }
}

void COXToolTipCtrl::OnTimer(UINT_PTR id)
{
    POINT cursor;
    ::GetCursorPos(&cursor);
    if (id == kTimerShow) {
        KillTimer(kTimerShow);
        if (m_current && ToolAt(cursor) == m_current)
            Show(cursor);
        return;
    }
    if (id == kTimerCheck) {
        if (!m_current || ToolAt(cursor) != m_current || ::GetTickCount64() - m_shownAt >= kShowTime) {
            Hide();
            // Shown once per visit: moving onto the tool again shows it again.
        }
    }
}

void COXToolTipCtrl::Show(POINT screenPoint)
{
    CDC measure;
    measure.SelectObject(&m_font);
    CRect text(0, 0, m_maxWidth - m_margins.left - m_margins.right, 0);
    measure.DrawText(m_current->text, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    const int width = text.Width() + m_margins.left + m_margins.right + 2;
    const int height = text.Height() + m_margins.top + m_margins.bottom + 2;
    SetWindowPos(nullptr, screenPoint.x, screenPoint.y + 20, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    m_shownAt = ::GetTickCount64();
    SetTimer(kTimerCheck, kCheckInterval);
}

void COXToolTipCtrl::Hide()
{
    KillTimer(kTimerShow);
    KillTimer(kTimerCheck);
    if (IsWindowVisible())
        ShowWindow(SW_HIDE);
}

BOOL COXToolTipCtrl::OnEraseBkgnd(CDC*)
{
    return TRUE;
}

void COXToolTipCtrl::OnPaint()
{
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);
    dc.FillSolidRect(&client, GetSysColor(COLOR_INFOBK));
    CBrush frame(GetSysColor(COLOR_INFOTEXT));
    dc.FrameRect(&client, &frame);
    if (!m_current)
        return;
    CRect text(client);
    text.DeflateRect(m_margins.left + 1, m_margins.top + 1, m_margins.right + 1, m_margins.bottom + 1);
    dc.SelectObject(&m_font);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(GetSysColor(COLOR_INFOTEXT));
    dc.DrawText(m_current->text, &text, DT_WORDBREAK | DT_NOPREFIX);
}
