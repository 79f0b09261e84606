#pragma once

#include "oauth/OAuthTokens.h"
#include "tests/mailcheck/MailFixtures.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

// An OAuth 2.0 provider on 127.0.0.1 for tests, and the browser that visits it while the object lives.
// GET /authorize redirects back to the program with a code (access_denied when deny is set); POST
// /token gives tokens for a code whose PKCE verifier matches its S256 challenge, or for a granted
// refresh token; POST /introspect (RFC 7662, as a mail server asks) tells whether an access token
// is one it issued. Access tokens are "at<n>", refresh tokens "rt<n>.grant".
class TokenServer : public QObject
{
public:
    bool deny = false;
    bool holdBrowser = false; // the browser only notes the page; visit() goes there
    bool failToken = false;   // the token endpoint answers every request with a server error
    QUrl page;                // the sign-in page the program opened last
    QByteArray lastPage;      // what the browser showed at the end of its last visit
    int refuseAccess = 0;     // how many of the first access tokens it issues introspection calls inactive
    QSet<QByteArray> granted; // the refresh tokens it takes: it issued them and they were not revoked
    QStringList log;          // "authorize", "code", "refresh", "refused"
    TestProgramFolder folder; // the program's, set for checks as bob signed in here, with the keyword "spam offer"

    explicit TokenServer(bool withData = false) : folder(true, withData)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
        m_server.listen(QHostAddress::LocalHost); // without a free port, the requests to it fail and say so
        folder.write(GeneralFile, u"[Mossvale]\r\nSignIn=oauth2\r\nOAuthClientId=mossvale-test\r\nOAuthScope=mail\r\n"
                                  u"OAuthAuthorizeUrl=%1authorize\r\nOAuthTokenUrl=%1token\r\n"_qs.arg(url({}))
                                      .toUtf8());
        folder.write(u"★MailData/Tlxdata50.data"_qs, keywordFileBytes({u"spam offer"_qs}));
        folder.writeAccount(u"bob"_qs, {});
        OAuthTokens::setBrowser([this](const QUrl& url) {
            page = url;
            return holdBrowser || visit();
        });
        connect(&m_browser, &QNetworkAccessManager::finished, this, [this](QNetworkReply* reply) {
            lastPage = reply->readAll();
            reply->deleteLater();
        });
        OAuthTokens::forgetAccessTokens();
    }
    ~TokenServer() override { OAuthTokens::setBrowser({}); } // nothing opens a page after the test

    bool visit() { return m_browser.get(QNetworkRequest(page)) != nullptr; }
    // The port the program listens on for the redirect of the page it opened.
    quint16 redirectPort() const
    {
        return QUrl(QUrlQuery(page).queryItemValue(u"redirect_uri"_qs, QUrl::FullyDecoded)).port();
    }
    QByteArray state() const { return QUrlQuery(page).queryItemValue(u"state"_qs).toLatin1(); }
    QString url(const QString& path) const { return u"http://127.0.0.1:%1/%2"_qs.arg(m_server.serverPort()).arg(path); }

private:
    void serve(QTcpSocket* socket)
    {
        const QByteArray in = socket->peek(socket->bytesAvailable()); // all that came: the socket keeps it
        const qsizetype end = in.indexOf("\r\n\r\n");
        static const QRegularExpression lengthField(u"content-length: *(\\d+)"_qs,
                                                    QRegularExpression::CaseInsensitiveOption);
        if (end < 0 || in.size() < end + 4 + lengthField.match(QString::fromLatin1(in)).captured(1).toLongLong())
            return;
        const QUrl target(QString::fromLatin1(in.split(' ').value(1)));
        const QUrlQuery query(in.startsWith("GET") ? target.query() : QString::fromLatin1(in.mid(end + 4)));
        // status, and any header fields after it
        const auto reply = [socket](const QByteArray& status, const QByteArray& body) {
            socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        };
        const auto item = [&query](const QString& key) { return query.queryItemValue(key).toLatin1(); };
        if (target.path() == u"/introspect")
            return reply("200 OK", m_access.contains(item(u"token"_qs)) ? R"({"active":true,"email":"bob"})"
                                                                        : R"({"active":false})");
        if (target.path() == u"/authorize") {
            log << u"authorize"_qs;
            const QByteArray code = "code" + QByteArray::number(++m_issued);
            m_challenges.insert(code, item(u"code_challenge_method"_qs) + ' ' + item(u"code_challenge"_qs));
            QUrl back(query.queryItemValue(u"redirect_uri"_qs, QUrl::FullyDecoded));
            back.setQuery((deny ? u"error=access_denied"_qs : u"code="_qs + QString::fromLatin1(code)) + u"&state="_qs +
                          query.queryItemValue(u"state"_qs, QUrl::FullyEncoded));
            return reply("302 Found\r\nLocation: " + back.toEncoded(), {});
        }
        // A code counts only with the verifier of its challenge: no challenge, no verifier, no token.
        const QByteArray s256 = QCryptographicHash::hash(item(u"code_verifier"_qs), QCryptographicHash::Sha256)
                                    .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        if (failToken)
            return reply("500 Internal Server Error", "{}");
        const bool byCode = m_challenges.take(item(u"code"_qs)) == "S256 " + s256;
        if (!byCode && !granted.contains(item(u"refresh_token"_qs))) {
            log << u"refused"_qs;
            return reply("400 Bad Request", R"({"error":"invalid_grant"})");
        }
        log << (byCode ? u"code"_qs : u"refresh"_qs);
        const QByteArray n = QByteArray::number(++m_issued), refresh = "rt" + n + ".grant";
        if (refuseAccess-- <= 0)
            m_access.insert("at" + n);
        if (byCode)
            granted.insert(refresh);
        reply("200 OK", R"({"token_type":"Bearer","expires_in":3600,"access_token":"at)" + n + '"' +
                            (byCode ? R"(,"refresh_token":")" + refresh + '"' : QByteArray()) + '}');
    }

    QTcpServer m_server;
    QNetworkAccessManager m_browser;
    QHash<QByteArray, QByteArray> m_challenges; // code -> "method challenge"
    QSet<QByteArray> m_access;
    int m_issued = 0;
};
