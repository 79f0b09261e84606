#pragma once

#include "maillib/HeaderDecoder.h"
#include "maillib/Pop3Connection.h"
#include "maillib/Pop3Options.h"

#include <QList>
#include <QSet>
#include <QString>
#include <deque>
#include <optional>

// One POP3 session: open, log in, read header blocks with TOP n 0, fetch whole messages with RETR
// only when asked to, delete, close.
// Every wait is bounded (Pop3Options) and keeps the thread's events flowing, user input held.
//
// Requests go through one queue of what is in flight. When the server advertises PIPELINING the
// queue holds up to Pop3Options::pipelineWindow header requests sent ahead, with the deletions
// joining the same stream; without it the window is one request. What the caller sees is the
// same either way.
//
// A session commits nothing it cannot vouch for. Each reply is checked against the request it
// answers; at login the server's count and its LIST must agree; a header block larger than the
// message it belongs to is refused. close() reads every outstanding reply, asks STAT, which must
// give the count and size that remain after this session's deletions, and finds nothing left
// unread before it sends QUIT. Any doubt, and any transport failure, ends the session at once
// without QUIT, so the server applies none of its deletions; errorText() then says why. A
// certificate that fails verification stops the session before the password is sent, and so does
// a server without TLS, unless it is on this machine or the user allowed plain text for it
// (Pop3Options::trust); a server once reached with TLS is never used without it.
class Pop3Session
{
public:
    // Why open() stopped before the login for the password's sake, so the user can be asked.
    enum class Refusal { None, PlainText, EncryptionLost, Certificate };

    explicit Pop3Session(const Pop3Options& options = Pop3Options());
    ~Pop3Session();
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    // Connects, reads the greeting, asks CAPA and starts TLS when the server offers STLS. The
    // forms of server are those of Pop3Address. False on failure, with errorText(). Over TLS to
    // a server that offered PIPELINING when last reached (Pop3Options::pipeliningOffered), the
    // greeting and CAPA are left to be read with the login's replies.
    bool open(const QString& server);
    // After open() refused plain text (Refusal::PlainText) and the user allowed it for this
    // server: the session goes on over the same connection. False for any other state.
    bool allowPlainText();
    // Logs in with USER/PASS, or with APOP when apop is set, and asks STAT, LIST and UIDL. Returns the
    // number of messages (0 for an empty mailbox) or -1 on failure: refused() tells a refusal
    // by the server from a broken session. A user name or password holding CR, LF or NUL is
    // refused without being sent.
    int login(const QString& user, const QString& password, bool apop);
    // The decoded headers of message number (1 to the count), or nothing when the server
    // refused them (the session goes on) or the session failed; errorText() says which.
    std::optional<MessageHeaders> headers(int number);
    // The caller will not ask for the headers of these messages (it knows them already): they are
    // not requested ahead.
    void skipHeaders(const QSet<int>& numbers) { m_notAsked = numbers; }
    // The whole of message number as the server sent it (dot-unstuffed, CR LF line ends), or
    // nothing when the server refused it, it was larger than MaxMessageBytes or had a line too long
    // to keep whole (the session goes on), or the session failed. With PIPELINING the requests
    // for ahead (up to the window) are sent with this one, so fetching several costs one stream.
    std::optional<QByteArray> retrieve(int number, const QList<int>& ahead = {});
    static constexpr qsizetype MaxMessageBytes = 64 * 1024 * 1024;
    // Asks the server to delete message number when the session ends. False when the request
    // could not be made (no session, number out of range or already asked).
    bool remove(int number);
    // Proves the stream in step, then sends QUIT; true when the server confirmed the end of the
    // session, so that its deletions took effect. A deletion the server refused is left out of
    // deletionsConfirmed(). Without an open session it only drops the connection.
    bool close();
    // Drops the connection at once, without QUIT: nothing asked in this session is deleted.
    void abort();

    QString errorText() const { return m_error; }
    int messageCount() const { return m_count; }
    // The server's unique id of message number, from UIDL at login; empty when the server gave
    // none, or a list that could not be trusted (an id repeated, a number missing).
    QByteArray uniqueId(int number) const { return m_uids.value(number - 1); }
    bool hasUniqueIds() const { return !m_uids.isEmpty() || m_count == 0; }
    // The size of message number from LIST, or -1 when unknown.
    qint64 messageSize(int number) const { return m_sizes.value(number - 1, -1); }
    bool isPipelining() const { return m_pipelining; }
    bool isEncrypted() const { return m_connection.isEncrypted(); }
    // The session broke (transport, time-out, doubt, cancel): nothing of it is committed.
    bool isBroken() const { return m_state == State::Failed; }
    // The login was answered -ERR by the server (as opposed to a broken session).
    bool refused() const { return m_refused; }
    // Set when open() refused the server on security grounds; rejectedCertificate() goes with
    // Certificate, and serverKey() names the server as TlsTrust keys it.
    Refusal refusal() const { return m_refusal; }
    QSslCertificate rejectedCertificate() const { return m_connection.rejectedCertificate(); }
    QString serverKey() const { return m_serverKey; }
    // The kind of failure that ended the session, if any.
    Pop3Connection::Failure failure() const { return m_connection.failure(); }
    // Messages whose deletion the server refused, and deletions it confirmed.
    QList<int> refusedDeletions() const { return m_refusedDeletions; }
    int deletionsConfirmed() const { return m_confirmedDeletions; }

private:
    enum class State { Closed, Authorization, Transaction, Failed };
    enum class Request { Greeting, Capa, Login, Stat, List, Uidl, Top, Retr, Dele, Quit };
    struct InFlight
    {
        Request request;
        int number;
        std::optional<Pop3Reply> reply; // in, but not collected yet
    };

    bool takeGreeting(const Pop3Reply& greeting);
    bool readGreeting();
    bool rememberedPipelining() const;
    bool askCapabilities();
    void readCapabilities(const Pop3Reply& reply);
    bool startTls(const QString& knownHost);
    bool mayLoginWithoutTls(const QString& host);
    int readLogin();
    bool readList(const Pop3Reply& reply);
    void readUidl(const Pop3Reply& reply);
    bool send(Request request, int number, const QByteArray& command);
    bool readUntil(Request request, int number, Pop3Reply* reply);
    bool readOldest(Request awaited = Request::Login, int awaitedNumber = -1);
    qsizetype unanswered() const;
    bool isInFlight(Request request, int number) const;
    void prefetchAfter(int number);
    bool checkNumber(int number);
    bool verifyInStep();
    bool failSession();
    bool doubt(const QString& text);
    // How much an error matters to the user: a message skipped, a request refused, the session lost.
    enum class ErrorRank { Skipped, Refused, Session };
    void setServerError(const QString& text, const Pop3Reply& reply, ErrorRank rank = ErrorRank::Refused);

    Pop3Options m_options;
    Pop3Connection m_connection;
    State m_state = State::Closed;
    Refusal m_refusal = Refusal::None;
    QString m_serverKey;
    QByteArray m_timestamp;
    QSet<QByteArray> m_capabilities;
    bool m_pipelining = false;
    bool m_capabilitiesWithLogin = false; // CAPA goes out with the login
    bool m_refused = false;
    int m_count = 0;
    qint64 m_statSize = 0;
    bool m_sizesAddUp = false;
    QDeadlineTimer m_sessionDeadline;
    std::deque<InFlight> m_inFlight; // requests sent and not collected yet, oldest first
    int m_prefetchNext = 1;          // the next header request to send ahead
    QSet<int> m_notAsked;            // headers the caller will not ask for
    QList<qint64> m_sizes;           // from LIST, by message number - 1; empty when unknown
    QList<QByteArray> m_uids;        // from UIDL, the same way
    QSet<int> m_deleted;             // deletions asked in this session
    QList<int> m_refusedDeletions;
    int m_confirmedDeletions = 0;
    QString m_error;
    ErrorRank m_errorRank = ErrorRank::Skipped;
};
