#include "ButtonST.h"

BEGIN_MESSAGE_MAP(CButtonST, CButton)
    ON_WM_MOUSEMOVE()
    ON_WM_KILLFOCUS()
    ON_WM_ACTIVATE()
    ON_WM_ENABLE()
    ON_WM_CANCELMODE()
    ON_MESSAGE(WM_MOUSELEAVE, &CButtonST::OnMouseLeave)
    ON_CONTROL_REFLECT_EX(BN_CLICKED, &CButtonST::OnClicked)
END_MESSAGE_MAP()

CButtonST::CButtonST()
{
    for (int i = 0; i < BTNST_MAX_COLORS; i += 2) {
        m_colours[i] = RGB(0xFF, 0xFF, 0xFF);
        m_colours[i + 1] = RGB(0x66, 0x66, 0x66);
    }
}

void CButtonST::PreSubclassWindow()
{
    const UINT type = GetButtonStyle() & BS_TYPEMASK;
    m_isCheckBox = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
    m_isDefault = type == BS_DEFPUSHBUTTON;
    // The button draws itself from now on.
    ModifyStyle(0x1F, BS_OWNERDRAW, SWP_FRAMECHANGED);
    CButton::PreSubclassWindow();
}

DWORD CButtonST::LoadImage(Image& image, UINT id, COLORREF transparent)
{
    image.bitmap.DeleteObject();
    image.mask.DeleteObject();
    image.painted.DeleteObject();
    if (id == 0)
        return BTNST_OK;
    if (!image.bitmap.LoadBitmap(id))
        return BTNST_INVALIDRESOURCE;
    image.mask.CreateMask(image.bitmap, transparent);
    // The picture with black where it is transparent: AND-ing the mask
    // keeps the background only there, and OR-ing this picture onto it then
    // leaves the background where the picture is transparent.
    image.painted.Image() = image.bitmap.Image().copy();
    QImage& pixels = image.painted.Image();
    const QImage& mask = image.mask.Image();
    for (int y = 0; y < pixels.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(pixels.scanLine(y));
        const auto* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if (m[x] & 0xFFFFFF)
                out[x] = qRgb(0, 0, 0);
        }
    }
    return BTNST_OK;
}

DWORD CButtonST::SetBitmaps(UINT bitmapIn, COLORREF transparentIn, UINT bitmapOut, COLORREF transparentOut,
                            UINT bitmapDisabled, COLORREF transparentDisabled)
{
    DWORD result = LoadImage(m_images[0], bitmapIn, transparentIn);
    if (result == BTNST_OK)
        result = LoadImage(m_images[1], bitmapOut, transparentOut);
    if (result == BTNST_OK)
        result = LoadImage(m_images[2], bitmapDisabled, transparentDisabled);
    Invalidate();
    return result;
}

DWORD CButtonST::SetBitmaps(UINT bitmapIn, COLORREF transparentIn, UINT bitmapOut, COLORREF transparentOut)
{
    return SetBitmaps(bitmapIn, transparentIn, bitmapOut, transparentOut, 0, 0);
}

DWORD CButtonST::SizeToContent()
{
    if (m_images[0].IsNull())
        return BTNST_INVALIDRESOURCE;
    const CSize size = m_images[0].bitmap.GetSize();
    SetWindowPos(nullptr, -1, -1, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    return BTNST_OK;
}

DWORD CButtonST::SetFlat(BOOL flat, BOOL repaint)
{
    m_isFlat = flat;
    if (repaint)
        Invalidate();
    return BTNST_OK;
}

DWORD CButtonST::DrawBorder(BOOL enable, BOOL repaint)
{
    m_drawBorder = enable;
    if (repaint)
        Invalidate();
    return BTNST_OK;
}

DWORD CButtonST::DrawTransparent(BOOL repaint)
{
    m_drawTransparent = TRUE;
    m_background.Forget();
    if (repaint)
        Invalidate();
    return BTNST_OK;
}

DWORD CButtonST::SetColor(int index, COLORREF colour, BOOL repaint)
{
    if (index < 0 || index >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    m_colours[index] = colour;
    if (repaint)
        Invalidate();
    return BTNST_OK;
}

DWORD CButtonST::SetAlwaysTrack(BOOL alwaysTrack)
{
    m_alwaysTrack = alwaysTrack;
    return BTNST_OK;
}

DWORD CButtonST::SetPressedStyle(int dx, int dy, BOOL repaint)
{
    m_pressedOffset = CPoint(dx, dy);
    if (repaint)
        Invalidate();
    return BTNST_OK;
}

void CButtonST::SetCheck(int check, BOOL repaint)
{
    if (!m_isCheckBox)
        return;
    m_check = check ? 1 : 0;
    if (repaint)
        Invalidate();
}

// ---------------------------------------------------------------------------
// Hover

void CButtonST::OnMouseMove(UINT flags, CPoint point)
{
    CButton::OnMouseMove(flags, point);
    // A press that began elsewhere does not light the button up.
    if ((flags & MK_LBUTTON) && !m_mouseOnButton)
        return;
    CWnd* top = GetTopLevelParent();
    if (!m_alwaysTrack && top && top != CWnd::GetFocus() && !top->IsWindowVisible())
        return;
    if (!m_mouseOnButton) {
        m_mouseOnButton = TRUE;
        Invalidate();
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, m_hWnd, 0};
        ::TrackMouseEvent(&track);
    }
}

LRESULT CButtonST::OnMouseLeave(WPARAM, LPARAM)
{
    CancelHover();
    return 0;
}

void CButtonST::OnKillFocus(CWnd* newWnd)
{
    CButton::OnKillFocus(newWnd);
    CancelHover();
}

void CButtonST::OnActivate(UINT state, CWnd* other, BOOL minimized)
{
    CButton::OnActivate(state, other, minimized);
    if (state == WA_INACTIVE)
        CancelHover();
}

void CButtonST::OnEnable(BOOL enable)
{
    CButton::OnEnable(enable);
    if (!enable)
        CancelHover();
    Invalidate();
}

void CButtonST::OnCancelMode()
{
    CButton::OnCancelMode();
    CancelHover();
}

void CButtonST::CancelHover()
{
    if (m_mouseOnButton) {
        m_mouseOnButton = FALSE;
        Invalidate();
    }
}

BOOL CButtonST::OnClicked()
{
    // The check box changes before its parent hears of the click, so the
    // parent reads the new state.
    if (m_isCheckBox) {
        m_check = m_check ? 0 : 1;
        Invalidate();
    }
    return FALSE;
}

// ---------------------------------------------------------------------------
// Drawing

void CButtonST::DrawImage(CDC* dc, const CRect& rect, bool pressed, bool disabled)
{
    int index = 1;
    if (m_isCheckBox)
        index = m_check ? 0 : 1;
    else if (pressed || m_mouseOnButton)
        index = 0;
    else if (disabled)
        index = 2;
    if (m_images[index].IsNull())
        index = m_images[1].IsNull() ? 0 : 1;
    const Image& image = m_images[index];
    if (image.IsNull())
        return;

    const CSize size = image.bitmap.GetSize();
    int x = rect.left + (rect.Width() - size.cx) / 2;
    int y = rect.top + (rect.Height() - size.cy) / 2;
    if (pressed && !m_isCheckBox) {
        x += m_pressedOffset.x;
        y += m_pressedOffset.y;
    }
    CDC memory;
    memory.CreateCompatibleDC(dc);
    memory.SelectObject(const_cast<CBitmap*>(&image.mask));
    dc->BitBlt(x, y, size.cx, size.cy, &memory, 0, 0, SRCAND);
    memory.SelectObject(const_cast<CBitmap*>(&image.painted));
    dc->BitBlt(x, y, size.cx, size.cy, &memory, 0, 0, SRCPAINT);
    memory.SelectObject(static_cast<CBitmap*>(nullptr));
}

void CButtonST::DrawItem(LPDRAWITEMSTRUCT drawItem)
{
    CDC* dc = CDC::FromHandle(drawItem->hDC);
    const CRect rect(drawItem->rcItem);
    const bool pressed = m_isCheckBox ? m_check != 0 : (drawItem->itemState & ODS_SELECTED) != 0;
    const bool disabled = (drawItem->itemState & ODS_DISABLED) != 0;
    const bool focused = (drawItem->itemState & ODS_FOCUS) != 0;

    if (m_drawTransparent) {
        m_background.Paint(*this, dc);
    } else {
        const COLORREF back = m_mouseOnButton || pressed ? m_colours[BTNST_COLOR_BK_IN]
                              : focused                  ? m_colours[BTNST_COLOR_BK_FOCUS]
                                                         : m_colours[BTNST_COLOR_BK_OUT];
        dc->FillSolidRect(&rect, back);
    }

    if (m_drawBorder) {
        if (m_isFlat) {
            if (pressed)
                dc->Draw3dRect(&rect, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_BTNHIGHLIGHT));
            else if (m_mouseOnButton)
                dc->Draw3dRect(&rect, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW));
        } else {
            CBrush black(RGB(0, 0, 0));
            if (m_isDefault || focused)
                dc->FrameRect(&rect, &black);
            dc->Draw3dRect(&rect, pressed ? GetSysColor(COLOR_BTNSHADOW) : GetSysColor(COLOR_BTNHIGHLIGHT),
                           pressed ? GetSysColor(COLOR_BTNHIGHLIGHT) : GetSysColor(COLOR_BTNSHADOW));
        }
    }

    DrawImage(dc, rect, pressed, disabled);

    if (!m_isFlat && focused) {
        CRect focus(rect);
        focus.DeflateRect(3, 3);
        dc->DrawFocusRect(&focus);
    }
}
