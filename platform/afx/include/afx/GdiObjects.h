// Drawing objects: bitmaps (loaded by resource id), fonts, brushes and pens.
// Each object owns its picture, font or colour; a device context only
// borrows it while it is selected.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>

#include "afx/AfxTypes.h"
#include "afx/Geometry.h"

QColor AfxColor(COLORREF colour);
COLORREF AfxColorRef(const QColor& colour);
COLORREF GetSysColor(int index);

class CGdiObject {
public:
    virtual ~CGdiObject() = default;
    virtual BOOL DeleteObject() = 0;
};

// The scale at which bitmaps hold their pixels: 2 on a screen of more than
// one device pixel per logical pixel (150 % and 200 %), else 1. A bitmap's
// size is always given in logical pixels; at scale 2 it holds twice as many
// pixels in each direction, so drawing it on such a screen is sharp.
int AfxBitmapScale();

class CBitmap : public CGdiObject {
public:
    // Loads bitmap resource `id` from the program's artwork: ":/bitmaps/<id>.bmp",
    // or at scale 2 the artwork drawn at twice the size, ":/bitmaps/<id>@2x.bmp".
    BOOL LoadBitmap(UINT id);
    // Bitmaps of `width` x `height` logical pixels at AfxBitmapScale().
    BOOL CreateCompatibleBitmap(class CDC* dc, int width, int height);
    BOOL CreateBitmap(int width, int height);
    // A monochrome mask of `source`: white where the pixel has the
    // transparent colour, black elsewhere.
    BOOL CreateMask(const CBitmap& source, COLORREF transparent);
    BOOL DeleteObject() override;
    // The size in logical pixels.
    int GetBitmap(BITMAP* info) const;
    CSize GetSize() const;
    bool IsNull() const { return m_image.isNull(); }
    HBITMAP GetSafeHandle() const
    {
        return m_image.isNull() ? nullptr : reinterpret_cast<HBITMAP>(const_cast<CBitmap*>(this));
    }
    static CBitmap* FromHandle(HBITMAP handle) { return reinterpret_cast<CBitmap*>(handle); }
    operator HBITMAP() const { return GetSafeHandle(); }

    // The pixels; their device pixel ratio is the bitmap's scale.
    QImage& Image() { return m_image; }
    const QImage& Image() const { return m_image; }

private:
    QImage m_image;
};

class CFont : public CGdiObject {
public:
    // A negative height is the character height in pixels, a positive one
    // the cell height; both are taken as the pixel size. A missing face falls
    // back to a family that has Chinese and Korean glyphs.
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                    BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision, BYTE quality,
                    BYTE pitchAndFamily, LPCWSTR faceName);
    BOOL CreateFontIndirect(const LOGFONTW* logFont);
    BOOL CreatePointFont(int pointSizeTenths, LPCWSTR faceName);
    // The platform's status-bar font.
    BOOL CreateStatusBarFont();
    BOOL DeleteObject() override;
    int GetLogFont(LOGFONTW* logFont) const;
    bool IsNull() const { return !m_valid; }
    HFONT GetSafeHandle() const { return m_valid ? reinterpret_cast<HFONT>(const_cast<CFont*>(this)) : nullptr; }
    static CFont* FromHandle(HFONT handle) { return reinterpret_cast<CFont*>(handle); }
    operator HFONT() const { return GetSafeHandle(); }

    const QFont& Font() const { return m_font; }

private:
    QFont m_font;
    LOGFONTW m_logFont{};
    bool m_valid = false;
};

class CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF colour) { CreateSolidBrush(colour); }
    BOOL CreateSolidBrush(COLORREF colour);
    BOOL DeleteObject() override;
    bool IsNull() const { return !m_valid; }
    HBRUSH GetSafeHandle() const { return m_valid ? reinterpret_cast<HBRUSH>(const_cast<CBrush*>(this)) : nullptr; }
    static CBrush* FromHandle(HBRUSH handle) { return reinterpret_cast<CBrush*>(handle); }
    operator HBRUSH() const { return GetSafeHandle(); }
    COLORREF Colour() const { return m_colour; }

private:
    COLORREF m_colour = 0;
    bool m_valid = false;
};

// Returns the brush that paints nothing (the hollow stock brush).
HBRUSH AfxNullBrush();

class CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int style, int width, COLORREF colour) { CreatePen(style, width, colour); }
    BOOL CreatePen(int style, int width, COLORREF colour);
    BOOL DeleteObject() override;
    COLORREF Colour() const { return m_colour; }
    int Width() const { return m_width; }

private:
    COLORREF m_colour = 0;
    int m_width = 1;
};
#define PS_SOLID 0

// The family used when a requested face is missing: one with Traditional
// Chinese and Korean glyphs when the machine has one.
QString AfxFallbackFontFamily();
// A font of `face` at `pixelSize`, falling back as above.
QFont AfxMakeFont(const wchar_t* face, int pixelSize, int weight);
