// Every bitmap the window loads exists at its id with its pixel size, and
// button images mark their transparent corners in magenta.
#include <gtest/gtest.h>

#include <QPainter>

#include <utility>
#include <vector>

#include "AfxTestSupport.h"
#include "resource.h"

TEST(Artwork, EveryBitmapHasItsSizeAndButtonsAreTransparentInTheirCorners)
{
    EnsureTestApplication();
    struct Expected {
        UINT id;
        int width;
        int height;
        bool button;
    };
    const std::vector<Expected> bitmaps = {
        {164, 65, 19, true},   {165, 65, 19, true},    {166, 65, 19, true},   {168, 65, 19, true},
        {169, 65, 19, true},   {170, 51, 23, true},    {176, 108, 26, true},  {174, 108, 26, true},
        {175, 108, 26, true},  {191, 108, 26, true},   {192, 108, 26, true},  {193, 108, 26, true},
        {197, 108, 26, true},  {199, 108, 26, true},   {198, 108, 26, true},  {173, 108, 26, true},
        {171, 108, 26, true},  {172, 108, 26, true},   {178, 13, 13, false},  {177, 13, 13, false},
        {179, 85, 16, false},  {180, 286, 18, false},  {187, 748, 20, false}, {188, 748, 21, false},
        {189, 21, 396, false}, {190, 385, 396, false}, {200, 342, 69, false},
    };

    // A sheet of all of them, for looking at.
    QImage sheet(760, 1000, QImage::Format_RGB32);
    sheet.fill(Qt::darkGray);
    QPainter painter(&sheet);
    int x = 4;
    int y = 4;
    int rowHeight = 0;
    for (const Expected& e : bitmaps) {
        CBitmap bitmap;
        ASSERT_TRUE(bitmap.LoadBitmap(e.id)) << e.id;
        BITMAP info;
        ASSERT_TRUE(bitmap.GetBitmap(&info));
        EXPECT_EQ(info.bmWidth, e.width) << e.id;
        EXPECT_EQ(info.bmHeight, e.height) << e.id;
        if (e.button) {
            EXPECT_EQ(bitmap.Image().pixel(0, 0) & 0xFFFFFF, 0xFF00FFu) << e.id;
            EXPECT_NE(bitmap.Image().pixel(e.width / 2, e.height / 2) & 0xFFFFFF, 0xFF00FFu) << e.id;
        }
        if (x + e.width > sheet.width()) {
            x = 4;
            y += rowHeight + 4;
            rowHeight = 0;
        }
        painter.drawImage(x, y, bitmap.Image());
        x += e.width + 4;
        rowHeight = std::max(rowHeight, e.height);
    }
    painter.end();
    SaveScreenshot(sheet.copy(0, 0, sheet.width(), std::min(sheet.height(), y + rowHeight + 4)), "artwork");
}
