#include "afx/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

#include <cstdlib>

#include "afx/CWinApp.h"

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// The session bus named by the environment, or the user's bus of the
// runtime folder; empty when there is none. Read at each call, and never
// started on demand: a program should not bring up a bus of its own.
QString SessionBusAddress()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != '\0')
        return QString::fromLocal8Bit(address);
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        const QString socket = QString::fromLocal8Bit(runtime) + QStringLiteral("/bus");
        if (QFileInfo(socket).exists())
            return QStringLiteral("unix:path=") + socket;
    }
    return QString();
}

} // namespace

BOOL AfxShowDesktopNotification(LPCWSTR title, LPCWSTR text)
{
    const QString address = SessionBusAddress();
    if (address.isEmpty())
        return FALSE;
    // One connection per bus address, kept for the next notice.
    const QString name = QStringLiteral("afx-desktop-notification ") + address;
    QDBusConnection bus = QDBusConnection::connectToBus(address, name);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return FALSE;
    }
    const QString service = QString::fromLatin1(kService);
    if (bus.interface() == nullptr || !bus.interface()->isServiceRegistered(service).value())
        return FALSE;
    QDBusMessage notify =
        QDBusMessage::createMethodCall(service, QString::fromLatin1(kPath), service, QStringLiteral("Notify"));
    // The program's desktop entry and icon carry the executable's name.
    const QString program = QString::fromStdWString(AfxGetAppName());
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), program);
    notify << program << 0u << program << QString::fromWCharArray(title ? title : L"")
           << QString::fromWCharArray(text ? text : L"") << QStringList() << hints << -1;
    notify.setAutoStartService(false);
    return bus.send(notify) ? TRUE : FALSE;
}
