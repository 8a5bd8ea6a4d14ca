// Helpers for tests of framework windows: a Qt application on the offscreen
// platform, waiting for events, and screenshots into the build folder.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QImage>
#include <QTest>
#include <QWidget>

#include <functional>
#include <string>

#include <afxwin.h>

inline void EnsureTestApplication()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "afx_test";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
}

// Processes events until `done` holds; false after `timeoutMs`.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    return QTest::qWaitFor(done, timeoutMs);
}

// Moves the mouse through the window system, so that widgets get their
// enter and leave events, and puts the cursor there.
inline void MoveMouse(QWidget* widget, QPoint pos)
{
    QWidget* top = widget->window();
    const QPoint inTop = widget->mapTo(top, pos);
    QCursor::setPos(top->mapToGlobal(inTop));
    QTest::mouseMove(top->windowHandle(), inTop);
}

// Presses and releases the left button through the window system.
inline void PressMouse(QWidget* widget, QPoint pos)
{
    QWidget* top = widget->window();
    QTest::mousePress(top->windowHandle(), Qt::LeftButton, {}, widget->mapTo(top, pos));
}

inline void ReleaseMouse(QWidget* widget, QPoint pos)
{
    QWidget* top = widget->window();
    QTest::mouseRelease(top->windowHandle(), Qt::LeftButton, {}, widget->mapTo(top, pos));
}

inline QImage Grab(CWnd& wnd)
{
    return wnd.GetQWidget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Saves `image` as <build>/screenshots/<name>.png.
inline void SaveScreenshot(const QImage& image, const std::string& name)
{
    QDir().mkpath(QStringLiteral(MESHDROP_SCREENSHOT_DIR));
    image.save(QStringLiteral(MESHDROP_SCREENSHOT_DIR "/") + QString::fromStdString(name) + QStringLiteral(".png"));
}

inline QRgb Pixel(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

// A top-level framework window to hold controls under test.
class TestHostWindow : public CWnd {
public:
    explicit TestHostWindow(int width = 400, int height = 300, COLORREF background = RGB(0x30, 0x40, 0x50))
        : m_background(background)
    {
        EnsureTestApplication();
        CreateEx(0, L"TestHost", L"", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, 0);
        // A plain top-level window, so that the window system activates it.
        GetQWidget()->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        GetQWidget()->show();
    }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_ERASEBKGND && wParam) {
            CRect client;
            GetClientRect(&client);
            CDC::FromHandle(reinterpret_cast<HDC>(wParam))->FillSolidRect(&client, m_background);
            return TRUE;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }

    QRgb Background() const
    {
        return qRgb(GetRValue(m_background), GetGValue(m_background), GetBValue(m_background)) & 0xFFFFFF;
    }

private:
    COLORREF m_background;
};
