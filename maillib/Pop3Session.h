#pragma once

#include "maillib/HeaderDecoder.h"
#include "maillib/Pop3Connection.h"
#include "maillib/Pop3Options.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <deque>
#include <optional>

// One POP3 session, used blocking on the calling thread: open, log in, read header blocks with
// TOP n 0 (never RETR), delete, close. Every wait is bounded by the time-outs of Pop3Options
// (defaults: 10 s to connect, 20 s for each reply).
//
// When the server advertises PIPELINING, header requests for the messages after the one asked
// for are sent ahead (Pop3Options::pipelineWindow of them) and their replies kept until asked
// for; deletions join the same stream without waiting. Without it, one request is on the wire at
// a time. What the caller sees is the same either way: remove() only queues the deletion (its
// reply is checked later), a header request after a deletion of the same message is sent anew,
// and close() says whether the server took the session's deletions.
//
// Any transport failure ends the session at once without QUIT, so the server applies none of
// its deletions; errorText() then says why. A certificate that fails verification stops the
// session before the password is sent.
class Pop3Session
{
public:
    explicit Pop3Session(const Pop3Options& options = defaultOptions());
    ~Pop3Session();
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    // Options used by sessions built without explicit ones (the NMail functions); tests set the
    // certificates they trust and short time-outs here.
    static Pop3Options defaultOptions();
    static void setDefaultOptions(const Pop3Options& options);

    // Connects, reads the greeting, asks CAPA and starts TLS when the server offers STLS. The
    // forms of server are those of Pop3Address. False on failure, with errorText().
    bool open(const QString& server);
    // Logs in with USER/PASS, or with APOP when apop is set, and asks STAT. Returns the number of
    // messages (0 for an empty mailbox) or -1 on failure. A user name or password holding CR,
    // LF or NUL is refused without being sent.
    int login(const QString& user, const QString& password, bool apop);
    // The decoded headers of message number (1 to the count), or nothing when the server
    // refused them or the session failed; errorText() says which.
    std::optional<MessageHeaders> headers(int number);
    // Asks the server to delete message number when the session ends. False only when the
    // request could not be made at all (no session, number out of range).
    bool remove(int number);
    // Sends QUIT and waits for its answer; true when the server confirmed the end of the session
    // (its deletions then take effect). Without an open session it only drops the connection.
    bool close();

    QString errorText() const { return m_error; }
    int messageCount() const { return m_count; }
    bool isPipelining() const { return m_pipelining; }
    bool isEncrypted() const { return m_connection.isEncrypted(); }
    // The kind of transport failure that ended the session, if any.
    Pop3Connection::Failure failure() const { return m_connection.failure(); }
    // Messages whose deletion the server refused.
    QList<int> refusedDeletions() const { return m_refusedDeletions; }

private:
    enum class State { Closed, Authorization, Transaction, Failed };
    enum class Request { Top, Dele, Other };
    struct InFlight
    {
        Request request;
        int number;
        bool wanted;
    };

    bool readCapabilities();
    bool startTls();
    bool sendLogin(const QString& user, const QString& password, bool apop);
    int readLoginReplies(int replies);
    void sendRequest(Request request, int number, const QByteArray& command, bool multiLine);
    bool drainAll();
    bool processNextReply(Pop3Reply* own = nullptr);
    bool syncRequest(const QByteArray& command, bool multiLine, Pop3Reply* reply);
    void forgetBefore(int number);
    void forget(int number);
    void prefetchAfter(int number);
    bool checkNumber(int number);
    bool failSession();
    void setServerError(const QString& text, const Pop3Reply& reply);

    Pop3Options m_options;
    Pop3Connection m_connection;
    State m_state = State::Closed;
    QByteArray m_timestamp;
    QSet<QByteArray> m_capabilities;
    bool m_pipelining = false;
    int m_count = 0;
    std::deque<InFlight> m_inFlight;
    QSet<int> m_wantedTops;           // TOP requests in flight whose reply is still wanted
    QHash<int, Pop3Reply> m_buffered; // replies to TOP requests sent ahead
    int m_prefetchNext = 1;           // every message below it and above the last asked is requested
    int m_lastAsked = 0;
    QList<int> m_refusedDeletions;
    QString m_error;
};
