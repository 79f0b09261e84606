#include "maillib/Pop3Connection.h"

#include "maillib/Pop3Texts.h"

#include <QHostInfo>
#include <QSslConfiguration>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <set>

namespace {

// Qt stops reading from the network when this much is buffered, so a flooding server cannot
// make the process grow; the reply parser bounds the rest.
constexpr qint64 SocketBufferSize = 256 * 1024;

int seconds(int milliseconds)
{
    return (milliseconds + 999) / 1000;
}

// The connections alive on this thread, so that the end of the program can cancel them all.
std::set<Pop3Connection*>& liveConnections()
{
    static thread_local std::set<Pop3Connection*> connections;
    return connections;
}

bool& connectionsRefused()
{
    static thread_local bool refused = false;
    return refused;
}

QString sslErrorText(const QSslError& error)
{
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
        return QStringLiteral("自己署名の証明書で、信頼できる発行者が確認できません");
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
        return QStringLiteral("証明書の発行者を確認できません");
    case QSslError::CertificateExpired:
        return QStringLiteral("証明書の有効期限が切れています");
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("証明書がまだ有効になっていません");
    case QSslError::HostNameMismatch:
        return QStringLiteral("証明書のホスト名がサーバー名と一致しません");
    case QSslError::CertificateRevoked:
        return QStringLiteral("証明書が失効しています");
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
        return QStringLiteral("証明書が信頼されていません");
    default:
        return QStringLiteral("証明書を検証できません（%1）").arg(error.errorString());
    }
}

// The verification failures that trusting one exact certificate answers: who issued it, and that
// it names this server. An expired certificate stays refused.
const QSslError::SslError PinAnswers[] = {
    QSslError::SelfSignedCertificate,
    QSslError::SelfSignedCertificateInChain,
    QSslError::UnableToGetLocalIssuerCertificate,
    QSslError::UnableToGetIssuerCertificate,
    QSslError::UnableToVerifyFirstCertificate,
    QSslError::CertificateUntrusted,
    QSslError::HostNameMismatch,
};

bool pinAnswers(const QList<QSslError>& errors)
{
    return std::all_of(errors.begin(), errors.end(), [](const QSslError& error) {
        return std::find(std::begin(PinAnswers), std::end(PinAnswers), error.error()) != std::end(PinAnswers);
    });
}

} // namespace

Pop3Connection::Pop3Connection(const Pop3Options& options)
    : m_options(options), m_parser(options.maxLineLength, options.maxHeaderLength)
{
    liveConnections().insert(this);
}

Pop3Connection::~Pop3Connection()
{
    liveConnections().erase(this);
    abort();
}

void Pop3Connection::cancelAll()
{
    connectionsRefused() = true;
    for (Pop3Connection* connection : liveConnections())
        connection->cancel();
}

void Pop3Connection::allowConnections()
{
    connectionsRefused() = false;
}

void Pop3Connection::cancel()
{
    m_cancelled = true;
    fail(Failure::Cancelled, Pop3Texts::cancelled);
}

void Pop3Connection::setSessionDeadline(const QDeadlineTimer& deadline, int timeoutMs)
{
    m_sessionDeadline = deadline;
    m_sessionTimeoutMs = timeoutMs;
}

// Runs the thread's events, user input held back, until done() or a deadline. Input held back
// reaches the windows when the wait ends, so nothing the user does can start a second session or
// change what this one uses; repainting, timers, signals and the desktop's pings go on.
Pop3Connection::Wait Pop3Connection::waitUntil(const std::function<bool()>& done, const QDeadlineTimer& deadline)
{
    QTimer wake; // bounds the sleep of each turn, so that a deadline is seen as it passes
    wake.setSingleShot(true);
    for (;;) {
        if (m_cancelled)
            return Wait::Cancelled;
        if (done())
            return Wait::Done;
        if (m_sessionDeadline.hasExpired())
            return Wait::SessionExpired;
        if (deadline.hasExpired())
            return Wait::Expired;
        const qint64 left =
            std::min(deadline.remainingTime() < 0 ? qint64(1000) : deadline.remainingTime(),
                     m_sessionDeadline.remainingTime() < 0 ? qint64(1000) : m_sessionDeadline.remainingTime());
        wake.start(int(std::clamp<qint64>(left, 1, 1000)));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
}

bool Pop3Connection::failWait(Wait wait, int timeoutMs, bool connecting)
{
    switch (wait) {
    case Wait::Cancelled:
        return fail(Failure::Cancelled, Pop3Texts::cancelled);
    case Wait::SessionExpired:
        return fail(Failure::Timeout, Pop3Texts::checkTimeout(seconds(m_sessionTimeoutMs)));
    case Wait::Expired:
        return fail(Failure::Timeout, connecting ? Pop3Texts::connectTimeout(seconds(timeoutMs))
                                                 : Pop3Texts::replyTimeout(seconds(timeoutMs)));
    case Wait::Done:
        break;
    }
    return failFromSocket();
}

bool Pop3Connection::connectTo(const Pop3Address& address)
{
    if (connectionsRefused())
        return fail(Failure::Cancelled, Pop3Texts::cancelled);
    m_host = address.host;
    m_pinned = m_options.trust.pinned.value(TlsTrust::key(address));
    const QDeadlineTimer deadline(m_options.connectTimeoutMs);

    // The look-up runs on Qt's resolver threads; a resolver that never answers is left behind at
    // the deadline.
    QObject context;
    bool looked = false;
    QHostInfo found;
    QHostAddress literal;
    if (literal.setAddress(address.host)) {
        found.setAddresses({literal});
        looked = true;
    } else {
        const int id = QHostInfo::lookupHost(address.host, &context, [&](const QHostInfo& info) {
            found = info;
            looked = true;
        });
        const Wait wait = waitUntil([&] { return looked; }, deadline);
        if (wait != Wait::Done) {
            QHostInfo::abortHostLookup(id);
            return failWait(wait, m_options.connectTimeoutMs, true);
        }
    }
    const QList<QHostAddress> addresses = found.addresses();
    if (addresses.isEmpty())
        return fail(Failure::HostNotFound, Pop3Texts::hostNotFound(m_host));
    for (const QHostAddress& ip : addresses) {
        if (connectToAddress(ip, address, deadline))
            break;
        if (ip == addresses.last() || deadline.hasExpired() || m_cancelled || m_sessionDeadline.hasExpired())
            return failWait(m_cancelled                      ? Wait::Cancelled
                            : m_sessionDeadline.hasExpired() ? Wait::SessionExpired
                            : deadline.hasExpired()          ? Wait::Expired
                                                             : Wait::Done,
                            m_options.connectTimeoutMs, true);
        m_socket->abort(); // try the next address of the name
    }
    if (address.implicitTls)
        return waitForEncrypted(deadline, m_options.connectTimeoutMs);
    return true;
}

bool Pop3Connection::connectToAddress(const QHostAddress& ip, const Pop3Address& address,
                                      const QDeadlineTimer& deadline)
{
    m_socket = std::make_unique<QSslSocket>();
    m_socket->setReadBufferSize(SocketBufferSize);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_options.extraTrustedCertificates.isEmpty())
        config.addCaCertificates(m_options.extraTrustedCertificates);
    m_socket->setSslConfiguration(config);
    // Qt ignores an expected error only when its certificate is the very one given here.
    if (!m_pinned.isNull()) {
        QList<QSslError> expected;
        for (const QSslError::SslError error : PinAnswers)
            expected.append(QSslError(error, m_pinned));
        m_socket->ignoreSslErrors(expected);
    }
    // The certificate is checked against the name the user gave, not the address it led to.
    m_socket->setPeerVerifyName(address.host);
    if (address.implicitTls)
        m_socket->connectToHostEncrypted(ip.toString(), address.port, address.host);
    else
        m_socket->connectToHost(ip, address.port);
    const Wait wait = waitUntil(
        [this] {
            const auto state = m_socket->state();
            return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
        },
        deadline);
    if (wait != Wait::Done || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool Pop3Connection::startTls()
{
    // Anything already received would have come before the handshake, unprotected: a reply
    // slipped in there by an attacker must never be read as if it came over TLS.
    if (hasUnreadData())
        return fail(Failure::Security, Pop3Texts::stlsInjection);
    m_socket->startClientEncryption();
    return waitForEncrypted(QDeadlineTimer(m_options.replyTimeoutMs), m_options.replyTimeoutMs);
}

bool Pop3Connection::waitForEncrypted(const QDeadlineTimer& deadline, int timeoutMs)
{
    const Wait wait = waitUntil(
        [this] { return m_socket->isEncrypted() || m_socket->state() == QAbstractSocket::UnconnectedState; }, deadline);
    if (wait == Wait::Done && m_socket->isEncrypted())
        return true;
    if (wait == Wait::Done && !m_socket->sslHandshakeErrors().isEmpty()) {
        const QList<QSslError> errors = m_socket->sslHandshakeErrors();
        const QSslCertificate peer =
            m_socket->peerCertificate().isNull() ? errors.first().certificate() : m_socket->peerCertificate();
        if (pinAnswers(errors))
            m_rejected = peer;
        const bool changed = !m_pinned.isNull() && peer != m_pinned;
        return fail(Failure::Security,
                    (changed ? Pop3Texts::certificateChanged(m_host) : Pop3Texts::certificateRejected(m_host)) + u'\n' +
                        securityReason());
    }
    if (wait != Wait::Done)
        return failWait(wait, timeoutMs, true);
    return fail(Failure::Security, Pop3Texts::tlsFailed + QStringLiteral("（%1）").arg(m_socket->errorString()));
}

QString Pop3Connection::securityReason() const
{
    QStringList reasons;
    for (const QSslError& error : m_socket->sslHandshakeErrors()) {
        const QString text = sslErrorText(error);
        if (!reasons.contains(text))
            reasons.append(text);
    }
    return QStringLiteral("理由: ") + reasons.join(QStringLiteral("。")) + QStringLiteral("。");
}

void Pop3Connection::send(const QByteArray& command, bool multiLine, qsizetype maxBody)
{
    if (!isOpen())
        return;
    m_parser.expect(multiLine, maxBody);
    m_socket->write(command + "\r\n");
}

bool Pop3Connection::hasUnreadData() const
{
    return m_parser.bufferedBytes() > 0 || (m_socket && m_socket->bytesAvailable() > 0);
}

bool Pop3Connection::nextReply(Pop3Reply* reply)
{
    if (!isOpen())
        return false;
    m_socket->flush();
    const QDeadlineTimer deadline(m_options.replyTimeoutMs);
    while (!m_parser.takeReply(reply)) {
        if (!readMore(deadline))
            return false;
    }
    return true;
}

bool Pop3Connection::readMore(const QDeadlineTimer& deadline)
{
    const Wait wait = waitUntil(
        [this] { return m_socket->bytesAvailable() > 0 || m_socket->state() != QAbstractSocket::ConnectedState; },
        deadline);
    if (wait != Wait::Done)
        return failWait(wait, m_options.replyTimeoutMs, false);
    if (m_socket->bytesAvailable() == 0)
        return failFromSocket();
    m_parser.feed(m_socket->read(SocketBufferSize));
    switch (m_parser.error()) {
    case Pop3ReplyParser::Error::None:
        return true;
    case Pop3ReplyParser::Error::StatusLineTooLong:
        return fail(Failure::Protocol, Pop3Texts::lineTooLong);
    default:
        return fail(Failure::Protocol, Pop3Texts::badReply);
    }
}

bool Pop3Connection::failFromSocket()
{
    switch (m_socket ? m_socket->error() : QAbstractSocket::UnknownSocketError) {
    case QAbstractSocket::HostNotFoundError:
        return fail(Failure::HostNotFound, Pop3Texts::hostNotFound(m_host));
    case QAbstractSocket::ConnectionRefusedError:
        return fail(Failure::Refused, Pop3Texts::connectionRefused(m_host));
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::UnknownSocketError:
        return fail(Failure::Network, Pop3Texts::disconnected);
    default:
        return fail(Failure::Network, Pop3Texts::connectFailed(m_socket->errorString()));
    }
}

bool Pop3Connection::fail(Failure failure, const QString& text)
{
    if (m_failure == Failure::None) {
        m_failure = failure;
        m_failureText = text;
    }
    abort();
    return false;
}

// The socket object stays until the connection goes: a cancel may come from a handler that runs
// inside one of its waits.
void Pop3Connection::abort()
{
    if (m_socket && m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}
