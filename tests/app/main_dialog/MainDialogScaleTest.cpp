// The window at 100 % and at 200 % (QT_SCALE_FACTOR): at 200 % the frame
// and the buttons show the artwork drawn at twice the size, pixel for pixel,
// not the 1x artwork enlarged, and the labels' text is drawn at the screen's
// resolution. A screenshot of each in the build's screenshots folder.
//
// The scale of a Qt application is fixed when it starts, so each test needs
// a process of its own, as CTest gives it.
#include "MainDialogTestSupport.h"

#include <cmath>

using namespace maindialogtest;

namespace {

// The mean difference of the colour channels of two pictures of one size,
// counting only the pixels where `where` holds.
double MeanDifference(const QImage& a, const QImage& b, const std::function<bool(int, int)>& where)
{
    double sum = 0;
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (!where(x, y))
                continue;
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
            count += 3;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : 1e9;
}

QImage Artwork(UINT id, int scale)
{
    const QString suffix = scale == 2 ? QStringLiteral("@2x") : QString();
    return QImage(QStringLiteral(":/bitmaps/%1%2.bmp").arg(id).arg(suffix)).convertToFormat(QImage::Format_RGB32);
}

// The share of 2x2 blocks that are not one colour: 0 for a picture enlarged
// from half its size without smoothing.
double FinerThanHalf(const QImage& image)
{
    long mixed = 0;
    long blocks = 0;
    for (int y = 0; y + 1 < image.height(); y += 2) {
        for (int x = 0; x + 1 < image.width(); x += 2) {
            const QRgb p = image.pixel(x, y);
            mixed += image.pixel(x + 1, y) != p || image.pixel(x, y + 1) != p || image.pixel(x + 1, y + 1) != p;
            ++blocks;
        }
    }
    return blocks > 0 ? static_cast<double>(mixed) / static_cast<double>(blocks) : 0;
}

// Runs the ready window at `scale`, checks it against the artwork of that
// scale and saves its screenshot.
void CheckWindowAtScale(int scale)
{
    if (QCoreApplication::instance() != nullptr) {
        if (qGuiApp->devicePixelRatio() != scale)
            GTEST_SKIP() << "the application of this process runs at another scale; run each test alone";
    } else {
        setenv("QT_SCALE_FACTOR", std::to_string(scale).c_str(), 1);
    }
    EnsureTestApplication();
    ASSERT_EQ(qGuiApp->devicePixelRatio(), scale);
    ASSERT_EQ(AfxBitmapScale(), scale);
    UseFileListUrl(TestPublisher::Start({300 * 1024, 200 * 1024}).FileListUrl());

    BoxRecorder boxes;
    CQLSDownloaderDlg dialog;
    RunDialog(dialog, [&](CQLSDownloaderDlg& d) {
        ASSERT_TRUE(WaitUntilReady(d));
        const QImage shot = Grab(d);
        SaveScreenshot(shot, "main_window_scale" + std::to_string(scale));
        ASSERT_EQ(shot.size(), QSize(748 * scale, 437 * scale));

        // The captions of the panel (at 363,20 of the client area), left of
        // every label: exactly the panel's artwork of this scale.
        const QRect captions(4 * scale, 2 * scale, 86 * scale, 92 * scale);
        const QImage panel = Artwork(IDB_FRAME_PANEL, scale).copy(captions);
        const QImage shown = shot.copy(captions.translated(363 * scale, 20 * scale));
        const auto everywhere = [](int, int) { return true; };
        EXPECT_LT(MeanDifference(shown, panel, everywhere), 0.5);

        // The start button (at 384,391) through its mask: its own pixels are
        // those of the button artwork of this scale.
        const QImage button = Artwork(IDB_START_NORMAL, scale);
        const QImage buttonShown = shot.copy(QRect(384 * scale, 391 * scale, button.width(), button.height()));
        const auto opaque = [&](int x, int y) { return (button.pixel(x, y) & 0xFFFFFF) != 0xFF00FF; };
        EXPECT_LT(MeanDifference(buttonShown, button, opaque), 0.5);

        if (scale == 2) {
            // Not the 1x artwork enlarged, smoothly or not.
            const QImage small = Artwork(IDB_FRAME_PANEL, 1).copy(4, 2, 86, 92);
            for (const Qt::TransformationMode mode : {Qt::FastTransformation, Qt::SmoothTransformation}) {
                const QImage enlarged = small.scaled(small.size() * 2, Qt::IgnoreAspectRatio, mode);
                EXPECT_GT(MeanDifference(shown, enlarged, everywhere), 3.0) << mode;
            }
            EXPECT_GT(FinerThanHalf(shown), 0.02);
            // The size label's text is drawn at the screen's resolution too.
            const QImage label = shot.copy(QRect(456 * 2, 90 * 2, 263 * 2, 14 * 2));
            EXPECT_GT(FinerThanHalf(label), 0.02);
        }
        Click(d, IDC_CLOSE);
    });
    EXPECT_TRUE(boxes.Calls().empty());
}

} // namespace

TEST(MainDialogScale, WindowAt100PercentShowsThe1xArtwork)
{
    CheckWindowAtScale(1);
}

TEST(MainDialogScale, WindowAt200PercentShowsThe2xArtworkNotAnEnlargement)
{
    CheckWindowAtScale(2);
}
