// A freedesktop notification service for tests: it owns the service's name
// on the given bus, records each Notify call and answers it.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <string>
#include <vector>

class FakeNotificationService : public QDBusVirtualObject {
public:
    explicit FakeNotificationService(const std::string& busAddress)
        : m_bus(QDBusConnection::connectToBus(QString::fromStdString(busAddress), QStringLiteral("notifications")))
    {
        m_registered = m_bus.registerVirtualObject(QString::fromLatin1(kPath), this) &&
                       m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~FakeNotificationService() override
    {
        m_bus.unregisterObject(QString::fromLatin1(kPath));
        QDBusConnection::disconnectFromBus(QStringLiteral("notifications"));
    }

    bool Registered() const { return m_registered; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QStringLiteral("Notify"))
            return false;
        calls.push_back(message.arguments());
        connection.send(message.createReply(QVariant::fromValue(7u)));
        return true;
    }
    QString introspect(const QString&) const override { return QString(); }

    // The arguments of each Notify: application, replaced id, icon, summary,
    // body, actions, hints, time-out.
    std::vector<QList<QVariant>> calls;

private:
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    QDBusConnection m_bus;
    bool m_registered = false;
};
