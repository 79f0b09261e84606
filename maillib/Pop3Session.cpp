#include "maillib/Pop3Session.h"

#include "maillib/CharsetDecoder.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <climits>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Code = Pop3Error::Code;

bool hasLineBreakOrNul(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

// The server's own words, short enough for a message box and harmless in a terminal: escape
// sequences and other control characters go, whatever the server sent.
QString serverReply(const Pop3Reply& reply)
{
    QByteArray line = QByteArray(reply.ok ? "+OK" : "-ERR");
    if (!reply.statusText.isEmpty())
        line += ' ' + reply.statusText;
    static const QRegularExpression escapes(QStringLiteral("\x1b(\[[0-?]*[ -/]*[@-~]|[@-_])"));
    QString text = CharsetDecoder::decodeRaw(line.left(400)).remove(escapes);
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter; });
    return text;
}

// The response code at the start of a refusal's text (RFC 2449): "[IN-USE] ...".
Pop3Session::ResponseCode responseCodeOf(const Pop3Reply& reply)
{
    using Code = Pop3Session::ResponseCode;
    if (reply.ok || !reply.statusText.startsWith('['))
        return Code::None;
    const QByteArray code = reply.statusText.mid(1, reply.statusText.indexOf(']') - 1).toUpper();
    static const std::pair<const char*, Code> known[] = {{"IN-USE", Code::InUse},   {"LOGIN-DELAY", Code::LoginDelay},
                                                         {"SYS/TEMP", Code::SysTemp}, {"SYS/PERM", Code::SysPerm},
                                                         {"AUTH", Code::Auth}};
    for (const auto& [name, value] : known) {
        if (code == name)
            return value;
    }
    return reply.statusText.indexOf(']') > 0 ? Code::Other : Code::None;
}

} // namespace

// One row per command: what a new command needs is a row here and a handler for its reply.
const Pop3Session::Command& Pop3Session::command(Request request)
{
    static const Command table[] = {
        {Request::Greeting, "", false, Bound::Status, false}, {Request::Capa, "CAPA", true, Bound::Header, false},
        {Request::Stls, "STLS", false, Bound::Status, false}, {Request::User, "USER", false, Bound::Status, false},
        {Request::Pass, "PASS", false, Bound::Status, false}, {Request::Apop, "APOP", false, Bound::Status, false},
        {Request::Auth, "AUTH", false, Bound::Status, true},  {Request::Stat, "STAT", false, Bound::Status, false},
        {Request::List, "LIST", true, Bound::Listing, false}, {Request::Uidl, "UIDL", true, Bound::Listing, false},
        {Request::Top, "TOP", true, Bound::Header, false},    {Request::Retr, "RETR", true, Bound::Message, false},
        {Request::Dele, "DELE", false, Bound::Status, false}, {Request::Quit, "QUIT", false, Bound::Status, false},
        {Request::RetrHead, "RETR", true, Bound::Judged, false},
    };
    return table[int(request)];
}

Pop3Session::Pop3Session(const Pop3Options& options, QObject* parent)
    : QObject(parent), m_options(options), m_connection(options)
{
    connect(&m_connection, &Pop3Connection::established, this, &Pop3Session::onEstablished);
    connect(&m_connection, &Pop3Connection::repliesReady, this, &Pop3Session::onRepliesReady);
    connect(&m_connection, &Pop3Connection::failed, this, &Pop3Session::onConnectionFailed);
}

Pop3Session::~Pop3Session()
{
    m_connection.abort();
}

void Pop3Session::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void Pop3Session::abort()
{
    m_connection.abort();
    m_queued.clear();
    m_inFlight.clear();
    if (m_state != State::Closed && m_state != State::Idle)
        setState(State::Failed);
}

// ---- Connecting: greeting, capabilities, STLS ----

void Pop3Session::open(const QString& server)
{
    if (m_state != State::Idle) {
        m_error = {.code = Code::BadReply};
        return fail();
    }
    const Pop3Address address = Pop3Address::parse(server);
    if (!address.valid) {
        m_error = {.code = Code::BadServerName, .detail = server};
        return fail();
    }
    m_serverKey = TlsTrust::key(address);
    m_host = address.host;
    m_port = address.port;
    setState(State::Connecting);
    m_connection.connectTo(address);
}

void Pop3Session::onEstablished()
{
    if (m_state == State::StartingTls) {
        // What was offered before TLS is not to be trusted: ask again, or with the login.
        if (rememberedPipelining()) {
            m_loginPhase = LoginPhase::CapabilitiesWithLogin;
            return finishOpening();
        }
        return askCapabilities();
    }
    // Over TLS, a server that offered PIPELINING when last reached is sent CAPA and the login
    // without waiting for its greeting: the replies are read in order, the greeting first. The phase
    // is set before the greeting is looked for, since it may be in already and read at once.
    setState(State::Greeting);
    const bool ahead = m_connection.isEncrypted() && rememberedPipelining();
    if (ahead)
        m_loginPhase = LoginPhase::GreetingAhead;
    m_inFlight.push_back({Request::Greeting, {}, [this](const Pop3Reply& reply) { onGreeting(reply); }});
    m_connection.expectGreeting();
    if (ahead && m_state == State::Greeting)
        finishOpening();
}

void Pop3Session::onGreeting(const Pop3Reply& reply)
{
    if (!takeGreeting(reply))
        return fail();
    if (m_loginPhase == LoginPhase::GreetingAhead || m_loginPhase == LoginPhase::ApopAwaitsGreeting) {
        const bool loginWaits = m_loginPhase == LoginPhase::ApopAwaitsGreeting;
        m_loginPhase = LoginPhase::CapabilitiesWithLogin;
        if (loginWaits)
            sendLogin();
        return;
    }
    // A server once reached with STLS is sent STLS at once: it must deliver it anyway.
    if (!m_connection.isEncrypted() && rememberedPipelining() && m_options.trust.encrypted.contains(m_serverKey))
        return sendStls(true);
    askCapabilities();
}

bool Pop3Session::takeGreeting(const Pop3Reply& greeting)
{
    if (!greeting.ok) {
        setServerError({.code = Code::GreetingRefused}, greeting);
        return false;
    }
    static const QRegularExpression timestamp(QStringLiteral("<[^<>\\s]+>"));
    const QRegularExpressionMatch match = timestamp.match(QString::fromLatin1(greeting.statusText));
    m_timestamp = match.hasMatch() ? match.captured().toLatin1() : QByteArray();
    return true;
}

bool Pop3Session::rememberedPipelining() const
{
    return m_options.allowPipelining && m_options.pipeliningOffered;
}

void Pop3Session::askCapabilities()
{
    setState(State::Capabilities);
    enqueue(Request::Capa, {}, [this](const Pop3Reply& reply) {
        readCapabilities(reply);
        if (!m_connection.isEncrypted() && m_capabilities.contains("STLS"))
            return sendStls(false);
        finishOpening();
    });
}

void Pop3Session::readCapabilities(const Pop3Reply& reply)
{
    m_capabilities.clear();
    m_saslOffered.clear();
    m_capaAnswered = reply.ok;
    if (!reply.ok)
        return; // a server without CAPA offers neither STLS nor PIPELINING
    m_saslOffered = Sasl::offered(reply.body);
    for (const QByteArray& line : reply.body.split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        const QByteArray word = words.value(0).toUpper();
        if (!word.isEmpty())
            m_capabilities.insert(word);
        // A day at most: a longer wait would look like a program that stopped checking.
        if (word == "LOGIN-DELAY")
            m_loginDelay = std::clamp(words.value(1).toInt(), 0, 24 * 60 * 60);
    }
}

// A server that offers STLS must also deliver it: falling back to plain text here would let
// anyone on the path strip the offer and read the password. knownServer: the server was sent STLS
// because it was reached with TLS before, so a refusal means its encryption is gone.
void Pop3Session::sendStls(bool knownServer)
{
    setState(State::StartingTls);
    enqueue(Request::Stls, {}, [this, knownServer](const Pop3Reply& reply) {
        if (!reply.ok) {
            if (knownServer) {
                m_refusal = Refusal::EncryptionLost;
                m_error = {.code = Code::EncryptionLost, .detail = m_host};
            } else {
                setServerError({.code = Code::StlsRefused}, reply);
            }
            return fail();
        }
        m_connection.startTls(); // established() again, or failed()
    });
}

void Pop3Session::finishOpening()
{
    m_pipelining = m_options.allowPipelining && (capabilitiesWithLogin() || m_capabilities.contains("PIPELINING"));
    if (!m_connection.isEncrypted() && !mayLoginWithoutTls()) {
        if (m_refusal != Refusal::PlainText)
            return fail();
        // The connection waits for the user's answer, and the session's clock with it.
        m_connection.pauseSessionClock();
        setState(State::AwaitingConsent);
        Q_EMIT consentNeeded();
        return;
    }
    setState(State::Ready);
    Q_EMIT opened();
}

void Pop3Session::allowPlainText()
{
    if (m_state != State::AwaitingConsent || m_refusal != Refusal::PlainText || !m_connection.isOpen())
        return;
    m_refusal = Refusal::None;
    m_error = {};
    m_connection.resumeSessionClock();
    setState(State::Ready);
    QMetaObject::invokeMethod(this, &Pop3Session::opened, Qt::QueuedConnection);
}

// Nobody can tell a server without STLS from one whose offer was removed on the way, so only
// the user can allow plain text, and never where TLS has worked before.
bool Pop3Session::mayLoginWithoutTls()
{
    const TlsTrust& trust = m_options.trust;
    if (trust.encrypted.contains(m_serverKey)) {
        m_refusal = Refusal::EncryptionLost;
        m_error = {.code = Code::EncryptionLost, .detail = m_host};
    } else if (!trust.isLoopback(m_host) && !trust.plainTextAllowed.contains(m_serverKey)) {
        m_refusal = Refusal::PlainText;
        m_error = {.code = Code::PlainTextRefused, .detail = m_host};
    }
    return m_refusal == Refusal::None;
}

// ---- Authorization ----

void Pop3Session::login(const QString& user, const QString& password, bool apop)
{
    if (m_state != State::Ready) {
        if (m_error.isNone())
            m_error = {.code = Code::NotLoggedIn};
        return fail();
    }
    setState(State::Authorizing);
    if (hasLineBreakOrNul(user) || hasLineBreakOrNul(password))
        return refuseLogin({.code = Code::LineBreakInAccount});
    m_error = {};
    m_errorRank = ErrorRank::Skipped;
    m_user = user;
    m_password = password;
    m_apop = apop;
    m_token.clear();
    // APOP's digest holds the greeting's timestamp: it waits for the greeting.
    if (apop && m_loginPhase == LoginPhase::GreetingAhead)
        m_loginPhase = LoginPhase::ApopAwaitsGreeting;
    else
        sendLogin();
}

// A token is a password's equal: it goes to this machine or over TLS only, and the consent to plain
// text given for a password does not cover it.
void Pop3Session::loginWithToken(const QString& user, const QByteArray& accessToken)
{
    if (m_state != State::Ready) {
        if (m_error.isNone())
            m_error = {.code = Code::NotLoggedIn};
        return fail();
    }
    setState(State::Authorizing);
    if (!m_connection.isEncrypted() && !m_options.trust.isLoopback(m_host))
        return refuseLogin({.code = Code::TokenNeedsTls, .detail = m_host});
    if (hasLineBreakOrNul(user) || !Sasl::isBearerToken(accessToken))
        return refuseLogin({.code = Code::BadToken});
    m_error = {};
    m_errorRank = ErrorRank::Skipped;
    m_user = user;
    m_password.clear();
    m_apop = false;
    m_tokenRefused = false;
    m_token = accessToken;
    sendLogin();
}

// With PIPELINING the login, STAT, LIST and UIDL go out together; otherwise each waits for the one
// before, and a refusal stops the rest. A SASL login needs the server's mechanisms: where CAPA goes
// out with the login, the login waits for its answer.
void Pop3Session::sendLogin()
{
    if (m_apop && m_timestamp.isEmpty())
        return refuseLogin({.code = Code::ApopUnsupported});
    if (capabilitiesWithLogin()) {
        const bool needsMechanisms = !m_token.isEmpty();
        enqueue(Request::Capa, {}, [this, needsMechanisms](const Pop3Reply& reply) {
            readCapabilities(reply);
            m_pipelining = m_options.allowPipelining && m_capabilities.contains("PIPELINING");
            m_loginPhase = LoginPhase::InOrder; // known now, for a second token
            if (needsMechanisms)
                sendCredentials();
        });
        if (needsMechanisms)
            return;
    }
    sendCredentials();
}

void Pop3Session::sendCredentials()
{
    if (!m_token.isEmpty()) {
        const Sasl::Mechanism mechanism = Sasl::forToken(m_saslOffered);
        if (mechanism == Sasl::Mechanism::None)
            return refuseLogin({.code = Code::NoTokenMechanism});
        return startAuth(mechanism, std::exchange(m_token, {}));
    }
    // PLAIN carries the password as it is, so only over TLS; where CAPA comes with the login, the
    // mechanisms are not known in time and USER/PASS, as safe over TLS, goes instead.
    if (!m_apop && m_connection.isEncrypted() && m_saslOffered.contains("PLAIN") && !capabilitiesWithLogin())
        return startAuth(Sasl::Mechanism::Plain, std::exchange(m_password, {}).toUtf8());
    if (m_apop) {
        const QByteArray digest =
            QCryptographicHash::hash(m_timestamp + m_password.toUtf8(), QCryptographicHash::Md5).toHex();
        enqueue(Request::Apop, m_user.toUtf8() + ' ' + digest,
                [this](const Pop3Reply& reply) { onCredentialsAnswer(reply, true); });
    } else {
        enqueue(Request::User, m_user.toUtf8(), [this](const Pop3Reply& reply) { onCredentialsAnswer(reply, false); });
        enqueue(Request::Pass, m_password.toUtf8(),
                [this](const Pop3Reply& reply) { onCredentialsAnswer(reply, true); });
    }
    m_password.clear();
}

// Nothing goes out behind the last step of the login: a server may hand the connection to another
// process once it accepts the password, and whatever was sent before that is lost with the first.
void Pop3Session::onCredentialsAnswer(const Pop3Reply& reply, bool last)
{
    if (m_loginPhase == LoginPhase::Refused)
        return;
    if (!reply.ok)
        return refuseByServer(reply);
    if (last) {
        m_loginAccepted = true;
        askMailbox();
    }
}

// The server said no: the text follows its response code, and the session says goodbye (QUIT) before
// it ends, as a polite client does; nothing was asked that QUIT could commit.
void Pop3Session::refuseByServer(const Pop3Reply& reply)
{
    using Response = ResponseCode;
    m_responseCode = responseCodeOf(reply);
    const Code code = m_responseCode == Response::InUse        ? Code::LoginInUse
                      : m_responseCode == Response::LoginDelay ? Code::LoginDelay
                      : m_responseCode == Response::SysTemp    ? Code::LoginSysTemp
                      : m_responseCode == Response::SysPerm    ? Code::LoginSysPerm
                                                               : Code::LoginFailed;
    m_refused = true;
    m_loginPhase = LoginPhase::Refused;
    setServerError({.code = code}, reply, ErrorRank::Session);
    m_queued.clear();
    for (Pending& pending : m_inFlight)
        pending.onReply = [](const Pop3Reply&) {}; // their answers no longer matter, only their order
    enqueue(Request::Quit, {}, [this](const Pop3Reply&) { fail(); });
}

// With the initial response where AUTH can carry it (RFC 5034); else the server's empty challenge
// asks for it. Nothing follows AUTH before its end: a request sent behind it would be read as an
// answer to a challenge.
void Pop3Session::startAuth(Sasl::Mechanism mechanism, const QByteArray& secret)
{
    setState(State::Authenticating);
    m_mechanism = mechanism;
    m_saslChallenges = 0;
    const QByteArray first = Sasl::initialResponse(mechanism, m_user, secret, m_host, m_port).toBase64();
    QByteArray arguments = Sasl::name(mechanism);
    if (arguments.size() + first.size() + 6 <= Sasl::MaxAuthLine)
        arguments += ' ' + first;
    else
        m_saslFirst = first;
    enqueue(Request::Auth, arguments, [this](const Pop3Reply& reply) { onAuthReply(reply); });
}

void Pop3Session::onAuthReply(const Pop3Reply& reply)
{
    if (reply.continuation) {
        if (++m_saslChallenges > MaxSaslChallenges) {
            m_saslFirst.clear();
            return refuseLogin({.code = Code::SaslEndless, .number = MaxSaslChallenges});
        }
        if (!m_saslFirst.isEmpty())
            return m_connection.respond(std::exchange(m_saslFirst, {}));
        // A challenge after the first message: the OAuth mechanisms' error, or a step PLAIN has not.
        return m_connection.respond(Sasl::answerAfterFirst(m_mechanism));
    }
    m_saslFirst.clear();
    if (!reply.ok && m_mechanism == Sasl::Mechanism::Plain)
        return refuseByServer(reply);
    if (!reply.ok) {
        // Still in the authorization state (RFC 5034): a renewed token may follow on this connection.
        m_tokenRefused = true;
        m_error = {};
        setServerError({.code = Code::TokenRefused}, reply);
        setState(State::Ready);
        QMetaObject::invokeMethod(this, &Pop3Session::tokenRejected, Qt::QueuedConnection);
        return;
    }
    setState(State::Authorizing);
    m_loginAccepted = true;
    askMailbox();
}

// UIDL first: a server that writes an id into each message the first time UIDL touches it has
// grown them by then, so STAT and LIST give the sizes TOP will be measured against.
void Pop3Session::askMailbox()
{
    enqueue(Request::Uidl, {}, [this](const Pop3Reply& reply) { m_uidlReply = reply; });
    enqueue(Request::Stat, {}, [this](const Pop3Reply& reply) { onStat(reply); });
    enqueue(Request::List, {}, [this](const Pop3Reply& reply) {
        if (!readList(reply))
            return;
        readUidl(std::exchange(m_uidlReply, {}));
        onLoggedIn();
    });
}

void Pop3Session::refuseLogin(const Pop3Error& error, const Pop3Reply* reply)
{
    m_refused = true;
    if (reply)
        setServerError(error, *reply);
    else
        m_error = error;
    fail();
}

void Pop3Session::onStat(const Pop3Reply& reply)
{
    if (!reply.ok)
        return refuseLogin({.code = Code::StatFailed}, &reply);
    const QList<QByteArray> words = reply.statusText.split(' ');
    bool countOk = false;
    bool sizeOk = false;
    const int count = words.value(0).toInt(&countOk);
    const qint64 size = words.value(1).toLongLong(&sizeOk);
    if (!countOk || !sizeOk || count < 0 || size < 0)
        return doubt(Code::BadReply);
    m_count = count;
    m_statSize = size;
}

// The lines of a listing (LIST, UIDL) as "number word", read without a copy of each line: a mailbox
// of thousands is listed at every check, and the first request waits for it. Gives false at the first
// line that is not two words, the first a number.
template <class Each> bool forEachListed(const QByteArray& body, Each each)
{
    const std::string_view all(body.constData(), size_t(body.size()));
    for (size_t at = 0; at < all.size();) {
        const size_t eol = std::min(all.find('\n', at), all.size());
        std::string_view line = all.substr(at, eol - at);
        at = eol + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        if (line.empty())
            continue;
        const size_t space = line.find(' ');
        qint64 number = 0;
        const auto [end, error] = std::from_chars(line.data(), line.data() + std::min(space, line.size()), number);
        if (space == std::string_view::npos || error != std::errc() || end != line.data() + space ||
            !each(number, line.substr(space + 1)))
            return false;
    }
    return true;
}

// LIST must name exactly the messages 1 to the count, in order: a server whose count and list
// disagree would have the check judge messages that do not exist, or others than it thinks.
bool Pop3Session::readList(const Pop3Reply& reply)
{
    if (!reply.ok || reply.truncated)
        return true; // sizes unknown: the header blocks are not measured against them
    QList<qint64> sizes;
    sizes.reserve(m_count);
    qint64 total = 0;
    const bool listed = forEachListed(reply.body, [&](qint64 number, std::string_view rest) {
        qint64 size = -1;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), size);
        if (error != std::errc() || end != rest.data() + rest.size() || size < 0 || number != sizes.size() + 1 ||
            sizes.size() >= m_count)
            return false;
        sizes.append(size);
        total += size;
        return true;
    });
    if (!listed || sizes.size() != m_count) {
        doubt(Code::ListInconsistent);
        return false;
    }
    m_sizes = sizes;
    // Only a server whose own figures add up is held to them when the session ends.
    m_sizesAddUp = total == m_statSize;
    return true;
}

// An id is 1 to 70 printable characters, one per message, never two alike; a list that breaks
// that is not used at all, so that no message is ever taken for another.
void Pop3Session::readUidl(const Pop3Reply& reply)
{
    if (!reply.ok || reply.truncated)
        return;
    std::vector<std::string_view> ids;
    ids.reserve(size_t(m_count));
    const bool listed = forEachListed(reply.body, [&](qint64 number, std::string_view uid) {
        const bool printable = std::all_of(uid.begin(), uid.end(), [](char c) { return c > 0x20 && c < 0x7f; });
        if (number != qint64(ids.size()) + 1 || uid.empty() || uid.size() > 70 || !printable ||
            qint64(ids.size()) >= m_count)
            return false;
        ids.push_back(uid);
        return true;
    });
    if (!listed || qint64(ids.size()) != m_count)
        return;
    // Two messages under one id: sorted views of the reply find them without a copy of each id.
    std::vector<std::string_view> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return;
    m_uids.reserve(m_count);
    for (std::string_view id : ids)
        m_uids.append(QByteArray(id.data(), qsizetype(id.size())));
}

// A large mailbox earns the session more time: a little for each message.
void Pop3Session::onLoggedIn()
{
    const qint64 allowance = qint64(std::min(m_count, 10000000)) * m_options.perMessageTimeoutMs;
    m_connection.setSessionTimeout(m_options.sessionTimeoutMs + allowance, m_options.sessionTimeoutMs + allowance);
    setState(State::Transaction);
    Q_EMIT loggedIn(m_count);
}

// ---- Transaction: headers, copies and deletions ----

bool Pop3Session::checkNumber(int number)
{
    if (m_state != State::Transaction) {
        if (m_state != State::Failed)
            m_error = {.code = Code::NotLoggedIn};
        return false;
    }
    if (number < 1 || number > m_count || m_deleted.contains(number)) {
        m_error = {.code = Code::NumberOutOfRange, .number = number};
        return false;
    }
    return true;
}

bool Pop3Session::requestHeaders(int number, HeadersHandler handler)
{
    if (!checkNumber(number))
        return false;
    enqueue(Request::Top, QByteArray::number(number) + " 0", [this, number, handler](const Pop3Reply& reply) {
        if (!reply.ok) {
            setServerError({.code = Code::TopFailed, .number = number}, reply, ErrorRank::Skipped);
            return handler(number, std::nullopt);
        }
        // TOP n 0 gives the header and the blank line after it, never more than the whole message:
        // a larger block may be another message's, or the server grew this one after LIST (some add
        // a header line). Either way it is not judged; a stream out of step is caught before QUIT.
        if (!m_sizes.isEmpty() && reply.body.size() > m_sizes.at(number - 1) + 2) {
            if (m_error.isNone()) // the server's "+OK" would tell the user nothing
                m_error = {.code = Code::HeaderTooLarge, .number = number};
            return handler(number, std::nullopt);
        }
        handler(number, HeaderDecoder::decode(reply.body));
    });
    return true;
}

bool Pop3Session::retrieveHeaders(int number, HeadersHandler handler)
{
    if (!checkNumber(number))
        return false;
    enqueue(Request::RetrHead, QByteArray::number(number), [this, number, handler](const Pop3Reply& reply) {
        if (!reply.ok || reply.truncated) {
            setServerError({.code = Code::RetrFailed, .number = number}, reply, ErrorRank::Skipped);
            return handler(number, std::nullopt);
        }
        const qsizetype end = reply.body.indexOf("\r\n\r\n");
        handler(number, HeaderDecoder::decode(end < 0 ? reply.body : reply.body.left(end + 4)));
    });
    return true;
}

bool Pop3Session::retrieve(int number, MessageHandler handler)
{
    if (!checkNumber(number))
        return false;
    enqueue(Request::Retr, QByteArray::number(number), [this, number, handler](const Pop3Reply& reply) {
        if (!reply.ok || reply.truncated) {
            setServerError({.code = Code::RetrFailed, .number = number}, reply, ErrorRank::Skipped);
            return handler(number, std::nullopt);
        }
        handler(number, reply.body);
    });
    return true;
}

bool Pop3Session::remove(int number)
{
    if (!checkNumber(number))
        return false;
    m_deleted.insert(number);
    enqueue(Request::Dele, QByteArray::number(number), [this, number](const Pop3Reply& reply) {
        if (reply.ok) {
            ++m_confirmedDeletions;
        } else {
            m_refusedDeletions.append(number);
            setServerError({.code = Code::DeleteFailed, .number = number}, reply);
        }
    });
    return true;
}

int Pop3Session::dropUnsentHeaderRequests()
{
    return int(std::erase_if(m_queued, [](const Pending& pending) { return pending.request == Request::Top; }));
}

// ---- Ending ----

void Pop3Session::close(std::function<QString()> beforeQuit)
{
    switch (m_state) {
    case State::Transaction:
        m_beforeQuit = std::move(beforeQuit);
        // STAT goes out once every request asked before it, and every one its answers led to, is
        // out; pipelined, it follows them at once, and its answer is read after theirs.
        m_closeRequested = true;
        return closeWhenIdle();
    case State::Ready:
    case State::AwaitingConsent:
        // Before the login nothing can be lost: a goodbye, and no word of it needed.
        setState(State::Quitting);
        enqueue(Request::Quit, {}, [this](const Pop3Reply& reply) { onQuit(reply); });
        return;
    case State::Closed:
    case State::Failed:
        return;
    default:
        m_error = {.code = Code::NotLoggedIn};
        return fail();
    }
}

void Pop3Session::closeWhenIdle()
{
    // Only the caller's handlers (headers, copies) may ask for more; deletions still out do not
    // hold STAT back, which then follows them in the same round trip.
    const bool callerWaits = std::any_of(m_inFlight.begin(), m_inFlight.end(), [](const Pending& pending) {
        return pending.request == Request::Top || pending.request == Request::Retr ||
               pending.request == Request::RetrHead;
    });
    if (!m_closeRequested || m_state != State::Transaction || !m_queued.empty() || callerWaits)
        return;
    setState(State::Verifying);
    if (!m_deleted.isEmpty())
        return enqueue(Request::Stat, {}, [this](const Pop3Reply& reply) { verifyInStep(reply); });
    // Nothing to commit: QUIT may follow STAT at once, and STAT still proves what was read.
    enqueue(Request::Stat, {}, [this](const Pop3Reply& reply) {
        if (!statInStep(reply) || m_queued.size() + m_inFlight.size() != 1)
            return doubt(Code::OutOfStep);
        setState(State::Quitting);
        if (m_beforeQuit)
            std::exchange(m_beforeQuit, {})(); // nothing to commit: what it says changes nothing here
    });
    enqueue(Request::Quit, {}, [this](const Pop3Reply& reply) { onQuit(reply); });
}

// Before QUIT commits the deletions: every reply read, and STAT answered with exactly what must
// remain. A reply repeated or lost anywhere in the stream shifts the ones after it, and STAT's
// answer, or the bytes left over, give it away.
void Pop3Session::verifyInStep(const Pop3Reply& reply)
{
    if (!statInStep(reply) || !m_inFlight.empty() || !m_queued.empty() || m_connection.hasUnreadData())
        return doubt(Code::OutOfStep);
    // The deletions are about to be committed: what the caller must keep of them is kept first.
    if (m_beforeQuit) {
        if (const QString reason = std::exchange(m_beforeQuit, {})(); !reason.isEmpty()) {
            m_commitRefused = true;
            m_error = {.code = Code::CommitRefused, .detail = reason};
            m_errorRank = ErrorRank::Session;
            return fail();
        }
    }
    setState(State::Quitting);
    m_quitSent = true;
    enqueue(Request::Quit, {}, [this](const Pop3Reply& reply) { onQuit(reply); });
}

// STAT gives the count that must remain. The byte total must match too, or be larger: a server that
// adds a header line to a message when a command first touches it grows the total during the
// session, and the count and the order of the replies still prove the stream.
bool Pop3Session::statInStep(const Pop3Reply& reply) const
{
    const QList<QByteArray> words = reply.statusText.split(' ');
    bool countOk = false;
    bool sizeOk = false;
    const int count = words.value(0).toInt(&countOk);
    const qint64 size = words.value(1).toLongLong(&sizeOk);
    qint64 expectedSize = m_statSize;
    for (int number : std::as_const(m_deleted)) {
        if (!m_refusedDeletions.contains(number) && !m_sizes.isEmpty())
            expectedSize -= m_sizes.at(number - 1);
    }
    return reply.ok && countOk && sizeOk && count == m_count - m_confirmedDeletions &&
           (!m_sizesAddUp || size >= expectedSize);
}

void Pop3Session::onQuit(const Pop3Reply& reply)
{
    // After a STAT that went out with QUIT, the end of the stream is proved here.
    if (m_loginAccepted && !m_quitSent && m_connection.hasUnreadData())
        return doubt(Code::OutOfStep);
    m_connection.abort();
    // A refusal of QUIT after the login means the deletions may not all have been made.
    if (!reply.ok && m_quitSent) {
        setServerError({.code = Code::QuitFailed}, reply, ErrorRank::Session);
        setState(State::Failed);
        Q_EMIT failed();
        return;
    }
    setState(State::Closed);
    Q_EMIT closed();
}

// ---- The queue ----

void Pop3Session::enqueue(Request request, const QByteArray& arguments, ReplyHandler handler)
{
    const Command& cmd = command(request);
    QByteArray line = cmd.verb;
    if (!arguments.isEmpty())
        line += ' ' + arguments;
    m_queued.push_back({request, line, std::move(handler)});
    pump();
}

// Writes what the window allows: with PIPELINING up to pipelineWindow requests are in flight,
// without it one.
void Pop3Session::pump()
{
    const qsizetype window = m_pipelining ? std::max(1, m_options.pipelineWindow) : 1;
    while (!m_queued.empty() && qsizetype(m_inFlight.size()) < window) {
        if (!m_connection.isOpen())
            return; // failed() is on its way
        // With nothing in flight, every byte received belongs to a request already answered:
        // anything more is a reply nobody asked for, and everything after it would be out of step.
        if (m_inFlight.empty() && m_connection.hasUnreadData())
            return doubt(Code::OutOfStep);
        Pending next = std::move(m_queued.front());
        m_queued.pop_front();
        const Command& cmd = command(next.request);
        const qsizetype bound = cmd.bound == Bound::Listing   ? m_options.maxListingLength
                                : cmd.bound == Bound::Message ? MaxMessageBytes
                                : cmd.bound == Bound::Judged  ? MaxJudgedBytes
                                                              : 0;
        m_connection.send(next.line, cmd.multiLine, bound, cmd.continuations);
        m_inFlight.push_back(std::move(next));
    }
}

void Pop3Session::onRepliesReady()
{
    const QPointer<Pop3Session> alive(this);
    Pop3Reply reply;
    while (m_state != State::Failed && m_state != State::Closed && m_connection.takeReply(&reply)) {
        if (m_inFlight.empty())
            return doubt(Code::OutOfStep);
        // A continuation leaves its request in flight: the exchange answers it again.
        const ReplyHandler handler =
            reply.continuation ? m_inFlight.front().onReply : std::move(m_inFlight.front().onReply);
        if (!reply.continuation)
            m_inFlight.pop_front();
        handler(reply);
        if (!alive)
            return; // a handler ended the caller's use of the session
    }
    if (m_state != State::Failed && m_state != State::Closed) {
        pump();
        closeWhenIdle();
    }
}

// ---- Failure ----

void Pop3Session::onConnectionFailed()
{
    if (m_state == State::Failed || m_state == State::Closed)
        return;
    if (m_loginPhase == LoginPhase::Refused) {
        // the refusal is the news, not the goodbye that went unanswered
    } else if (m_loginAccepted && m_state == State::Authorizing && m_connection.replyTimedOut()) {
        m_error = {.code = Code::SilentAfterLogin};
        m_errorRank = ErrorRank::Session;
    } else if (!m_connection.error().isNone()) {
        m_error = m_connection.error();
        m_errorRank = ErrorRank::Session;
    }
    if (!m_connection.rejectedCertificate().isNull())
        m_refusal = Refusal::Certificate; // pop3s or STLS alike
    m_queued.clear();
    m_inFlight.clear();
    setState(State::Failed);
    Q_EMIT failed();
}

// Ends the session without QUIT. failed() follows on the next turn of the event loop, never inside
// the caller's own call.
void Pop3Session::fail()
{
    if (m_state == State::Failed || m_state == State::Closed)
        return;
    m_connection.abort();
    m_queued.clear();
    m_inFlight.clear();
    setState(State::Failed);
    QMetaObject::invokeMethod(this, &Pop3Session::failed, Qt::QueuedConnection);
}

void Pop3Session::doubt(Pop3Error::Code code)
{
    m_error = {.code = code};
    m_connection.failProtocol(m_error); // so that failure() names it
    m_errorRank = ErrorRank::Session;
    fail();
}

// The first refusal of a rank is the one the user needs to hear of; a graver one replaces it, and a
// failure of the whole session replaces them all.
void Pop3Session::setServerError(const Pop3Error& error, const Pop3Reply& reply, ErrorRank rank)
{
    if (m_error.isNone() || rank > m_errorRank) {
        m_error = error;
        m_error.serverReply = serverReply(reply);
        m_errorRank = rank;
    }
}
