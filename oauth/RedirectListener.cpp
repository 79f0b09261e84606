#include "oauth/RedirectListener.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

QByteArray page(const QString& title, const QString& text)
{
    return QStringLiteral("<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\"><title>Mossvale - %1</title>"
                          "</head><body style=\"font-family: sans-serif; margin: 3em;\"><h1>%1</h1><p>%2</p></body>"
                          "</html>")
        .arg(title, text)
        .toUtf8();
}

const QString NotOurs = QStringLiteral("このページはMossvaleのサインインの応答ではありません。");

} // namespace

RedirectListener::RedirectListener(QByteArray state, QObject* parent) : QObject(parent), m_state(std::move(state))
{
    m_server.setMaxPendingConnections(MaxConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &RedirectListener::accept);
}

RedirectListener::~RedirectListener()
{
    m_server.close();
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
        socket->abort();
}

bool RedirectListener::listen()
{
    // Loopback alone: nothing off this machine may answer for the browser.
    return m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
}

QString RedirectListener::redirectUri() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort());
}

QByteArray RedirectListener::pageText(Page page)
{
    switch (page) {
    case Page::SignedIn:
        return ::page(QStringLiteral("サインインしました"),
                      QStringLiteral("このページを閉じて、Mossvaleに戻ってください。"));
    case Page::Refused:
        return ::page(QStringLiteral("サインインが拒否されました"),
                      QStringLiteral("アクセスが許可されなかったため、Mossvaleはサインインしていません。"
                                     "このページを閉じてください。"));
    case Page::Failed:
        break;
    }
    return ::page(QStringLiteral("サインインできませんでした"),
                  QStringLiteral("Mossvaleはサインインしていません。Mossvaleに戻って、理由を確認してください。"));
}

void RedirectListener::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        // A full house makes room by dropping the oldest waiting connection, so that idle ones
        // opened by another program cannot keep the browser out.
        const QList<QTcpSocket*> open = findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly);
        qsizetype count = open.size();
        for (QTcpSocket* oldest : open) {
            if (count <= MaxConnections)
                break;
            if (oldest != m_held && oldest != socket) {
                oldest->setParent(nullptr); // out of the count at once
                oldest->abort();
                oldest->deleteLater();
                --count;
            }
        }
        // Qt stops reading from the system once this much is buffered: a huge request costs no memory.
        socket->setReadBufferSize(MaxRequestBytes + 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(ConnectionTimeoutMs, socket, [this, socket] {
            if (socket != m_held) {
                socket->abort();
                socket->deleteLater();
            }
        });
    }
}

void RedirectListener::read(QTcpSocket* socket)
{
    const QByteArray head = socket->peek(MaxRequestBytes + 1);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 && head.size() <= MaxRequestBytes)
        return; // more to come
    QUrlQuery query;
    if (end < 0)
        return respond(socket, "431 Request Header Fields Too Large", page(QStringLiteral("Mossvale"), NotOurs));
    if (m_done || !isRedirect(head.left(end), &query))
        return respond(socket, "404 Not Found", page(QStringLiteral("Mossvale"), NotOurs));
    m_done = true;
    m_held = socket;
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    m_server.close(); // the one request that counts has come
    Q_EMIT redirected(query);
}

// "GET /?...&state=<ours> HTTP/1.1", and nothing else.
bool RedirectListener::isRedirect(const QByteArray& head, QUrlQuery* query) const
{
    const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
    if (request.size() != 3 || request[0] != "GET" || !request[2].startsWith("HTTP/1."))
        return false;
    const QUrl target(QString::fromLatin1(request[1]), QUrl::StrictMode);
    if (!target.isValid() || target.path() != u"/" || !target.hasQuery())
        return false;
    *query = QUrlQuery(target.query(QUrl::FullyEncoded));
    const QByteArray state = query->queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded).toLatin1();
    return !m_state.isEmpty() && state == m_state && query->allQueryItemValues(QStringLiteral("state")).size() == 1;
}

void RedirectListener::answer(Page page)
{
    m_server.close();
    if (QTcpSocket* socket = std::exchange(m_held, nullptr)) {
        socket->setParent(nullptr); // the page goes out even when the listener goes at once
        respond(socket, "200 OK", pageText(page));
    }
}

void RedirectListener::respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& html)
{
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                  QByteArray::number(html.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + html);
    socket->disconnectFromHost();
    // A peer that reads nothing of the answer keeps its connection no longer than any other.
    QTimer::singleShot(ConnectionTimeoutMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}
