#include "DovecotServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Dovecot refuses to run mail processes as root: the mail belongs to nobody.
void giveToNobody(const QString& path)
{
    const passwd* user = getpwnam("nobody");
    const group* nogroup = getgrnam("nogroup");
    if (user && geteuid() == 0) {
        const int result =
            chown(QFile::encodeName(path).constData(), user->pw_uid, nogroup ? nogroup->gr_gid : user->pw_gid);
        Q_UNUSED(result);
    }
}

const char* const ConfigTemplate = R"(base_dir = @DIR@/run
state_dir = @DIR@/state
log_path = @DIR@/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = yes
ssl_cert = <@DIR@/cert.pem
ssl_key = <@DIR@/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain apop
auth_failure_delay = 0
auth_verbose = yes
mail_location = maildir:@DIR@/mail/%u
passdb {
  driver = passwd-file
  args = scheme=PLAIN @DIR@/users/%u
}
userdb {
  driver = static
  args = uid=@UID@ gid=@GID@ home=@DIR@/mail/%u
}
service pop3-login {
  inet_listener pop3 {
    port = @PORT@
  }
  inet_listener pop3s {
    port = @TLSPORT@
    ssl = yes
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)";

} // namespace

DovecotServer::DovecotServer()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

DovecotServer::~DovecotServer()
{
    stop();
}

QString DovecotServer::installedBinary()
{
    const QString path = QStringLiteral("/usr/sbin/dovecot");
    return QFileInfo(path).isExecutable() ? path : QString();
}

QString DovecotServer::binary()
{
    // Tests skip when this is empty; under CI they must go on to start() and fail there.
    if (Prerequisite::underCi())
        return QStringLiteral("/usr/sbin/dovecot");
    return installedBinary();
}

QString DovecotServer::plainServer() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString DovecotServer::tlsServer() const
{
    return QStringLiteral("pop3s://127.0.0.1:%1").arg(m_tlsPort);
}

bool DovecotServer::start()
{
    if (installedBinary().isEmpty()) {
        m_error = QStringLiteral("missing prerequisite: dovecot (/usr/sbin/dovecot) is not installed");
        return false;
    }
    if (!m_dir.isValid() || !makeCertificate() || !writeFiles())
        return false;
    m_process.start(installedBinary(),
                    {QStringLiteral("-F"), QStringLiteral("-c"), path(QStringLiteral("dovecot.conf"))});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("dovecot did not start: ") + m_process.errorString();
        return false;
    }
    if (!waitUntilGreeting(10000)) {
        m_error = QStringLiteral("dovecot did not greet: ") + QString::fromUtf8(m_process.readAll()) + log();
        stop();
        return false;
    }
    return true;
}

void DovecotServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // SIGTERM to the master, by its PID; it takes its children along
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool DovecotServer::makeCertificate()
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), path(QStringLiteral("key.pem")), QStringLiteral("-out"),
                   path(QStringLiteral("cert.pem")), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1,IP:0:0:0:0:0:0:0:1")});
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl failed: ") + QString::fromUtf8(openssl.readAll());
        return false;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path(QStringLiteral("cert.pem")), QSsl::Pem);
    if (certificates.isEmpty()) {
        m_error = QStringLiteral("no certificate was made");
        return false;
    }
    m_certificate = certificates.first();
    return true;
}

bool DovecotServer::writeFiles()
{
    QFile(m_dir.path())
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                        QFileDevice::ExeOther);
    QDir dir(m_dir.path());
    dir.mkpath(QStringLiteral("run"));
    dir.mkpath(QStringLiteral("state"));
    dir.mkpath(QStringLiteral("mail"));
    giveToNobody(path(QStringLiteral("mail")));
    m_port = freePort();
    m_tlsPort = freePort();
    while (m_tlsPort == m_port)
        m_tlsPort = freePort();
    const passwd* nobody = getpwnam("nobody");
    const QString uid = nobody && geteuid() == 0 ? QStringLiteral("nobody") : QString::number(geteuid());
    const QString gid = nobody && geteuid() == 0 ? QString::number(nobody->pw_gid) : QString::number(getegid());
    QString config = QString::fromUtf8(ConfigTemplate);
    config.replace(QStringLiteral("@DIR@"), m_dir.path())
        .replace(QStringLiteral("@UID@"), uid)
        .replace(QStringLiteral("@GID@"), gid)
        .replace(QStringLiteral("@PORT@"), QString::number(m_port))
        .replace(QStringLiteral("@TLSPORT@"), QString::number(m_tlsPort));
    if (!writeFile(path(QStringLiteral("dovecot.conf")), config.toUtf8())) {
        m_error = QStringLiteral("cannot write the configuration");
        return false;
    }
    return true;
}

bool DovecotServer::waitUntilGreeting(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(1000) && socket.waitForReadyRead(2000) && socket.readLine().startsWith("+OK"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool DovecotServer::addUser(const QString& user, const QString& password)
{
    // One passwd file per user: Dovecot re-reads a changed passwd file at most once a second,
    // but a file it has never seen is read at its first use.
    QDir(m_dir.path()).mkpath(QStringLiteral("users"));
    // nodelay=y: a wrong password is answered at once instead of after a penalty.
    if (!writeFile(path(QStringLiteral("users/")) + user,
                   user.toUtf8() + ":{PLAIN}" + password.toUtf8() + "::::::nodelay=y\n"))
        return false;
    QDir dir(path(QStringLiteral("mail")));
    for (const char* sub : {"", "/new", "/cur", "/tmp"}) {
        if (!dir.mkpath(user + QLatin1String(sub)))
            return false;
        giveToNobody(maildir(user) + QLatin1String(sub));
    }
    return true;
}

bool DovecotServer::deliver(const QString& user, const QByteArray& message)
{
    // Dovecot numbers new messages in the order of their file names.
    ++m_delivered;
    const QString name = QStringLiteral("%1.M%2P%3.mossvale")
                             .arg(1000000000 + m_delivered)
                             .arg(m_delivered)
                             .arg(QCoreApplication::applicationPid());
    const QString temporary = maildir(user) + QStringLiteral("/tmp/") + name;
    const QString final = maildir(user) + QStringLiteral("/new/") + name;
    if (!writeFile(temporary, message))
        return false;
    giveToNobody(temporary);
    return QFile::rename(temporary, final);
}

QList<QByteArray> DovecotServer::messages(const QString& user) const
{
    QStringList files;
    for (const char* sub : {"/new", "/cur"}) {
        const QDir dir(maildir(user) + QLatin1String(sub));
        for (const QString& name : dir.entryList(QDir::Files))
            files.append(dir.filePath(name));
    }
    std::sort(files.begin(), files.end(),
              [](const QString& a, const QString& b) { return QFileInfo(a).fileName() < QFileInfo(b).fileName(); });
    QList<QByteArray> result;
    for (const QString& name : files) {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly))
            result.append(file.readAll());
    }
    return result;
}

QString DovecotServer::log() const
{
    QFile file(path(QStringLiteral("dovecot.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
