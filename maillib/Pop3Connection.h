#pragma once

#include "maillib/Pop3Address.h"
#include "maillib/Pop3Options.h"
#include "maillib/Pop3ReplyParser.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <functional>
#include <memory>

// The transport of one POP3 session: a QSslSocket with the reply parser in front of it. Every
// wait is bounded by the options' time-outs and by the session's deadline, and keeps the
// thread's events flowing except user input, so that a window on the same thread repaints and
// answers the desktop while the session waits, and can cancel it. Requests are written at once;
// replies are read in request order. After any failure the connection is dead: the socket is
// aborted (so the server discards the session's deletions) and failure() keeps the first reason.
class Pop3Connection
{
public:
    enum class Failure { None, HostNotFound, Refused, Network, Timeout, Protocol, Security, Cancelled };

    explicit Pop3Connection(const Pop3Options& options);
    ~Pop3Connection();
    Pop3Connection(const Pop3Connection&) = delete;
    Pop3Connection& operator=(const Pop3Connection&) = delete;

    // Connects (and for pop3s completes the TLS handshake with certificate verification).
    bool connectTo(const Pop3Address& address);
    // Starts TLS on the open connection after the server accepted STLS.
    bool startTls();
    // Writes one request line (CR LF is added); multiLine says whether +OK carries a body, and
    // maxBody bounds it (0: the options' maxHeaderLength).
    void send(const QByteArray& command, bool multiLine, qsizetype maxBody = 0);
    // Announces a reply that arrives unasked (the greeting).
    void expectGreeting() { m_parser.expect(false); }
    // The next reply in request order, waiting at most the reply time-out for it.
    bool nextReply(Pop3Reply* reply);
    // Replies announced but not read yet.
    int pendingReplies() const { return m_parser.pendingCount(); }
    // True when bytes have arrived that no request accounts for yet.
    bool hasUnreadData() const;
    // No wait of this connection goes past deadline; reaching it fails the session as a time-out.
    void setSessionDeadline(const QDeadlineTimer& deadline, int timeoutMs);
    // Fails the connection as a protocol fault with text (a reply that does not fit its request).
    bool failProtocol(const QString& text) { return fail(Failure::Protocol, text); }
    // Drops the connection without a goodbye.
    void abort();
    // Ends every connection of this thread at once, without a goodbye (the program is ending):
    // a wait in progress returns within one turn of the event loop. Until allowConnections(),
    // new connections fail at once.
    static void cancelAll();
    static void allowConnections();

    bool isOpen() const
    {
        return m_failure == Failure::None && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
    }
    bool isEncrypted() const { return m_socket && m_socket->isEncrypted(); }
    Failure failure() const { return m_failure; }
    QString failureText() const { return m_failureText; }
    // The certificate that failed verification for reasons a pin can answer (the issuer or the
    // name); null otherwise. A pinned certificate is accepted for exactly those reasons.
    QSslCertificate rejectedCertificate() const { return m_rejected; }

private:
    enum class Wait { Done, Expired, SessionExpired, Cancelled };

    Wait waitUntil(const std::function<bool()>& done, const QDeadlineTimer& deadline);
    bool failWait(Wait wait, int timeoutMs, bool connecting);
    bool connectToAddress(const QHostAddress& ip, const Pop3Address& address, const QDeadlineTimer& deadline);
    bool fail(Failure failure, const QString& text);
    bool failFromSocket();
    bool waitForEncrypted(const QDeadlineTimer& deadline, int timeoutMs);
    bool readMore(const QDeadlineTimer& deadline);
    QString securityReason() const;
    void cancel();

    Pop3Options m_options;
    Pop3ReplyParser m_parser;
    std::unique_ptr<QSslSocket> m_socket;
    QString m_host;
    QSslCertificate m_pinned;   // the certificate the user trusts for this server, if any
    QSslCertificate m_rejected; // see rejectedCertificate()
    QDeadlineTimer m_sessionDeadline = QDeadlineTimer::Forever;
    int m_sessionTimeoutMs = 0;
    bool m_cancelled = false;
    Failure m_failure = Failure::None;
    QString m_failureText;
};
