#include "DelayProxy.h"

#include <QElapsedTimer>
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
};

class Relay : public QObject
{
public:
    Relay(quint16 upstreamPort, int delayMs) : m_upstreamPort(upstreamPort), m_delayMs(delayMs)
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
            addLane(client, upstream);
            addLane(upstream, client);
        }
    }
    void addLane(QTcpSocket* from, QTcpSocket* to)
    {
        auto lane = std::make_shared<Lane>();
        lane->from = from;
        lane->to = to;
        m_lanes.push_back(lane);
        connect(from, &QTcpSocket::readyRead, this,
                [this, lane] { lane->queue.emplace_back(m_clock.elapsed() + m_delayMs, lane->from->readAll()); });
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
                else if (lane->to->state() == QAbstractSocket::ConnectedState)
                    lane->to->write(bytes);
                else
                    lane->queue.emplace_front(now + 1, bytes); // upstream still connecting
                if (lane->to->state() != QAbstractSocket::ConnectedState)
                    break;
            }
        }
    }

    quint16 m_upstreamPort;
    int m_delayMs;
    QTcpServer m_server;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<std::shared_ptr<Lane>> m_lanes;
};

} // namespace

DelayProxy::DelayProxy(quint16 upstreamPort, int delayMs) : m_upstreamPort(upstreamPort), m_delayMs(delayMs) {}

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
    Relay relay(m_upstreamPort, m_delayMs);
    m_port = relay.listen();
    m_ready.release();
    exec();
}
