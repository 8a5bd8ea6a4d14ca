// The Qt widget behind every framework window. It keeps the window's state
// (class, styles, id, text, font, button and bar state), turns Qt's events
// into window messages for the CWnd that owns it, and draws the default look
// of the framework's control classes.
#pragma once

#include <QWidget>

#include <memory>

#include "afx/CWnd.h"

class QLabel;
class QMovie;

class AfxWindowWidget : public QWidget {
public:
    enum class Kind { Window, Dialog, Popup, Static, Button, Progress, Browser };

    AfxWindowWidget(Kind kind, DWORD style, DWORD exStyle, UINT id, QWidget* parent);
    ~AfxWindowWidget() override;

    static AfxWindowWidget* Of(const CWnd* wnd) { return wnd ? wnd->m_widget : nullptr; }
    static Kind KindOfClass(LPCWSTR className);

    CWnd* Owner() const { return m_owner; }
    HWND Handle() const { return m_hwnd; }
    Kind WindowKind() const { return m_kind; }
    UINT Id() const { return m_id; }

    // Creates the Win32 layer's window for this widget and binds `owner`.
    bool Bind(CWnd* owner, LPCWSTR title);
    // Moves the widget (and its handle) to another CWnd object.
    void Rebind(CWnd* owner);
    // Sends WM_DESTROY to this window and its children, releases the
    // handles and detaches the CWnd objects; the widget is deleted later
    // when it is being used by an event right now.
    void DestroyTree();
    // The CWnd that the framework made for a dialog control, used until the
    // program takes the control over.
    void AdoptDefaultOwner(std::unique_ptr<CWnd> owner);

    QPainter* ActivePainter() const { return m_activePainter; }
    // A picture of this window as it shows now, without `skip` and the
    // sibling windows stacked above it.
    QImage RenderBeneath(AfxWindowWidget* skip);

    // State used by the default window procedure.
    DWORD style = 0;
    DWORD exStyle = 0;
    CString text;
    CFont* fontObject = nullptr;
    int check = BST_UNCHECKED;
    bool pushed = false;
    bool trackLeave = false;
    int rangeLower = 0;
    int rangeUpper = 100;
    int position = 0;
    HBITMAP image = nullptr;
    UINT defaultId = 0;

    void ApplyFont();
    void ApplyText();

    // The default course of `message` for this window's class.
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Shows what `url` serves: a picture (animated when it is a GIF) or the
    // beginning of its text. Files and http addresses.
    void Navigate(const CString& url);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    void PaintStatic(CDC& dc);
    void PaintButton(CDC& dc);
    void PaintProgress(CDC& dc);
    void Click();
    bool IsCheckBox() const;
    bool IsPushButton() const;
    void ShowBrowserContent(const QByteArray& data, const QString& source);

    Kind m_kind;
    UINT m_id;
    CWnd* m_owner = nullptr;
    HWND m_hwnd = nullptr;
    std::unique_ptr<CWnd> m_defaultOwner;
    QPainter* m_activePainter = nullptr;
    QLabel* m_browserView = nullptr;
    QMovie* m_browserMovie = nullptr;
    class QNetworkAccessManager* m_network = nullptr;
};

// Windows in the middle of handling an event: a window destroyed from its
// own handler is deleted once the handler has returned.
class AfxEventScope {
public:
    explicit AfxEventScope(QWidget* widget);
    ~AfxEventScope();
    static bool IsBusy(QWidget* topLevel);

private:
    QWidget* m_topLevel;
};
