#include "platform/DialUpConnections.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QList>
#include <QStringList>
#include <QVariant>

namespace {

const QString Service = QStringLiteral("org.freedesktop.NetworkManager");
const QString ManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString ManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString ActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");

// The old connection list held 256 entries; a longer list did not fit and nothing was hung up.
constexpr int MostConnections = 256;
constexpr int CallMilliseconds = 1000;
constexpr int AllCallsMilliseconds = 4000;

bool isDialUpKind(const QString& type)
{
    static const QStringList kinds{QStringLiteral("gsm"), QStringLiteral("cdma"), QStringLiteral("pppoe"),
                                   QStringLiteral("adsl"), QStringLiteral("bluetooth")};
    return kinds.contains(type);
}

class Bus
{
public:
    explicit Bus(QDBusConnection connection) : m_connection(std::move(connection)), m_deadline(AllCallsMilliseconds) {}

    // The reply's arguments, or nothing when the call failed or the time is up.
    std::optional<QList<QVariant>> call(const QString& path, const QString& interface, const QString& method,
                                        const QList<QVariant>& arguments)
    {
        const qint64 left = m_deadline.remainingTime();
        if (left <= 0)
            return std::nullopt;
        QDBusMessage message = QDBusMessage::createMethodCall(Service, path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply =
            m_connection.call(message, QDBus::Block, int(std::min<qint64>(left, CallMilliseconds)));
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        return reply.arguments();
    }

    // A property's value, unwrapped from however many variants it comes in.
    QVariant property(const QString& path, const QString& interface, const QString& name)
    {
        const auto reply =
            call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {interface, name});
        if (!reply || reply->isEmpty())
            return {};
        QVariant value = reply->first();
        for (int depth = 0; depth < 8 && value.metaType() == QMetaType::fromType<QDBusVariant>(); ++depth)
            value = value.value<QDBusVariant>().variant();
        return value;
    }

private:
    QDBusConnection m_connection;
    QDeadlineTimer m_deadline;
};

std::optional<QList<QDBusObjectPath>> activeConnections(Bus& bus)
{
    const QVariant value = bus.property(ManagerPath, ManagerInterface, QStringLiteral("ActiveConnections"));
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return std::nullopt;
    QList<QDBusObjectPath> paths;
    value.value<QDBusArgument>() >> paths;
    return paths;
}

} // namespace

void hangUpDialUpConnections()
{
    const QDBusConnection connection = QDBusConnection::systemBus();
    if (!connection.isConnected())
        return;
    Bus bus(connection);
    const auto active = activeConnections(bus);
    if (!active || active->size() > MostConnections)
        return;
    // List first, then hang up, so every line the list named is dropped even if the list changes.
    QList<QDBusObjectPath> dialUp;
    for (const QDBusObjectPath& path : *active) {
        if (isDialUpKind(bus.property(path.path(), ActiveInterface, QStringLiteral("Type")).toString()))
            dialUp.append(path);
    }
    for (const QDBusObjectPath& path : dialUp)
        bus.call(ManagerPath, ManagerInterface, QStringLiteral("DeactivateConnection"), {QVariant::fromValue(path)});
}
