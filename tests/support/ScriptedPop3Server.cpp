#include "ScriptedPop3Server.h"

#include <QDeadlineTimer>
#include <QSemaphore>
#include <QSslSocket>
#include <QTcpServer>

namespace {

constexpr int ClientLineTimeoutMs = 10000;
constexpr int IdleTimeoutMs = 30000;

void send(QTcpSocket& socket, const QByteArray& bytes)
{
    socket.write(bytes);
    socket.flush();
    socket.waitForBytesWritten(1000);
}

// Hands out sockets that can begin TLS.
class Listener : public QTcpServer
{
protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        addPendingConnection(socket);
    }
};

// Bytes of a script text with its escapes resolved.
QByteArray unescape(QByteArray text)
{
    return text.replace("\\r", "\r").replace("\\n", "\n");
}

} // namespace

bool ScriptedPop3Server::start(const QHostAddress& address)
{
    m_address = address;
    QSemaphore ready;
    m_thread.reset(QThread::create([this, &ready] {
        Listener listener;
        m_port = listener.listen(m_address, 0) ? listener.serverPort() : 0;
        ready.release();
        if (m_port == 0)
            return;
        if (!listener.waitForNewConnection(IdleTimeoutMs))
            return fail(QStringLiteral("no client connected"));
        auto* socket = static_cast<QSslSocket*>(listener.nextPendingConnection()); // deleted with the listener
        serve(*socket);
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(1000);
    }));
    m_thread->start();
    ready.acquire();
    return m_port != 0;
}

// Plays the script, then hands further lines to the responder.
void ScriptedPop3Server::serve(QSslSocket& socket)
{
    QByteArray line;
    for (const QByteArray& entry : m_script) {
        const QByteArray text = entry.mid(3), tag = entry.left(3);
        if (entry == "X") {
            return;
        } else if (entry == "T") {
            socket.setLocalCertificate(m_certificate);
            socket.setPrivateKey(m_key);
            socket.startServerEncryption();
            if (!socket.waitForEncrypted(ClientLineTimeoutMs))
                return fail(QStringLiteral("TLS handshake failed: ") + socket.errorString());
        } else if (entry == "D") {
            socket.waitForReadyRead(100);
            socket.readAll();
        } else if (tag == "S: " || tag == "R: ") {
            send(socket, unescape(text) + (tag == "S: " ? "\r\n" : ""));
        } else if (tag == "W: ") {
            const QDeadlineTimer deadline(text.toInt());
            while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState)
                socket.waitForReadyRead(int(std::min<qint64>(50, deadline.remainingTime())));
        } else if (tag != "C: ") {
            return fail(QStringLiteral("bad script line: ") + QString::fromUtf8(entry));
        } else if (!readLine(socket, ClientLineTimeoutMs, &line) || (text != "*" && line != text)) {
            return fail(
                QStringLiteral("expected \"%1\", got \"%2\"").arg(QString::fromUtf8(text), QString::fromUtf8(line)));
        }
    }
    while (m_responder && readLine(socket, IdleTimeoutMs, &line)) {
        const QList<QByteArray> answer = m_responder(line);
        if (answer.isEmpty())
            return;
        send(socket, answer.join("\r\n") + "\r\n");
    }
}

// A line from the client, recorded; false (and line empty) when none came in time.
bool ScriptedPop3Server::readLine(QTcpSocket& socket, int timeoutMs, QByteArray* line)
{
    const QDeadlineTimer deadline(timeoutMs);
    line->clear();
    while (!socket.canReadLine()) {
        if (socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
            return false;
        socket.waitForReadyRead(int(std::min<qint64>(100, deadline.remainingTime())));
    }
    *line = socket.readLine();
    while (line->endsWith('\n') || line->endsWith('\r'))
        line->chop(1);
    QMutexLocker lock(&m_mutex);
    m_received.append(*line);
    return true;
}

QString ScriptedPop3Server::server() const
{
    return QStringLiteral("%1:%2").arg(m_address.toString()).arg(m_port);
}

void ScriptedPop3Server::fail(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    if (m_failure.isEmpty())
        m_failure = text;
}
