#include "maillib/Pop3Connection.h"

#include "maillib/Pop3Texts.h"

#include <QHostInfo>
#include <QSslConfiguration>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace {

// Qt stops reading from the network when this much is buffered, so a flooding server cannot
// make the process grow; the reply parser bounds the rest.
constexpr qint64 SocketBufferSize = 256 * 1024;

int seconds(int milliseconds)
{
    return (milliseconds + 999) / 1000;
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

// The addresses of host, looked up on a helper thread so that a resolver that does not answer
// (a machine off line, a dead name server) cannot hold the program past the deadline; the
// thread is left to finish on its own then. Nothing on time-out.
std::optional<QList<QHostAddress>> lookUp(const QString& host, const QDeadlineTimer& deadline)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return QList<QHostAddress>{literal};
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        QList<QHostAddress> addresses;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, host] {
        const QList<QHostAddress> addresses = QHostInfo::fromName(host).addresses();
        const std::lock_guard lock(shared->mutex);
        shared->addresses = addresses;
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    const auto wait = std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime()));
    if (!shared->done.wait_for(lock, wait, [&shared] { return shared->finished; }))
        return std::nullopt;
    return shared->addresses;
}

} // namespace

Pop3Connection::Pop3Connection(const Pop3Options& options)
    : m_options(options), m_parser(options.maxLineLength, options.maxHeaderLength)
{}

Pop3Connection::~Pop3Connection()
{
    abort();
}

bool Pop3Connection::connectTo(const Pop3Address& address)
{
    m_host = address.host;
    m_socket = std::make_unique<QSslSocket>();
    m_socket->setReadBufferSize(SocketBufferSize);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_options.extraTrustedCertificates.isEmpty())
        config.addCaCertificates(m_options.extraTrustedCertificates);
    m_socket->setSslConfiguration(config);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    // The certificate is checked against the name the user gave, not the address it led to.
    m_socket->setPeerVerifyName(address.host);

    const QDeadlineTimer deadline(m_options.connectTimeoutMs);
    const std::optional<QList<QHostAddress>> addresses = lookUp(address.host, deadline);
    if (!addresses)
        return fail(Failure::Timeout, Pop3Texts::connectTimeout(seconds(m_options.connectTimeoutMs)));
    if (addresses->isEmpty())
        return fail(Failure::Network, Pop3Texts::hostNotFound(m_host));
    for (const QHostAddress& ip : *addresses) {
        if (address.implicitTls)
            m_socket->connectToHostEncrypted(ip.toString(), address.port, address.host);
        else
            m_socket->connectToHost(ip, address.port);
        if (m_socket->waitForConnected(int(deadline.remainingTime())))
            break;
        if (ip == addresses->last() || deadline.hasExpired())
            return failFromSocket(deadline, m_options.connectTimeoutMs);
        m_socket->abort(); // try the next address of the name
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (address.implicitTls)
        return waitForEncrypted(deadline, m_options.connectTimeoutMs);
    return true;
}

bool Pop3Connection::startTls()
{
    // Anything already received would have come before the handshake, unprotected: a reply
    // slipped in there by an attacker must never be read as if it came over TLS.
    if (m_parser.bufferedBytes() > 0 || m_socket->bytesAvailable() > 0)
        return fail(Failure::Security, Pop3Texts::stlsInjection);
    m_socket->startClientEncryption();
    return waitForEncrypted(QDeadlineTimer(m_options.replyTimeoutMs), m_options.replyTimeoutMs);
}

bool Pop3Connection::waitForEncrypted(const QDeadlineTimer& deadline, int timeoutMs)
{
    if (m_socket->waitForEncrypted(int(deadline.remainingTime())))
        return true;
    if (!m_socket->sslHandshakeErrors().isEmpty())
        return fail(Failure::Security, Pop3Texts::certificateRejected + u'\n' + securityReason());
    if (deadline.hasExpired())
        return fail(Failure::Timeout, Pop3Texts::connectTimeout(seconds(timeoutMs)));
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

void Pop3Connection::send(const QByteArray& command, bool multiLine)
{
    if (!isOpen())
        return;
    m_parser.expect(multiLine);
    m_socket->write(command + "\r\n");
}

void Pop3Connection::flushWrites()
{
    if (m_socket->bytesToWrite() > 0)
        m_socket->flush();
}

bool Pop3Connection::nextReply(Pop3Reply* reply)
{
    if (!isOpen())
        return false;
    flushWrites();
    const QDeadlineTimer deadline(m_options.replyTimeoutMs);
    while (!m_parser.takeReply(reply)) {
        if (!readMore(deadline))
            return false;
    }
    return true;
}

bool Pop3Connection::readMore(const QDeadlineTimer& deadline)
{
    if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(int(deadline.remainingTime())))
        return failFromSocket(deadline, m_options.replyTimeoutMs);
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

bool Pop3Connection::failFromSocket(const QDeadlineTimer& deadline, int timeoutMs)
{
    const bool connected = m_socket->state() == QAbstractSocket::ConnectedState;
    if (connected && deadline.hasExpired())
        return fail(Failure::Timeout, Pop3Texts::replyTimeout(seconds(timeoutMs)));
    switch (m_socket->error()) {
    case QAbstractSocket::HostNotFoundError:
        return fail(Failure::Network, Pop3Texts::hostNotFound(m_host));
    case QAbstractSocket::RemoteHostClosedError:
        return fail(Failure::Network, Pop3Texts::disconnected);
    case QAbstractSocket::SocketTimeoutError:
        return fail(Failure::Timeout, connected ? Pop3Texts::replyTimeout(seconds(timeoutMs))
                                                : Pop3Texts::connectTimeout(seconds(timeoutMs)));
    default:
        if (!connected && deadline.hasExpired())
            return fail(Failure::Timeout, Pop3Texts::connectTimeout(seconds(timeoutMs)));
        if (m_socket->state() == QAbstractSocket::UnconnectedState &&
            m_socket->error() == QAbstractSocket::UnknownSocketError)
            return fail(Failure::Network, Pop3Texts::disconnected);
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

void Pop3Connection::abort()
{
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
}
