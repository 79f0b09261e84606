#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <thread>

// A gateway between a POP3 client and a real server on loopback, on its own thread: it hides STLS
// from CAPA (so that it can read the dialogue), writes down every request, and can send the reply
// to one request twice, as a broken proxy or scanner would. Serves connections one after another.
class Pop3Proxy
{
public:
    explicit Pop3Proxy(quint16 upstreamPort, QByteArray repeated = {});
    ~Pop3Proxy();

    // "127.0.0.1:port", for the client.
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // Every request line seen so far, of every connection.
    QList<QByteArray> requests() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_requests;
    }

private:
    void relay(int client, int server);

    QByteArray m_repeated;
    quint16 m_upstream;
    int m_listener = -1;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QList<QByteArray> m_requests;
    std::thread m_thread;
};
