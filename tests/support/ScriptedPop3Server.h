#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>

class QSslSocket;
class QTcpSocket;

// A POP3 server on 127.0.0.1 that plays a script, for faults a real server will not produce on
// demand. It serves one connection on its own thread, so a client can block on the test's
// thread. Script lines:
//   "S: text"  send text and CR LF            "C: text"  expect this client line ("C: *": any)
//   "R: text"  send text as is, without CR LF "W: ms"    stay silent for ms (ends early when
//   "X"        close the connection                      the client goes away)
//   "T"        begin TLS as the server (useTls), as after STLS or at once for pop3s
//   "D"        drop what the client sent beyond the lines read (a server handing the connection over)
// In S and R texts, \r and \n stand for the bytes. A line that differs from a C
// line is recorded as a failure and the connection is closed.
//
// After the script, an optional responder answers each further client line with the lines it
// returns (each sent with CR LF); an empty list closes the connection.
class ScriptedPop3Server
{
public:
    using Responder = std::function<QList<QByteArray>(const QByteArray& command)>;

    explicit ScriptedPop3Server(QList<QByteArray> script, Responder responder = {})
        : m_script(std::move(script)), m_responder(std::move(responder))
    {}
    ~ScriptedPop3Server() { waitForFinished(-1); }

    // The certificate and key for "T".
    void useTls(const QSslCertificate& certificate, const QSslKey& key)
    {
        m_certificate = certificate;
        m_key = key;
    }
    // Listens on a free port of an IPv4 address; false when that fails.
    bool start(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost));
    // The server name for the client: "127.0.0.1:port".
    QString server() const;
    // Waits until the connection has been served; false on time-out.
    bool waitForFinished(int timeoutMs = 10000) { return m_thread && m_thread->wait(QDeadlineTimer(timeoutMs)); }

    // Every line the client sent, without CR LF.
    QList<QByteArray> received() const
    {
        QMutexLocker lock(&m_mutex);
        return m_received;
    }
    // What went against the script (empty when the client followed it).
    QString failure() const
    {
        QMutexLocker lock(&m_mutex);
        return m_failure;
    }

private:
    void serve(QSslSocket& socket);
    bool readLine(QTcpSocket& socket, int timeoutMs, QByteArray* line);
    void fail(const QString& text);

    QList<QByteArray> m_script;
    Responder m_responder;
    QSslCertificate m_certificate;
    QSslKey m_key;
    std::unique_ptr<QThread> m_thread;
    QHostAddress m_address;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QList<QByteArray> m_received;
    QString m_failure;
};
