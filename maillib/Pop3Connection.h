#pragma once

#include "maillib/Pop3Address.h"
#include "maillib/Pop3Options.h"
#include "maillib/Pop3ReplyParser.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <memory>

// The transport of one POP3 session: a QSslSocket used blocking on the calling thread, with
// every wait bounded by the options' time-outs, and the reply parser in front of it. Requests
// are written at once; replies are read in request order. After any failure the connection is
// dead: the socket is aborted (so the server discards the session's deletions) and failure()
// keeps the first reason.
class Pop3Connection
{
public:
    enum class Failure { None, Network, Timeout, Protocol, Security };

    explicit Pop3Connection(const Pop3Options& options);
    ~Pop3Connection();
    Pop3Connection(const Pop3Connection&) = delete;
    Pop3Connection& operator=(const Pop3Connection&) = delete;

    // Connects (and for pop3s completes the TLS handshake with certificate verification).
    bool connectTo(const Pop3Address& address);
    // Starts TLS on the open connection after the server accepted STLS.
    bool startTls();
    // Writes one request line (CR LF is added); multiLine says whether +OK carries a body.
    void send(const QByteArray& command, bool multiLine);
    // Announces a reply that arrives unasked (the greeting).
    void expectGreeting() { m_parser.expect(false); }
    // The next reply in request order, waiting at most the reply time-out for it.
    bool nextReply(Pop3Reply* reply);
    // Replies announced but not read yet.
    int pendingReplies() const { return m_parser.pendingCount(); }
    // Drops the connection without a goodbye.
    void abort();

    bool isOpen() const { return m_failure == Failure::None && m_socket; }
    bool isEncrypted() const { return m_socket && m_socket->isEncrypted(); }
    Failure failure() const { return m_failure; }
    QString failureText() const { return m_failureText; }

private:
    bool fail(Failure failure, const QString& text);
    bool failFromSocket(const QDeadlineTimer& deadline, int timeoutMs);
    bool waitForEncrypted(const QDeadlineTimer& deadline, int timeoutMs);
    bool readMore(const QDeadlineTimer& deadline);
    void flushWrites();
    QString securityReason() const;

    Pop3Options m_options;
    Pop3ReplyParser m_parser;
    std::unique_ptr<QSslSocket> m_socket;
    QString m_host;
    Failure m_failure = Failure::None;
    QString m_failureText;
};
