#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

// An OAuth 2.0 provider on 127.0.0.1 for tests, on the test's own thread: GET /authorize answers
// with the redirect a browser follows (a code, or access_denied when deny is set), POST /token
// gives tokens for a code whose PKCE verifier matches its S256 challenge, or for a refresh token it
// issued and did not revoke; POST /introspect (RFC 7662, as a mail server asks) names the user of
// an access token it issued. Access tokens are "at1", "at2"...; refresh tokens "rt1", "rt2"...
class TokenServer : public QObject
{
public:
    bool deny = false;
    QSet<QByteArray> revoked;
    QStringList log; // "authorize", "code", "refresh", "refused"

    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
        return m_server.listen(QHostAddress::LocalHost);
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(path);
    }
    // A refresh token as if from an earlier sign-in.
    QByteArray issueRefresh()
    {
        const QByteArray token = "rt" + QByteArray::number(++m_issued);
        m_refresh.insert(token);
        return token;
    }
    bool issuedRefresh(const QByteArray& token) const { return m_refresh.contains(token) && !revoked.contains(token); }

private:
    void serve(QTcpSocket* socket)
    {
        QByteArray& in = m_input[socket];
        in += socket->readAll();
        const qsizetype end = in.indexOf("\r\n\r\n");
        const qsizetype field = in.left(end).toLower().indexOf("content-length:");
        const qsizetype length =
            field < 0 ? 0 : in.mid(field + 15, in.indexOf('\r', field) - field - 15).trimmed().toLongLong();
        if (end < 0 || in.size() < end + 4 + length)
            return;
        const QList<QByteArray> request = in.left(in.indexOf("\r\n")).split(' ');
        const QUrl target(QString::fromLatin1(request.value(1)));
        const QUrlQuery query(request.value(0) == "GET" ? target.query() : QString::fromLatin1(in.mid(end + 4)));
        m_input.remove(socket);
        const auto reply = [socket](const QByteArray& status, const QByteArray& headers, const QByteArray& body) {
            socket->write("HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        };
        if (target.path() == u"/introspect") {
            const bool active = m_access.contains(query.queryItemValue(u"token"_qs).toLatin1());
            return reply("200 OK", "Content-Type: application/json\r\n",
                         active ? R"({"active":true,"username":"bob"})" : R"({"active":false})");
        }
        if (target.path() == u"/authorize") {
            log << QStringLiteral("authorize");
            const QByteArray code = "code" + QByteArray::number(++m_issued);
            if (query.queryItemValue(u"code_challenge_method"_qs) == u"S256")
                m_challenges.insert(code, query.queryItemValue(u"code_challenge"_qs).toLatin1());
            QUrl back(query.queryItemValue(u"redirect_uri"_qs, QUrl::FullyDecoded));
            back.setQuery((deny ? u"error=access_denied"_qs : u"code="_qs + QString::fromLatin1(code)) + u"&state="_qs +
                          query.queryItemValue(u"state"_qs, QUrl::FullyEncoded));
            return reply("302 Found", "Location: " + back.toEncoded() + "\r\n", {});
        }
        const QByteArray code = query.queryItemValue(u"code"_qs).toLatin1();
        const QByteArray verifier = query.queryItemValue(u"code_verifier"_qs).toLatin1();
        const QByteArray challenge = QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                                         .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        const QByteArray refresh = query.queryItemValue(u"refresh_token"_qs).toLatin1();
        const bool byCode = !code.isEmpty() && !verifier.isEmpty() && m_challenges.take(code) == challenge;
        if (!byCode && !issuedRefresh(refresh)) {
            log << QStringLiteral("refused");
            return reply("400 Bad Request", "Content-Type: application/json\r\n", R"({"error":"invalid_grant"})");
        }
        log << (byCode ? QStringLiteral("code") : QStringLiteral("refresh"));
        const QByteArray n = QByteArray::number(++m_issued);
        m_access.insert("at" + n);
        QByteArray body = R"({"access_token":"at)" + n + R"(","token_type":"Bearer","expires_in":3600)";
        if (byCode) {
            m_refresh.insert("rt" + n);
            body += R"(,"refresh_token":"rt)" + n + '"';
        }
        reply("200 OK", "Content-Type: application/json\r\n", body + '}');
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_input;
    QHash<QByteArray, QByteArray> m_challenges; // code -> S256 challenge
    QSet<QByteArray> m_refresh;
    QSet<QByteArray> m_access;
    int m_issued = 0;
};
