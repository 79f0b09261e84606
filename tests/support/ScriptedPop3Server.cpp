#include "ScriptedPop3Server.h"

#include <QDeadlineTimer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr int ClientLineTimeoutMs = 10000;
constexpr int IdleTimeoutMs = 30000;

} // namespace

class ScriptedPop3Server::Worker : public QThread
{
public:
    explicit Worker(ScriptedPop3Server* owner) : m_owner(owner) {}
    QSemaphore ready;
    quint16 port = 0;

protected:
    void run() override
    {
        QTcpServer listener;
        const bool listening = listener.listen(m_owner->m_address, 0);
        port = listening ? listener.serverPort() : 0;
        ready.release();
        if (!listening)
            return;
        if (!listener.waitForNewConnection(IdleTimeoutMs)) {
            m_owner->setFailure(QStringLiteral("no client connected"));
            return;
        }
        QTcpSocket* socket = listener.nextPendingConnection();
        if (play(socket))
            respond(socket);
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(1000);
        delete socket;
    }

private:
    bool readLine(QTcpSocket* socket, int timeoutMs, QByteArray* line)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!socket->canReadLine()) {
            if (socket->state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
                return false;
            socket->waitForReadyRead(int(std::min<qint64>(100, deadline.remainingTime())));
        }
        *line = socket->readLine();
        while (line->endsWith('\n') || line->endsWith('\r'))
            line->chop(1);
        m_owner->record(*line);
        return true;
    }

    static void send(QTcpSocket* socket, const QByteArray& bytes)
    {
        socket->write(bytes);
        socket->flush();
        socket->waitForBytesWritten(1000);
    }

    static void silence(QTcpSocket* socket, int ms)
    {
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && socket->state() == QAbstractSocket::ConnectedState)
            socket->waitForReadyRead(int(std::min<qint64>(50, deadline.remainingTime())));
    }

    bool play(QTcpSocket* socket)
    {
        for (const QByteArray& entry : m_owner->m_script) {
            const QByteArray text = entry.mid(3);
            if (entry == "X") {
                return false;
            } else if (entry.startsWith("S: ")) {
                send(socket, unescape(text) + "\r\n");
            } else if (entry.startsWith("R: ")) {
                send(socket, unescape(text));
            } else if (entry.startsWith("B: ")) {
                for (char byte : unescape(text) + "\r\n") {
                    send(socket, QByteArray(1, byte));
                    QThread::usleep(200);
                }
            } else if (entry.startsWith("W: ")) {
                silence(socket, text.toInt());
            } else if (entry.startsWith("C: ")) {
                QByteArray line;
                if (!readLine(socket, ClientLineTimeoutMs, &line)) {
                    m_owner->setFailure(QStringLiteral("expected \"%1\", got nothing").arg(QString::fromUtf8(text)));
                    return false;
                }
                if (text != "*" && line != text) {
                    m_owner->setFailure(QStringLiteral("expected \"%1\", got \"%2\"")
                                            .arg(QString::fromUtf8(text), QString::fromUtf8(line)));
                    return false;
                }
            } else {
                m_owner->setFailure(QStringLiteral("bad script line: ") + QString::fromUtf8(entry));
                return false;
            }
        }
        return true;
    }

    void respond(QTcpSocket* socket)
    {
        if (!m_owner->m_responder)
            return;
        QByteArray line;
        while (readLine(socket, IdleTimeoutMs, &line)) {
            const QList<QByteArray> answer = m_owner->m_responder(line);
            if (answer.isEmpty())
                return;
            QByteArray bytes;
            for (const QByteArray& reply : answer)
                bytes += reply + "\r\n";
            send(socket, bytes);
        }
    }

    ScriptedPop3Server* m_owner;
};

ScriptedPop3Server::ScriptedPop3Server(const QList<QByteArray>& script, Responder responder)
    : m_script(script), m_responder(std::move(responder))
{}

ScriptedPop3Server::~ScriptedPop3Server()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

QString ScriptedPop3Server::server() const
{
    if (m_address.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(m_address.toString()).arg(m_port);
    return QStringLiteral("%1:%2").arg(m_address.toString()).arg(m_port);
}

bool ScriptedPop3Server::start(const QHostAddress& address)
{
    m_address = address;
    m_worker = new Worker(this);
    m_worker->start();
    m_worker->ready.acquire();
    m_port = m_worker->port;
    return m_port != 0;
}

bool ScriptedPop3Server::waitForFinished(int timeoutMs)
{
    return m_worker && m_worker->wait(QDeadlineTimer(timeoutMs));
}

QList<QByteArray> ScriptedPop3Server::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_received;
}

QString ScriptedPop3Server::failure() const
{
    QMutexLocker lock(&m_mutex);
    return m_failure;
}

void ScriptedPop3Server::record(const QByteArray& line)
{
    QMutexLocker lock(&m_mutex);
    m_received.append(line);
}

void ScriptedPop3Server::setFailure(const QString& text)
{
    QMutexLocker lock(&m_mutex);
    if (m_failure.isEmpty())
        m_failure = text;
}

QByteArray ScriptedPop3Server::unescape(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '\\' || i + 1 >= text.size()) {
            out.append(text.at(i));
            continue;
        }
        const char next = text.at(++i);
        if (next == 'r') {
            out.append('\r');
        } else if (next == 'n') {
            out.append('\n');
        } else if (next == 'x' && i + 2 < text.size()) {
            out.append(char(text.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else {
            out.append(next);
        }
    }
    return out;
}
