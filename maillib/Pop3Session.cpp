#include "maillib/Pop3Session.h"

#include "maillib/CharsetDecoder.h"
#include "maillib/Pop3Texts.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <algorithm>
#include <climits>

namespace {

bool hasLineBreakOrNul(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

// The server's own words, short enough for a message box.
QString serverReply(const Pop3Reply& reply)
{
    QByteArray line = QByteArray(reply.ok ? "+OK" : "-ERR");
    if (!reply.statusText.isEmpty())
        line += ' ' + reply.statusText;
    return CharsetDecoder::decodeRaw(line.left(400));
}

QString retrFailed(int number)
{
    return QStringLiteral("メール%1の本文を取得できませんでした。").arg(number);
}

} // namespace

Pop3Session::Pop3Session(const Pop3Options& options) : m_options(options), m_connection(options) {}

Pop3Session::~Pop3Session()
{
    m_connection.abort();
}

void Pop3Session::abort()
{
    m_connection.abort();
    if (m_state != State::Closed)
        m_state = State::Failed;
    m_inFlight.clear();
}

// ---- Connection: greeting, capabilities, STLS ----

bool Pop3Session::open(const QString& server)
{
    if (m_state != State::Closed) {
        m_error = Pop3Texts::badReply;
        return false;
    }
    const Pop3Address address = Pop3Address::parse(server);
    if (!address.valid) {
        m_error = Pop3Texts::badServerName(server);
        m_state = State::Failed;
        return false;
    }
    m_serverKey = TlsTrust::key(address);
    m_sessionDeadline = QDeadlineTimer(m_options.sessionTimeoutMs);
    m_connection.setSessionDeadline(m_sessionDeadline, m_options.sessionTimeoutMs);
    if (!m_connection.connectTo(address))
        return failSession();
    m_connection.expectGreeting();
    // Over TLS, a server that offered PIPELINING when last reached is sent CAPA and the login
    // without waiting for its greeting: the replies are read in order, the greeting first.
    Pop3Reply greeting;
    if (m_connection.isEncrypted() && rememberedPipelining())
        m_inFlight.push_back({Request::Greeting, 0, std::nullopt});
    else if (!m_connection.nextReply(&greeting) || !takeGreeting(greeting))
        return failSession();
    // A server once reached with STLS is sent STLS at once: it must deliver it anyway.
    const bool stlsKnown =
        !m_connection.isEncrypted() && rememberedPipelining() && m_options.trust.encrypted.contains(m_serverKey);
    if (!stlsKnown && !askCapabilities())
        return false;
    if (!m_connection.isEncrypted() && (stlsKnown || m_capabilities.contains("STLS")) &&
        !startTls(stlsKnown ? address.host : QString()))
        return false;
    m_pipelining = m_options.allowPipelining && (m_capabilitiesWithLogin || m_capabilities.contains("PIPELINING"));
    if (!m_connection.isEncrypted() && !mayLoginWithoutTls(address.host)) {
        // The connection waits for the user's answer (allowPlainText), but nothing can be sent.
        m_state = State::Failed;
        return m_refusal == Refusal::PlainText ? false : failSession();
    }
    m_state = State::Authorization;
    return true;
}

bool Pop3Session::allowPlainText()
{
    if (m_refusal != Refusal::PlainText || !m_connection.isOpen())
        return false;
    m_refusal = Refusal::None;
    m_error.clear();
    m_state = State::Authorization;
    return true;
}

bool Pop3Session::takeGreeting(const Pop3Reply& greeting)
{
    if (!greeting.ok) {
        setServerError(Pop3Texts::greetingRefused, greeting);
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

// Over TLS, a server that offered PIPELINING when last reached is asked CAPA together with the
// login (one round trip fewer); what it offers now rules the rest of the session.
bool Pop3Session::askCapabilities()
{
    if (m_connection.isEncrypted() && rememberedPipelining()) {
        m_capabilitiesWithLogin = true;
        return true;
    }
    m_connection.send("CAPA", true);
    Pop3Reply reply;
    if (!m_connection.nextReply(&reply))
        return failSession();
    readCapabilities(reply);
    return true;
}

void Pop3Session::readCapabilities(const Pop3Reply& reply)
{
    m_capabilities.clear();
    if (!reply.ok)
        return; // a server without CAPA offers neither STLS nor PIPELINING
    for (const QByteArray& line : reply.body.split('\n')) {
        const QByteArray word = line.trimmed().split(' ').value(0).toUpper();
        if (!word.isEmpty())
            m_capabilities.insert(word);
    }
}

// A server that offers STLS must also deliver it: falling back to plain text here would let
// anyone on the path strip the offer and read the password. knownHost: the server was sent STLS
// because it was reached with TLS before, so a refusal means its encryption is gone.
bool Pop3Session::startTls(const QString& knownHost)
{
    m_connection.send("STLS", false);
    Pop3Reply reply;
    if (!m_connection.nextReply(&reply))
        return failSession();
    if (!reply.ok) {
        if (knownHost.isEmpty()) {
            setServerError(Pop3Texts::stlsRefused, reply);
        } else {
            m_refusal = Refusal::EncryptionLost;
            m_error = Pop3Texts::encryptionLost(knownHost);
        }
        return failSession();
    }
    if (!m_connection.startTls())
        return failSession();
    return askCapabilities(); // what was offered before TLS is not to be trusted
}

// Nobody can tell a server without STLS from one whose offer was removed on the way, so only
// the user can allow plain text, and never where TLS has worked before.
bool Pop3Session::mayLoginWithoutTls(const QString& host)
{
    const TlsTrust& trust = m_options.trust;
    if (trust.encrypted.contains(m_serverKey)) {
        m_refusal = Refusal::EncryptionLost;
        m_error = Pop3Texts::encryptionLost(host);
    } else if (!trust.isLoopback(host) && !trust.plainTextAllowed.contains(m_serverKey)) {
        m_refusal = Refusal::PlainText;
        m_error = Pop3Texts::plainTextRefused(host);
    }
    return m_refusal == Refusal::None;
}

// ---- Authorization ----

int Pop3Session::login(const QString& user, const QString& password, bool apop)
{
    if (m_state != State::Authorization) {
        if (m_state != State::Failed)
            m_error = Pop3Texts::notLoggedIn;
        return -1;
    }
    if (hasLineBreakOrNul(user) || hasLineBreakOrNul(password)) {
        m_error = Pop3Texts::lineBreakInAccount;
        return -1;
    }
    m_error.clear();
    m_errorRank = ErrorRank::Skipped;
    if (apop && !readGreeting())
        return -1; // its timestamp is part of the digest
    if (apop && m_timestamp.isEmpty()) {
        m_error = Pop3Texts::apopUnsupported;
        return -1;
    }
    QList<QByteArray> commands;
    if (apop) {
        const QByteArray digest =
            QCryptographicHash::hash(m_timestamp + password.toUtf8(), QCryptographicHash::Md5).toHex();
        commands = {"APOP " + user.toUtf8() + ' ' + digest};
    } else {
        commands = {"USER " + user.toUtf8(), "PASS " + password.toUtf8()};
    }
    // With PIPELINING the login, STAT, LIST and UIDL go out together; otherwise each waits for the
    // one before, and a refusal stops the rest.
    if (m_capabilitiesWithLogin && !send(Request::Capa, 0, "CAPA"))
        return -1;
    for (const QByteArray& command : commands) {
        if (!send(Request::Login, 0, command))
            return -1;
    }
    if (!send(Request::Stat, 0, "STAT") || !send(Request::List, 0, "LIST") || !send(Request::Uidl, 0, "UIDL"))
        return -1;
    return readLogin();
}

// The greeting, when it was not waited for before the login.
bool Pop3Session::readGreeting()
{
    if (!isInFlight(Request::Greeting, 0))
        return true;
    Pop3Reply greeting;
    if (!readUntil(Request::Greeting, 0, &greeting))
        return false;
    return takeGreeting(greeting) || failSession();
}

int Pop3Session::readLogin()
{
    if (!readGreeting())
        return -1;
    if (m_capabilitiesWithLogin) {
        Pop3Reply capabilities;
        if (!readUntil(Request::Capa, 0, &capabilities))
            return -1;
        readCapabilities(capabilities);
        m_pipelining = m_options.allowPipelining && m_capabilities.contains("PIPELINING");
    }
    Pop3Reply stat;
    Pop3Reply list;
    Pop3Reply uidl;
    if (!readUntil(Request::Stat, 0, &stat) || !readUntil(Request::List, 0, &list) ||
        !readUntil(Request::Uidl, 0, &uidl))
        return -1;
    if (m_refused)
        return -1;
    if (!stat.ok) {
        setServerError(Pop3Texts::statFailed, stat);
        return -1;
    }
    const QList<QByteArray> words = stat.statusText.split(' ');
    bool countOk = false;
    bool sizeOk = false;
    const int count = words.value(0).toInt(&countOk);
    const qint64 size = words.value(1).toLongLong(&sizeOk);
    if (!countOk || !sizeOk || count < 0 || size < 0) {
        doubt(Pop3Texts::badReply);
        return -1;
    }
    m_count = count;
    m_statSize = size;
    if (!readList(list))
        return -1;
    readUidl(uidl);
    const qint64 allowance = qint64(std::min(count, 10000000)) * m_options.perMessageTimeoutMs;
    QDeadlineTimer deadline = m_sessionDeadline;
    deadline += allowance;
    m_connection.setSessionDeadline(deadline, int(std::min<qint64>(m_options.sessionTimeoutMs + allowance, INT_MAX)));
    m_state = State::Transaction;
    return count;
}

// LIST must name exactly the messages 1 to the count, in order: a server whose count and list
// disagree would have the check judge messages that do not exist, or others than it thinks.
bool Pop3Session::readList(const Pop3Reply& reply)
{
    if (!reply.ok || reply.truncated)
        return true; // sizes unknown: the header blocks are not measured against them
    QList<qint64> sizes;
    qint64 total = 0;
    for (const QByteArray& line : reply.body.split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.value(0).isEmpty())
            continue;
        bool numberOk = false;
        bool sizeOk = false;
        const qint64 number = words.value(0).toLongLong(&numberOk);
        const qint64 size = words.value(1).toLongLong(&sizeOk);
        if (!numberOk || !sizeOk || size < 0 || number != sizes.size() + 1 || sizes.size() >= m_count)
            return doubt(Pop3Texts::listInconsistent);
        sizes.append(size);
        total += size;
    }
    if (sizes.size() != m_count)
        return doubt(Pop3Texts::listInconsistent);
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
    QList<QByteArray> uids;
    QSet<QByteArray> seen;
    for (const QByteArray& line : reply.body.split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.value(0).isEmpty())
            continue;
        const QByteArray& uid = words.value(1);
        const bool printable = std::all_of(uid.begin(), uid.end(), [](char c) { return c > 0x20 && c < 0x7f; });
        if (words.size() != 2 || words.at(0).toLongLong() != uids.size() + 1 || uid.isEmpty() || uid.size() > 70 ||
            !printable || seen.contains(uid) || uids.size() >= m_count)
            return;
        seen.insert(uid);
        uids.append(uid);
    }
    if (uids.size() == m_count)
        m_uids = uids;
}

// ---- Transaction: headers and deletions ----

std::optional<MessageHeaders> Pop3Session::headers(int number)
{
    if (!checkNumber(number))
        return std::nullopt;
    if (m_deleted.contains(number)) {
        m_error = Pop3Texts::numberOutOfRange(number);
        return std::nullopt;
    }
    if (!isInFlight(Request::Top, number) && !send(Request::Top, number, "TOP " + QByteArray::number(number) + " 0"))
        return std::nullopt;
    prefetchAfter(number);
    Pop3Reply reply;
    if (!readUntil(Request::Top, number, &reply))
        return std::nullopt;
    if (!reply.ok) {
        setServerError(Pop3Texts::topFailed(number), reply, ErrorRank::Skipped);
        return std::nullopt;
    }
    // TOP n 0 gives the header and the blank line after it, never more than the whole message.
    if (!m_sizes.isEmpty() && reply.body.size() > m_sizes.at(number - 1) + 2) {
        doubt(Pop3Texts::headerNotOwn);
        return std::nullopt;
    }
    return HeaderDecoder::decode(reply.body);
}

std::optional<QByteArray> Pop3Session::retrieve(int number, const QList<int>& ahead)
{
    if (!checkNumber(number))
        return std::nullopt;
    const auto request = [this](int n) {
        return isInFlight(Request::Retr, n) || send(Request::Retr, n, "RETR " + QByteArray::number(n));
    };
    if (!request(number))
        return std::nullopt;
    for (int i = 0; m_pipelining && i < ahead.size() && qsizetype(m_inFlight.size()) < m_options.pipelineWindow; ++i) {
        if (ahead.at(i) >= 1 && ahead.at(i) <= m_count && !request(ahead.at(i)))
            return std::nullopt;
    }
    Pop3Reply reply;
    if (!readUntil(Request::Retr, number, &reply))
        return std::nullopt;
    if (!reply.ok || reply.truncated) {
        setServerError(retrFailed(number), reply, ErrorRank::Skipped);
        return std::nullopt;
    }
    return reply.body;
}

bool Pop3Session::remove(int number)
{
    if (!checkNumber(number) || m_deleted.contains(number))
        return false;
    m_deleted.insert(number);
    return send(Request::Dele, number, "DELE " + QByteArray::number(number));
}

bool Pop3Session::close()
{
    if (m_state == State::Closed || m_state == State::Failed) {
        if (m_state == State::Closed)
            m_error = Pop3Texts::notLoggedIn;
        m_connection.abort();
        return false;
    }
    if (m_state == State::Transaction && !verifyInStep())
        return false;
    Pop3Reply reply;
    if (!send(Request::Quit, 0, "QUIT") || !readUntil(Request::Quit, 0, &reply))
        return false;
    m_connection.abort();
    const bool committing = m_state == State::Transaction;
    m_state = State::Closed;
    // Before the login nothing can be lost: a server that ends the session its own way (after a
    // refused login, say) needs no word of it.
    if (!reply.ok && committing) {
        setServerError(Pop3Texts::quitFailed, reply, ErrorRank::Session);
        return false;
    }
    return true;
}

bool Pop3Session::checkNumber(int number)
{
    if (m_state != State::Transaction) {
        if (m_state != State::Failed)
            m_error = Pop3Texts::notLoggedIn;
        return false;
    }
    if (number < 1 || number > m_count) {
        m_error = Pop3Texts::numberOutOfRange(number);
        return false;
    }
    return true;
}

// ---- The pipeline ----

// Without PIPELINING a request waits until every earlier reply is in: a window of one. With it,
// requests go at once; only the header requests sent ahead are held to the window.
bool Pop3Session::send(Request request, int number, const QByteArray& command)
{
    while (!m_pipelining && unanswered() > 0) {
        if (!readOldest())
            return false;
    }
    // One at a time, every byte received belongs to a request already answered: anything more
    // is a reply nobody asked for, and everything after it would be out of step.
    if (!m_pipelining && m_state == State::Transaction && m_connection.hasUnreadData())
        return doubt(Pop3Texts::outOfStep);
    if (m_state == State::Failed || (m_refused && request != Request::Quit))
        return false;
    const bool listing = request == Request::List || request == Request::Uidl;
    const bool multiLine = listing || request == Request::Capa || request == Request::Top || request == Request::Retr;
    const qsizetype bound = listing ? m_options.maxListingLength : request == Request::Retr ? MaxMessageBytes : 0;
    m_connection.send(command, multiLine, bound);
    m_inFlight.push_back({request, number, std::nullopt});
    return m_connection.isOpen() || failSession();
}

void Pop3Session::prefetchAfter(int number)
{
    if (!m_pipelining)
        return;
    m_prefetchNext = std::max(m_prefetchNext, number + 1);
    for (; m_prefetchNext <= m_count && qsizetype(m_inFlight.size()) < m_options.pipelineWindow; ++m_prefetchNext) {
        if (!m_notAsked.contains(m_prefetchNext) && !isInFlight(Request::Top, m_prefetchNext) &&
            !send(Request::Top, m_prefetchNext, "TOP " + QByteArray::number(m_prefetchNext) + " 0"))
            return;
    }
}

bool Pop3Session::isInFlight(Request request, int number) const
{
    return std::any_of(m_inFlight.begin(), m_inFlight.end(),
                       [&](const InFlight& sent) { return sent.request == request && sent.number == number; });
}

qsizetype Pop3Session::unanswered() const
{
    return std::count_if(m_inFlight.begin(), m_inFlight.end(), [](const InFlight& sent) { return !sent.reply; });
}

// Reads replies in order until the one to (request, number) is in, and hands it over.
bool Pop3Session::readUntil(Request request, int number, Pop3Reply* reply)
{
    auto target = [&] {
        return std::find_if(m_inFlight.begin(), m_inFlight.end(),
                            [&](const InFlight& sent) { return sent.request == request && sent.number == number; });
    };
    if (target() == m_inFlight.end())
        return m_state != State::Failed && doubt(Pop3Texts::outOfStep);
    while (!target()->reply) {
        if (!readOldest(request, number))
            return false;
    }
    const auto found = target();
    *reply = std::move(*found->reply);
    m_inFlight.erase(found);
    return true;
}

// Reads the oldest outstanding reply. Replies to the login, to header requests and to deletions
// are filed unless awaited: a refused login or deletion is recorded, a header block nobody waits
// for any more is dropped. Every other reply (greeting, CAPA, STAT, LIST, UIDL, RETR, QUIT) stays
// with its request until collected.
bool Pop3Session::readOldest(Request awaited, int awaitedNumber)
{
    const auto oldest =
        std::find_if(m_inFlight.begin(), m_inFlight.end(), [](const InFlight& sent) { return !sent.reply; });
    Pop3Reply reply;
    if (oldest == m_inFlight.end() || !m_connection.nextReply(&reply))
        return failSession();
    const InFlight request = *oldest;
    const bool filed =
        request.request == Request::Login || request.request == Request::Top || request.request == Request::Dele;
    const bool kept = !filed || (request.request == awaited && request.number == awaitedNumber);
    if (kept) {
        oldest->reply = std::move(reply);
        return true;
    }
    m_inFlight.erase(oldest);
    if (request.request == Request::Login && !reply.ok && !m_refused) {
        m_refused = true;
        setServerError(Pop3Texts::loginFailed, reply);
    } else if (request.request == Request::Dele) {
        if (reply.ok) {
            ++m_confirmedDeletions;
        } else {
            m_refusedDeletions.append(request.number);
            setServerError(Pop3Texts::deleteFailed(request.number), reply);
        }
    }
    return true;
}

// Before QUIT commits the deletions: every reply read, and STAT answered with exactly what must
// remain. A reply repeated or lost anywhere in the stream shifts the ones after it, and STAT's
// answer, or the bytes left over, give it away.
bool Pop3Session::verifyInStep()
{
    // Pipelined, STAT follows the last deletions at once; its answer is still read after theirs.
    Pop3Reply reply;
    if (!send(Request::Stat, 0, "STAT") || !readUntil(Request::Stat, 0, &reply))
        return false;
    const QList<QByteArray> words = reply.statusText.split(' ');
    bool countOk = false;
    bool sizeOk = false;
    const int count = words.value(0).toInt(&countOk);
    const qint64 size = words.value(1).toLongLong(&sizeOk);
    qint64 expectedSize = m_statSize;
    for (int number : m_deleted) {
        if (!m_refusedDeletions.contains(number) && !m_sizes.isEmpty())
            expectedSize -= m_sizes.at(number - 1);
    }
    const bool inStep = reply.ok && countOk && sizeOk && count == m_count - m_confirmedDeletions &&
                        (!m_sizesAddUp || size == expectedSize) && !m_connection.hasUnreadData();
    return inStep || doubt(Pop3Texts::outOfStep);
}

bool Pop3Session::failSession()
{
    if (!m_connection.failureText().isEmpty()) {
        m_error = m_connection.failureText();
        m_errorRank = ErrorRank::Session;
    }
    if (!m_connection.rejectedCertificate().isNull())
        m_refusal = Refusal::Certificate; // pop3s or STLS alike
    m_state = State::Failed;
    m_inFlight.clear();
    m_connection.abort();
    return false;
}

bool Pop3Session::doubt(const QString& text)
{
    m_connection.failProtocol(text);
    return failSession();
}

// The first refusal of a rank is the one the user needs to hear of; a graver one replaces it, and a
// failure of the whole session replaces them all.
void Pop3Session::setServerError(const QString& text, const Pop3Reply& reply, ErrorRank rank)
{
    if (m_error.isEmpty() || rank > m_errorRank) {
        m_error = text + u'\n' + Pop3Texts::serverSaid + serverReply(reply);
        m_errorRank = rank;
    }
}
