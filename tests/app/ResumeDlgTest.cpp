// The resume question's four ways to an answer.
#include <gtest/gtest.h>

#include <QTimer>

#include "AfxTestSupport.h"
#include "ResumeDlg.h"

namespace {

QWidget* Item(CDialog& dialog, int id)
{
    return dialog.GetDlgItem(id)->GetQWidget();
}

// Runs the dialog and plays `player` once it is on screen.
INT_PTR RunAnswering(CResumeDlg& dialog, const std::function<void(CResumeDlg&)>& player)
{
    QTimer::singleShot(0, [&] { player(dialog); });
    return dialog.DoModal();
}

class ResumeDlg : public ::testing::Test {
protected:
    void SetUp() override { EnsureTestApplication(); }
};

} // namespace

TEST_F(ResumeDlg, ShowsItsQuestionWithTheBoxChecked)
{
    CResumeDlg dialog;
    RunAnswering(dialog, [](CResumeDlg& d) {
        CString text;
        d.GetWindowText(text);
        EXPECT_EQ(text, L"이어받기 ");
        d.GetDlgItem(IDC_RESUME_TEXT1)->GetWindowText(text);
        EXPECT_EQ(text, L"下載的檔案已存在。");
        d.GetDlgItem(IDC_RESUME_TEXT2)->GetWindowText(text);
        EXPECT_EQ(text, L"是否繼續上次的下載？");
        d.GetDlgItem(IDC_RESUME_APPLY_ALL)->GetWindowText(text);
        EXPECT_EQ(text, L"適用整體檔案");
        d.GetDlgItem(IDC_RESUME_OK)->GetWindowText(text);
        EXPECT_EQ(text, L"確認");
        d.GetDlgItem(IDC_RESUME_CANCEL)->GetWindowText(text);
        EXPECT_EQ(text, L"取消");
        EXPECT_EQ(static_cast<CButton*>(d.GetDlgItem(IDC_RESUME_APPLY_ALL))->GetCheck(), BST_CHECKED);
        EXPECT_FALSE(d.GetQWidget()->windowFlags() & Qt::WindowCloseButtonHint) << "no close box";
        SaveScreenshot(d.GetQWidget()->grab().toImage(), "resume_dialog");
        d.EndDialog(IDCANCEL);
    });
}

TEST_F(ResumeDlg, ConfirmWithTheBoxCheckedResumesAllFiles)
{
    CResumeDlg dialog;
    dialog.m_nApplyAll = 0;
    dialog.m_nResume = 0;
    // The box starts as the member says; checking it again before confirming.
    RunAnswering(dialog, [](CResumeDlg& d) {
        QTest::mouseClick(Item(d, IDC_RESUME_APPLY_ALL), Qt::LeftButton);
        QTest::mouseClick(Item(d, IDC_RESUME_OK), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.m_nResume, 1);
    EXPECT_EQ(dialog.m_nApplyAll, 1);
}

TEST_F(ResumeDlg, CancelWithTheBoxClearedStartsOverForThisFile)
{
    CResumeDlg dialog;
    RunAnswering(dialog, [](CResumeDlg& d) {
        QTest::mouseClick(Item(d, IDC_RESUME_APPLY_ALL), Qt::LeftButton);
        EXPECT_EQ(static_cast<CButton*>(d.GetDlgItem(IDC_RESUME_APPLY_ALL))->GetCheck(), BST_UNCHECKED);
        SaveScreenshot(d.GetQWidget()->grab().toImage(), "resume_dialog_cleared");
        QTest::mouseClick(Item(d, IDC_RESUME_CANCEL), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.m_nResume, 0);
    EXPECT_EQ(dialog.m_nApplyAll, 0);
}

TEST_F(ResumeDlg, EscapeAnswersTheStartValuesWhateverTheBoxShows)
{
    CResumeDlg dialog;
    const INT_PTR result = RunAnswering(dialog, [](CResumeDlg& d) {
        QTest::mouseClick(Item(d, IDC_RESUME_APPLY_ALL), Qt::LeftButton);
        QTest::keyClick(Item(d, IDC_RESUME_APPLY_ALL), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dialog.m_nResume, 1);
    EXPECT_EQ(dialog.m_nApplyAll, 1);
}

TEST_F(ResumeDlg, EnterAwayFromTheButtonsAnswersTheStartValues)
{
    CResumeDlg dialog;
    const INT_PTR result = RunAnswering(dialog, [](CResumeDlg& d) {
        QWidget* box = Item(d, IDC_RESUME_APPLY_ALL);
        QTest::mouseClick(box, Qt::LeftButton);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.m_nResume, 1);
    EXPECT_EQ(dialog.m_nApplyAll, 1);
}
