#include "maillib/Pop3Session.h"

#include "maillib/CharsetDecoder.h"
#include "maillib/Pop3Texts.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace {

Pop3Options& processDefaults()
{
    static Pop3Options options;
    return options;
}

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

} // namespace

Pop3Options Pop3Session::defaultOptions()
{
    return processDefaults();
}

void Pop3Session::setDefaultOptions(const Pop3Options& options)
{
    processDefaults() = options;
}

Pop3Session::Pop3Session(const Pop3Options& options) : m_options(options), m_connection(options) {}

Pop3Session::~Pop3Session()
{
    m_connection.abort();
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
    if (!m_connection.connectTo(address))
        return failSession();
    m_connection.expectGreeting();
    Pop3Reply greeting;
    if (!m_connection.nextReply(&greeting))
        return failSession();
    if (!greeting.ok) {
        setServerError(Pop3Texts::greetingRefused, greeting);
        m_connection.abort();
        m_state = State::Failed;
        return false;
    }
    static const QRegularExpression timestamp(QStringLiteral("<[^<>\\s]+>"));
    const QRegularExpressionMatch match = timestamp.match(QString::fromLatin1(greeting.statusText));
    m_timestamp = match.hasMatch() ? match.captured().toLatin1() : QByteArray();
    if (!readCapabilities())
        return false;
    if (!m_connection.isEncrypted() && m_capabilities.contains("STLS") && !startTls())
        return false;
    m_pipelining = m_options.allowPipelining && m_capabilities.contains("PIPELINING");
    m_state = State::Authorization;
    return true;
}

bool Pop3Session::readCapabilities()
{
    m_capabilities.clear();
    m_connection.send("CAPA", true);
    Pop3Reply reply;
    if (!m_connection.nextReply(&reply))
        return failSession();
    if (!reply.ok)
        return true; // a server without CAPA offers neither STLS nor PIPELINING
    for (const QByteArray& line : reply.body.split('\n')) {
        const QByteArray word = line.trimmed().split(' ').value(0).toUpper();
        if (!word.isEmpty())
            m_capabilities.insert(word);
    }
    return true;
}

// A server that offers STLS must also deliver it: falling back to plain text here would let
// anyone on the path strip the offer and read the password.
bool Pop3Session::startTls()
{
    m_connection.send("STLS", false);
    Pop3Reply reply;
    if (!m_connection.nextReply(&reply))
        return failSession();
    if (!reply.ok) {
        setServerError(Pop3Texts::stlsRefused, reply);
        m_connection.abort();
        m_state = State::Failed;
        return false;
    }
    if (!m_connection.startTls())
        return failSession();
    return readCapabilities(); // what was offered before TLS is not to be trusted
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
    if (apop && m_timestamp.isEmpty()) {
        m_error = Pop3Texts::apopUnsupported;
        return -1;
    }
    if (!sendLogin(user, password, apop))
        return -1;
    return readLoginReplies(apop ? 2 : 3);
}

// With PIPELINING the login and STAT go out together; otherwise each waits for the one before.
bool Pop3Session::sendLogin(const QString& user, const QString& password, bool apop)
{
    QList<QByteArray> commands;
    if (apop) {
        const QByteArray digest =
            QCryptographicHash::hash(m_timestamp + password.toUtf8(), QCryptographicHash::Md5).toHex();
        commands = {"APOP " + user.toUtf8() + ' ' + digest};
    } else {
        commands = {"USER " + user.toUtf8(), "PASS " + password.toUtf8()};
    }
    commands.append("STAT");
    m_inFlight.clear();
    for (qsizetype i = 0; i < commands.size(); ++i) {
        m_connection.send(commands.at(i), false);
        if (!m_pipelining && i + 1 < commands.size()) {
            Pop3Reply reply;
            if (!m_connection.nextReply(&reply))
                return failSession();
            if (!reply.ok) {
                setServerError(Pop3Texts::loginFailed, reply);
                return false;
            }
        }
    }
    return true;
}

int Pop3Session::readLoginReplies(int replies)
{
    const int pending = m_connection.pendingReplies();
    Q_ASSERT(pending <= replies);
    Pop3Reply reply;
    for (int i = 0; i < pending; ++i) {
        if (!m_connection.nextReply(&reply)) {
            failSession();
            return -1;
        }
        if (!reply.ok && m_error.isEmpty()) {
            setServerError(i + 1 < pending ? Pop3Texts::loginFailed : Pop3Texts::statFailed, reply);
        }
    }
    if (!m_error.isEmpty())
        return -1;
    bool ok = false;
    const int count = reply.statusText.split(' ').value(0).toInt(&ok);
    if (!ok || count < 0) {
        m_error = Pop3Texts::badReply;
        failSession();
        return -1;
    }
    m_count = count;
    m_state = State::Transaction;
    return count;
}

// ---- Transaction: headers, deletions, the pipeline ----

std::optional<MessageHeaders> Pop3Session::headers(int number)
{
    if (!checkNumber(number))
        return std::nullopt;
    if (number < m_lastAsked) {
        // Going back: drop what was fetched ahead so the kept replies stay within one window.
        forgetBefore(m_count + 1);
        m_prefetchNext = number + 1;
    }
    forgetBefore(number);
    m_lastAsked = number;
    if (!m_buffered.contains(number) && !m_wantedTops.contains(number))
        sendRequest(Request::Top, number, "TOP " + QByteArray::number(number) + " 0", true);
    prefetchAfter(number);
    while (!m_buffered.contains(number)) {
        if (!processNextReply())
            return std::nullopt;
    }
    const Pop3Reply reply = m_buffered.take(number);
    if (!reply.ok) {
        setServerError(Pop3Texts::topFailed(number), reply);
        return std::nullopt;
    }
    return HeaderDecoder::decode(reply.body);
}

bool Pop3Session::remove(int number)
{
    if (!checkNumber(number))
        return false;
    forget(number); // a later header request must see the deletion, as it would unpipelined
    sendRequest(Request::Dele, number, "DELE " + QByteArray::number(number), false);
    return m_state == State::Transaction;
}

bool Pop3Session::close()
{
    if (m_state != State::Authorization && m_state != State::Transaction) {
        m_connection.abort();
        if (m_state == State::Closed)
            m_error = Pop3Texts::notLoggedIn;
        return false;
    }
    forgetBefore(m_count + 1);
    Pop3Reply reply;
    const bool answered = syncRequest("QUIT", false, &reply);
    m_connection.abort();
    if (!answered)
        return false;
    m_state = State::Closed;
    if (!reply.ok) {
        setServerError(Pop3Texts::quitFailed, reply);
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

// Without PIPELINING a request waits until every earlier reply (a deletion's, say) is in.
void Pop3Session::sendRequest(Request request, int number, const QByteArray& command, bool multiLine)
{
    if (!m_pipelining && !drainAll())
        return;
    m_connection.send(command, multiLine);
    m_inFlight.push_back({request, number, true});
    if (request == Request::Top)
        m_wantedTops.insert(number);
}

bool Pop3Session::drainAll()
{
    while (!m_inFlight.empty()) {
        if (!processNextReply())
            return false;
    }
    return true;
}

bool Pop3Session::syncRequest(const QByteArray& command, bool multiLine, Pop3Reply* reply)
{
    sendRequest(Request::Other, 0, command, multiLine);
    while (!m_inFlight.empty()) {
        const bool last = m_inFlight.size() == 1;
        if (!processNextReply(last ? reply : nullptr))
            return false;
    }
    return m_state != State::Failed;
}

// Reads the oldest outstanding reply and files it: a wanted header block is kept, a refused
// deletion recorded, the answer to a synchronous request handed back through own.
bool Pop3Session::processNextReply(Pop3Reply* own)
{
    if (m_inFlight.empty() || m_state == State::Failed)
        return false;
    Pop3Reply reply;
    if (!m_connection.nextReply(&reply))
        return failSession();
    const InFlight request = m_inFlight.front();
    m_inFlight.pop_front();
    switch (request.request) {
    case Request::Top:
        if (request.wanted) {
            m_wantedTops.remove(request.number);
            m_buffered.insert(request.number, std::move(reply));
        }
        break;
    case Request::Dele:
        if (!reply.ok) {
            m_refusedDeletions.append(request.number);
            setServerError(Pop3Texts::deleteFailed(request.number), reply);
        }
        break;
    case Request::Other:
        if (own)
            *own = std::move(reply);
        break;
    }
    return true;
}

void Pop3Session::forgetBefore(int number)
{
    for (auto it = m_buffered.begin(); it != m_buffered.end();) {
        it = it.key() < number ? m_buffered.erase(it) : std::next(it);
    }
    for (InFlight& request : m_inFlight) {
        if (request.request == Request::Top && request.wanted && request.number < number) {
            request.wanted = false;
            m_wantedTops.remove(request.number);
        }
    }
}

void Pop3Session::forget(int number)
{
    m_buffered.remove(number);
    if (!m_wantedTops.remove(number))
        return;
    for (InFlight& request : m_inFlight) {
        if (request.request == Request::Top && request.number == number)
            request.wanted = false;
    }
}

void Pop3Session::prefetchAfter(int number)
{
    if (!m_pipelining)
        return;
    const int last = int(std::min<qint64>(m_count, qint64(number) + m_options.pipelineWindow));
    for (m_prefetchNext = std::max(m_prefetchNext, number + 1); m_prefetchNext <= last; ++m_prefetchNext) {
        if (!m_buffered.contains(m_prefetchNext) && !m_wantedTops.contains(m_prefetchNext))
            sendRequest(Request::Top, m_prefetchNext, "TOP " + QByteArray::number(m_prefetchNext) + " 0", true);
    }
}

bool Pop3Session::failSession()
{
    if (!m_connection.failureText().isEmpty())
        m_error = m_connection.failureText();
    m_state = State::Failed;
    m_inFlight.clear();
    m_wantedTops.clear();
    m_buffered.clear();
    m_connection.abort();
    return false;
}

void Pop3Session::setServerError(const QString& text, const Pop3Reply& reply)
{
    m_error = text + u'\n' + Pop3Texts::serverSaid + serverReply(reply);
}
