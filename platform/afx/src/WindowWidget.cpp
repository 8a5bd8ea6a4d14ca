#include "WindowWidget.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionProgressBar>
#include <QTimer>
#include <QWindow>

#include <map>

#include <win32_ext.h>

#include "AfxInternal.h"
#include "afx/WebBrowser.h"

namespace {

std::map<QWidget*, int>& BusyWindows()
{
    static std::map<QWidget*, int> busy;
    return busy;
}

WPARAM MouseFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    WPARAM flags = 0;
    if (buttons & Qt::LeftButton)
        flags |= MK_LBUTTON;
    if (buttons & Qt::RightButton)
        flags |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton)
        flags |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier)
        flags |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        flags |= MK_CONTROL;
    return flags;
}

LPARAM PointParam(const QPoint& p)
{
    return MAKELPARAM(static_cast<SHORT>(p.x()), static_cast<SHORT>(p.y()));
}

HBRUSH FaceBrush()
{
    static CBrush brush;
    brush.CreateSolidBrush(GetSysColor(COLOR_3DFACE));
    return brush.GetSafeHandle();
}

// What the banner takes from a server: at most 8 MiB, through at most 5
// redirects, with no pause of more than 20 seconds and 60 seconds in all; a
// picture of at most 2048 x 2048 pixels (a few bytes of GIF can announce a
// far larger screen, decoded anew for every frame) and 500 frames.
constexpr qint64 kBrowserContentLimit = 8 * 1024 * 1024;
constexpr int kBrowserRedirectLimit = 5;
constexpr int kBrowserStallMs = 20000;
constexpr int kBrowserDeadlineMs = 60000;
constexpr qint64 kBrowserPixelLimit = 2048 * 2048;
constexpr int kBrowserFrameLimit = 500;

bool TooLarge(const QSize& size)
{
    return !size.isValid() || static_cast<qint64>(size.width()) * size.height() > kBrowserPixelLimit;
}

// A GIF's logical screen, in which every frame is drawn; the image reader
// reports the first frame's size instead.
QSize GifScreen(const QByteArray& data)
{
    if (data.size() < 10 || !data.startsWith("GIF8"))
        return QSize(0, 0);
    const auto byte = [&](int i) { return static_cast<int>(static_cast<unsigned char>(data[i])); };
    return QSize(byte(6) | byte(7) << 8, byte(8) | byte(9) << 8);
}

// Why a picture is not shown, or empty when it may be.
QString PictureRefusal(QImageReader& reader, const QByteArray& data)
{
    if (TooLarge(reader.size()) || (data.startsWith("GIF8") && TooLarge(GifScreen(data))))
        return QStringLiteral("(picture larger than 2048 x 2048 pixels)");
    if (reader.supportsAnimation() && reader.imageCount() > kBrowserFrameLimit)
        return QStringLiteral("(animation of more than 500 frames)");
    return QString();
}

} // namespace

AfxEventScope::AfxEventScope(QWidget* widget) : m_topLevel(widget ? widget->window() : nullptr)
{
    if (m_topLevel)
        ++BusyWindows()[m_topLevel];
}

AfxEventScope::~AfxEventScope()
{
    if (!m_topLevel)
        return;
    auto it = BusyWindows().find(m_topLevel);
    if (it != BusyWindows().end() && --it->second == 0)
        BusyWindows().erase(it);
}

bool AfxEventScope::IsBusy(QWidget* topLevel)
{
    return BusyWindows().count(topLevel) != 0;
}

AfxWindowWidget::Kind AfxWindowWidget::KindOfClass(LPCWSTR className)
{
    const std::wstring name = className ? className : L"";
    if (name == L"Static")
        return Kind::Static;
    if (name == L"Button")
        return Kind::Button;
    if (name == L"msctls_progress32")
        return Kind::Progress;
    if (name == L"Browser")
        return Kind::Browser;
    return Kind::Window;
}

AfxWindowWidget::AfxWindowWidget(Kind kind, DWORD windowStyle, DWORD windowExStyle, UINT id, QWidget* parent)
    : QWidget(parent), style(windowStyle), exStyle(windowExStyle), m_kind(kind), m_id(id)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_DeleteOnClose, false);
    if (kind == Kind::Button)
        setFocusPolicy((windowStyle & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    if (windowStyle & WS_DISABLED)
        setEnabled(false);
    if (kind == Kind::Browser) {
        m_browserView = new QLabel(this);
        m_browserView->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_browserView->setWordWrap(true);
        m_browserView->setTextFormat(Qt::PlainText);
        m_browserView->setMouseTracking(true);
    }
}

AfxWindowWidget::~AfxWindowWidget()
{
    if (m_hwnd)
        DestroyTree();
}

bool AfxWindowWidget::Bind(CWnd* owner, LPCWSTR title)
{
    AfxRegisterWindowClass();
    HWND parent = nullptr;
    if (auto* p = dynamic_cast<AfxWindowWidget*>(parentWidget()))
        parent = p->Handle();
    m_hwnd = CreateWindowExW(exStyle, kAfxWindowClass, isWindow() ? title : L"", style, x(), y(), width(), height(),
                             parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(m_id)), nullptr, nullptr);
    if (!m_hwnd)
        return false;
    text = title ? title : L"";
    m_owner = owner;
    AfxMapHandle(m_hwnd, owner);
    owner->Attach(this);
    ApplyText();
    return true;
}

void AfxWindowWidget::Rebind(CWnd* owner)
{
    if (m_owner == owner)
        return;
    if (m_owner)
        m_owner->Detach();
    m_owner = owner;
    AfxMapHandle(m_hwnd, owner);
    owner->Attach(this);
}

void AfxWindowWidget::AdoptDefaultOwner(std::unique_ptr<CWnd> owner)
{
    m_defaultOwner = std::move(owner);
}

void AfxWindowWidget::DestroyTree()
{
    if (!m_hwnd)
        return;
    {
        AfxEventScope scope(this);
        Send(WM_DESTROY);
    }
    for (QObject* child : children()) {
        if (auto* w = dynamic_cast<AfxWindowWidget*>(child))
            w->DestroyTree();
    }
    HWND hwnd = m_hwnd;
    m_hwnd = nullptr;
    AfxUnmapHandle(hwnd);
    ::DestroyWindow(hwnd);
    if (CWnd* owner = m_owner) {
        m_owner = nullptr;
        owner->Detach();
        owner->PostNcDestroy();
    }
}

LRESULT AfxWindowWidget::Send(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_owner)
        return m_owner->WindowProc(message, wParam, lParam);
    return DefaultProc(message, wParam, lParam);
}

void AfxWindowWidget::ApplyFont()
{
    if (fontObject && !fontObject->IsNull())
        setFont(fontObject->Font());
}

void AfxWindowWidget::ApplyText()
{
    if (isWindow()) {
        setWindowTitle(QString::fromStdWString(text));
        // Other copies of the program find this window by its title.
        if (m_hwnd)
            ::SetWindowTextW(m_hwnd, text.c_str());
    }
    update();
}

QImage AfxWindowWidget::RenderBeneath(AfxWindowWidget* skip)
{
    const int scale = AfxBitmapScale();
    QImage picture(size().expandedTo(QSize(1, 1)) * scale, QImage::Format_RGB32);
    picture.setDevicePixelRatio(scale);
    picture.fill(palette().color(QPalette::Window));
    QPainter painter(&picture);
    // The window's own drawing, then its children from the bottom of the
    // stacking order up to the one that holds `skip`: the ones above it are
    // not beneath it, and `skip` itself is usually painting right now, which
    // must not be entered again.
    render(&painter, QPoint(), QRegion(rect()), QWidget::DrawWindowBackground);
    const QWidget* stop = skip;
    while (stop && stop->parentWidget() != this)
        stop = stop->parentWidget();
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow())
            continue;
        if (widget == stop)
            break;
        if (widget->isVisible())
            widget->render(&painter, widget->pos(), QRegion(widget->rect()),
                           QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    return picture;
}

// ---------------------------------------------------------------------------
// Qt events as window messages

bool AfxWindowWidget::event(QEvent* e)
{
    AfxEventScope scope(this);
    return QWidget::event(e);
}

void AfxWindowWidget::paintEvent(QPaintEvent*)
{
    if (!m_owner)
        return;
    QPainter painter(this);
    QPainter* previous = m_activePainter;
    m_activePainter = &painter;
    {
        CPaintDC dc(m_owner);
        Send(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()));
    }
    if (m_owner)
        Send(WM_PAINT);
    m_activePainter = previous;
}

void AfxWindowWidget::mouseMoveEvent(QMouseEvent* e)
{
    Send(WM_MOUSEMOVE, MouseFlags(e->buttons(), e->modifiers()), PointParam(e->position().toPoint()));
}

void AfxWindowWidget::mousePressEvent(QMouseEvent* e)
{
    const WPARAM flags = MouseFlags(e->buttons(), e->modifiers());
    const LPARAM point = PointParam(e->position().toPoint());
    if (e->button() == Qt::LeftButton)
        Send(WM_LBUTTONDOWN, flags, point);
    else if (e->button() == Qt::RightButton)
        Send(WM_RBUTTONDOWN, flags, point);
    else if (e->button() == Qt::MiddleButton)
        Send(WM_MBUTTONDOWN, flags, point);
}

void AfxWindowWidget::mouseReleaseEvent(QMouseEvent* e)
{
    const WPARAM flags = MouseFlags(e->buttons(), e->modifiers());
    const LPARAM point = PointParam(e->position().toPoint());
    if (e->button() == Qt::LeftButton)
        Send(WM_LBUTTONUP, flags, point);
    else if (e->button() == Qt::RightButton)
        Send(WM_RBUTTONUP, flags, point);
    else if (e->button() == Qt::MiddleButton)
        Send(WM_MBUTTONUP, flags, point);
}

void AfxWindowWidget::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        Send(WM_LBUTTONDBLCLK, MouseFlags(e->buttons(), e->modifiers()), PointParam(e->position().toPoint()));
}

void AfxWindowWidget::leaveEvent(QEvent*)
{
    if (trackLeave) {
        trackLeave = false;
        Send(WM_MOUSELEAVE);
    }
}

void AfxWindowWidget::keyPressEvent(QKeyEvent* e)
{
    UINT vk = AfxVirtualKey(e);
    if (vk == 0) {
        QWidget::keyPressEvent(e);
        return;
    }
    Send(WM_KEYDOWN, vk, 1);
}

void AfxWindowWidget::keyReleaseEvent(QKeyEvent* e)
{
    UINT vk = AfxVirtualKey(e);
    if (vk == 0) {
        QWidget::keyReleaseEvent(e);
        return;
    }
    Send(WM_KEYUP, vk, 1);
}

void AfxWindowWidget::focusInEvent(QFocusEvent*)
{
    Send(WM_SETFOCUS);
    update();
}

void AfxWindowWidget::focusOutEvent(QFocusEvent*)
{
    Send(WM_KILLFOCUS);
    update();
}

void AfxWindowWidget::changeEvent(QEvent* e)
{
    switch (e->type()) {
    case QEvent::EnabledChange:
        Send(WM_ENABLE, isEnabled() ? TRUE : FALSE);
        break;
    case QEvent::ActivationChange:
        // Qt's own activation: tell the window, without the raise that an
        // activation request from another process asks for.
        if (m_owner)
            m_owner->WindowProc(WM_ACTIVATE, isActiveWindow() ? WA_ACTIVE : WA_INACTIVE, kAfxQtActivation);
        break;
    case QEvent::WindowStateChange:
        if (isWindow() && m_hwnd)
            W32SetWindowIconic(m_hwnd, isMinimized() ? TRUE : FALSE);
        break;
    default:
        break;
    }
    QWidget::changeEvent(e);
}

void AfxWindowWidget::closeEvent(QCloseEvent* e)
{
    // Closing is the window's own decision (WM_CLOSE), never Qt's.
    e->ignore();
    Send(WM_CLOSE);
}

void AfxWindowWidget::resizeEvent(QResizeEvent* e)
{
    if (m_browserView)
        m_browserView->setGeometry(rect());
    QWidget::resizeEvent(e);
    Send(WM_SIZE, 0, MAKELPARAM(width(), height()));
}

// ---------------------------------------------------------------------------
// Default course of the messages

bool AfxWindowWidget::IsCheckBox() const
{
    const DWORD type = style & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
}

bool AfxWindowWidget::IsPushButton() const
{
    const DWORD type = style & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_OWNERDRAW;
}

void AfxWindowWidget::Click()
{
    if ((style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        check = check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        update();
    }
    HWND self = m_hwnd;
    CWnd* parent = m_owner ? m_owner->GetParent() : nullptr;
    if (parent)
        parent->SendMessage(WM_COMMAND, MAKEWPARAM(m_id, BN_CLICKED), reinterpret_cast<LPARAM>(self));
}

LRESULT AfxWindowWidget::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        if (!m_owner)
            return 0;
        CPaintDC dc(m_owner);
        if (m_kind == Kind::Static)
            PaintStatic(dc);
        else if (m_kind == Kind::Button)
            PaintButton(dc);
        else if (m_kind == Kind::Progress)
            PaintProgress(dc);
        return 0;
    }
    case WM_ERASEBKGND:
        if ((m_kind == Kind::Dialog || m_kind == Kind::Window || m_kind == Kind::Popup) && wParam) {
            CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(wParam));
            CRect r(0, 0, width(), height());
            dc->FillSolidRect(&r, GetSysColor(COLOR_3DFACE));
        }
        return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORMSGBOX:
        if (wParam) {
            CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(wParam));
            dc->SetTextColor(GetSysColor(COLOR_WINDOWTEXT));
            dc->SetBkColor(GetSysColor(COLOR_3DFACE));
        }
        return reinterpret_cast<LRESULT>(FaceBrush());
    case WM_SETTEXT:
        text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : L"";
        ApplyText();
        return TRUE;
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(text.size());
    case WM_SETFONT:
        fontObject = CFont::FromHandle(reinterpret_cast<HFONT>(wParam));
        ApplyFont();
        if (lParam)
            update();
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(fontObject ? fontObject->GetSafeHandle() : nullptr);
    case WM_CLOSE:
        if (m_kind == Kind::Dialog && m_owner)
            m_owner->SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_RESTORE:
            setWindowState(windowState() & ~Qt::WindowMinimized);
            show();
            raise();
            activateWindow();
            break;
        case SC_MINIMIZE:
            showMinimized();
            break;
        case SC_CLOSE:
            Send(WM_CLOSE);
            break;
        default:
            break;
        }
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && isWindow() && lParam != kAfxQtActivation) {
            show();
            raise();
            activateWindow();
        }
        return 0;
    case WM_NCLBUTTONDOWN:
        // Dragging by the caption: the window system moves the window.
        if (wParam == HTCAPTION && windowHandle())
            windowHandle()->startSystemMove();
        return 0;
    case DM_GETDEFID:
        return defaultId ? MAKELONG(defaultId, DC_HASDEFID) : 0;
    case DM_SETDEFID:
        defaultId = static_cast<UINT>(wParam);
        return TRUE;
    case STM_SETIMAGE: {
        HBITMAP previous = image;
        image = reinterpret_cast<HBITMAP>(lParam);
        update();
        return reinterpret_cast<LRESULT>(previous);
    }
    case STM_GETIMAGE:
        return reinterpret_cast<LRESULT>(image);
    default:
        break;
    }

    if (m_kind == Kind::Button) {
        switch (message) {
        case WM_LBUTTONDOWN:
            pushed = true;
            setFocus(Qt::MouseFocusReason);
            update();
            return 0;
        case WM_MOUSEMOVE:
            if ((wParam & MK_LBUTTON) && QApplication::mouseButtons() & Qt::LeftButton) {
                const CPoint p = AfxPointFromLParam(lParam);
                const bool inside = rect().contains(p.x, p.y);
                if (inside != pushed && QWidget::mouseGrabber() == this) {
                    pushed = inside;
                    update();
                }
            }
            return 0;
        case WM_LBUTTONUP: {
            const bool wasPushed = pushed;
            pushed = false;
            update();
            const CPoint p = AfxPointFromLParam(lParam);
            if (wasPushed && rect().contains(p.x, p.y))
                Click();
            return 0;
        }
        case WM_KEYDOWN:
            if (wParam == VK_SPACE) {
                pushed = true;
                update();
            }
            return 0;
        case WM_KEYUP:
            if (wParam == VK_SPACE && pushed) {
                pushed = false;
                update();
                Click();
            }
            return 0;
        case BM_CLICK:
            Click();
            return 0;
        case BM_GETCHECK:
            return check;
        case BM_SETCHECK:
            check = static_cast<int>(wParam);
            update();
            return 0;
        case BM_GETSTATE:
            return check | (pushed ? BST_PUSHED : 0) | (hasFocus() ? BST_FOCUS : 0);
        case BM_SETSTATE:
            pushed = wParam != 0;
            update();
            return 0;
        case BM_SETSTYLE:
            style = (style & ~0xFFFFu) | LOWORD(wParam);
            if (lParam)
                update();
            return 0;
        default:
            break;
        }
    }
    return m_hwnd ? ::DefWindowProcW(m_hwnd, message, wParam, lParam) : 0;
}

void AfxWindowWidget::PaintStatic(CDC& dc)
{
    CWnd* parent = m_owner->GetParent();
    dc.SetTextColor(GetSysColor(COLOR_WINDOWTEXT));
    dc.SetBkColor(GetSysColor(COLOR_3DFACE));
    dc.SetBkMode(OPAQUE);
    HBRUSH brush =
        parent ? reinterpret_cast<HBRUSH>(parent->SendMessage(
                     WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), reinterpret_cast<LPARAM>(m_hwnd)))
               : nullptr;
    CRect client(0, 0, width(), height());
    if (brush && brush != AfxNullBrush())
        dc.FillRect(&client, CBrush::FromHandle(brush));

    if ((style & SS_TYPEMASK) == SS_BITMAP) {
        if (CBitmap* bitmap = CBitmap::FromHandle(image)) {
            CDC memory;
            memory.CreateCompatibleDC(&dc);
            CBitmap* old = memory.SelectObject(bitmap);
            dc.BitBlt(0, 0, bitmap->GetSize().cx, bitmap->GetSize().cy, &memory, 0, 0, SRCCOPY);
            memory.SelectObject(old);
        }
        return;
    }
    UINT format = DT_WORDBREAK | DT_NOPREFIX;
    const DWORD type = style & SS_TYPEMASK;
    if (type == SS_CENTER)
        format |= DT_CENTER;
    else if (type == SS_RIGHT)
        format |= DT_RIGHT;
    CFont* old = dc.SelectObject(fontObject);
    dc.DrawText(text, &client, format);
    dc.SelectObject(old);
}

void AfxWindowWidget::PaintButton(CDC& dc)
{
    CWnd* parent = m_owner->GetParent();
    if ((style & BS_TYPEMASK) == BS_OWNERDRAW) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = m_id;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = (pushed ? ODS_SELECTED : 0) | (hasFocus() ? ODS_FOCUS : 0) | (isEnabled() ? 0 : ODS_DISABLED);
        item.hwndItem = m_hwnd;
        item.hDC = dc.GetSafeHdc();
        item.rcItem = CRect(0, 0, width(), height());
        if (parent)
            parent->SendMessage(WM_DRAWITEM, m_id, reinterpret_cast<LPARAM>(&item));
        else {
            LRESULT ignored = 0;
            m_owner->OnChildNotify(WM_DRAWITEM, m_id, reinterpret_cast<LPARAM>(&item), &ignored);
        }
        return;
    }
    if (parent)
        parent->SendMessage(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc.GetSafeHdc()),
                            reinterpret_cast<LPARAM>(m_hwnd));
    QPainter* painter = dc.Painter();
    if (!painter)
        return;
    painter->save();
    painter->setFont(QWidget::font());
    if (IsCheckBox()) {
        QStyleOptionButton option;
        option.initFrom(this);
        option.text = QString::fromStdWString(text);
        option.state |= check == BST_CHECKED ? QStyle::State_On : QStyle::State_Off;
        if (pushed)
            option.state |= QStyle::State_Sunken;
        QWidget::style()->drawControl(QStyle::CE_CheckBox, &option, painter, this);
    } else {
        QStyleOptionButton option;
        option.initFrom(this);
        option.text = QString::fromStdWString(text);
        option.state |= pushed ? QStyle::State_Sunken : QStyle::State_Raised;
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            option.features |= QStyleOptionButton::DefaultButton;
        QWidget::style()->drawControl(QStyle::CE_PushButton, &option, painter, this);
    }
    painter->restore();
}

void AfxWindowWidget::PaintProgress(CDC& dc)
{
    QPainter* painter = dc.Painter();
    if (!painter)
        return;
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.minimum = rangeLower;
    option.maximum = rangeUpper;
    option.progress = position;
    option.textVisible = false;
    QWidget::style()->drawControl(QStyle::CE_ProgressBar, &option, painter, this);
}

// ---------------------------------------------------------------------------
// Banner content

void AfxWindowWidget::Navigate(const CString& url)
{
    if (!m_browserView)
        return;
    const QString address = QString::fromStdWString(url);
    if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
        address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        if (!m_network) {
            // The banner goes through the proxy of the environment, as the
            // download library's requests do.
            QNetworkProxyFactory::setUseSystemConfiguration(true);
            m_network = new QNetworkAccessManager(this);
        }
        QNetworkRequest request{QUrl(address)};
        request.setMaximumRedirectsAllowed(kBrowserRedirectLimit);
        request.setTransferTimeout(kBrowserStallMs);
        QNetworkReply* reply = m_network->get(request);
        QTimer::singleShot(kBrowserDeadlineMs, reply, [reply] { reply->abort(); });
        auto received = std::make_shared<QByteArray>();
        connect(reply, &QNetworkReply::readyRead, reply, [reply, received] {
            received->append(reply->read(kBrowserContentLimit + 1 - received->size()));
            if (received->size() > kBrowserContentLimit)
                reply->abort();
        });
        connect(reply, &QNetworkReply::finished, this, [this, reply, received, address] {
            if (reply->error() == QNetworkReply::NoError)
                received->append(reply->read(kBrowserContentLimit + 1 - received->size()));
            if (reply->error() != QNetworkReply::NoError)
                m_browserView->setText(reply->errorString());
            else if (received->size() > kBrowserContentLimit)
                m_browserView->setText(QStringLiteral("(content larger than 8 MiB)"));
            else
                ShowBrowserContent(*received, address);
            reply->deleteLater();
        });
        return;
    }
    QString path = address;
    if (path.startsWith(QLatin1String("file://"), Qt::CaseInsensitive))
        path = QUrl(address).toLocalFile();
    else if (path.size() > 1 && path[1] == QLatin1Char(':'))
        path = QString::fromStdString(W32PathToPosix(std::wstring_view(url)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_browserView->setText(QStringLiteral("%1: %2").arg(address, file.errorString()));
        return;
    }
    ShowBrowserContent(file.read(kBrowserContentLimit), address);
}

void AfxWindowWidget::ShowBrowserContent(const QByteArray& data, const QString&)
{
    if (m_browserMovie) {
        m_browserView->setMovie(nullptr);
        delete m_browserMovie;
        m_browserMovie = nullptr;
    }
    auto* buffer = new QBuffer;
    buffer->setData(data);
    buffer->open(QIODevice::ReadOnly);
    QImageReader reader(buffer);
    if (reader.canRead()) {
        if (const QString refusal = PictureRefusal(reader, data); !refusal.isEmpty()) {
            delete buffer;
            m_browserView->setText(refusal);
            return;
        }
        if (reader.supportsAnimation() && reader.imageCount() != 1) {
            buffer->seek(0);
            m_browserMovie = new QMovie(buffer, QByteArray(), this);
            buffer->setParent(m_browserMovie);
            m_browserView->setMovie(m_browserMovie);
            m_browserMovie->start();
            return;
        }
        const QImage picture = reader.read();
        delete buffer;
        m_browserView->setPixmap(QPixmap::fromImage(picture));
        return;
    }
    delete buffer;
    m_browserView->setText(QString::fromUtf8(data.left(64 * 1024)));
}

BOOL AfxBrowserNavigate(CWnd* browser, LPCWSTR url)
{
    AfxWindowWidget* widget = AfxWindowWidget::Of(browser);
    if (!widget || widget->WindowKind() != AfxWindowWidget::Kind::Browser || !url)
        return FALSE;
    widget->Navigate(url);
    return TRUE;
}
