#include "DelayProxy.h"

#include <QElapsedTimer>
#include <functional>
#include <utility>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <memory>

namespace {

// One direction of one connection: chunks wait in arrival order until their time has come.
struct Lane
{
    QTcpSocket* from = nullptr;
    QTcpSocket* to = nullptr;
    std::deque<std::pair<qint64, QByteArray>> queue;
    bool closing = false;
    bool toServer = false;
};

using Record = std::function<void(bool toServer, qint64 bytes, qint64 ms)>;

class Relay : public QObject
{
public:
    Relay(quint16 upstreamPort, int delayMs, bool withoutStls, Record record)
        : m_upstreamPort(upstreamPort), m_delayMs(delayMs), m_withoutStls(withoutStls), m_record(std::move(record))
    {
        m_clock.start();
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] { pump(); });
        m_timer.start();
        connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    }
    quint16 listen() { return m_server.listen(QHostAddress::LocalHost, 0) ? m_server.serverPort() : 0; }

private:
    void accept()
    {
        while (QTcpSocket* client = m_server.nextPendingConnection()) {
            auto* upstream = new QTcpSocket(this);
            client->setParent(this);
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            upstream->connectToHost(QHostAddress::LocalHost, m_upstreamPort);
            addLane(client, upstream, true);
            addLane(upstream, client, false);
        }
    }
    void addLane(QTcpSocket* from, QTcpSocket* to, bool toServer)
    {
        auto lane = std::make_shared<Lane>();
        lane->from = from;
        lane->to = to;
        lane->toServer = toServer;
        m_lanes.push_back(lane);
        connect(from, &QTcpSocket::readyRead, this, [this, lane] {
            QByteArray bytes = lane->from->readAll();
            if (m_withoutStls && !lane->toServer)
                bytes.replace("\r\nSTLS\r\n", "\r\n");
            if (lane->toServer)
                m_record(true, bytes.size(), m_clock.elapsed());
            lane->queue.emplace_back(m_clock.elapsed() + m_delayMs, bytes);
        });
        connect(from, &QTcpSocket::disconnected, this,
                [this, lane] { lane->queue.emplace_back(m_clock.elapsed() + m_delayMs, QByteArray()); });
    }
    void pump()
    {
        const qint64 now = m_clock.elapsed();
        for (const auto& lane : m_lanes) {
            while (!lane->queue.empty() && lane->queue.front().first <= now) {
                const QByteArray bytes = lane->queue.front().second;
                lane->queue.pop_front();
                if (bytes.isEmpty())
                    lane->to->disconnectFromHost(); // the close travels with the same delay
                else if (lane->to->state() == QAbstractSocket::ConnectedState) {
                    lane->to->write(bytes);
                    if (!lane->toServer)
                        m_record(false, bytes.size(), now);
                }
                else
                    lane->queue.emplace_front(now + 1, bytes); // upstream still connecting
                if (lane->to->state() != QAbstractSocket::ConnectedState)
                    break;
            }
        }
    }

    quint16 m_upstreamPort;
    int m_delayMs;
    bool m_withoutStls;
    Record m_record;
    QTcpServer m_server;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<std::shared_ptr<Lane>> m_lanes;
};

} // namespace

DelayProxy::DelayProxy(quint16 upstreamPort, int delayMs, bool withoutStls)
    : m_upstreamPort(upstreamPort), m_delayMs(delayMs), m_withoutStls(withoutStls)
{}

DelayProxy::~DelayProxy()
{
    quit();
    wait();
}

quint16 DelayProxy::listen()
{
    start();
    m_ready.acquire();
    return m_port;
}

void DelayProxy::run()
{
    Relay relay(m_upstreamPort, m_delayMs, m_withoutStls, [this](bool toServer, qint64 bytes, qint64 ms) {
        QMutexLocker lock(&m_mutex);
        m_passages.append({ms, toServer, bytes});
    });
    m_port = relay.listen();
    m_ready.release();
    exec();
}

QList<DelayProxy::Passage> DelayProxy::takePassages()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_passages, {});
}

// A round trip is the client writing after something came back to it; its own time there is the gap
// between the last bytes it received and its next write (the proxy's delay is not in it).
DelayProxy::Turns DelayProxy::turns(const QList<Passage>& passages)
{
    Turns turns;
    qint64 received = 0;      // bytes delivered to the client since its last write
    qint64 largest = 0;
    qint64 lastDelivery = -1;
    for (const Passage& passage : passages) {
        if (!passage.toServer) {
            received += passage.bytes;
            lastDelivery = passage.ms;
            continue;
        }
        if (received > 0) {
            ++turns.roundTrips;
            if (received > largest) {
                largest = received;
                turns.afterListingMs = passage.ms - lastDelivery;
            }
        }
        received = 0;
    }
    return turns;
}
