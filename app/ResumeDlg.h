// CResumeDlg: asks whether an earlier download of the job's files is to be
// continued, and whether the answer is meant for all files. The caller reads
// m_nResume and m_nApplyAll after the modal run.
#pragma once

#include <afxwin.h>

#include "resource.h"

class CResumeDlg : public CDialog {
public:
    enum { IDD = IDD_RESUME_DIALOG };

    explicit CResumeDlg(CWnd* parent = nullptr);

    int m_nApplyAll = 1;
    int m_nResume = 1;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnBnClickedOk();
    void OnBnClickedCancel();
    void OnClose();
    DECLARE_MESSAGE_MAP()

    CButton m_checkApplyAll;
    CButton m_buttonOk;
    CButton m_buttonCancel;
    CStatic m_textExists;
    CStatic m_textQuestion;
};
