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
    m_background.Paint(*this, dc);
    return TRUE;
}

LRESULT CTransparentStatic2::OnSetText(WPARAM, LPARAM)
{
    const LRESULT result = Default();
    Invalidate();
    UpdateWindow();
    return result;
}
