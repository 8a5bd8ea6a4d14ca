#include <gtest/gtest.h>

#include <QCursor>

#include "AfxTestSupport.h"
#include "ButtonST.h"
#include "OXToolTipCtrl.h"
#include "resource.h"

namespace {

// The main window relays every message to its tooltip before dispatch.
class TipHost : public TestHostWindow {
public:
    COXToolTipCtrl tip;
    BOOL PreTranslateMessage(MSG* msg) override
    {
        tip.RelayEvent(msg);
        return TestHostWindow::PreTranslateMessage(msg);
    }
};

} // namespace

TEST(OXToolTipCtrl, AppearsAfterHalfASecondOverTheToolAndHidesOnAClick)
{
    EnsureTestApplication();
    TipHost host;
    CButtonST box;
    ASSERT_TRUE(box.Create(L"", WS_VISIBLE | BS_AUTOCHECKBOX, CRect(13, 100, 26, 113), &host, IDC_CONSENT));
    box.SetBitmaps(IDB_CHECK_CHECKED, RGB(255, 0, 255), IDB_CHECK_UNCHECKED, RGB(255, 0, 255));
    ASSERT_TRUE(host.tip.Create(&host));
    host.tip.SetMaxTipWidth(350);
    host.tip.AddTool(&box, L"超高速下載只有在下載時才會共享PC資源。");

    MoveMouse(host.GetQWidget(), QPoint(200, 20));
    MoveMouse(box.GetQWidget(), QPoint(6, 6));
    EXPECT_FALSE(host.tip.IsTipVisible()) << "not before the delay";
    ASSERT_TRUE(WaitFor([&] { return host.tip.IsTipVisible() != FALSE; }, 5000));

    CRect tipRect;
    host.tip.GetWindowRect(&tipRect);
    const QPoint cursor = QCursor::pos();
    EXPECT_EQ(tipRect.left, cursor.x());
    EXPECT_EQ(tipRect.top, cursor.y() + 20);
    EXPECT_LE(tipRect.Width(), 350);
    SaveScreenshot(Grab(host.tip), "tooltip");

    QTest::mouseClick(box.GetQWidget(), Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_FALSE(host.tip.IsTipVisible());
}

TEST(OXToolTipCtrl, HidesWhenTheCursorLeavesTheTool)
{
    EnsureTestApplication();
    TipHost host;
    CButtonST box;
    ASSERT_TRUE(box.Create(L"", WS_VISIBLE | BS_AUTOCHECKBOX, CRect(13, 100, 26, 113), &host, IDC_CONSENT));
    ASSERT_TRUE(host.tip.Create(&host));
    host.tip.AddTool(&box, L"tip");
    MoveMouse(host.GetQWidget(), QPoint(150, 30));
    MoveMouse(box.GetQWidget(), QPoint(6, 6));
    ASSERT_TRUE(WaitFor([&] { return host.tip.IsTipVisible() != FALSE; }, 5000));
    // Away from the tool without a message reaching the relay: the tip's
    // own check notices.
    QCursor::setPos(host.GetQWidget()->mapToGlobal(QPoint(300, 250)));
    EXPECT_TRUE(WaitFor([&] { return host.tip.IsTipVisible() == FALSE; }, 5000));
}
