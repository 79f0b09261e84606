#pragma once

#include "maillib/HeaderDecoder.h"
#include "maillib/Pop3Connection.h"
#include "maillib/Pop3Error.h"
#include "maillib/Pop3Options.h"
#include "maillib/Sasl.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <optional>

// One POP3 session as a job on the caller's thread: open, log in, read header blocks with TOP n 0,
// fetch whole messages with RETR only when asked to, delete, close. Each step is started by a call
// and ends in a signal; nothing waits in a loop, and every wait is a timer (Pop3Options).
//
// Requests go through one queue. When the server advertises PIPELINING up to
// Pop3Options::pipelineWindow requests are in flight at once; without it the window is one
// request. Each reply reaches the handler of its request, in request order, either way.
//
// A session commits nothing it cannot vouch for. Each reply is checked against the request it
// answers; at login the server's count and its LIST must agree; a header block larger than the
// message it belongs to is refused. close() asks STAT after every other reply is in, which must
// give the count and size that remain after this session's deletions, and finds nothing left
// unread before it sends QUIT. Any doubt, and any transport failure, ends the session at once
// without QUIT, so the server applies none of its deletions; error() then says why. A
// certificate that fails verification stops the session before the password is sent, and so does
// a server without TLS, unless it is on this machine or the user allowed plain text for it
// (Pop3Options::trust); a server once reached with TLS is never used without it.
class Pop3Session : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Idle,
        Connecting,      // name look-up, TCP, and for pop3s the TLS handshake
        Greeting,        // waiting for the server's first word
        Capabilities,    // CAPA
        StartingTls,     // STLS and its handshake
        AwaitingConsent, // stopped before the login: the user decides about plain text
        Ready,           // open: login() may follow
        Authenticating,  // AUTH: the SASL exchange, a challenge answered at a time
        Authorizing,     // the login with STAT, LIST and UIDL
        Transaction,     // logged in: headers, copies, deletions
        Verifying,       // STAT before QUIT, proving the stream in step
        Quitting,        // QUIT sent: from here the server may have committed
        Closed,          // ended in good order
        Failed,          // ended without QUIT (or QUIT unanswered): see error()
    };
    Q_ENUM(State)
    // Why open() stopped before the login for the password's sake, so the user can be asked.
    enum class Refusal { None, PlainText, EncryptionLost, Certificate };
    // The response code of a refused login (RFC 2449, RFC 3206): what the server says went wrong.
    enum class ResponseCode { None, InUse, LoginDelay, SysTemp, SysPerm, Auth, Other };
    using Failure = Pop3Connection::Failure;
    using HeadersHandler = std::function<void(int number, const std::optional<MessageHeaders>& headers)>;
    using MessageHandler = std::function<void(int number, const std::optional<QByteArray>& bytes)>;

    explicit Pop3Session(const Pop3Options& options = Pop3Options(), QObject* parent = nullptr);
    ~Pop3Session() override;

    // Connects, reads the greeting, asks CAPA and starts TLS when the server offers STLS; ends in
    // opened(), consentNeeded() (refusal() is PlainText) or failed(). The forms of server are
    // those of Pop3Address. Over TLS to a server that offered PIPELINING when last reached
    // (Pop3Options::pipeliningOffered), the greeting and CAPA are read with the login's replies.
    void open(const QString& server);
    // After consentNeeded(), when the user allowed plain text for this server: opened().
    void allowPlainText();
    // Logs in with USER/PASS, or APOP when apop is set, and asks UIDL, STAT and LIST: loggedIn()
    // with the number of messages, or failed(), where refused() tells a refusal by the server (or
    // a login that could not be made) from a broken session. A user name or password holding CR,
    // LF or NUL is refused without being sent. Over TLS, a server that offers SASL PLAIN is sent
    // the password with AUTH PLAIN instead of USER/PASS; APOP stays APOP.
    void login(const QString& user, const QString& password, bool apop);
    // Logs in with an OAuth 2.0 access token through AUTH OAUTHBEARER, or XOAUTH2 when only that is
    // offered, then as login(). The token is sent only over TLS or to this machine, whatever the
    // user allowed for a password. When the server refuses the token the session stays open and
    // Ready, tokenRefused() is set and tokenRejected() follows: another token may be tried, or close().
    // A refusal of any other kind is failed(), as for login().
    void loginWithToken(const QString& user, const QByteArray& accessToken);
    // A SASL exchange ends after this many challenges: the mechanisms spoken here need at most two.
    static constexpr int MaxSaslChallenges = 4;
    // Asks for the headers of message number; handler gets them decoded, or nothing when the
    // server refused them (the session goes on). False when the request cannot be made (not
    // logged in, number out of range or deleted). Handlers run in request order; none runs after
    // the session failed.
    bool requestHeaders(int number, HeadersHandler handler);
    // Asks for the whole of message number (dot-unstuffed, CR LF line ends); handler gets nothing
    // when the server refused it or it was larger than MaxMessageBytes or had a line too long to
    // keep whole.
    bool retrieve(int number, MessageHandler handler);
    static constexpr qsizetype MaxMessageBytes = 64 * 1024 * 1024;
    // For a server without TOP: asks for the whole of message number with RETR and hands over its
    // header block decoded, the body dropped; nothing when refused or larger than MaxJudgedBytes.
    bool retrieveHeaders(int number, HeadersHandler handler);
    static constexpr qsizetype MaxJudgedBytes = 256 * 1024;
    // Asks the server to delete message number when the session ends. False when the request
    // could not be made (not logged in, number out of range or already asked).
    bool remove(int number);
    // Puts the requests made so far on the wire at once, before the caller goes on to other work.
    void sendNow() { m_connection.flush(); }
    // Header requests not yet sent are dropped; their handlers never run. Returns how many.
    int dropUnsentHeaderRequests();
    // Proves the stream in step, then sends QUIT: closed() when the server confirmed the end of the
    // session, so that its deletions took effect; else failed(). Requests still out, and those their
    // handlers add, go first. Before the login it only says
    // goodbye. A deletion the server refused is left out of deletionsConfirmed(). beforeQuit, when
    // given, runs once the stream is proved and every DELE answered: where deletions were asked, just
    // before QUIT, and a text it returns ends the session without QUIT (commitRefused()), with that
    // text. Without deletions STAT and QUIT go out together (nothing is committed, so nothing waits)
    // and it runs when STAT's answer proved the stream; what it returns changes nothing then.
    void close(std::function<QString()> beforeQuit = {});
    // Drops the connection at once, without QUIT: nothing asked in this session is deleted. No
    // signal follows.
    void abort();

    State state() const { return m_state; }
    // What went wrong, as a kind and what it names; none when nothing did. errorText() is its
    // Japanese text for the user, made in one place (Pop3Error::text()).
    Pop3Error error() const { return m_error; }
    QString errorText() const { return m_error.text(); }
    int messageCount() const { return m_count; }
    // The server's unique id of message number, from UIDL at login; empty when the server gave
    // none, or a list that could not be trusted (an id repeated, a number missing).
    QByteArray uniqueId(int number) const { return m_uids.value(number - 1); }
    bool hasUniqueIds() const { return !m_uids.isEmpty() || m_count == 0; }
    // The size of message number from LIST, or -1 when unknown.
    qint64 messageSize(int number) const { return m_sizes.value(number - 1, -1); }
    bool isPipelining() const { return m_pipelining; }
    bool isEncrypted() const { return m_connection.isEncrypted(); }
    // The login was answered -ERR by the server, or could not be made (as opposed to a broken session).
    bool refused() const { return m_refused; }
    // The response code of the server's refusal of the login, None without one.
    ResponseCode responseCode() const { return m_responseCode; }
    // The server accepted the credentials (a failure after that is not the password's).
    bool loginAccepted() const { return m_loginAccepted; }
    // The seconds CAPA's LOGIN-DELAY asks between logins, 0 when it names none.
    int loginDelaySeconds() const { return m_loginDelay; }
    // CAPA was answered and did not list TOP: header blocks cannot be read without whole messages.
    bool lacksTop() const { return m_capaAnswered && !m_capabilities.contains("TOP"); }
    // close()'s beforeQuit returned a reason: nothing was committed.
    bool commitRefused() const { return m_commitRefused; }
    bool tokenRefused() const { return m_tokenRefused; }
    // The SASL mechanism of the login, None for USER/PASS and APOP.
    Sasl::Mechanism mechanism() const { return m_mechanism; }
    // QUIT went out after the login: a failure from then on may have left the deletions done.
    bool quitSent() const { return m_quitSent; }
    // Set when open() refused the server on security grounds; rejectedCertificate() goes with
    // Certificate, and serverKey() names the server as TlsTrust keys it.
    Refusal refusal() const { return m_refusal; }
    QSslCertificate rejectedCertificate() const { return m_connection.rejectedCertificate(); }
    QString serverKey() const { return m_serverKey; }
    // The kind of failure that ended the session, if any.
    Failure failure() const { return m_connection.failure(); }
    // Messages whose deletion the server refused, and deletions it confirmed.
    QList<int> refusedDeletions() const { return m_refusedDeletions; }
    int deletionsConfirmed() const { return m_confirmedDeletions; }

Q_SIGNALS:
    void stateChanged(Pop3Session::State state);
    void opened();
    void consentNeeded();
    void loggedIn(int count);
    void tokenRejected();
    void closed();
    void failed();

private:
    // Every command the session sends, with how its reply is read.
    enum class Request { Greeting, Capa, Stls, User, Pass, Apop, Auth, Stat, List, Uidl, Top, Retr, Dele, Quit, RetrHead };
    enum class Bound { Status, Header, Listing, Message, Judged };
    struct Command
    {
        Request request;
        const char* verb;
        bool multiLine;
        Bound bound;
        bool continuations; // "+ " may answer it: a SASL exchange
    };
    static const Command& command(Request request);
    using ReplyHandler = std::function<void(const Pop3Reply& reply)>;
    struct Pending
    {
        Request request;
        QByteArray line;
        ReplyHandler onReply;
    };

    // The login's own progress where State cannot tell it: over TLS to a server that offered
    // PIPELINING when last reached, the greeting and CAPA are answered along with the login.
    enum class LoginPhase {
        InOrder,               // the greeting and CAPA are answered before the login goes out
        GreetingAhead,         // the greeting is read with the login's replies; CAPA goes with the login
        ApopAwaitsGreeting,    // as GreetingAhead, and APOP waits: its digest needs the greeting's timestamp
        CapabilitiesWithLogin, // the greeting is read; CAPA goes out with the login
        Refused,               // the server refused the login: QUIT says goodbye, then the session fails
    };
    bool capabilitiesWithLogin() const
    {
        return m_loginPhase != LoginPhase::InOrder && m_loginPhase != LoginPhase::Refused;
    }

    void setState(State state);
    // Connection and opening.
    void onEstablished();
    void onGreeting(const Pop3Reply& reply);
    bool takeGreeting(const Pop3Reply& greeting);
    bool rememberedPipelining() const;
    void askCapabilities();
    void readCapabilities(const Pop3Reply& reply);
    void sendStls(bool knownServer);
    void finishOpening();
    bool mayLoginWithoutTls();
    // Authorization.
    void sendLogin();
    void sendCredentials();
    void startAuth(Sasl::Mechanism mechanism, const QByteArray& secret);
    void onAuthReply(const Pop3Reply& reply);
    void onCredentialsAnswer(const Pop3Reply& reply, bool last);
    void askMailbox();
    void onStat(const Pop3Reply& reply);
    bool readList(const Pop3Reply& reply);
    void readUidl(const Pop3Reply& reply);
    void refuseByServer(const Pop3Reply& reply);
    void onLoggedIn();
    void refuseLogin(const Pop3Error& error, const Pop3Reply* reply = nullptr);
    // Ending.
    void closeWhenIdle();
    void verifyInStep(const Pop3Reply& reply);
    bool statInStep(const Pop3Reply& reply) const;
    void sendQuit();
    void onQuit(const Pop3Reply& reply);
    // The queue.
    void enqueue(Request request, const QByteArray& arguments, ReplyHandler handler);
    void pump();
    void onRepliesReady();
    bool checkNumber(int number);
    // Failure.
    void onConnectionFailed();
    void fail();
    void doubt(Pop3Error::Code code);
    // How much an error matters to the user: a message skipped, a request refused, the session lost.
    enum class ErrorRank { Skipped, Refused, Session };
    void setServerError(const Pop3Error& error, const Pop3Reply& reply, ErrorRank rank = ErrorRank::Refused);

    Pop3Options m_options;
    Pop3Connection m_connection;
    State m_state = State::Idle;
    Refusal m_refusal = Refusal::None;
    QString m_serverKey;
    QString m_host;
    QByteArray m_timestamp;
    QSet<QByteArray> m_capabilities;
    QList<QByteArray> m_saslOffered; // CAPA's SASL line
    int m_port = 0;
    bool m_pipelining = false;
    LoginPhase m_loginPhase = LoginPhase::InOrder;
    bool m_refused = false;
    bool m_loginAccepted = false;
    bool m_capaAnswered = false;
    bool m_commitRefused = false;
    ResponseCode m_responseCode = ResponseCode::None;
    int m_loginDelay = 0;
    Pop3Reply m_uidlReply; // read once STAT has given the count
    std::function<QString()> m_beforeQuit;
    bool m_quitSent = false;
    bool m_closeRequested = false;
    QString m_user;
    QString m_password;
    bool m_apop = false;
    QByteArray m_token; // with loginWithToken(), until it is sent
    Sasl::Mechanism m_mechanism = Sasl::Mechanism::None;
    QByteArray m_saslFirst; // the first message, when AUTH could not carry it
    int m_saslChallenges = 0;
    bool m_tokenRefused = false;
    int m_count = 0;
    qint64 m_statSize = 0;
    bool m_sizesAddUp = false;
    std::deque<Pending> m_queued;   // not written yet
    std::deque<Pending> m_inFlight; // written, reply not in yet; oldest first
    QList<qint64> m_sizes;          // from LIST, by message number - 1; empty when unknown
    QList<QByteArray> m_uids;       // from UIDL, the same way
    QSet<int> m_deleted;            // deletions asked in this session
    QList<int> m_refusedDeletions;
    int m_confirmedDeletions = 0;
    Pop3Error m_error;
    ErrorRank m_errorRank = ErrorRank::Skipped;
};
