// CDialog: a dialog built from a template, run modally in a nested loop.
// Initialisation pushes the members into the controls (UpdateData(FALSE));
// OK copies them back and ends with IDOK; cancel ends with IDCANCEL; the
// close request (WM_CLOSE) takes the cancel path unless a handler decides
// otherwise. Escape is cancel, Enter clicks the focused push button or else
// the default button (IDOK when there is none).
#pragma once

#include <memory>
#include <vector>

#include "afx/CWnd.h"
#include "afx/DialogTemplate.h"

class CDialog;
class QEventLoop;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds the dialog control `id` to `control` (the first exchange subclasses it).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Copies the control's text to `value` or back.
void DDX_Text(CDataExchange* dx, int id, CString& value);
// Copies a check box's state to `value` or back.
void DDX_Check(CDataExchange* dx, int id, int& value);

class CDialog : public CWnd {
public:
    explicit CDialog(const AfxDialogTemplate& dialogTemplate, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the window, runs OnInitDialog and dispatches messages until the
    // dialog ends; returns the EndDialog result, or -1 when WM_QUIT ended it.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(int result);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    BOOL PreTranslateMessage(MSG* msg) override;

    // Dialog units of the template's font to pixels.
    CRect MapDialogRect(const CRect& units) const;
    // Ends the modal run because the thread received WM_QUIT.
    void EndForQuit();

protected:
    virtual void DoDataExchange(CDataExchange* dx);

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;

    const AfxDialogTemplate& m_template;
    CWnd* m_pParentWnd;

private:
    BOOL CreateFromTemplate();
    void ClickDefault(MSG* msg);

    CFont m_font;
    int m_baseX = 6;
    int m_baseY = 13;
    INT_PTR m_nModalResult = -1;
    bool m_ended = false;
    QEventLoop* m_loop = nullptr;
};
