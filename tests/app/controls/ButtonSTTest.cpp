// Bitmap buttons: which image shows in which state, the mask on magenta and
// the check box that toggles before its parent hears the click.
#include <gtest/gtest.h>

#include "AfxTestSupport.h"
#include "ButtonST.h"
#include "resource.h"

namespace {

constexpr COLORREF kMagenta = RGB(0xFF, 0x00, 0xFF);

QRgb BitmapPixel(UINT id, int x, int y)
{
    CBitmap bitmap;
    EXPECT_TRUE(bitmap.LoadBitmap(id));
    return bitmap.Image().pixel(x, y) & 0xFFFFFF;
}

// A parent that records the check box state its click handler sees.
class ConsentHost : public TestHostWindow {
public:
    std::vector<int> seenStates;
    CButtonST* box = nullptr;

protected:
    void OnConsent() { seenStates.push_back(box->GetCheck()); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ConsentHost, TestHostWindow)
    ON_BN_CLICKED(IDC_CONSENT, &ConsentHost::OnConsent)
END_MESSAGE_MAP()

class ButtonST : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication(); }
};

} // namespace

TEST_F(ButtonST, ShowsTheImageOfEachState)
{
    TestHostWindow host;
    CButtonST button;
    ASSERT_TRUE(button.Create(L"", WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, CRect(20, 20, 150, 60), &host, IDC_START));
    button.SetBitmaps(IDB_START_HOVER, kMagenta, IDB_START_NORMAL, kMagenta, IDB_START_DISABLED, kMagenta);
    button.DrawBorder(FALSE);
    button.DrawTransparent();
    button.SizeToContent();
    EXPECT_EQ(button.GetQWidget()->size(), QSize(108, 26));
    QWidget* widget = button.GetQWidget();

    // A point of plain fill, away from the caption and the rounded corners.
    const int x = 4;
    const int y = 13;
    QImage normal = Grab(button);
    EXPECT_EQ(Pixel(normal, x, y), BitmapPixel(IDB_START_NORMAL, x, y));
    SaveScreenshot(normal, "button_normal");

    MoveMouse(widget, QPoint(50, 13));
    ASSERT_TRUE(WaitFor([&] { return button.IsHovered() != FALSE; }));
    QImage hover = Grab(button);
    EXPECT_EQ(Pixel(hover, x, y), BitmapPixel(IDB_START_HOVER, x, y));
    SaveScreenshot(hover, "button_hover");

    PressMouse(widget, QPoint(50, 13));
    QImage pressed = Grab(button);
    EXPECT_EQ(Pixel(pressed, x + 1, y + 1), BitmapPixel(IDB_START_HOVER, x, y)) << "pressed: moved by 1,1";
    SaveScreenshot(pressed, "button_pressed");
    ReleaseMouse(widget, QPoint(50, 13));

    // Leaving clears the hover mark.
    MoveMouse(host.GetQWidget(), QPoint(300, 250));
    ASSERT_TRUE(WaitFor([&] { return button.IsHovered() == FALSE; }));
    EXPECT_EQ(Pixel(Grab(button), x, y), BitmapPixel(IDB_START_NORMAL, x, y));

    button.EnableWindow(FALSE);
    QImage disabled = Grab(button);
    EXPECT_EQ(Pixel(disabled, x, y), BitmapPixel(IDB_START_DISABLED, x, y));
    SaveScreenshot(disabled, "button_disabled");

    // Magenta pixels of the image show what lies beneath the button.
    EXPECT_EQ(BitmapPixel(IDB_START_NORMAL, 0, 0), 0xFF00FFu);
    EXPECT_EQ(Pixel(disabled, 0, 0), host.Background());
}

TEST_F(ButtonST, CheckBoxTogglesBeforeTheParentsHandlerAndShowsItsImage)
{
    ConsentHost host;
    CButtonST box;
    host.box = &box;
    ASSERT_TRUE(box.Create(L"초고속 다운로드 동의", WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP, CRect(10, 10, 60, 40),
                           &host, IDC_CONSENT));
    EXPECT_TRUE(box.IsCheckBox());
    EXPECT_EQ(box.GetButtonStyle() & BS_TYPEMASK, static_cast<UINT>(BS_OWNERDRAW)) << "it draws itself";
    box.SetBitmaps(IDB_CHECK_CHECKED, kMagenta, IDB_CHECK_UNCHECKED, kMagenta);
    box.DrawBorder(FALSE);
    box.DrawTransparent();
    box.SetCheck(1);

    // The images are centred in the 50x30 button.
    const int ox = (50 - 13) / 2;
    const int oy = (30 - 13) / 2;
    QImage checked = Grab(box);
    EXPECT_EQ(Pixel(checked, ox + 1, oy + 1), BitmapPixel(IDB_CHECK_CHECKED, 1, 1));
    SaveScreenshot(checked, "checkbox_checked");

    QTest::mouseClick(box.GetQWidget(), Qt::LeftButton, {}, QPoint(25, 15));
    QTest::mouseClick(box.GetQWidget(), Qt::LeftButton, {}, QPoint(25, 15));
    QTest::mouseClick(box.GetQWidget(), Qt::LeftButton, {}, QPoint(25, 15));
    EXPECT_EQ(host.seenStates, (std::vector<int>{0, 1, 0}));

    QImage unchecked = Grab(box);
    EXPECT_EQ(Pixel(unchecked, ox + 6, oy + 6), BitmapPixel(IDB_CHECK_UNCHECKED, 6, 6));
    EXPECT_NE(BitmapPixel(IDB_CHECK_UNCHECKED, 6, 6), BitmapPixel(IDB_CHECK_CHECKED, 6, 6));
    SaveScreenshot(unchecked, "checkbox_unchecked");

    // A push button has no check state.
    CButtonST push;
    push.Create(L"", WS_VISIBLE | BS_PUSHBUTTON, CRect(100, 10, 160, 40), &host, IDC_CLOSE);
    push.SetCheck(1);
    EXPECT_EQ(push.GetCheck(), 0);
}
