#include "TransparentStatic2.h"

BEGIN_MESSAGE_MAP(CTransparentStatic2, CStatic)
    ON_WM_CTLCOLOR_REFLECT()
    ON_WM_ERASEBKGND()
    ON_MESSAGE(WM_SETTEXT, &CTransparentStatic2::OnSetText)
END_MESSAGE_MAP()

HBRUSH CTransparentStatic2::CtlColor(CDC* dc, UINT)
{
    dc->SetBkMode(TRANSPARENT);
    dc->SetTextColor(RGB(0xEF, 0xEF, 0xEF));
    return AfxNullBrush();
}

BOOL CTransparentStatic2::OnEraseBkgnd(CDC* dc)
{
    CRect client;
    GetClientRect(&client);
    CDC memory;
    memory.CreateCompatibleDC(dc);
    if (m_background.IsNull()) {
        CWnd* parent = GetParent();
        CRect inParent;
        GetWindowRect(&inParent);
        if (parent)
            parent->ScreenToClient(&inParent);
        CClientDC parentDC(parent, this);
        m_background.CreateCompatibleBitmap(dc, client.Width(), client.Height());
        memory.SelectObject(&m_background);
        memory.BitBlt(0, 0, client.Width(), client.Height(), &parentDC, inParent.left, inParent.top, SRCCOPY);
    } else {
        memory.SelectObject(&m_background);
    }
    dc->BitBlt(0, 0, client.Width(), client.Height(), &memory, 0, 0, SRCCOPY);
    memory.SelectObject(static_cast<CBitmap*>(nullptr));
    return TRUE;
}

LRESULT CTransparentStatic2::OnSetText(WPARAM, LPARAM)
{
    const LRESULT result = Default();
    Invalidate();
    UpdateWindow();
    return result;
}
