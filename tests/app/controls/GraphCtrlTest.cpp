#include <gtest/gtest.h>

#include "AfxTestSupport.h"
#include "GraphCtrl.h"
#include "resource.h"

namespace {

constexpr QRgb kBar = 0xD5BA11;

// Height of the bar in column x, counted from the bottom.
int BarHeight(const QImage& image, int x)
{
    int height = 0;
    for (int y = image.height() - 1; y >= 0 && Pixel(image, x, y) == kBar; --y)
        ++height;
    return height;
}

} // namespace

TEST(GraphCtrl, BarsStandFivePixelsApartWithHeightsInProportion)
{
    EnsureTestApplication();
    TestHostWindow host(400, 120);
    CGraphCtrl graph;
    ASSERT_TRUE(graph.Create(L"", WS_VISIBLE, CRect(10, 10, 352, 79), &host, IDC_GRAPH));
    for (int i = 0; i < CGraphCtrl::kSamples; ++i)
        graph.AddSample(i % 4 == 3 ? 152 : i % 4 == 2 ? 50 : i % 4 == 1 ? -7 : 10);
    graph.DrawGraph();
    const QImage image = Grab(graph);
    ASSERT_EQ(image.size(), QSize(342, 69));
    SaveScreenshot(image, "speed_graph");

    CBitmap background;
    ASSERT_TRUE(background.LoadBitmap(IDB_GRAPH_BACK));
    for (int i = 0; i < CGraphCtrl::kSamples; ++i) {
        const int left = 5 * i + 2;
        const int expected = i % 4 == 3 ? 69 : i % 4 == 2 ? 34 : i % 4 == 1 ? 0 : 6;
        for (int dx = 0; dx < 3; ++dx)
            EXPECT_EQ(BarHeight(image, left + dx), expected) << "bar " << i << " column " << left + dx;
        // The gaps between bars show the background.
        EXPECT_EQ(Pixel(image, left + 3, 68), background.Image().pixel(left + 3, 68) & 0xFFFFFF);
    }
    EXPECT_EQ(BarHeight(image, 337), 69) << "the last bar's left edge";
    EXPECT_EQ(BarHeight(image, 340), 0);
}
