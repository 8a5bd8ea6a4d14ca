// CProgressST: a progress bar drawn from a fill tile over a background
// bitmap, with its percentage centred on it.
#pragma once

#include <afxwin.h>

class CProgressST : public CProgressCtrl {
public:
    CProgressST();

    // Fill tile and background (0 for a plain frame instead).
    BOOL SetBitmap(UINT fillTile, UINT background = 0, BOOL repaint = TRUE);
    void SetRange32(int lower, int upper) override;
    int SetPos(int position) override;
    // printf format of the percentage text, e.g. "%d%%".
    void SetTextFormat(LPCWSTR format, BOOL repaint = TRUE);
    void SetTextColors(COLORREF filled, COLORREF empty, BOOL repaint = TRUE);

    int GetLower() const { return m_lower; }
    int GetUpper() const { return m_upper; }
    int GetPosition() const { return m_position; }
    // The text shown on the bar now.
    CString GetPercentText() const;
    // Width in pixels of the filled part for the current position.
    int GetFilledWidth() const;

protected:
    void OnPaint();
    BOOL OnEraseBkgnd(CDC* dc);
    DECLARE_MESSAGE_MAP()

private:
    int Span() const;
    int PercentForDrawing() const;

    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    int m_step = 10;
    COLORREF m_filledText = RGB(0xEF, 0xEF, 0xEF);
    COLORREF m_emptyText = RGB(0xEF, 0xEF, 0xEF);
    CString m_format = L"%d%%";
    CBitmap m_fill;
    CBitmap m_background;
};
