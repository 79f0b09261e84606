#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusMessage;

// Follows who owns a well-known name on a bus, without ever waiting for the bus: the first answer
// comes from an asynchronous call (given up after ReplyTimeoutMs), later ones from the bus's own
// signals. Signals from the service are trusted only from its current owner.
class BusPeer : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReplyTimeoutMs = 5000;

    BusPeer(const QDBusConnection& bus, const QString& service, QObject* parent = nullptr);
    // The owner's unique name; empty while there is none (or none is known yet).
    QString owner() const { return m_owner; }
    bool isOwner(const QDBusMessage& message) const;

Q_SIGNALS:
    void ownerChanged(const QString& owner);

private:
    void setOwner(const QString& owner);

    QString m_owner;
};

// NetworkManager's state on the system bus (its State property and StateChanged signal). Offline
// is NM_STATE_ASLEEP or NM_STATE_DISCONNECTED: no network at all. A local or site network can still
// reach a server on the LAN, so it counts as online, as do the passing states. Without
// NetworkManager nothing is known and nothing is offline.
class NetworkWatch : public QObject
{
    Q_OBJECT
public:
    explicit NetworkWatch(QObject* parent = nullptr);

    bool known() const { return m_known; }
    bool offline() const { return m_known && m_offline; }
    static bool offlineState(uint state) { return state == 10 || state == 20; }

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void onStateChanged(uint state, const QDBusMessage& message);

private:
    void askState();
    void apply(bool known, bool offline);

    BusPeer* m_peer = nullptr;
    bool m_known = false;
    bool m_offline = false;
};

// logind's PrepareForSleep on the system bus: sleeping() before the machine sleeps, resumed() when
// it woke. known() while logind is on the bus.
class SleepWatch : public QObject
{
    Q_OBJECT
public:
    explicit SleepWatch(QObject* parent = nullptr);

    bool known() const;

Q_SIGNALS:
    void knownChanged(bool known);
    void sleeping();
    void resumed();

private Q_SLOTS:
    void onPrepareForSleep(bool start, const QDBusMessage& message);

private:
    BusPeer* m_peer = nullptr;
};
