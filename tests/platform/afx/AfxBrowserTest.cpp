// The banner's browser control shows what an address serves: a picture,
// an animation for a GIF, the text of anything else.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QLabel>
#include <QMovie>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "AfxTestSupport.h"

namespace {

// Two frames of one pixel each.
const unsigned char kAnimatedGif[] = {
    'G',  'I',  'F',  '8',  '9',  'a',  0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF,
    0xFF, 0xFF, 0x21, 0xFF, 0x0B, 'N',  'E',  'T',  'S',  'C',  'A',  'P',  'E',  '2',  '.',  '0',  0x03,
    0x01, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00,
    0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x4C, 0x01, 0x00, 0x3B};

// Answers every request on loopback with `body`.
class OneFileServer {
public:
    explicit OneFileServer(QByteArray body) : m_body(std::move(body))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->readAll().contains("\r\n\r\n"))
                    return;
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nConnection: close\r\nContent-Length: " +
                              QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
                socket->disconnectFromHost();
            });
        });
    }
    std::wstring Url() const
    {
        return QStringLiteral("http://127.0.0.1:%1/download/tharnel/qlsdownload/tharnel.gif")
            .arg(m_server.serverPort())
            .toStdWString();
    }

private:
    QTcpServer m_server;
    QByteArray m_body;
};

class Browser : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureTestApplication();
        ASSERT_TRUE(
            m_browser.CreateEx(0, L"Browser", L"", WS_CHILD | WS_VISIBLE, 9, 3, 383, 442, m_host.GetSafeHwnd(), 1000));
        m_view = m_browser.GetQWidget()->findChild<QLabel*>();
        ASSERT_NE(m_view, nullptr);
    }

    QString WriteFile(const char* name, const QByteArray& data)
    {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }

    TestHostWindow m_host{420, 460};
    CWnd m_browser;
    QLabel* m_view = nullptr;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Browser, FetchesAPictureOverHttp)
{
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    OneFileServer server(png);
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, server.Url().c_str()));
    ASSERT_TRUE(WaitFor([&] { return !m_view->pixmap().isNull(); }, 10000));
    EXPECT_EQ(m_view->pixmap().size(), QSize(40, 30));
}

TEST_F(Browser, AnimatesAGifAndShowsOtherContentAsText)
{
    const QString gif =
        WriteFile("banner.gif", QByteArray(reinterpret_cast<const char*>(kAnimatedGif), sizeof kAnimatedGif));
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, QStringLiteral("file://%1").arg(gif).toStdWString().c_str()));
    ASSERT_NE(m_view->movie(), nullptr);
    EXPECT_TRUE(m_view->movie()->isValid());
    EXPECT_EQ(m_view->movie()->frameCount(), 2);

    const QString page = WriteFile("banner.txt", QByteArray("<html>歡迎</html>"));
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, QStringLiteral("file://%1").arg(page).toStdWString().c_str()));
    EXPECT_EQ(m_view->movie(), nullptr);
    EXPECT_EQ(m_view->text(), QStringLiteral("<html>歡迎</html>"));
}

TEST_F(Browser, AMissingFileIsReportedInTheBanner)
{
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, L"file:///nonexistent/banner.gif"));
    EXPECT_TRUE(m_view->text().contains(QStringLiteral("/nonexistent/banner.gif")));
    CWnd plain;
    EXPECT_FALSE(AfxBrowserNavigate(&plain, L"file:///x")) << "only browser controls navigate";
}

namespace {

// A GIF whose logical screen is width x height, with `frames` frames of one
// pixel each.
QByteArray Gif(int width, int height, int frames)
{
    QByteArray gif("GIF89a");
    for (int v : {width, height})
        gif.append(static_cast<char>(v & 0xFF)).append(static_cast<char>(v >> 8));
    gif.append("\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF", 9);
    gif.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    const char frame[] = "\x21\xF9\x04\x00\x0A\x00\x00\x00"
                         "\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00";
    for (int i = 0; i < frames; ++i)
        gif.append(frame, sizeof frame - 1);
    return gif.append('\x3B');
}

// Answers /r/N with a redirect to /r/N-1, and /r/0 with a picture.
class RedirectingServer {
public:
    RedirectingServer()
    {
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QBuffer buffer(&m_png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray head = socket->readAll();
                const int hop = head.mid(head.indexOf("/r/") + 3).split(' ').front().toInt();
                if (hop > 0)
                    socket->write("HTTP/1.1 302 Found\r\nConnection: close\r\nContent-Length: 0\r\nLocation: /r/" +
                                  QByteArray::number(hop - 1) + "\r\n\r\n");
                else
                    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                                  QByteArray::number(m_png.size()) + "\r\n\r\n" + m_png);
                socket->disconnectFromHost();
            });
        });
    }
    std::wstring Url(int hops) const
    {
        return QStringLiteral("http://127.0.0.1:%1/r/%2").arg(m_server.serverPort()).arg(hops).toStdWString();
    }

private:
    QTcpServer m_server;
    QByteArray m_png;
};

} // namespace

TEST_F(Browser, OversizedPicturesAndLongRedirectChainsAreRefused)
{
    const QString huge = WriteFile("huge.gif", Gif(4000, 4000, 1));
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, QStringLiteral("file://%1").arg(huge).toStdWString().c_str()));
    EXPECT_EQ(m_view->movie(), nullptr);
    EXPECT_TRUE(m_view->pixmap().isNull());
    EXPECT_TRUE(m_view->text().contains(QStringLiteral("2048")));

    const QString many = WriteFile("many.gif", Gif(1, 1, 501));
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, QStringLiteral("file://%1").arg(many).toStdWString().c_str()));
    EXPECT_EQ(m_view->movie(), nullptr);
    EXPECT_TRUE(m_view->text().contains(QStringLiteral("500")));
    const QString enough = WriteFile("enough.gif", Gif(1, 1, 500));
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, QStringLiteral("file://%1").arg(enough).toStdWString().c_str()));
    ASSERT_NE(m_view->movie(), nullptr);

    RedirectingServer server;
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, server.Url(6).c_str()));
    ASSERT_TRUE(WaitFor([&] { return !m_view->text().isEmpty(); }, 10000));
    EXPECT_TRUE(m_view->pixmap().isNull()) << m_view->text().toStdString();
    ASSERT_TRUE(AfxBrowserNavigate(&m_browser, server.Url(5).c_str()));
    ASSERT_TRUE(WaitFor([&] { return !m_view->pixmap().isNull(); }, 10000));
    EXPECT_EQ(m_view->pixmap().size(), QSize(8, 8));
}
