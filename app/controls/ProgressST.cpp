#include "ProgressST.h"

#include <cstdlib>

#include "DisplayFormat.h"
#include "Select.h"

BEGIN_MESSAGE_MAP(CProgressST, CProgressCtrl)
    ON_WM_PAINT()
    ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CProgressST::CProgressST() = default;

BOOL CProgressST::SetBitmap(UINT fillTile, UINT background, BOOL repaint)
{
    m_fill.DeleteObject();
    m_background.DeleteObject();
    BOOL loaded = m_fill.LoadBitmap(fillTile);
    if (background != 0)
        loaded = m_background.LoadBitmap(background) && loaded;
    if (repaint)
        Invalidate();
    return loaded;
}

void CProgressST::SetRange32(int lower, int upper)
{
    m_lower = lower;
    m_upper = upper;
    CProgressCtrl::SetRange32(lower, upper);
}

int CProgressST::SetPos(int position)
{
    const int previous = m_position;
    const int low = m_lower < m_upper ? m_lower : m_upper;
    const int high = m_lower < m_upper ? m_upper : m_lower;
    m_position = position < low ? low : position > high ? high : position;
    CProgressCtrl::SetPos(m_position);
    Invalidate();
    return previous;
}

void CProgressST::SetTextFormat(LPCWSTR format, BOOL repaint)
{
    m_format = format ? format : L"";
    if (repaint)
        Invalidate();
}

void CProgressST::SetTextColors(COLORREF filled, COLORREF empty, BOOL repaint)
{
    m_filledText = filled;
    m_emptyText = empty;
    if (repaint)
        Invalidate();
}

int CProgressST::Span() const
{
    const int span = std::abs(m_upper - m_lower);
    return span < 1 ? 1 : span;
}

int CProgressST::PercentForDrawing() const
{
    return static_cast<int>(100.0 / Span() * (std::abs(m_lower) + m_position));
}

CString CProgressST::GetPercentText() const
{
    CString text;
    if (!m_format.IsEmpty())
        text.Format(m_format.c_str(), PercentOfRange(m_lower, m_upper, m_position));
    return text;
}

int CProgressST::GetFilledWidth() const
{
    CRect client;
    GetClientRect(&client);
    const int inner = client.Width() - 2;
    int filled = static_cast<int>((client.Width() - 2) / 100.0 * PercentForDrawing());
    if (filled > inner - 1)
        filled = inner - 1;
    return filled < 0 ? 0 : filled;
}

BOOL CProgressST::OnEraseBkgnd(CDC*)
{
    // The whole bar is painted in OnPaint.
    return TRUE;
}

void CProgressST::OnPaint()
{
    if (m_fill.IsNull()) {
        CProgressCtrl::OnPaint();
        return;
    }
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);

    CDC memory;
    memory.CreateCompatibleDC(&dc);
    if (!m_background.IsNull()) {
        memory.SelectObject(&m_background);
        dc.BitBlt(0, 0, m_background.GetSize().cx, m_background.GetSize().cy, &memory, 0, 0, SRCCOPY);
    } else {
        dc.Draw3dRect(&client, RGB(0xB3, 0xB3, 0xB3), RGB(0xB3, 0xB3, 0xB3));
        CRect inner(client);
        inner.DeflateRect(1, 1);
        dc.Draw3dRect(&inner, RGB(0xDC, 0xDC, 0xDC), RGB(0xDC, 0xDC, 0xDC));
    }

    // The filled part: the tile repeated across and down, then copied in
    // inside the frame.
    const int filled = GetFilledWidth();
    const int innerHeight = client.Height() - 2;
    if (filled > 0 && innerHeight > 0) {
        CBitmap strip;
        strip.CreateCompatibleBitmap(&dc, filled, innerHeight);
        CDC stripDC;
        stripDC.CreateCompatibleDC(&dc);
        stripDC.SelectObject(&strip);
        memory.SelectObject(&m_fill);
        const CSize tile = m_fill.GetSize();
        for (int y = 0; y < innerHeight; y += tile.cy) {
            for (int x = 0; x < filled; x += tile.cx)
                stripDC.BitBlt(x, y, tile.cx, tile.cy, &memory, 0, 0, SRCCOPY);
        }
        dc.BitBlt(1, 1, filled, innerHeight, &stripDC, 0, 0, SRCCOPY);
        stripDC.SelectObject(static_cast<CBitmap*>(nullptr));
    }
    memory.SelectObject(static_cast<CBitmap*>(nullptr));

    // The percentage, centred, in one colour over the filled part and in
    // the other over the rest.
    const CString text = GetPercentText();
    if (text.IsEmpty())
        return;
    CSelFont font(&dc, GetFont());
    CSelBkMode mode(&dc, TRANSPARENT);
    CSelTextAlign align(&dc, TA_LEFT | TA_TOP);
    const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    {
        CSelTextColor colour(&dc, m_filledText);
        dc.SaveDC();
        CRect part(client.left, client.top, client.left + 1 + filled, client.bottom);
        dc.IntersectClipRect(&part);
        CRect area(client);
        dc.DrawText(text, &area, format);
        dc.RestoreDC(-1);
    }
    {
        CSelTextColor colour(&dc, m_emptyText);
        dc.SaveDC();
        CRect part(client.left + 1 + filled, client.top, client.right, client.bottom);
        dc.IntersectClipRect(&part);
        CRect area(client);
        dc.DrawText(text, &area, format);
        dc.RestoreDC(-1);
    }
}
