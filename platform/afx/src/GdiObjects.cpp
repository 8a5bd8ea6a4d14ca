#include "afx/GdiObjects.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>

#include <cwchar>

#include "afx/CDC.h"

QColor AfxColor(COLORREF colour)
{
    return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

COLORREF AfxColorRef(const QColor& colour)
{
    return RGB(colour.red(), colour.green(), colour.blue());
}

COLORREF GetSysColor(int index)
{
    const QPalette palette = QApplication::palette();
    switch (index) {
    case COLOR_WINDOW:
        return AfxColorRef(palette.color(QPalette::Base));
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
        return AfxColorRef(palette.color(QPalette::WindowText));
    case COLOR_BTNFACE:
        return AfxColorRef(palette.color(QPalette::Window));
    case COLOR_BTNSHADOW:
        return AfxColorRef(palette.color(QPalette::Dark));
    case COLOR_GRAYTEXT:
        return AfxColorRef(palette.color(QPalette::Disabled, QPalette::WindowText));
    case COLOR_BTNHIGHLIGHT:
        return AfxColorRef(palette.color(QPalette::Light));
    case COLOR_INFOTEXT:
        return AfxColorRef(palette.color(QPalette::ToolTipText));
    case COLOR_INFOBK:
        return AfxColorRef(palette.color(QPalette::ToolTipBase));
    default:
        return RGB(0, 0, 0);
    }
}

// ---------------------------------------------------------------------------
// Bitmaps

int AfxBitmapScale()
{
    // The highest ratio of the screens; 1.5 takes the 2x pictures too, which
    // the painter then draws at three quarters of their size.
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    return ratio > 1.0 ? 2 : 1;
}

BOOL CBitmap::LoadBitmap(UINT id)
{
    const int scale = AfxBitmapScale();
    QImage image;
    if (scale > 1)
        image.load(QStringLiteral(":/bitmaps/%1@2x.bmp").arg(id));
    if (image.isNull()) {
        // Without a 2x picture the 1x one is drawn larger.
        image.load(QStringLiteral(":/bitmaps/%1.bmp").arg(id));
        if (image.isNull())
            return FALSE;
    } else {
        image.setDevicePixelRatio(scale);
    }
    // 32-bit pixels: the format the painter draws fastest and that the
    // raster operations (masks) work on.
    m_image = image.convertToFormat(QImage::Format_RGB32);
    return TRUE;
}

BOOL CBitmap::CreateCompatibleBitmap(CDC*, int width, int height)
{
    return CreateBitmap(width, height);
}

BOOL CBitmap::CreateBitmap(int width, int height)
{
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return FALSE;
    const int scale = AfxBitmapScale();
    m_image = QImage(width * scale, height * scale, QImage::Format_RGB32);
    m_image.setDevicePixelRatio(scale);
    m_image.fill(Qt::black);
    return TRUE;
}

CSize CBitmap::GetSize() const
{
    const QSizeF size = m_image.deviceIndependentSize();
    return CSize(qRound(size.width()), qRound(size.height()));
}

BOOL CBitmap::CreateMask(const CBitmap& source, COLORREF transparent)
{
    if (source.IsNull())
        return FALSE;
    const QRgb key = qRgb(GetRValue(transparent), GetGValue(transparent), GetBValue(transparent));
    QImage mask(source.m_image.size(), QImage::Format_RGB32);
    for (int y = 0; y < mask.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(source.m_image.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(mask.scanLine(y));
        for (int x = 0; x < mask.width(); ++x)
            out[x] = (in[x] & 0xFFFFFF) == (key & 0xFFFFFF) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
    mask.setDevicePixelRatio(source.m_image.devicePixelRatio());
    m_image = mask;
    return TRUE;
}

BOOL CBitmap::DeleteObject()
{
    if (m_image.isNull())
        return FALSE;
    m_image = QImage();
    return TRUE;
}

int CBitmap::GetBitmap(BITMAP* info) const
{
    if (!info || m_image.isNull())
        return 0;
    *info = BITMAP{};
    const CSize size = GetSize();
    info->bmWidth = size.cx;
    info->bmHeight = size.cy;
    info->bmWidthBytes = static_cast<LONG>(m_image.bytesPerLine());
    info->bmPlanes = 1;
    info->bmBitsPixel = static_cast<WORD>(m_image.depth());
    return static_cast<int>(sizeof(BITMAP));
}

// ---------------------------------------------------------------------------
// Fonts

QString AfxFallbackFontFamily()
{
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* name :
             {"WenQuanYi Micro Hei", "Noto Sans CJK TC", "Noto Sans CJK KR", "AR PL UMing TW", "Droid Sans Fallback"}) {
            if (families.contains(QString::fromLatin1(name)))
                return QString::fromLatin1(name);
        }
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QFont AfxMakeFont(const wchar_t* face, int pixelSize, int weight)
{
    QFont font;
    const QString requested = QString::fromWCharArray(face ? face : L"");
    const QString fallback = AfxFallbackFontFamily();
    if (!requested.isEmpty() && QFontDatabase::families().contains(requested, Qt::CaseInsensitive))
        font.setFamilies({requested, fallback});
    else
        font.setFamilies({fallback});
    font.setPixelSize(pixelSize > 0 ? pixelSize : 12);
    font.setWeight(weight >= FW_BOLD ? QFont::Bold : QFont::Normal);
    return font;
}

BOOL CFont::CreateFont(int height, int width, int escapement, int orientation, int weight, BYTE italic, BYTE underline,
                       BYTE strikeOut, BYTE charSet, BYTE outPrecision, BYTE clipPrecision, BYTE quality,
                       BYTE pitchAndFamily, LPCWSTR faceName)
{
    LOGFONTW lf{height,    width,   escapement,   orientation,   weight,  italic,         underline,
                strikeOut, charSet, outPrecision, clipPrecision, quality, pitchAndFamily, {}};
    if (faceName)
        std::wcsncpy(lf.lfFaceName, faceName, LF_FACESIZE - 1);
    return CreateFontIndirect(&lf);
}

BOOL CFont::CreateFontIndirect(const LOGFONTW* logFont)
{
    if (!logFont)
        return FALSE;
    m_logFont = *logFont;
    m_logFont.lfFaceName[LF_FACESIZE - 1] = L'\0';
    int pixels = logFont->lfHeight < 0 ? -logFont->lfHeight : logFont->lfHeight;
    m_font = AfxMakeFont(m_logFont.lfFaceName, pixels, logFont->lfWeight);
    m_font.setItalic(logFont->lfItalic != 0);
    m_font.setUnderline(logFont->lfUnderline != 0);
    m_font.setStrikeOut(logFont->lfStrikeOut != 0);
    m_valid = true;
    return TRUE;
}

BOOL CFont::CreatePointFont(int pointSizeTenths, LPCWSTR faceName)
{
    // 96 pixels per inch, 72 points per inch.
    int pixels = (pointSizeTenths * 96 + 360) / 720;
    return CreateFont(-pixels, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, faceName);
}

BOOL CFont::CreateStatusBarFont()
{
    const QFont system = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    int pixels = system.pixelSize() > 0 ? system.pixelSize() : (system.pointSize() * 96 + 36) / 72;
    return CreateFont(-pixels, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                      system.family().toStdWString().c_str());
}

BOOL CFont::DeleteObject()
{
    if (!m_valid)
        return FALSE;
    m_valid = false;
    m_font = QFont();
    return TRUE;
}

int CFont::GetLogFont(LOGFONTW* logFont) const
{
    if (!logFont || !m_valid)
        return 0;
    *logFont = m_logFont;
    return static_cast<int>(sizeof(LOGFONTW));
}

// ---------------------------------------------------------------------------
// Brushes and pens

BOOL CBrush::CreateSolidBrush(COLORREF colour)
{
    m_colour = colour;
    m_valid = true;
    return TRUE;
}

BOOL CBrush::DeleteObject()
{
    bool was = m_valid;
    m_valid = false;
    return was ? TRUE : FALSE;
}

HBRUSH AfxNullBrush()
{
    // A distinct handle that no CBrush has: drawing code treats it as "paint
    // nothing".
    static char hollow;
    return reinterpret_cast<HBRUSH>(&hollow);
}

BOOL CPen::CreatePen(int, int width, COLORREF colour)
{
    m_colour = colour;
    m_width = width > 0 ? width : 1;
    return TRUE;
}

BOOL CPen::DeleteObject()
{
    return TRUE;
}
