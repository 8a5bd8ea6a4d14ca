// Draws every bitmap resource of the downloader window and writes them as
// 24-bit BMP files named <id>.bmp, and <id>@2x.bmp at twice the size, into
// the folder given on the command line. Runs at build time; the pictures are
// made here from shapes and text so that they can be changed by editing code.
//
// Look: a dark slate panel, light-grey text and a gold accent (the colour of
// the speed graph's bars). Magenta (255, 0, 255) marks transparent pixels of
// button images.
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>
#include <map>
#include <utility>

#include "ArtworkPalette.h"

namespace {

using namespace artwork;

QString CjkFamily()
{
    for (const QString& family : {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK TC")}) {
        if (QFontDatabase::families().contains(family))
            return family;
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont CaptionFont(int pixels, bool bold = false)
{
    QFont font(CjkFamily());
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// A picture of w x h logical pixels drawn at `scale`: the painter works in
// logical pixels, so every shape and text keeps its place and gains detail.
QImage Canvas(int w, int h, qreal scale)
{
    QImage image(qRound(w * scale), qRound(h * scale), QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    return image;
}

enum class ButtonState { Hover, Normal, Disabled };

// A rounded button on magenta, with its caption centred.
QImage Button(int w, int h, const QString& text, ButtonState state, qreal scale)
{
    QImage image = Canvas(w, h, scale);
    image.fill(kMagenta);
    QPainter p(&image);
    // No antialiasing: edge pixels must be either magenta or button colour.
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 4, 4);
    QLinearGradient fill(0, 0, 0, h);
    QColor border;
    QColor textColour;
    switch (state) {
    case ButtonState::Hover:
        fill.setColorAt(0, QColor(0xF2, 0xD6, 0x4A));
        fill.setColorAt(1, QColor(0xB0, 0x92, 0x0C));
        border = QColor(0xFF, 0xEE, 0x99);
        textColour = QColor(0x20, 0x1A, 0x05);
        break;
    case ButtonState::Normal:
        fill.setColorAt(0, QColor(0x55, 0x5E, 0x6B));
        fill.setColorAt(1, QColor(0x30, 0x36, 0x3F));
        border = kGold;
        textColour = QColor(0xEF, 0xEF, 0xEF);
        break;
    case ButtonState::Disabled:
        fill.setColorAt(0, QColor(0x44, 0x47, 0x4C));
        fill.setColorAt(1, QColor(0x38, 0x3A, 0x3E));
        border = QColor(0x5A, 0x5D, 0x62);
        textColour = QColor(0x7A, 0x7D, 0x82);
        break;
    }
    p.setPen(border);
    p.setBrush(fill);
    p.drawPath(shape);
    p.setPen(textColour);
    p.setFont(CaptionFont(h >= 24 ? 14 : 12, true));
    p.drawText(QRect(0, 0, w, h), Qt::AlignCenter, text);
    return image;
}

QImage CheckBox(bool checked, qreal scale)
{
    QImage image = Canvas(13, 13, scale);
    image.fill(kMagenta);
    QPainter p(&image);
    p.setPen(kGold);
    p.setBrush(kPanelDark);
    p.drawRect(0, 0, 12, 12);
    if (checked) {
        p.setPen(QPen(kGold, 2));
        p.drawLine(3, 6, 5, 9);
        p.drawLine(5, 9, 10, 3);
    }
    return image;
}

QImage ProgressFill(qreal scale)
{
    QImage image = Canvas(85, 16, scale);
    QPainter p(&image);
    QLinearGradient fill(0, 0, 0, 16);
    fill.setColorAt(0, QColor(0xF0, 0xD8, 0x50));
    fill.setColorAt(0.5, kGold);
    fill.setColorAt(1, QColor(0x8E, 0x7A, 0x08));
    p.fillRect(image.rect(), fill);
    // Diagonal stripes that tile seamlessly every 17 pixels.
    p.setPen(QPen(QColor(0xFF, 0xF0, 0x90, 70), 3));
    for (int x = -16; x < 85 + 16; x += 17)
        p.drawLine(x, 16, x + 16, 0);
    return image;
}

QImage ProgressBack(qreal scale)
{
    QImage image = Canvas(286, 18, scale);
    QPainter p(&image);
    p.fillRect(image.rect(), kPanelDark);
    p.setPen(kEdge);
    p.drawRect(0, 0, 285, 17);
    p.setPen(QColor(0x10, 0x12, 0x16));
    p.drawLine(1, 1, 284, 1);
    return image;
}

QImage Strip(int w, int h, bool horizontal, qreal scale)
{
    QImage image = Canvas(w, h, scale);
    QPainter p(&image);
    QLinearGradient fill(0, 0, horizontal ? 0 : w, horizontal ? h : 0);
    fill.setColorAt(0, QColor(0x34, 0x3A, 0x44));
    fill.setColorAt(1, kPanelDark);
    p.fillRect(image.rect(), fill);
    p.setPen(kGold);
    if (horizontal)
        p.drawLine(0, h - 1, w - 1, h - 1);
    else
        p.drawLine(w - 1, 0, w - 1, h - 1);
    return image;
}

QImage TopStrip(qreal scale)
{
    QImage image = Strip(748, 20, true, scale);
    QPainter p(&image);
    p.setPen(kCaption);
    p.setFont(CaptionFont(12, true));
    p.drawText(QRect(28, 0, 400, 20), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Brightholm DownLoader"));
    p.setBrush(kGold);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(14, 10), 5, 5);
    return image;
}

QImage BottomStrip(qreal scale)
{
    QImage image = Canvas(748, 21, scale);
    QPainter p(&image);
    QLinearGradient fill(0, 0, 0, 21);
    fill.setColorAt(0, kPanelDark);
    fill.setColorAt(1, QColor(0x34, 0x3A, 0x44));
    p.fillRect(image.rect(), fill);
    p.setPen(kGold);
    p.drawLine(0, 0, 747, 0);
    return image;
}

// Caption of a value label, right-aligned so that it ends just left of the
// label. Positions are the main dialog's label positions minus the panel's
// own position (363, 20).
void Caption(QPainter& p, int right, int top, const QString& text)
{
    p.drawText(QRect(4, top - 2, right - 4 - 4, 18), Qt::AlignRight | Qt::AlignVCenter, text);
}

QImage Panel(qreal scale)
{
    QImage image = Canvas(385, 396, scale);
    QPainter p(&image);
    QLinearGradient fill(0, 0, 385, 396);
    fill.setColorAt(0, kPanel);
    fill.setColorAt(1, kPanelDark);
    p.fillRect(image.rect(), fill);

    // Groups: file information, times, speed with its graph, progress, folder.
    p.setPen(kEdge);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRect(6, 2, 372, 92), 4, 4);
    p.drawRoundedRect(QRect(6, 104, 372, 32), 4, 4);
    p.drawRoundedRect(QRect(6, 146, 372, 104), 4, 4);
    p.drawRoundedRect(QRect(6, 256, 372, 62), 4, 4);
    p.drawRoundedRect(QRect(6, 326, 372, 34), 4, 4);
    p.setPen(QColor(0x30, 0x36, 0x3F));
    p.drawLine(10, 32, 374, 32);
    p.drawLine(10, 63, 374, 63);

    p.setPen(kCaption);
    p.setFont(CaptionFont(12));
    Caption(p, 93, 8, QStringLiteral("目前檔案："));
    Caption(p, 93, 39, QStringLiteral("已下載："));
    Caption(p, 93, 70, QStringLiteral("檔案大小："));
    Caption(p, 97, 114, QStringLiteral("經過時間："));
    p.drawText(QRect(184, 112, 85, 18), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("剩餘時間："));
    Caption(p, 93, 153, QStringLiteral("下載速度："));
    Caption(p, 78, 262, QStringLiteral("檔案進度"));
    Caption(p, 78, 292, QStringLiteral("全部進度"));
    Caption(p, 84, 336, QStringLiteral("下載路徑"));
    return image;
}

QImage GraphBack(qreal scale)
{
    QImage image = Canvas(342, 69, scale);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(0x12, 0x15, 0x1A));
    p.setPen(QColor(0x25, 0x2B, 0x33));
    for (int y = 0; y < 69; y += 69 / 4)
        p.drawLine(0, y, 341, y);
    for (int x = 0; x < 342; x += 5 * 6)
        p.drawLine(x, 0, x, 68);
    p.setPen(kEdge);
    p.drawRect(0, 0, 341, 68);
    p.setPen(QColor(0x6A, 0x72, 0x7E));
    p.setFont(CaptionFont(9));
    p.drawText(QRect(300, 2, 38, 12), Qt::AlignRight | Qt::AlignTop, QStringLiteral("100M"));
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    using B = ButtonState;
    const std::map<int, std::function<QImage(qreal)>> bitmaps = {
        {164, [](qreal s) { return Button(65, 19, QStringLiteral("變更"), B::Hover, s); }},
        {165, [](qreal s) { return Button(65, 19, QStringLiteral("變更"), B::Normal, s); }},
        {166, [](qreal s) { return Button(65, 19, QStringLiteral("變更"), B::Disabled, s); }},
        {168, [](qreal s) { return Button(65, 19, QStringLiteral("說明"), B::Hover, s); }},
        {169, [](qreal s) { return Button(65, 19, QStringLiteral("說明"), B::Normal, s); }},
        {170, [](qreal s) { return Button(51, 23, QStringLiteral("說明"), B::Disabled, s); }},
        {176, [](qreal s) { return Button(108, 26, QStringLiteral("開始下載"), B::Hover, s); }},
        {174, [](qreal s) { return Button(108, 26, QStringLiteral("開始下載"), B::Normal, s); }},
        {175, [](qreal s) { return Button(108, 26, QStringLiteral("開始下載"), B::Disabled, s); }},
        {191, [](qreal s) { return Button(108, 26, QStringLiteral("停止下載"), B::Hover, s); }},
        {192, [](qreal s) { return Button(108, 26, QStringLiteral("停止下載"), B::Normal, s); }},
        {193, [](qreal s) { return Button(108, 26, QStringLiteral("停止下載"), B::Disabled, s); }},
        {197, [](qreal s) { return Button(108, 26, QStringLiteral("執行安裝"), B::Hover, s); }},
        {199, [](qreal s) { return Button(108, 26, QStringLiteral("執行安裝"), B::Normal, s); }},
        {198, [](qreal s) { return Button(108, 26, QStringLiteral("執行安裝"), B::Disabled, s); }},
        {173, [](qreal s) { return Button(108, 26, QStringLiteral("關閉"), B::Hover, s); }},
        {171, [](qreal s) { return Button(108, 26, QStringLiteral("關閉"), B::Normal, s); }},
        {172, [](qreal s) { return Button(108, 26, QStringLiteral("關閉"), B::Disabled, s); }},
        {178, [](qreal s) { return CheckBox(true, s); }},
        {177, [](qreal s) { return CheckBox(false, s); }},
        {179, [](qreal s) { return ProgressFill(s); }},
        {180, [](qreal s) { return ProgressBack(s); }},
        {187, [](qreal s) { return TopStrip(s); }},
        {188, [](qreal s) { return BottomStrip(s); }},
        {189, [](qreal s) { return Strip(21, 396, false, s); }},
        {190, [](qreal s) { return Panel(s); }},
        {200, [](qreal s) { return GraphBack(s); }},
    };

    // Each picture at 1x, and at 2x for screens at 150 % and 200 %.
    for (const auto& [id, draw] : bitmaps) {
        for (const auto& [scale, suffix] : {std::pair{1, ""}, std::pair{2, "@2x"}}) {
            const QString name = QString::number(id) + QLatin1String(suffix) + QStringLiteral(".bmp");
            QImage image = draw(scale).convertToFormat(QImage::Format_RGB888);
            if (!image.save(folder + QLatin1Char('/') + name, "BMP")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
                return 1;
            }
        }
    }
    return 0;
}
