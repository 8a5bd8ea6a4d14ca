// Draws the program's icon at the sizes given on the command line and writes
// them as PNG files in the freedesktop icon-theme layout:
//   <folder>/<N>x<N>/apps/qlsdownloader.png
// Runs at build time. The icon is the window's look in small: the dark slate
// panel with its gold edge, and a gold arrow coming down onto a tray.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <cstdlib>

#include "ArtworkPalette.h"

namespace {

using namespace artwork;

QImage Icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // The panel, with the same diagonal gradient as the window's.
    const qreal edge = std::max<qreal>(1.0, s / 32);
    const QRectF panel(s * 0.04 + edge / 2, s * 0.04 + edge / 2, s * 0.92 - edge, s * 0.92 - edge);
    QLinearGradient fill(panel.topLeft(), panel.bottomRight());
    fill.setColorAt(0, kPanel.lighter(130));
    fill.setColorAt(1, kPanelDark);
    p.setPen(QPen(kGold, edge));
    p.setBrush(fill);
    p.drawRoundedRect(panel, s * 0.18, s * 0.18);

    // The arrow, filled like the progress bars.
    QPainterPath arrow;
    arrow.moveTo(s * 0.42, s * 0.18);
    arrow.lineTo(s * 0.58, s * 0.18);
    arrow.lineTo(s * 0.58, s * 0.46);
    arrow.lineTo(s * 0.74, s * 0.46);
    arrow.lineTo(s * 0.50, s * 0.70);
    arrow.lineTo(s * 0.26, s * 0.46);
    arrow.lineTo(s * 0.42, s * 0.46);
    arrow.closeSubpath();
    QLinearGradient gold(0, s * 0.18, 0, s * 0.70);
    gold.setColorAt(0, kGold.lighter(130));
    gold.setColorAt(0.5, kGold);
    gold.setColorAt(1, kGold.darker(150));
    p.setPen(Qt::NoPen);
    p.setBrush(gold);
    p.drawPath(arrow);

    // The tray the arrow lands in, in the captions' colour.
    p.setBrush(kCaption);
    const qreal bar = std::max<qreal>(1.0, s * 0.07);
    p.drawRoundedRect(QRectF(s * 0.24, s * 0.76, s * 0.52, bar), bar / 2, bar / 2);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <output folder> <size>...\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "bad icon size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        QDir().mkpath(dir);
        if (!Icon(size).save(dir + QStringLiteral("/qlsdownloader.png"), "PNG")) {
            std::fprintf(stderr, "cannot write the %dx%d icon\n", size, size);
            return 1;
        }
    }
    return 0;
}
