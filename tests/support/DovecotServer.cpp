#include "DovecotServer.h"

#include "TestCertificate.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Binary = QStringLiteral("/usr/sbin/dovecot");

// %1 the folder, %2 the plain port, %3 the POP3S port, %4:%5 the mail owner, %6 the mechanisms, %7
// the passdb's driver and arguments. Nested settings are
// written as paths where Dovecot allows it; passdb and userdb need blocks. ssl = yes is built in.
const char* const Config = R"(base_dir = %1/run
state_dir = %1/state
log_path = %1/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl_cert = <%1/cert.pem
ssl_key = <%1/key.pem
disable_plaintext_auth = no
auth_mechanisms = %6
auth_failure_delay = 0
auth_verbose = yes
service/pop3-login/inet_listener/pop3/port = %2
service/pop3-login/inet_listener/pop3s/port = %3
service/pop3-login/inet_listener/pop3s/ssl = yes
service/anvil/unix_listener/anvil-auth-penalty/mode = 0
passdb {
  %7
}
userdb {
  driver = static
  args = uid=%4 gid=%5 home=%1/mail/%u mail=maildir:~
}
)";

// Dovecot refuses to run mail processes as root: then the mail belongs to nobody.
const std::pair<uid_t, gid_t> MailOwner = [] {
    const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    return nobody ? std::pair(nobody->pw_uid, nobody->pw_gid) : std::pair(geteuid(), getegid());
}();

bool giveToMailOwner(const QString& path)
{
    return chown(QFile::encodeName(path).constData(), MailOwner.first, MailOwner.second) == 0;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool greets(const QProcess& process, quint16 port)
{
    for (const QDeadlineTimer deadline(10000); !deadline.hasExpired() && process.state() == QProcess::Running;) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(1000) && socket.waitForReadyRead(2000) && socket.readLine().startsWith("+OK"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

} // namespace

QString DovecotServer::binary()
{
    // Tests skip when this is empty; under CI they must go on to start() and fail there.
    return Prerequisite::underCi() || QFileInfo(Binary).isExecutable() ? Binary : QString();
}

// The folder, certificate and configuration for start(); an error text, empty when all are made.
QString DovecotServer::prepare()
{
    // The mail processes, run as nobody, must reach their Maildirs through the folder.
    bool ready = m_dir.isValid() && chmod(QFile::encodeName(m_dir.path()).constData(), 0755) == 0;
    for (const char* sub : {"run", "state", "users", "mail"})
        ready = ready && QDir(m_dir.path()).mkpath(sub);
    if (!ready || !giveToMailOwner(path("mail")))
        return "cannot prepare a temporary folder for dovecot";

    TestCertificate made;
    if (const QString error = made.make(m_dir.path()); !error.isEmpty())
        return error;
    m_certificate = made.certificate;

    // Both ports stay taken until this returns, so that they differ; Dovecot takes them after.
    QTcpServer plain, tls;
    if (!plain.listen(QHostAddress::LocalHost) || !tls.listen(QHostAddress::LocalHost))
        return "no free port";
    m_port = plain.serverPort();
    m_tlsPort = tls.serverPort();
    const QString config = QString::fromUtf8(Config).arg(
        m_dir.path(), QString::number(m_port), QString::number(m_tlsPort), QString::number(MailOwner.first),
        QString::number(MailOwner.second), m_introspection.isEmpty() ? u"plain apop"_qs : m_mechanisms,
        m_introspection.isEmpty() ? "driver = passwd-file\n  args = scheme=PLAIN " + path("users/%u")
                                  : "driver = oauth2\n  args = " + path("oauth2.conf"));
    // Tokens are asked of the test's provider, which answers whether each is active.
    const QByteArray oauth2 = "introspection_mode = post\nintrospection_url = " + m_introspection.toUtf8() +
                              "\nactive_attribute = active\nactive_value = true\n";
    return writeFile(path("dovecot.conf"), config.toUtf8()) && writeFile(path("oauth2.conf"), oauth2)
               ? QString()
               : "cannot write the configuration";
}

bool DovecotServer::start()
{
    m_error = QFileInfo(Binary).isExecutable() ? prepare()
                                               : "missing prerequisite: dovecot (" + Binary + ") is not installed";
    if (!m_error.isEmpty())
        return false;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(Binary, {"-F", "-c", path("dovecot.conf")});
    if (m_process.waitForStarted(5000) && greets(m_process, m_port))
        return true;
    m_error = "dovecot did not greet: " + m_process.errorString() + '\n' + m_process.readAll() + log();
    stop();
    return false;
}

void DovecotServer::stop()
{
    // SIGTERM to the master, by its PID; it takes its children along. Nothing happens when it is not running.
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        m_process.kill(), m_process.waitForFinished(5000);
}

bool DovecotServer::addUser(const QString& user, const QString& password)
{
    // One passwd file per user: Dovecot re-reads a changed passwd file at most once a second,
    // but a file it has never seen is read at its first use. nodelay=y: a wrong password is
    // answered at once instead of after a penalty.
    bool done = writeFile(path("users/") + user, user.toUtf8() + ":{PLAIN}" + password.toUtf8() + "::::::nodelay=y\n");
    for (const char* sub : {"", "/new", "/cur", "/tmp"})
        done = done && QDir().mkpath(maildir(user) + sub) && giveToMailOwner(maildir(user) + sub);
    return done;
}

bool DovecotServer::deliver(const QString& user, const QByteArray& message)
{
    // Dovecot numbers new messages in the order of their file names.
    const QString name = QStringLiteral("/%1.mossvale").arg(1000000000 + ++m_delivered);
    const QString temporary = maildir(user) + "/tmp" + name;
    return writeFile(temporary, message) && giveToMailOwner(temporary) &&
           QFile::rename(temporary, maildir(user) + "/new" + name);
}

QList<QByteArray> DovecotServer::messages(const QString& user) const
{
    QFileInfoList files = QDir(maildir(user) + "/new").entryInfoList(QDir::Files);
    files += QDir(maildir(user) + "/cur").entryInfoList(QDir::Files);
    std::ranges::sort(files, {}, &QFileInfo::fileName); // file names are in delivery order
    QList<QByteArray> result;
    for (const QFileInfo& info : std::as_const(files)) {
        if (QFile file(info.filePath()); file.open(QIODevice::ReadOnly))
            result.append(file.readAll());
    }
    return result;
}

QString DovecotServer::log() const
{
    QFile file(path("dovecot.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
