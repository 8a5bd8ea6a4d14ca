#include "afx/MessageBox.h"

#include <QMessageBox>
#include <QPointer>

#include "AfxInternal.h"
#include "afx/CWinApp.h"
#include "afx/CWnd.h"

namespace {

AfxMessageBoxResponder& Responder()
{
    static AfxMessageBoxResponder responder;
    return responder;
}

QMessageBox::Icon IconOf(UINT icon)
{
    switch (icon) {
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONERROR:
        return QMessageBox::Critical;
    default:
        return QMessageBox::NoIcon;
    }
}

// A window of the Win32 layer that stands for an open box, so that the box
// is found (GetLastActivePopup) and brought to the front (SetForegroundWindow)
// as a window is, also from another process.
class BoxWindow {
public:
    explicit BoxWindow(QMessageBox* box) : m_box(box)
    {
        static const bool registered = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = Proc;
            wc.lpszClassName = L"AfxMessageBox";
            return RegisterClassW(&wc) != 0;
        }();
        (void)registered;
        // Untitled: it is published only as its owner's open pop-up.
        m_hwnd = CreateWindowExW(0, L"AfxMessageBox", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        if (m_hwnd)
            SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~BoxWindow()
    {
        if (m_hwnd)
            DestroyWindow(m_hwnd);
    }
    BoxWindow(const BoxWindow&) = delete;
    BoxWindow& operator=(const BoxWindow&) = delete;
    HWND Handle() const { return m_hwnd; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<BoxWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE && self && self->m_box) {
            self->m_box->raise();
            self->m_box->activateWindow();
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    QPointer<QMessageBox> m_box;
    HWND m_hwnd = nullptr;
};

} // namespace

void AfxSetMessageBoxResponder(AfxMessageBoxResponder responder)
{
    Responder() = std::move(responder);
}

int AfxMessageBox(LPCWSTR text, UINT type, UINT)
{
    return AfxShowMessageBox(AfxGetMainWnd(), text, nullptr, type, true);
}

int AfxShowMessageBox(CWnd* owner, LPCWSTR text, LPCWSTR caption, UINT type, bool applicationBox)
{
    AfxMessageBoxCall call;
    call.text = text ? text : L"";
    call.caption = (caption && !applicationBox) ? CString(caption) : AfxGetAppName();
    call.buttons = type & MB_TYPEMASK;
    call.icon = type & MB_ICONMASK;
    call.applicationBox = applicationBox;
    if (Responder())
        return Responder()(call);

    AfxEnsureApplication();
    QWidget* parent = owner && owner->GetQWidget() ? owner->GetQWidget()->window() : nullptr;
    QPointer<QMessageBox> box = new QMessageBox(IconOf(call.icon), QString::fromStdWString(call.caption),
                                                QString::fromStdWString(call.text), QMessageBox::NoButton, parent);
    switch (call.buttons) {
    case MB_YESNO:
        box->addButton(QMessageBox::Yes);
        box->addButton(QMessageBox::No);
        break;
    case MB_YESNOCANCEL:
        box->addButton(QMessageBox::Yes);
        box->addButton(QMessageBox::No);
        box->addButton(QMessageBox::Cancel);
        break;
    case MB_OKCANCEL:
        box->addButton(QMessageBox::Ok);
        box->addButton(QMessageBox::Cancel);
        break;
    default:
        box->addButton(QMessageBox::Ok);
        break;
    }
    box->setWindowModality(Qt::ApplicationModal);
    int answer = QMessageBox::NoButton;
    {
        const BoxWindow window(box.data());
        const AfxActivePopupScope popup(owner, window.Handle());
        answer = box->exec();
    }
    delete box;
    switch (answer) {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Ok:
        return IDOK;
    default:
        // Closed without a button: the answer of the box's escape button.
        return call.buttons == MB_OK ? IDOK : call.buttons == MB_YESNO ? IDNO : IDCANCEL;
    }
}
