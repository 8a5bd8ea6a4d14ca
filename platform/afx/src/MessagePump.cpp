// The bridge between the Win32 layer's message queue of the Qt thread and
// Qt's event loop, and the pre-translation of input events.
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSocketNotifier>

#include <win32_ext.h>

#include "AfxInternal.h"
#include "WindowWidget.h"

namespace {

// Drains the queue whenever its descriptor is readable: every posted message
// (library events, the dialog's own messages, timers) is dispatched to its
// window procedure. Qt watches the descriptor in every loop, nested ones
// included, so messages keep flowing while a box or dialog is open.
void DrainQueue()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            AfxOnQuitMessage(static_cast<int>(msg.wParam));
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

UINT MouseMessage(const QMouseEvent* e)
{
    switch (e->type()) {
    case QEvent::MouseMove:
        return WM_MOUSEMOVE;
    case QEvent::MouseButtonPress:
        return e->button() == Qt::LeftButton    ? WM_LBUTTONDOWN
               : e->button() == Qt::RightButton ? WM_RBUTTONDOWN
                                                : WM_MBUTTONDOWN;
    case QEvent::MouseButtonRelease:
        return e->button() == Qt::LeftButton    ? WM_LBUTTONUP
               : e->button() == Qt::RightButton ? WM_RBUTTONUP
                                                : WM_MBUTTONUP;
    case QEvent::MouseButtonDblClick:
        return WM_LBUTTONDBLCLK;
    default:
        return 0;
    }
}

// Input events of framework windows pass through PreTranslateMessage of the
// window and its parents (up to its top-level window) before the window
// handles them; TRUE from any of them consumes the event. A key whose code a
// PreTranslateMessage replaced is consumed as well.
class InputFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        MSG msg{};
        switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            auto* e = static_cast<QMouseEvent*>(event);
            msg.message = MouseMessage(e);
            WPARAM flags = 0;
            if (e->buttons() & Qt::LeftButton)
                flags |= MK_LBUTTON;
            if (e->buttons() & Qt::RightButton)
                flags |= MK_RBUTTON;
            msg.wParam = flags;
            const QPoint p = e->position().toPoint();
            msg.lParam = MAKELPARAM(static_cast<SHORT>(p.x()), static_cast<SHORT>(p.y()));
            break;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            msg.message = event->type() == QEvent::KeyPress ? WM_KEYDOWN : WM_KEYUP;
            msg.wParam = AfxVirtualKey(static_cast<QKeyEvent*>(event));
            if (msg.wParam == 0)
                return false;
            msg.lParam = 1;
            break;
        default:
            return false;
        }
        auto* widget = dynamic_cast<AfxWindowWidget*>(object);
        if (!widget || !widget->Owner())
            return false;
        msg.hwnd = widget->Handle();
        const QPoint cursor = QCursor::pos();
        msg.pt.x = cursor.x();
        msg.pt.y = cursor.y();
        const WPARAM original = msg.wParam;

        AfxEventScope scope(widget);
        for (CWnd* wnd = widget->Owner(); wnd; wnd = wnd->GetParent()) {
            if (wnd->PreTranslateMessage(&msg))
                return true;
        }
        return (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && msg.wParam != original;
    }
};

} // namespace

UINT AfxVirtualKey(const QKeyEvent* event)
{
    const int key = event->key();
    switch (key) {
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Space:
        return VK_SPACE;
    default:
        break;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<UINT>('A' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return static_cast<UINT>('0' + (key - Qt::Key_0));
    return 0;
}

void AfxEnsureApplication()
{
    static bool installed = false;
    if (installed)
        return;
    if (!QCoreApplication::instance()) {
        // Kept for the life of the process: Qt needs argc/argv that outlive it.
        static int argc = 1;
        static char name[] = "downloader";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
    installed = true;
    AfxRegisterWindowClass();
    qApp->installEventFilter(new InputFilter(qApp));
    const int fd = W32GetMessageQueueFd();
    if (fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, qApp);
        QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] { DrainQueue(); });
    }
}
