// The transparent label and the bitmap progress bar.
#include <gtest/gtest.h>

#include "AfxTestSupport.h"
#include "ProgressST.h"
#include "TransparentStatic2.h"
#include "resource.h"

namespace {

class LabelAndBar : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication(); }
};

} // namespace

TEST_F(LabelAndBar, LabelRepaintsWhatLiesUnderItSoOldTextDisappears)
{
    TestHostWindow host(420, 420);
    // The panel picture under the label, as in the main window.
    CBitmap panel;
    ASSERT_TRUE(panel.LoadBitmap(IDB_FRAME_PANEL));
    CStatic picture;
    ASSERT_TRUE(picture.Create(L"", WS_VISIBLE | SS_BITMAP, CRect(0, 0, 385, 396), &host, IDC_FRAME_PANEL));
    picture.SetBitmap(panel);
    CFont font;
    font.CreateFont(13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Verdana");
    CTransparentStatic2 label;
    ASSERT_TRUE(label.Create(L"", WS_VISIBLE, CRect(93, 8, 356, 22), &host, IDC_CURRENT_FILE));
    label.SetFont(&font);

    label.SetWindowText(L"setup_part_with_a_long_name.exe [12/34]");
    const QImage withText = Grab(label);
    SaveScreenshot(host.GetQWidget()->grab().toImage(), "label_on_panel");
    int lightPixels = 0;
    for (int x = 0; x < withText.width(); ++x)
        for (int y = 0; y < withText.height(); ++y)
            lightPixels += Pixel(withText, x, y) == 0xEFEFEFu;
    EXPECT_GT(lightPixels, 20) << "the text is drawn in light grey";

    label.SetWindowText(L"a");
    const QImage shorter = Grab(label);
    // Right of the short text the label shows exactly the panel beneath it.
    int differing = 0;
    for (int x = 40; x < shorter.width(); ++x)
        for (int y = 0; y < shorter.height(); ++y)
            differing += Pixel(shorter, x, y) != (panel.Image().pixel(93 + x, 8 + y) & 0xFFFFFF);
    EXPECT_EQ(differing, 0);
}

TEST_F(LabelAndBar, BarClampsItsPositionAndFillsInProportionWithTheTextCentred)
{
    TestHostWindow host(320, 60);
    CFont font;
    font.CreateFont(13, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Verdana");
    CProgressST bar;
    ASSERT_TRUE(bar.Create(WS_VISIBLE, CRect(10, 10, 296, 28), &host, IDC_FILE_PROGRESS));
    bar.SetBitmap(IDB_PROGRESS_FILL, IDB_PROGRESS_BACK);
    bar.SetRange32(0, 100);
    bar.SetTextFormat(L"%d%%");
    bar.SetFont(&font);

    bar.SetPos(150);
    EXPECT_EQ(bar.GetPosition(), 100);
    EXPECT_EQ(bar.GetPercentText(), L"100%");
    bar.SetPos(-5);
    EXPECT_EQ(bar.GetPosition(), 0);
    EXPECT_EQ(bar.GetPercentText(), L"0%");

    bar.SetPos(50);
    EXPECT_EQ(bar.GetPercentText(), L"50%");
    EXPECT_EQ(bar.GetFilledWidth(), 142) << "(286 - 2) / 100 * 50";
    const QImage image = Grab(bar);
    SaveScreenshot(image, "progress_50");
    CBitmap tile;
    CBitmap back;
    ASSERT_TRUE(tile.LoadBitmap(IDB_PROGRESS_FILL));
    ASSERT_TRUE(back.LoadBitmap(IDB_PROGRESS_BACK));
    // Left of the text: tile pixels from 1,1 on, repeating every 85 pixels.
    for (int x : {1, 50, 86, 100})
        EXPECT_EQ(Pixel(image, x, 3), tile.Image().pixel((x - 1) % 85, 2) & 0xFFFFFF) << "x=" << x;
    // Right of the fill: the background.
    for (int x : {144, 200, 280})
        EXPECT_EQ(Pixel(image, x, 3), back.Image().pixel(x, 3) & 0xFFFFFF) << "x=" << x;

    // The text sits in the middle.
    int left = image.width();
    int right = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (Pixel(image, x, y) == 0xEFEFEFu) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_LT(left, right);
    EXPECT_NEAR((left + right) / 2, 143, 4);

    bar.SetPos(100);
    EXPECT_EQ(bar.GetFilledWidth(), 283) << "at most the inner width minus one";
    SaveScreenshot(Grab(bar), "progress_100");
    bar.SetPos(0);
    SaveScreenshot(Grab(bar), "progress_0");
}
