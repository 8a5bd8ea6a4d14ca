#include "afx/CDialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>

#include <algorithm>

#include <win32_ext.h>

#include "AfxInternal.h"
#include "WindowWidget.h"
#include "afx/CButton.h"
#include "afx/CProgressCtrl.h"
#include "afx/CStatic.h"

namespace {

std::vector<CDialog*>& ModalDialogs()
{
    static std::vector<CDialog*> dialogs;
    return dialogs;
}

bool g_quitPending = false;

std::unique_ptr<CWnd> DefaultObjectFor(AfxWindowWidget::Kind kind)
{
    switch (kind) {
    case AfxWindowWidget::Kind::Button:
        return std::make_unique<CButton>();
    case AfxWindowWidget::Kind::Static:
        return std::make_unique<CStatic>();
    case AfxWindowWidget::Kind::Progress:
        return std::make_unique<CProgressCtrl>();
    default:
        return std::make_unique<CWnd>();
    }
}

} // namespace

AfxActivePopupScope::AfxActivePopupScope(CWnd* owner, HWND popup)
{
    if (owner == nullptr || owner->GetSafeHwnd() == nullptr)
        owner = AfxGetMainWnd();
    HWND ownerHwnd = owner ? owner->GetSafeHwnd() : nullptr;
    if (ownerHwnd == nullptr || popup == nullptr || ownerHwnd == popup)
        return;
    if (W32SetActivePopup(ownerHwnd, popup, TRUE)) {
        m_owner = ownerHwnd;
        m_popup = popup;
    }
}

AfxActivePopupScope::~AfxActivePopupScope()
{
    if (m_owner)
        W32SetActivePopup(m_owner, m_popup, FALSE);
}

void AfxPushModal(CDialog* dialog)
{
    ModalDialogs().push_back(dialog);
}

void AfxPopModal(CDialog* dialog)
{
    auto& dialogs = ModalDialogs();
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), dialog), dialogs.end());
    // The quit request has been honoured once the outermost run has ended.
    if (dialogs.empty())
        g_quitPending = false;
}

bool AfxQuitPending()
{
    return g_quitPending;
}

void AfxOnQuitMessage(int exitCode)
{
    if (ModalDialogs().empty()) {
        // No dialog runs: the quit ends the application's own loop.
        QCoreApplication::exit(exitCode);
        return;
    }
    g_quitPending = true;
    for (CDialog* dialog : ModalDialogs())
        dialog->EndForQuit();
}

// ---------------------------------------------------------------------------
// Data exchange

void DDX_Control(CDataExchange* dx, int id, CWnd& control)
{
    if (control.GetSafeHwnd() == nullptr)
        control.SubclassDlgItem(static_cast<UINT>(id), dx->m_pDlgWnd);
}

void DDX_Text(CDataExchange* dx, int id, CString& value)
{
    CWnd* control = dx->m_pDlgWnd->GetDlgItem(id);
    if (!control)
        return;
    if (dx->m_bSaveAndValidate)
        control->GetWindowText(value);
    else
        control->SetWindowText(value.c_str());
}

void DDX_Check(CDataExchange* dx, int id, int& value)
{
    CWnd* control = dx->m_pDlgWnd->GetDlgItem(id);
    if (!control)
        return;
    if (dx->m_bSaveAndValidate)
        value = static_cast<int>(control->SendMessage(BM_GETCHECK, 0, 0));
    else
        control->SendMessage(BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

// ---------------------------------------------------------------------------
// CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(const AfxDialogTemplate& dialogTemplate, CWnd* parent)
    : m_template(dialogTemplate), m_pParentWnd(parent)
{}

CDialog::~CDialog()
{
    if (GetSafeHwnd())
        DestroyWindow();
}

CRect CDialog::MapDialogRect(const CRect& units) const
{
    auto mapX = [this](int v) { return (v * m_baseX + 2) / 4; };
    auto mapY = [this](int v) { return (v * m_baseY + 4) / 8; };
    return CRect(mapX(units.left), mapY(units.top), mapX(units.right), mapY(units.bottom));
}

BOOL CDialog::CreateFromTemplate()
{
    AfxEnsureApplication();
    const int pixels = (m_template.pointSize * 96 + 36) / 72;
    m_font.CreateFont(-pixels, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, m_template.fontFace);
    // Dialog base units: the average width of the Latin letters and the
    // height of the dialog font.
    QFontMetrics metrics(m_font.Font());
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    m_baseY = metrics.height();

    CWnd* owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    if (owner == this)
        owner = nullptr;
    QWidget* ownerWidget = owner ? owner->GetQWidget() : nullptr;
    auto* widget = new AfxWindowWidget(AfxWindowWidget::Kind::Dialog, m_template.style, 0, m_template.id,
                                       ownerWidget ? ownerWidget->window() : nullptr);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_template.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    widget->setWindowFlags(flags);
    widget->setWindowModality(Qt::ApplicationModal);
    const CRect client = MapDialogRect(CRect(0, 0, m_template.cx, m_template.cy));
    widget->setFixedSize(client.Width(), client.Height());
    widget->fontObject = &m_font;
    widget->ApplyFont();
    if (!widget->Bind(this, m_template.caption)) {
        delete widget;
        return FALSE;
    }

    for (const AfxDialogItem& item : m_template.items) {
        const AfxWindowWidget::Kind kind = AfxWindowWidget::KindOfClass(item.className);
        auto* control = new AfxWindowWidget(kind, item.style | WS_CHILD, 0, item.id, widget);
        const CRect r = MapDialogRect(CRect(item.x, item.y, item.x + item.cx, item.y + item.cy));
        control->setGeometry(r.left, r.top, r.Width(), r.Height());
        control->fontObject = &m_font;
        control->ApplyFont();
        std::unique_ptr<CWnd> object = DefaultObjectFor(kind);
        if (!control->Bind(object.get(), item.text ? item.text : L"")) {
            delete control;
            continue;
        }
        control->text = item.text ? item.text : L"";
        control->AdoptDefaultOwner(std::move(object));
        if ((item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && kind == AfxWindowWidget::Kind::Button)
            widget->defaultId = item.id;
        control->setVisible((item.style & WS_VISIBLE) != 0);
    }
    return TRUE;
}

INT_PTR CDialog::DoModal()
{
    m_nModalResult = -1;
    m_ended = false;
    if (!CreateFromTemplate())
        return -1;

    AfxPushModal(this);
    const QRect placed = GetQWidget()->geometry();
    const BOOL focusDefault = OnInitDialog();
    // A dialog that neither moved nor sized itself opens centred on its
    // owner, as the framework does after WM_INITDIALOG.
    if (GetQWidget() && GetQWidget()->geometry() == placed)
        CenterWindow();
    if (focusDefault) {
        // The first control that takes the keyboard gets the focus.
        for (QObject* child : GetQWidget()->children()) {
            auto* w = dynamic_cast<AfxWindowWidget*>(child);
            if (w && w->isVisibleTo(GetQWidget()) && w->isEnabled() && (w->style & WS_TABSTOP)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    if (!m_ended && !AfxQuitPending() && GetQWidget()) {
        const AfxActivePopupScope popup(m_pParentWnd, GetSafeHwnd());
        GetQWidget()->show();
        QEventLoop loop;
        m_loop = &loop;
        if (!m_ended && !AfxQuitPending())
            loop.exec(QEventLoop::DialogExec);
        m_loop = nullptr;
    }
    AfxPopModal(this);
    if (GetSafeHwnd())
        DestroyWindow();
    return m_nModalResult;
}

void CDialog::EndDialog(int result)
{
    m_nModalResult = result;
    m_ended = true;
    if (m_loop)
        m_loop->exit(0);
}

void CDialog::EndForQuit()
{
    if (!m_ended)
        m_nModalResult = -1;
    m_ended = true;
    if (m_loop)
        m_loop->exit(0);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::ClickDefault(MSG* msg)
{
    // A focused push button (the one the key went to) takes Enter itself;
    // otherwise the default button, or IDOK when the dialog has none.
    auto* focus = AfxWindowWidget::Of(CWnd::FromHandle(msg->hwnd));
    if (focus && focus->window() == GetQWidget() && focus->WindowKind() == AfxWindowWidget::Kind::Button) {
        const DWORD type = focus->style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_OWNERDRAW) {
            if (focus->Owner())
                focus->Owner()->SendMessage(BM_CLICK, 0, 0);
            return;
        }
    }
    const LRESULT defId = SendMessage(DM_GETDEFID, 0, 0);
    UINT id = HIWORD(defId) == DC_HASDEFID ? LOWORD(defId) : IDOK;
    CWnd* button = GetDlgItem(static_cast<int>(id));
    if (button && !button->IsWindowEnabled())
        return;
    SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button ? button->m_hWnd : nullptr));
}

BOOL CDialog::PreTranslateMessage(MSG* msg)
{
    if (msg->message != WM_KEYDOWN)
        return FALSE;
    switch (msg->wParam) {
    case VK_ESCAPE: {
        CWnd* cancel = GetDlgItem(IDCANCEL);
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                    reinterpret_cast<LPARAM>(cancel ? cancel->m_hWnd : nullptr));
        return TRUE;
    }
    case VK_RETURN:
        ClickDefault(msg);
        return TRUE;
    case 0:
        // A key that the dialog's own translation took away.
        return TRUE;
    default:
        return FALSE;
    }
}
