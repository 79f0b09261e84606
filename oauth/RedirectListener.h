#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrlQuery>

class QTcpSocket;

// The loopback end of a browser sign-in (RFC 8252): an HTTP listener on 127.0.0.1 at a port the system
// picks, that waits for the one redirect carrying the state this sign-in sent. Every other request
// (another path, no state, a wrong one, a request too large or too slow) is answered with a short page
// and ignored, so a local process can neither end nor steer the sign-in. Each request is read up to
// MaxRequestBytes, at most MaxConnections are open at once, and each gets ConnectionTimeoutMs. The
// redirect's connection is held until answer() says how the sign-in ended, so the browser shows the
// truth. Destroying the listener closes it and every connection.
class RedirectListener : public QObject
{
    Q_OBJECT
public:
    // The last page the browser shows.
    enum class Page { SignedIn, Refused, Failed };

    static constexpr qint64 MaxRequestBytes = 8 * 1024;
    static constexpr int MaxConnections = 8;
    static constexpr int ConnectionTimeoutMs = 10000;

    explicit RedirectListener(QByteArray state, QObject* parent = nullptr);
    ~RedirectListener() override;

    // Opens the listener; false when no port could be had.
    bool listen();
    // Where the provider sends the browser back: http://127.0.0.1:<port>/
    QString redirectUri() const;
    // Answers the held redirect with page and stops listening.
    void answer(Page page);
    // The HTML of a page, UTF-8.
    static QByteArray pageText(Page page);

Q_SIGNALS:
    // The redirect with the right state came: its query (code, or error and error_description).
    void redirected(const QUrlQuery& query);

private:
    void accept();
    void read(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& html);
    bool isRedirect(const QByteArray& head, QUrlQuery* query) const;

    QByteArray m_state;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_held; // the redirect, until answer()
    bool m_done = false;         // the redirect came: nothing more counts
};
