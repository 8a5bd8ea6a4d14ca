// Device contexts: a drawing surface with selected objects and text
// attributes, GDI-style, drawn with a QPainter underneath.
//   CDC          a memory context after CreateCompatibleDC: draws into the
//                bitmap selected into it;
//   CPaintDC     draws a window during its paint message;
//   CClientDC    a picture of what a window shows now (its own background
//                and the controls beneath the asking control), used as the
//                source of a copy; drawing into it does not reach the screen.
#pragma once

#include <memory>
#include <vector>

#include <QImage>
#include <QPainter>

#include "afx/AfxTypes.h"
#include "afx/CString.h"
#include "afx/GdiObjects.h"
#include "afx/Geometry.h"

class CWnd;

class CDC {
public:
    CDC();
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC GetSafeHdc() const { return reinterpret_cast<HDC>(const_cast<CDC*>(this)); }
    static CDC* FromHandle(HDC dc) { return reinterpret_cast<CDC*>(dc); }
    operator HDC() const { return GetSafeHdc(); }

    BOOL CreateCompatibleDC(CDC* dc);
    BOOL DeleteDC();

    CBitmap* SelectObject(CBitmap* bitmap);
    CFont* SelectObject(CFont* font);
    CBrush* SelectObject(CBrush* brush);
    CPen* SelectObject(CPen* pen);
    CFont* GetCurrentFont() const { return m_font; }

    COLORREF SetTextColor(COLORREF colour);
    COLORREF GetTextColor() const { return m_textColour; }
    COLORREF SetBkColor(COLORREF colour);
    COLORREF GetBkColor() const { return m_bkColour; }
    int SetBkMode(int mode);
    int GetBkMode() const { return m_bkMode; }
    UINT SetTextAlign(UINT align);
    UINT GetTextAlign() const { return m_textAlign; }

    // Saves the drawing state (clip, selections, colours); RestoreDC(-1)
    // brings back the last saved one.
    int SaveDC();
    BOOL RestoreDC(int saved);
    // Limits drawing to the part of the current clip inside `rect`.
    int IntersectClipRect(LPCRECT rect);

    BOOL BitBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource, DWORD rop);
    void FillSolidRect(LPCRECT rect, COLORREF colour);
    void FillSolidRect(int x, int y, int width, int height, COLORREF colour);
    void FillRect(LPCRECT rect, CBrush* brush);
    void FrameRect(LPCRECT rect, CBrush* brush);
    void Draw3dRect(LPCRECT rect, COLORREF topLeft, COLORREF bottomRight);
    void DrawFocusRect(LPCRECT rect);
    BOOL Rectangle(LPCRECT rect);
    int DrawText(const CString& text, LPRECT rect, UINT format);
    BOOL TextOut(int x, int y, const CString& text);
    CSize GetTextExtent(const CString& text) const;

    // The picture a copy from this context reads: the selected bitmap of a
    // memory context, the window picture of a client context.
    const QImage* SourceImage() const;
    QPainter* Painter() const { return m_painter; }

protected:
    // Draw with `painter` (not owned), as a window's paint context does.
    void AttachPainter(QPainter* painter, const QFont& windowFont);
    // Owns a picture and draws into it.
    void AttachImage(QImage image, const QFont& windowFont);

private:
    QFont CurrentFont() const;
    void BeginOn(QImage* image);
    void End();

    QPainter* m_painter = nullptr;
    std::unique_ptr<QPainter> m_ownedPainter;
    QImage m_ownImage;
    bool m_memory = false;
    CBitmap* m_bitmap = nullptr;
    CFont* m_font = nullptr;
    CBrush* m_brush = nullptr;
    CPen* m_pen = nullptr;
    QFont m_windowFont;
    COLORREF m_textColour = RGB(0, 0, 0);
    COLORREF m_bkColour = RGB(255, 255, 255);
    int m_bkMode = OPAQUE;
    UINT m_textAlign = TA_LEFT | TA_TOP;

    struct SavedState {
        CFont* font;
        CBrush* brush;
        CPen* pen;
        COLORREF textColour;
        COLORREF bkColour;
        int bkMode;
        UINT textAlign;
    };
    std::vector<SavedState> m_saved;
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
};

class CClientDC : public CDC {
public:
    // `exclude` is the control asking for the picture: it and the controls
    // above it are left out, so the picture shows what lies beneath it.
    explicit CClientDC(CWnd* wnd, CWnd* exclude = nullptr);
};
