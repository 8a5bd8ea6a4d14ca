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
    const int answer = box->exec();
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
