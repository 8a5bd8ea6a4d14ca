// Dialogs: modal runs, data exchange both ways, the OK, cancel and close
// endings, the dialog keys and message-map dispatch of commands.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>

#include "AfxTestSupport.h"

namespace {

constexpr UINT kEdit = 100;
constexpr UINT kCheck = 101;
constexpr UINT kApply = 102;
constexpr UINT kDefault = 103;

const AfxDialogTemplate kTemplate = {
    500,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
    160,
    90,
    L"테스트",
    L"MS Shell Dlg",
    8,
    {
        {L"Static", L"label", WS_VISIBLE, 10, 10, 100, 10, kEdit},
        {L"Button", L"check", BS_AUTOCHECKBOX | WS_TABSTOP | WS_VISIBLE, 10, 25, 100, 10, kCheck},
        {L"Button", L"apply", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 10, 45, 50, 14, kApply},
        {L"Button", L"default", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 70, 45, 50, 14, kDefault},
    },
};

class ExchangeDialog : public CDialog {
public:
    explicit ExchangeDialog(CWnd* owner = nullptr) : CDialog(kTemplate, owner) {}

    CString m_label = L"初始文字";
    int m_checked = 1;
    int m_applyClicks = 0;
    int m_defaultClicks = 0;
    int m_closeRequests = 0;
    bool m_endOnDefault = false;
    std::function<void(ExchangeDialog&)> m_onShown;

protected:
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Text(dx, kEdit, m_label);
        DDX_Check(dx, kCheck, m_checked);
    }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (m_onShown)
            QTimer::singleShot(0, GetQWidget(), [this] { m_onShown(*this); });
        return TRUE;
    }

    void OnApply() { ++m_applyClicks; }
    void OnDefault()
    {
        ++m_defaultClicks;
        if (m_endOnDefault)
            EndDialog(77);
    }
    void OnClose()
    {
        ++m_closeRequests;
        CDialog::OnClose();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ExchangeDialog, CDialog)
    ON_BN_CLICKED(kApply, &ExchangeDialog::OnApply)
    ON_BN_CLICKED(kDefault, &ExchangeDialog::OnDefault)
    ON_WM_CLOSE()
END_MESSAGE_MAP()

QWidget* Item(CDialog& dialog, UINT id)
{
    return dialog.GetDlgItem(static_cast<int>(id))->GetQWidget();
}

class AfxDialog : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication(); }
};

} // namespace

TEST_F(AfxDialog, InitialisationPushesMembersAndOkCopiesControlsBack)
{
    ExchangeDialog dialog;
    dialog.m_onShown = [](ExchangeDialog& d) {
        CString shown;
        d.GetDlgItem(kEdit)->GetWindowText(shown);
        EXPECT_EQ(shown, L"初始文字");
        EXPECT_EQ(static_cast<CButton*>(d.GetDlgItem(kCheck))->GetCheck(), BST_CHECKED);
        d.GetDlgItem(kEdit)->SetWindowText(L"changed");
        QTest::mouseClick(Item(d, kCheck), Qt::LeftButton);
        d.SendMessage(WM_COMMAND, IDOK, 0);
    };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_label, L"changed");
    EXPECT_EQ(dialog.m_checked, 0) << "the automatic check box toggled on the click";
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr) << "the window is gone after the run";
}

TEST_F(AfxDialog, CancelLeavesTheMembersAsTheyWere)
{
    ExchangeDialog dialog;
    dialog.m_onShown = [](ExchangeDialog& d) {
        d.GetDlgItem(kEdit)->SetWindowText(L"changed");
        QTest::keyClick(Item(d, kCheck), Qt::Key_Escape);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_label, L"初始文字");
}

TEST_F(AfxDialog, ButtonClicksReachTheirCommandHandlers)
{
    ExchangeDialog dialog;
    dialog.m_onShown = [](ExchangeDialog& d) {
        QTest::mouseClick(Item(d, kApply), Qt::LeftButton);
        QTest::mouseClick(Item(d, kApply), Qt::LeftButton);
        // A press that leaves the button before the release is no click.
        QWidget* apply = Item(d, kApply);
        QTest::mousePress(apply, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseMove(apply, QPoint(-40, -40));
        QTest::mouseRelease(apply, Qt::LeftButton, {}, QPoint(-40, -40));
        d.EndDialog(5);
    };
    EXPECT_EQ(dialog.DoModal(), 5);
    EXPECT_EQ(dialog.m_applyClicks, 2);
}

TEST_F(AfxDialog, EnterClicksTheFocusedButtonElseTheDefaultButton)
{
    ExchangeDialog dialog;
    dialog.m_endOnDefault = true;
    dialog.m_onShown = [](ExchangeDialog& d) {
        Item(d, kApply)->setFocus();
        QTest::keyClick(Item(d, kApply), Qt::Key_Return);
        EXPECT_EQ(d.m_applyClicks, 1);
        Item(d, kCheck)->setFocus();
        QTest::keyClick(Item(d, kCheck), Qt::Key_Return);
    };
    EXPECT_EQ(dialog.DoModal(), 77);
    EXPECT_EQ(dialog.m_defaultClicks, 1);
}

TEST_F(AfxDialog, CloseRequestRunsTheHandlerThenCancels)
{
    ExchangeDialog dialog;
    dialog.m_onShown = [](ExchangeDialog& d) { d.GetQWidget()->close(); };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_closeRequests, 1);
}

TEST_F(AfxDialog, TemplateUnitsFollowTheDialogFont)
{
    ExchangeDialog dialog;
    QSize size;
    QRect checkGeometry;
    dialog.m_onShown = [&](ExchangeDialog& d) {
        size = d.GetQWidget()->size();
        checkGeometry = Item(d, kCheck)->geometry();
        d.EndDialog(IDOK);
    };
    dialog.DoModal();
    const CRect expected = dialog.MapDialogRect(CRect(0, 0, 160, 90));
    EXPECT_EQ(size, QSize(expected.Width(), expected.Height()));
    EXPECT_GT(size.width(), 160) << "dialog units are larger than pixels for an 8-point font";
    const CRect check = dialog.MapDialogRect(CRect(10, 25, 110, 35));
    EXPECT_EQ(checkGeometry, QRect(check.left, check.top, check.Width(), check.Height()));
}

TEST_F(AfxDialog, OpensCentredOnItsShownOwnerElseOnTheScreen)
{
    TestHostWindow owner(400, 300);
    owner.GetQWidget()->move(60, 40);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const bool shown : {true, false}) {
        SCOPED_TRACE(shown);
        owner.GetQWidget()->setVisible(shown);
        ExchangeDialog dialog(&owner);
        QRect frame;
        dialog.m_onShown = [&](ExchangeDialog& d) {
            frame = d.GetQWidget()->frameGeometry();
            d.EndDialog(IDOK);
        };
        dialog.DoModal();
        const QPoint expected = shown ? owner.GetQWidget()->frameGeometry().center() : screen.center();
        // Within the frame the window system adds once the dialog shows.
        EXPECT_LE((frame.center() - expected).manhattanLength(), 8)
            << frame.x() << "," << frame.y() << " centre expected at " << expected.x() << "," << expected.y();
    }
}

namespace {

// A dialog that takes Escape away from the dialog keys, as the main window
// does to ask before closing.
class EscapeAskingDialog : public ExchangeDialog {
public:
    int m_escapes = 0;
    BOOL PreTranslateMessage(MSG* msg) override
    {
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
            msg->wParam = 0;
            ++m_escapes;
        }
        return ExchangeDialog::PreTranslateMessage(msg);
    }
};

} // namespace

TEST_F(AfxDialog, EscapeWhoseKeyWasTakenAwayDoesNotCancel)
{
    EscapeAskingDialog dialog;
    dialog.m_onShown = [](ExchangeDialog& d) {
        QTest::keyClick(Item(d, kCheck), Qt::Key_Escape);
        QTest::keyClick(Item(d, kCheck), Qt::Key_Escape);
        d.EndDialog(9);
    };
    EXPECT_EQ(dialog.DoModal(), 9);
    EXPECT_EQ(dialog.m_escapes, 2);
}

TEST(AfxString, FormatsLongTextsAndEditsLikeTheFrameworkString)
{
    CString text;
    const std::wstring long_part(5000, L'字');
    text.Format(L"%ls [%d/%d]", long_part.c_str(), 3, 7);
    EXPECT_EQ(text.GetLength(), 5000 + 6);
    EXPECT_EQ(text.Right(5), L"[3/7]");

    CString path = L"  C:\\quorvik\\Setup.EXE \t";
    path.Trim();
    EXPECT_EQ(path, L"C:\\quorvik\\Setup.EXE");
    EXPECT_EQ(path.ReverseFind(L'.'), 16);
    EXPECT_EQ(path.Mid(path.ReverseFind(L'.')).MakeLower(), L".exe");
    EXPECT_EQ(path.Find(L','), -1);
    EXPECT_EQ(path.Left(2), L"C:");
    EXPECT_EQ(path.Mid(100), L"");
}
