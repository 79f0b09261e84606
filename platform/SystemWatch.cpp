#include "platform/SystemWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <functional>

namespace {
const QString NetworkManagerService = QStringLiteral("org.freedesktop.NetworkManager");
const QString NetworkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString LogindService = QStringLiteral("org.freedesktop.login1");
const QString LogindPath = QStringLiteral("/org/freedesktop/login1");
const QString LogindManager = QStringLiteral("org.freedesktop.login1.Manager");

// Calls asynchronously, bounded; done gets the reply, or an error reply when none came in time.
void callLater(const QDBusConnection& bus, const QDBusMessage& call, QObject* context,
               std::function<void(const QDBusMessage&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, BusPeer::ReplyTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done] {
        watcher->deleteLater();
        done(watcher->reply());
    });
}

// A property's value may come wrapped in more than one variant (as some stand-ins send it).
QVariant unwrapped(QVariant value)
{
    for (int depth = 0; depth < 4 && value.canConvert<QDBusVariant>(); ++depth)
        value = value.value<QDBusVariant>().variant();
    return value;
}
} // namespace

BusPeer::BusPeer(const QDBusConnection& bus, const QString& service, QObject* parent) : QObject(parent)
{
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { setOwner(owner); });
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"))
        << service;
    callLater(bus, ask, this, [this](const QDBusMessage& reply) {
        // A change seen meanwhile is newer than this answer.
        if (m_owner.isEmpty() && reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            setOwner(reply.arguments().constFirst().toString());
    });
}

bool BusPeer::isOwner(const QDBusMessage& message) const
{
    return !m_owner.isEmpty() && message.service() == m_owner;
}

void BusPeer::setOwner(const QString& owner)
{
    if (owner == m_owner)
        return;
    m_owner = owner;
    Q_EMIT ownerChanged(owner);
}

NetworkWatch::NetworkWatch(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    m_peer = new BusPeer(bus, NetworkManagerService, this);
    connect(m_peer, &BusPeer::ownerChanged, this, [this](const QString& owner) {
        if (owner.isEmpty())
            apply(false, false);
        else
            askState();
    });
    // No service name here: naming it would make Qt look its owner up with a blocking call. The
    // sender is checked against the owner instead.
    bus.connect(QString(), NetworkManagerPath, NetworkManagerService, QStringLiteral("StateChanged"), this,
                SLOT(onStateChanged(uint, QDBusMessage)));
}

void NetworkWatch::askState()
{
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(NetworkManagerService, NetworkManagerPath,
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"))
        << NetworkManagerService << QStringLiteral("State");
    callLater(QDBusConnection::systemBus(), ask, this, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return; // it says nothing it was asked: as without it
        bool isNumber = false;
        const uint state = unwrapped(reply.arguments().constFirst()).toUInt(&isNumber);
        if (isNumber)
            apply(true, offlineState(state));
    });
}

void NetworkWatch::onStateChanged(uint state, const QDBusMessage& message)
{
    if (m_peer->isOwner(message))
        apply(true, offlineState(state));
}

void NetworkWatch::apply(bool known, bool offline)
{
    if (known == m_known && offline == m_offline)
        return;
    m_known = known;
    m_offline = offline;
    Q_EMIT changed();
}

SleepWatch::SleepWatch(QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    m_peer = new BusPeer(bus, LogindService, this);
    connect(m_peer, &BusPeer::ownerChanged, this,
            [this](const QString& owner) { Q_EMIT knownChanged(!owner.isEmpty()); });
    bus.connect(QString(), LogindPath, LogindManager, QStringLiteral("PrepareForSleep"), this,
                SLOT(onPrepareForSleep(bool, QDBusMessage)));
}

bool SleepWatch::known() const
{
    return !m_peer->owner().isEmpty();
}

void SleepWatch::onPrepareForSleep(bool start, const QDBusMessage& message)
{
    if (!m_peer->isOwner(message))
        return;
    if (start)
        Q_EMIT sleeping();
    else
        Q_EMIT resumed();
}
