#include "ResumeDlg.h"

#include "DialogTemplates.h"

BEGIN_MESSAGE_MAP(CResumeDlg, CDialog)
    ON_BN_CLICKED(IDC_RESUME_OK, &CResumeDlg::OnBnClickedOk)
    ON_BN_CLICKED(IDC_RESUME_CANCEL, &CResumeDlg::OnBnClickedCancel)
    ON_WM_CLOSE()
END_MESSAGE_MAP()

CResumeDlg::CResumeDlg(CWnd* parent) : CDialog(AppDialogTemplate(IDD), parent) {}

void CResumeDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_RESUME_APPLY_ALL, m_checkApplyAll);
    DDX_Control(dx, IDC_RESUME_OK, m_buttonOk);
    DDX_Control(dx, IDC_RESUME_CANCEL, m_buttonCancel);
    DDX_Control(dx, IDC_RESUME_TEXT1, m_textExists);
    DDX_Control(dx, IDC_RESUME_TEXT2, m_textQuestion);
}

BOOL CResumeDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_checkApplyAll.SetCheck(m_nApplyAll);
    m_checkApplyAll.SetWindowText(L"適用整體檔案");
    m_textExists.SetWindowText(L"下載的檔案已存在。");
    m_textQuestion.SetWindowText(L"是否繼續上次的下載？");
    m_buttonOk.SetWindowText(L"確認");
    m_buttonCancel.SetWindowText(L"取消");
    return TRUE;
}

void CResumeDlg::OnBnClickedOk()
{
    m_nResume = 1;
    SendMessage(WM_CLOSE);
}

void CResumeDlg::OnBnClickedCancel()
{
    m_nResume = 0;
    SendMessage(WM_CLOSE);
}

void CResumeDlg::OnClose()
{
    m_nApplyAll = m_checkApplyAll.GetCheck() == BST_CHECKED ? 1 : 0;
    CDialog::OnClose();
}
