#include "afx/CButton.h"
#include "afx/CProgressCtrl.h"
#include "afx/CStatic.h"

#include "WindowWidget.h"

namespace {

BOOL CreateControl(CWnd& wnd, LPCWSTR className, LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return wnd.CreateEx(0, className, text, style | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, parent ? parent->GetSafeHwnd() : nullptr, id);
}

} // namespace

// ---------------------------------------------------------------------------
// CButton

BOOL CButton::Create(LPCWSTR caption, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl(*this, L"Button", caption, style, rect, parent, id);
}

int CButton::GetCheck() const
{
    AfxWindowWidget* widget = AfxWindowWidget::Of(this);
    return widget ? widget->check : BST_UNCHECKED;
}

void CButton::SetCheck(int check)
{
    SendMessage(BM_SETCHECK, static_cast<WPARAM>(check), 0);
}

UINT CButton::GetState() const
{
    return static_cast<UINT>(const_cast<CButton*>(this)->SendMessage(BM_GETSTATE, 0, 0));
}

void CButton::SetState(BOOL highlight)
{
    SendMessage(BM_SETSTATE, highlight ? TRUE : FALSE, 0);
}

UINT CButton::GetButtonStyle() const
{
    return GetStyle() & 0xFFFF;
}

void CButton::SetButtonStyle(UINT style, BOOL redraw)
{
    SendMessage(BM_SETSTYLE, style, redraw);
}

void CButton::DrawItem(LPDRAWITEMSTRUCT) {}

BOOL CButton::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (message == WM_DRAWITEM) {
        DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
        *result = TRUE;
        return TRUE;
    }
    return CWnd::OnChildNotify(message, wParam, lParam, result);
}

// ---------------------------------------------------------------------------
// CStatic

BOOL CStatic::Create(LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl(*this, L"Static", text, style, rect, parent, id);
}

HBITMAP CStatic::SetBitmap(HBITMAP bitmap)
{
    return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
}

HBITMAP CStatic::GetBitmap() const
{
    AfxWindowWidget* widget = AfxWindowWidget::Of(this);
    return widget ? widget->image : nullptr;
}

// ---------------------------------------------------------------------------
// CProgressCtrl

BOOL CProgressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    return CreateControl(*this, L"msctls_progress32", L"", style, rect, parent, id);
}

void CProgressCtrl::SetRange32(int lower, int upper)
{
    if (AfxWindowWidget* widget = AfxWindowWidget::Of(this)) {
        widget->rangeLower = lower;
        widget->rangeUpper = upper;
        widget->update();
    }
}

void CProgressCtrl::GetRange(int& lower, int& upper) const
{
    AfxWindowWidget* widget = AfxWindowWidget::Of(this);
    lower = widget ? widget->rangeLower : 0;
    upper = widget ? widget->rangeUpper : 100;
}

int CProgressCtrl::SetPos(int position)
{
    AfxWindowWidget* widget = AfxWindowWidget::Of(this);
    if (!widget)
        return 0;
    const int previous = widget->position;
    const int low = widget->rangeLower < widget->rangeUpper ? widget->rangeLower : widget->rangeUpper;
    const int high = widget->rangeLower < widget->rangeUpper ? widget->rangeUpper : widget->rangeLower;
    widget->position = position < low ? low : position > high ? high : position;
    widget->update();
    return previous;
}

int CProgressCtrl::GetPos() const
{
    AfxWindowWidget* widget = AfxWindowWidget::Of(this);
    return widget ? widget->position : 0;
}

int CProgressCtrl::SetStep(int step)
{
    const int previous = m_step;
    m_step = step;
    return previous;
}

int CProgressCtrl::StepIt()
{
    return SetPos(GetPos() + m_step);
}
