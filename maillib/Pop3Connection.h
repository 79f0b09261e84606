#pragma once

#include "maillib/Pop3Address.h"
#include "maillib/Pop3Error.h"
#include "maillib/Pop3Options.h"
#include "maillib/Pop3ReplyParser.h"

#include <QObject>
#include <QSslSocket>
#include <QTimer>
#include <memory>

class QHostInfo;

// The transport of one POP3 session: a QSslSocket with the reply parser in front of it, driven by
// the socket's signals and three timers (connect, reply, session); it never waits in a loop of its
// own. Requests are written at once; replies come out in request order through repliesReady().
// After any failure the connection is dead: the socket is aborted (so the server discards the
// session's deletions), failure() keeps the first reason, and failed() is emitted once.
class Pop3Connection : public QObject
{
    Q_OBJECT
public:
    enum class Failure { None, HostNotFound, Refused, Network, Timeout, Protocol, Security, Cancelled };

    explicit Pop3Connection(const Pop3Options& options, QObject* parent = nullptr);
    ~Pop3Connection() override;

    // Looks the name up and connects (for pop3s, with the TLS handshake and certificate check):
    // established() or failed(), within the options' connect time-out.
    void connectTo(const Pop3Address& address);
    // Starts TLS on the open connection after the server accepted STLS: established() again, or
    // failed(), within the reply time-out.
    void startTls();
    // Writes one request line (CR LF is added); multiLine says whether +OK carries a body, maxBody
    // bounds it (0: the options' maxHeaderLength), continuations whether "+ " may answer it.
    void send(const QByteArray& command, bool multiLine, qsizetype maxBody = 0, bool continuations = false);
    // Answers a SASL continuation of the request in flight: writes line (CR LF is added), expects no
    // reply of its own, and gives the next reply the whole reply time-out.
    void respond(const QByteArray& line);
    // Announces a reply that arrives unasked (the greeting).
    void expectGreeting();
    // The oldest complete reply; false when none is in.
    bool takeReply(Pop3Reply* reply) { return m_parser.takeReply(reply); }
    // True when bytes have arrived that no request accounts for yet.
    bool hasUnreadData() const;
    // Puts what was sent on the wire now rather than at the event loop's next turn. Whatever arrives
    // meanwhile is read at that next turn, never inside this call.
    void flush();
    // The session as a whole ends after ms from now; reaching it fails the connection as a time-out
    // that names totalMs (the whole allowance, for the message).
    void setSessionTimeout(qint64 ms, qint64 totalMs);
    // Holds the session's clock while the user is asked a question, and starts it again after.
    void pauseSessionClock();
    void resumeSessionClock();
    // Fails the connection as a protocol fault (a reply that does not fit its request).
    void failProtocol(const Pop3Error& error) { fail(Failure::Protocol, error); }
    // Drops the connection without a goodbye; emits nothing.
    void abort();
    // Ends every connection of this thread at once, without a goodbye (the program is ending).
    // Until allowConnections(), new connections fail at once.
    static void cancelAll();
    static void allowConnections();

    bool isOpen() const;
    bool isEncrypted() const { return m_socket && m_socket->isEncrypted(); }
    Failure failure() const { return m_failure; }
    // The failure was a reply that did not come in time (not the connection, not the session's deadline).
    bool replyTimedOut() const { return m_replyTimedOut; }
    // Why the connection failed; none before it did.
    Pop3Error error() const { return m_error; }
    // The certificate that failed verification for reasons a pin can answer (the issuer or the
    // name); null otherwise.
    QSslCertificate rejectedCertificate() const { return m_rejected; }

Q_SIGNALS:
    void established();
    void repliesReady();
    void failed();

private:
    void lookedUp(const QHostInfo& info);
    void tryNextAddress();
    void onConnected();
    void onEncrypted();
    void onSocketError();
    void onReadyRead();
    bool readAvailable();
    void armReplyTimer();
    void fail(Failure failure, const Pop3Error& error);
    void failFromSocket();
    void failHandshake();
    QString securityReasons() const;
    void cancel();

    Pop3Options m_options;
    Pop3ReplyParser m_parser;
    std::unique_ptr<QSslSocket> m_socket;
    Pop3Address m_address;
    QList<QHostAddress> m_addresses; // still to try, in the resolver's order
    int m_lookupId = -1;
    QSslCertificate m_pinned;   // the one certificate the user trusts for this server, if any
    QSslCertificate m_rejected; // see rejectedCertificate()
    bool m_handshaking = false; // waiting for encrypted()
    bool m_flushing = false;
    bool m_aborted = false;     // dropped on purpose: nothing more is reported
    QTimer m_stepTimer;         // connect, STLS handshake or the reply awaited
    QTimer m_sessionTimer;
    qint64 m_sessionTotalMs = 0;
    qint64 m_pausedRemainingMs = -1;
    Failure m_failure = Failure::None;
    bool m_replyTimedOut = false;
    Pop3Error m_error;
};
