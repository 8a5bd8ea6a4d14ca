#include "afx/CDC.h"

#include <QFontMetrics>

#include <utility>

#include "WindowWidget.h"
#include "afx/CWnd.h"

CDC::CDC() = default;

CDC::~CDC()
{
    End();
}

void CDC::End()
{
    if (m_ownedPainter) {
        if (m_ownedPainter->isActive())
            m_ownedPainter->end();
        m_ownedPainter.reset();
    }
    m_painter = nullptr;
}

void CDC::BeginOn(QImage* image)
{
    End();
    if (!image || image->isNull())
        return;
    m_ownedPainter = std::make_unique<QPainter>(image);
    m_painter = m_ownedPainter.get();
}

BOOL CDC::CreateCompatibleDC(CDC* dc)
{
    End();
    m_memory = true;
    m_bitmap = nullptr;
    if (dc)
        m_windowFont = dc->m_windowFont;
    return TRUE;
}

BOOL CDC::DeleteDC()
{
    End();
    m_bitmap = nullptr;
    m_memory = false;
    return TRUE;
}

void CDC::AttachPainter(QPainter* painter, const QFont& windowFont)
{
    End();
    m_painter = painter;
    m_windowFont = windowFont;
}

void CDC::AttachImage(QImage image, const QFont& windowFont)
{
    m_ownImage = std::move(image);
    m_windowFont = windowFont;
    BeginOn(&m_ownImage);
}

CBitmap* CDC::SelectObject(CBitmap* bitmap)
{
    CBitmap* previous = m_bitmap;
    if (!m_memory)
        return previous;
    m_bitmap = bitmap;
    BeginOn(bitmap ? &bitmap->Image() : nullptr);
    return previous;
}

CFont* CDC::SelectObject(CFont* font)
{
    return std::exchange(m_font, font);
}

CBrush* CDC::SelectObject(CBrush* brush)
{
    return std::exchange(m_brush, brush);
}

CPen* CDC::SelectObject(CPen* pen)
{
    return std::exchange(m_pen, pen);
}

COLORREF CDC::SetTextColor(COLORREF colour)
{
    return std::exchange(m_textColour, colour);
}

COLORREF CDC::SetBkColor(COLORREF colour)
{
    return std::exchange(m_bkColour, colour);
}

int CDC::SetBkMode(int mode)
{
    return std::exchange(m_bkMode, mode);
}

UINT CDC::SetTextAlign(UINT align)
{
    return std::exchange(m_textAlign, align);
}

const QImage* CDC::SourceImage() const
{
    if (m_memory)
        return m_bitmap ? &m_bitmap->Image() : nullptr;
    return m_ownImage.isNull() ? nullptr : &m_ownImage;
}

int CDC::SaveDC()
{
    if (m_painter)
        m_painter->save();
    m_saved.push_back({m_font, m_brush, m_pen, m_textColour, m_bkColour, m_bkMode, m_textAlign});
    return static_cast<int>(m_saved.size());
}

BOOL CDC::RestoreDC(int saved)
{
    if (m_saved.empty())
        return FALSE;
    const size_t keep = saved < 0 ? m_saved.size() - 1 : static_cast<size_t>(saved - 1);
    if (keep >= m_saved.size())
        return FALSE;
    while (m_saved.size() > keep) {
        const SavedState& state = m_saved.back();
        m_font = state.font;
        m_brush = state.brush;
        m_pen = state.pen;
        m_textColour = state.textColour;
        m_bkColour = state.bkColour;
        m_bkMode = state.bkMode;
        m_textAlign = state.textAlign;
        m_saved.pop_back();
        if (m_painter)
            m_painter->restore();
    }
    return TRUE;
}

int CDC::IntersectClipRect(LPCRECT rect)
{
    if (!m_painter || !rect)
        return 0;
    m_painter->setClipRect(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top),
                           m_painter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    return 1;
}

BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource, DWORD rop)
{
    if (!m_painter || !source)
        return FALSE;
    const QImage* image = source->SourceImage();
    if (!image)
        return FALSE;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (rop) {
    case SRCCOPY:
        break;
    case SRCAND:
        mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case SRCPAINT:
        mode = QPainter::RasterOp_SourceOrDestination;
        break;
    case SRCINVERT:
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    default:
        return FALSE;
    }
    // The arguments are logical pixels; the picture may hold more of them
    // (AfxBitmapScale), and the painter scales to its own device.
    const qreal scale = image->devicePixelRatio();
    m_painter->save();
    m_painter->setCompositionMode(mode);
    // A plain copy drawn at another scale (a 2x picture on a 150 % screen)
    // is smoothed; the mask operations keep whole pixels, so that a mask and
    // its image stay aligned pixel for pixel.
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform, rop == SRCCOPY);
    m_painter->drawImage(QPointF(x, y), *image,
                         QRectF(xSource * scale, ySource * scale, width * scale, height * scale));
    m_painter->restore();
    return TRUE;
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF colour)
{
    if (!m_painter || !rect)
        return;
    m_painter->fillRect(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top),
                        AfxColor(colour));
    m_bkColour = colour;
}

void CDC::FillSolidRect(int x, int y, int width, int height, COLORREF colour)
{
    CRect rect(x, y, x + width, y + height);
    FillSolidRect(&rect, colour);
}

void CDC::FillRect(LPCRECT rect, CBrush* brush)
{
    if (!m_painter || !rect || !brush || brush->IsNull())
        return;
    m_painter->fillRect(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top),
                        AfxColor(brush->Colour()));
}

void CDC::FrameRect(LPCRECT rect, CBrush* brush)
{
    if (!m_painter || !rect || !brush || brush->IsNull())
        return;
    CRect r(*rect);
    if (r.IsRectEmpty())
        return;
    const COLORREF c = brush->Colour();
    Draw3dRect(rect, c, c);
}

void CDC::Draw3dRect(LPCRECT rect, COLORREF topLeft, COLORREF bottomRight)
{
    if (!m_painter || !rect)
        return;
    CRect r(*rect);
    const QColor tl = AfxColor(topLeft);
    const QColor br = AfxColor(bottomRight);
    m_painter->fillRect(QRect(r.left, r.top, r.Width() - 1, 1), tl);
    m_painter->fillRect(QRect(r.left, r.top, 1, r.Height() - 1), tl);
    m_painter->fillRect(QRect(r.right - 1, r.top, 1, r.Height()), br);
    m_painter->fillRect(QRect(r.left, r.bottom - 1, r.Width(), 1), br);
}

void CDC::DrawFocusRect(LPCRECT rect)
{
    if (!m_painter || !rect)
        return;
    CRect r(*rect);
    QPen pen(Qt::black, 1, Qt::DotLine);
    m_painter->save();
    m_painter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    pen.setColor(Qt::white);
    m_painter->setPen(pen);
    m_painter->setBrush(Qt::NoBrush);
    m_painter->drawRect(QRect(r.left, r.top, r.Width() - 1, r.Height() - 1));
    m_painter->restore();
}

BOOL CDC::Rectangle(LPCRECT rect)
{
    if (!m_painter || !rect)
        return FALSE;
    CRect r(*rect);
    m_painter->save();
    m_painter->setPen(m_pen ? QPen(AfxColor(m_pen->Colour()), m_pen->Width()) : QPen(Qt::black));
    if (m_brush && !m_brush->IsNull())
        m_painter->setBrush(AfxColor(m_brush->Colour()));
    else
        m_painter->setBrush(Qt::white);
    m_painter->drawRect(QRect(r.left, r.top, r.Width() - 1, r.Height() - 1));
    m_painter->restore();
    return TRUE;
}

QFont CDC::CurrentFont() const
{
    return m_font && !m_font->IsNull() ? m_font->Font() : m_windowFont;
}

CSize CDC::GetTextExtent(const CString& text) const
{
    QFontMetrics metrics(CurrentFont());
    const QString s = QString::fromStdWString(text);
    return CSize(metrics.horizontalAdvance(s), metrics.height());
}

int CDC::DrawText(const CString& text, LPRECT rect, UINT format)
{
    if (!rect)
        return 0;
    const QString s = QString::fromStdWString(text);
    const QFont font = CurrentFont();
    int flags = 0;
    flags |= (format & DT_CENTER) ? Qt::AlignHCenter : (format & DT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
    if (format & DT_SINGLELINE)
        flags |= (format & DT_VCENTER) ? Qt::AlignVCenter : (format & DT_BOTTOM) ? Qt::AlignBottom : Qt::AlignTop;
    else
        flags |= Qt::AlignTop;
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE))
        flags |= Qt::TextWordWrap | Qt::TextWrapAnywhere;
    if (format & DT_EXPANDTABS)
        flags |= Qt::TextExpandTabs;
    if (!(format & DT_NOPREFIX))
        flags |= Qt::TextShowMnemonic;

    CRect r(*rect);
    QRect box(r.left, r.top, r.Width(), r.Height());
    if (format & DT_CALCRECT) {
        QFontMetrics metrics(font);
        const int width = (format & DT_WORDBREAK) && r.Width() > 0 ? r.Width() : 100000;
        QRect needed = metrics.boundingRect(QRect(r.left, r.top, width, 100000), flags, s);
        rect->right = rect->left + needed.width();
        rect->bottom = rect->top + needed.height();
        return needed.height();
    }
    if (!m_painter)
        return 0;
    m_painter->save();
    m_painter->setFont(font);
    if (!(format & DT_NOCLIP))
        m_painter->setClipRect(box, Qt::IntersectClip);
    QRect used;
    if (m_bkMode == OPAQUE) {
        used = m_painter->boundingRect(box, flags, s);
        m_painter->fillRect(used, AfxColor(m_bkColour));
    }
    m_painter->setPen(AfxColor(m_textColour));
    m_painter->drawText(box, flags, s, &used);
    m_painter->restore();
    return used.height();
}

BOOL CDC::TextOut(int x, int y, const CString& text)
{
    if (!m_painter)
        return FALSE;
    const QString s = QString::fromStdWString(text);
    const QFont font = CurrentFont();
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(s);
    int left = x;
    if ((m_textAlign & TA_CENTER) == TA_CENTER)
        left = x - width / 2;
    else if (m_textAlign & TA_RIGHT)
        left = x - width;
    int top = y;
    if ((m_textAlign & TA_BASELINE) == TA_BASELINE)
        top = y - metrics.ascent();
    else if (m_textAlign & TA_BOTTOM)
        top = y - metrics.height();
    m_painter->save();
    m_painter->setFont(font);
    if (m_bkMode == OPAQUE)
        m_painter->fillRect(QRect(left, top, width, metrics.height()), AfxColor(m_bkColour));
    m_painter->setPen(AfxColor(m_textColour));
    m_painter->drawText(QPoint(left, top + metrics.ascent()), s);
    m_painter->restore();
    return TRUE;
}

CPaintDC::CPaintDC(CWnd* wnd)
{
    AfxWindowWidget* widget = wnd ? AfxWindowWidget::Of(wnd) : nullptr;
    if (widget && widget->ActivePainter())
        AttachPainter(widget->ActivePainter(), widget->font());
}

CClientDC::CClientDC(CWnd* wnd, CWnd* exclude)
{
    AfxWindowWidget* widget = wnd ? AfxWindowWidget::Of(wnd) : nullptr;
    if (!widget)
        return;
    AfxWindowWidget* skip = exclude ? AfxWindowWidget::Of(exclude) : nullptr;
    AttachImage(widget->RenderBeneath(skip), widget->font());
}
