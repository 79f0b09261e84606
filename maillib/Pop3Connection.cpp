#include "maillib/Pop3Connection.h"

#include "maillib/Pop3Texts.h"

#include <QHostInfo>
#include <QSslConfiguration>

#include <algorithm>
#include <set>

namespace {

using Code = Pop3Error::Code;

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

Pop3Connection::Pop3Connection(const Pop3Options& options, QObject* parent)
    : QObject(parent), m_options(options), m_parser(options.maxLineLength, options.maxHeaderLength)
{
    liveConnections().insert(this);
    m_stepTimer.setSingleShot(true);
    m_sessionTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, [this] {
        if (m_lookupId >= 0 || m_handshaking || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
            fail(Failure::Timeout, {.code = Code::ConnectTimeout, .number = seconds(m_stepTimer.interval())});
        else {
            m_replyTimedOut = true;
            fail(Failure::Timeout, {.code = Code::ReplyTimeout, .number = seconds(m_stepTimer.interval())});
        }
    });
    connect(&m_sessionTimer, &QTimer::timeout, this, [this] {
        const int total = seconds(int(std::min<qint64>(m_sessionTotalMs, INT_MAX)));
        fail(Failure::Timeout, {.code = Code::CheckTimeout, .number = total});
    });
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
    fail(Failure::Cancelled, {.code = Code::Cancelled});
}

void Pop3Connection::setSessionTimeout(qint64 ms, qint64 totalMs)
{
    m_sessionTotalMs = totalMs;
    m_sessionTimer.start(int(std::clamp<qint64>(ms, 0, INT_MAX)));
}

void Pop3Connection::pauseSessionClock()
{
    if (!m_sessionTimer.isActive())
        return;
    m_pausedRemainingMs = m_sessionTimer.remainingTime();
    m_sessionTimer.stop();
}

void Pop3Connection::resumeSessionClock()
{
    if (m_pausedRemainingMs >= 0 && m_failure == Failure::None)
        m_sessionTimer.start(int(m_pausedRemainingMs));
    m_pausedRemainingMs = -1;
}

// ---- Connecting ----

void Pop3Connection::connectTo(const Pop3Address& address)
{
    m_address = address;
    m_pinned = m_options.trust.pinned.value(TlsTrust::key(address));
    if (connectionsRefused())
        return fail(Failure::Cancelled, {.code = Code::Cancelled});
    m_stepTimer.start(m_options.connectTimeoutMs);
    if (!m_sessionTimer.isActive())
        setSessionTimeout(m_options.sessionTimeoutMs, m_options.sessionTimeoutMs);
    QHostAddress literal;
    if (literal.setAddress(address.host)) {
        QHostInfo info;
        info.setAddresses({literal});
        // Never inside the caller's own call: it connects to failed() and established() first.
        QMetaObject::invokeMethod(
            this, [this, info] { lookedUp(info); }, Qt::QueuedConnection);
        return;
    }
    // The look-up runs on Qt's resolver threads; one that never answers is left behind at the
    // connect time-out.
    m_lookupId = QHostInfo::lookupHost(address.host, this, &Pop3Connection::lookedUp);
}

void Pop3Connection::lookedUp(const QHostInfo& info)
{
    m_lookupId = -1;
    if (m_failure != Failure::None)
        return;
    m_addresses = info.addresses();
    if (m_addresses.isEmpty())
        return fail(Failure::HostNotFound, {.code = Code::HostNotFound, .detail = m_address.host});
    tryNextAddress();
}

void Pop3Connection::tryNextAddress()
{
    const QHostAddress ip = m_addresses.takeFirst();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.release()->deleteLater(); // it may be the sender of the signal being handled
    }
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
    m_socket->setPeerVerifyName(m_address.host);
    connect(m_socket.get(), &QSslSocket::connected, this, &Pop3Connection::onConnected);
    connect(m_socket.get(), &QSslSocket::encrypted, this, &Pop3Connection::onEncrypted);
    connect(m_socket.get(), &QSslSocket::readyRead, this, &Pop3Connection::onReadyRead);
    connect(m_socket.get(), &QSslSocket::errorOccurred, this, &Pop3Connection::onSocketError);
    connect(m_socket.get(), &QSslSocket::disconnected, this, &Pop3Connection::onSocketError);
    m_handshaking = m_address.implicitTls;
    if (m_address.implicitTls)
        m_socket->connectToHostEncrypted(ip.toString(), m_address.port, m_address.host);
    else
        m_socket->connectToHost(ip, m_address.port);
}

void Pop3Connection::onConnected()
{
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_addresses.clear(); // the server is reached: a failure from here on is the session's
    if (!m_handshaking) {
        m_stepTimer.stop();
        Q_EMIT established();
    }
}

void Pop3Connection::startTls()
{
    // Anything already received would have come before the handshake, unprotected: a reply
    // slipped in there by an attacker must never be read as if it came over TLS.
    if (hasUnreadData())
        return fail(Failure::Security, {.code = Code::StlsInjection});
    m_handshaking = true;
    m_stepTimer.start(m_options.replyTimeoutMs);
    m_socket->startClientEncryption();
}

void Pop3Connection::onEncrypted()
{
    m_handshaking = false;
    m_stepTimer.stop();
    // A pin is the only certificate accepted for its host, whoever signed another.
    if (!m_pinned.isNull() && m_socket->peerCertificate() != m_pinned) {
        m_rejected = m_socket->peerCertificate();
        return fail(Failure::Security, {.code = Code::CertificateChanged,
                                        .detail = m_address.host,
                                        .reasons = Pop3Texts::notThePinnedCertificate});
    }
    Q_EMIT established();
}

void Pop3Connection::onSocketError()
{
    if (m_failure != Failure::None || m_aborted || !m_socket)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    // A passing error leaves the connection up; the close that may follow comes as its own signal.
    if (m_socket->state() == QAbstractSocket::ConnectedState && error != QAbstractSocket::SslHandshakeFailedError)
        return;
    // What came before the close is still the server's word: its replies first, then the failure.
    if (!m_handshaking && m_socket->bytesAvailable() > 0 && (!readAvailable() || m_aborted))
        return;
    if (m_handshaking && !m_socket->sslHandshakeErrors().isEmpty())
        return failHandshake();
    if (m_handshaking && error == QAbstractSocket::SslHandshakeFailedError)
        return fail(Failure::Security, {.code = Code::TlsFailed, .detail = m_socket->errorString()});
    if (!m_addresses.isEmpty() && m_stepTimer.isActive())
        return tryNextAddress(); // the next address of the name
    failFromSocket();
}

void Pop3Connection::failHandshake()
{
    const QList<QSslError> errors = m_socket->sslHandshakeErrors();
    const QSslCertificate peer =
        m_socket->peerCertificate().isNull() ? errors.first().certificate() : m_socket->peerCertificate();
    if (pinAnswers(errors))
        m_rejected = peer;
    const bool changed = !m_pinned.isNull() && peer != m_pinned;
    fail(Failure::Security, {.code = changed ? Code::CertificateChanged : Code::CertificateRejected,
                             .detail = m_address.host,
                             .reasons = securityReasons()});
}

QString Pop3Connection::securityReasons() const
{
    QStringList reasons;
    for (const QSslError& error : m_socket->sslHandshakeErrors()) {
        const QString text = sslErrorText(error);
        if (!reasons.contains(text))
            reasons.append(text);
    }
    return reasons.join(QStringLiteral("。")) + QStringLiteral("。");
}

// ---- Requests and replies ----

void Pop3Connection::send(const QByteArray& command, bool multiLine, qsizetype maxBody, bool continuations)
{
    if (!isOpen())
        return;
    m_parser.expect(multiLine, maxBody, continuations);
    m_socket->write(command + "\r\n");
    armReplyTimer();
}

void Pop3Connection::respond(const QByteArray& line)
{
    if (!isOpen())
        return;
    m_socket->write(line + "\r\n");
    m_stepTimer.start(m_options.replyTimeoutMs);
}

void Pop3Connection::expectGreeting()
{
    m_parser.expect(false);
    armReplyTimer();
    onReadyRead(); // it may be in already
}

bool Pop3Connection::hasUnreadData() const
{
    return m_parser.bufferedBytes() > 0 || (m_socket && m_socket->bytesAvailable() > 0);
}

bool Pop3Connection::isOpen() const
{
    return m_failure == Failure::None && !m_aborted && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

// The reply awaited has replyTimeoutMs from the moment it is awaited or the one before it came in.
void Pop3Connection::armReplyTimer()
{
    if (m_handshaking || m_failure != Failure::None)
        return;
    if (m_parser.pendingCount() == 0)
        m_stepTimer.stop();
    else if (!m_stepTimer.isActive())
        m_stepTimer.start(m_options.replyTimeoutMs);
}

void Pop3Connection::onReadyRead()
{
    if (m_failure != Failure::None || m_aborted || !m_socket || m_handshaking)
        return;
    if (m_flushing) // the caller of flush() is not to be called back from inside it
        return void(QMetaObject::invokeMethod(this, &Pop3Connection::onReadyRead, Qt::QueuedConnection));
    readAvailable();
}

void Pop3Connection::flush()
{
    if (!isOpen())
        return;
    m_flushing = true;
    m_socket->flush();
    m_flushing = false;
}

// Feeds what has arrived to the parser; false when the connection failed on it.
bool Pop3Connection::readAvailable()
{
    const int pendingBefore = m_parser.pendingCount();
    while (m_socket->bytesAvailable() > 0 && m_parser.error() == Pop3ReplyParser::Error::None)
        m_parser.feed(m_socket->read(SocketBufferSize));
    switch (m_parser.error()) {
    case Pop3ReplyParser::Error::None:
        break;
    case Pop3ReplyParser::Error::StatusLineTooLong:
        fail(Failure::Protocol, {.code = Code::LineTooLong});
        return false;
    default:
        fail(Failure::Protocol, {.code = Code::BadReply});
        return false;
    }
    if (m_parser.readyCount() == 0)
        return true;
    if (m_parser.pendingCount() < pendingBefore)
        m_stepTimer.stop(); // a reply came: the next one has its own time
    armReplyTimer();
    Q_EMIT repliesReady();
    return m_failure == Failure::None && !m_aborted;
}

void Pop3Connection::failFromSocket()
{
    switch (m_socket ? m_socket->error() : QAbstractSocket::UnknownSocketError) {
    case QAbstractSocket::HostNotFoundError:
        return fail(Failure::HostNotFound, {.code = Code::HostNotFound, .detail = m_address.host});
    case QAbstractSocket::ConnectionRefusedError:
        return fail(Failure::Refused, {.code = Code::ConnectionRefused, .detail = m_address.host});
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::UnknownSocketError:
        return fail(Failure::Network, {.code = Code::Disconnected});
    default:
        return fail(Failure::Network, {.code = Code::ConnectFailed, .detail = m_socket->errorString()});
    }
}

void Pop3Connection::fail(Failure failure, const Pop3Error& error)
{
    if (m_failure != Failure::None || m_aborted)
        return;
    m_failure = failure;
    m_error = error;
    abort();
    // Never inside the call that found the fault: the caller may be in the middle of a step.
    QMetaObject::invokeMethod(this, &Pop3Connection::failed, Qt::QueuedConnection);
}

void Pop3Connection::abort()
{
    m_aborted = true;
    m_stepTimer.stop();
    m_sessionTimer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_socket) {
        m_socket->disconnect(this);
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->abort();
    }
}
