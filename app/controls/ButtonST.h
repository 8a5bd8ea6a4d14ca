// CButtonST: a button drawn from bitmaps. Push buttons show their first
// image while pressed or hovered, the third while disabled and the second
// otherwise; a check box shows its first image when checked and its second
// when not. Images are drawn through a mask of their transparent colour.
#pragma once

#include <afxwin.h>

#include "SavedBackground.h"

class CButtonST : public CButton {
public:
    enum {
        BTNST_COLOR_BK_IN,
        BTNST_COLOR_FG_IN,
        BTNST_COLOR_BK_OUT,
        BTNST_COLOR_FG_OUT,
        BTNST_COLOR_BK_FOCUS,
        BTNST_COLOR_FG_FOCUS,
        BTNST_MAX_COLORS
    };
    enum { BTNST_OK = 0, BTNST_INVALIDRESOURCE = 1, BTNST_INVALIDINDEX = 2 };

    CButtonST();

    // Hover/pressed, normal and disabled images.
    DWORD SetBitmaps(UINT bitmapIn, COLORREF transparentIn, UINT bitmapOut, COLORREF transparentOut,
                     UINT bitmapDisabled, COLORREF transparentDisabled);
    // Two images: for a check box the checked and the unchecked one.
    DWORD SetBitmaps(UINT bitmapIn, COLORREF transparentIn, UINT bitmapOut, COLORREF transparentOut);
    DWORD SizeToContent();
    DWORD SetFlat(BOOL flat = TRUE, BOOL repaint = TRUE);
    DWORD DrawBorder(BOOL enable = TRUE, BOOL repaint = TRUE);
    DWORD DrawTransparent(BOOL repaint = FALSE);
    DWORD SetColor(int index, COLORREF colour, BOOL repaint = TRUE);
    DWORD SetAlwaysTrack(BOOL alwaysTrack = TRUE);
    DWORD SetPressedStyle(int dx, int dy, BOOL repaint = TRUE);

    // Only a check box has a check state.
    void SetCheck(int check, BOOL repaint = TRUE);
    int GetCheck() const { return m_check; }
    BOOL IsCheckBox() const { return m_isCheckBox; }
    BOOL IsHovered() const { return m_mouseOnButton; }

    void DrawItem(LPDRAWITEMSTRUCT drawItem) override;

protected:
    void PreSubclassWindow() override;

    void OnMouseMove(UINT flags, CPoint point);
    void OnKillFocus(CWnd* newWnd);
    void OnActivate(UINT state, CWnd* other, BOOL minimized);
    void OnEnable(BOOL enable);
    void OnCancelMode();
    LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
    BOOL OnClicked();
    DECLARE_MESSAGE_MAP()

private:
    struct Image {
        CBitmap bitmap;
        CBitmap mask;    // white where the picture is transparent
        CBitmap painted; // the picture with its transparent pixels black
        bool IsNull() const { return bitmap.IsNull(); }
    };

    DWORD LoadImage(Image& image, UINT id, COLORREF transparent);
    void CancelHover();
    void DrawImage(CDC* dc, const CRect& rect, bool pressed, bool disabled);

    Image m_images[3];
    bool m_isCheckBox = false;
    bool m_isDefault = false;
    BOOL m_isFlat = TRUE;
    BOOL m_drawBorder = TRUE;
    BOOL m_drawTransparent = FALSE;
    BOOL m_alwaysTrack = TRUE;
    BOOL m_mouseOnButton = FALSE;
    int m_check = 0;
    CPoint m_pressedOffset{1, 1};
    COLORREF m_colours[BTNST_MAX_COLORS];
    CSavedBackground m_background;
};
