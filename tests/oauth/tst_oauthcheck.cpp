#include "TokenServer.h"
#include "tests/mailcheck/RecordingWindows.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestCertificate.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using Kind = CheckOutcome::Kind;

namespace {

enum class Stored { None, Valid, Revoked };

// A check with SignIn=oauth2 at a Dovecot holding one spam and one wanted message, then a timed one.
struct Row
{
    const char* name;
    bool manual;
    Stored stored;
    Kind kind;                                      // of both checks
    QStringList provider;                           // what the token endpoint saw, in order
    bool deny = false;                              // the user refuses consent in the browser
    bool refuseFirst = false;                       // the mail server refuses the first token it gets
    QString mechanisms = u"xoauth2 oauthbearer"_qs; // Dovecot's
};

// Dovecot that takes nothing but OAuth 2.0 tokens, asking the test's provider whether each is
// active. %1 its folder (with cert.pem and key.pem), %2 the POP3S port, %3 the mechanisms, %4:%5
// the mail owner.
const char* const DovecotConfig = R"(base_dir = %1/run
state_dir = %1/run
log_path = %1/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl_cert = <%1/cert.pem
ssl_key = <%1/key.pem
auth_mechanisms = %3
service/pop3-login/inet_listener/pop3/port = 0
service/pop3-login/inet_listener/pop3s/port = %2
passdb {
  driver = oauth2
  args = %1/oauth2.conf
}
userdb {
  driver = static
  args = uid=%4 gid=%5 home=%1/mail/%u mail=maildir:~
}
)";
const char* const Introspection = R"(introspection_mode = post
introspection_url = %1
active_attribute = active
active_value = true
)";

} // namespace

Q_DECLARE_METATYPE(Row)

// The mail check signed in with OAuth 2.0 at a Dovecot that takes nothing but tokens: the browser
// only for a manual check, one renewal of a refused token, a revoked grant asks for a new sign-in,
// is forgotten and deletes nothing.
class TestOAuthCheck : public QObject
{
    Q_OBJECT

    TestCertificate m_tls;
    QString m_owner; // uid:gid of the mail, not root's: Dovecot refuses root

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"openssl"}).isEmpty(), "openssl");
        MOSSVALE_REQUIRE_DOVECOT();
        const passwd* owner = geteuid() == 0 ? getpwnam("nobody") : getpwuid(geteuid());
        QVERIFY(owner);
        m_owner = u"%1:%2"_qs.arg(owner->pw_uid).arg(owner->pw_gid);
    }

    void checks_data()
    {
        QTest::addColumn<Row>("row");
        const QStringList browser{"authorize", "code"};
        // clang-format off
        const QList<Row> rows = {
            {"manual, first sign-in in the browser", true, Stored::None, Kind::Checked, browser},
            {"manual, first sign-in, XOAUTH2 only", true, Stored::None, Kind::Checked, browser, false, false, u"xoauth2"_qs},
            {"timed, not signed in: no browser", false, Stored::None, Kind::SignInNeeded, {}},
            {"timed, refresh token renews", false, Stored::Valid, Kind::Checked, {"refresh"}},
            {"timed, revoked: sign in again", false, Stored::Revoked, Kind::SignInNeeded, {"refused"}},
            {"manual, revoked: the browser", true, Stored::Revoked, Kind::Checked, QStringList{"refused"} + browser},
            {"consent refused", true, Stored::None, Kind::SignInNeeded, {"authorize"}, true},
            {"token refused once, renewed", false, Stored::Valid, Kind::Checked, {"refresh", "refresh"}, false, true},
        };
        // clang-format on
        for (const Row& row : rows)
            QTest::newRow(row.name) << row;
    }

    void checks()
    {
        QFETCH(Row, row);
        TokenServer provider;
        QVERIFY(provider.start());
        provider.deny = row.deny;
        provider.refuseAccess = row.refuseFirst ? 1 : 0;
        // Dovecot's files beside the program's, in a folder its mail owner may enter.
        TestProgramFolder folder;
        QVERIFY(chmod(QFile::encodeName(folder.path()), 0755) == 0);
        QCOMPARE(m_tls.make(folder.path()), QString());
        folder.write(u"mail/bob/new/1.spam"_qs, mailMessage(u"spam offer"_qs, u"x"_qs, u"x@spam.example"_qs));
        folder.write(u"mail/bob/new/2.wanted"_qs, mailMessage(u"お元気ですか"_qs, u"y"_qs, u"y@example.org"_qs));
        QCOMPARE(QProcess::execute(u"chown"_qs, {u"-R"_qs, m_owner, folder.file(u"mail"_qs)}), 0);
        QTcpServer free;
        QVERIFY(free.listen(QHostAddress::LocalHost));
        const quint16 port = free.serverPort();
        free.close();
        folder.write(u"dovecot.conf"_qs, QString::fromUtf8(DovecotConfig)
                                             .arg(folder.path(), QString::number(port), row.mechanisms,
                                                  m_owner.section(u':', 0, 0), m_owner.section(u':', 1))
                                             .toUtf8());
        folder.write(u"oauth2.conf"_qs, QString::fromUtf8(Introspection).arg(provider.url(u"introspect"_qs)).toUtf8());
        QProcess dovecot;
        dovecot.start(DovecotServer::binary(), {u"-F"_qs, u"-c"_qs, folder.file(u"dovecot.conf"_qs)});
        const QString log = u"dovecot.log"_qs;
        QVERIFY2(QTest::qWaitFor([&] { return folder.read(log).contains("starting up"); }, 10000), folder.read(log));

        provider.configure(folder);
        const QString address = u"pop3s://127.0.0.1:%1"_qs.arg(port);
        const QString tokenFile = u"★MailData/oauth2.tsv"_qs; // where the refresh token goes without a keyring
        if (row.stored != Stored::None)
            folder.write(tokenFile, address.toUtf8() + "\tbob\trt0\n");
        if (row.stored == Stored::Valid)
            provider.granted << "rt0";
        SettingsModel settings;
        settings.setServer({}, address, {}, 0);
        checkOptions().extraTrustedCertificates = {m_tls.certificate};
        RecordingWindows windows;
        // The next timed check needs no request: the token is in memory, or nothing is kept to renew.
        for (const bool first : {true, false}) {
            const CheckOutcome outcome = runCheck(windows, settings, row.manual && first);
            QVERIFY2(outcome.kind == row.kind, qPrintable(outcome.details() + folder.read(log)));
            QCOMPARE(outcome.deleted, row.kind == Kind::Checked && first ? 1 : 0);
            QCOMPARE(provider.log, row.provider); // the browser opened only where "authorize" is listed
        }
        const QStringList left = QDir(folder.file(u"mail/bob/cur"_qs)).entryList(QDir::Files) +
                                 QDir(folder.file(u"mail/bob/new"_qs)).entryList(QDir::Files);
        QVERIFY2(left.size() == (row.kind == Kind::Checked ? 1 : 2) && left.join(u' ').contains(u"2.wanted"_qs),
                 qPrintable(left.join(u' ')));
        const QByteArray method = row.mechanisms.contains(u"oauthbearer"_qs) ? "OAUTHBEARER" : "XOAUTH2";
        QCOMPARE(folder.read(log).count("Login: user=<bob>, method=" + method), row.kind == Kind::Checked ? 2 : 0);
        // The refresh token kept is the provider's, one it gave readable by the user alone; none after a refusal.
        const QByteArray kept = folder.read(tokenFile).split('\t').value(2).trimmed();
        QCOMPARE(kept.isEmpty(), row.kind != Kind::Checked);
        QVERIFY(kept.isEmpty() ||
                (provider.granted.contains(kept) && (kept == "rt0" || folder.mode(tokenFile) == 0600)));
        dovecot.terminate();
        QVERIFY(dovecot.waitForFinished(10000));
    }
};

QTEST_MAIN(TestOAuthCheck)
#include "tst_oauthcheck.moc"
