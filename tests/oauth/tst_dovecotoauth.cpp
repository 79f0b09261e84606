#include "TokenServer.h"
#include "mailcheck/MailCheck.h"
#include "oauth/OAuthTokens.h"
#include "settings/Settings.h"
#include "tests/mailcheck/MailFixtures.h"
#include "tests/mailcheck/RecordingWindows.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestCertificate.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Dovecot that takes only OAuth 2.0 tokens, asking the test's provider whether each is active.
// %1 the folder, %2 the POP3S port, %3 the mechanisms, %4:%5 the mail owner.
const char* const Config = R"(base_dir = %1/run
state_dir = %1/state
log_path = %1/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl_cert = <%1/cert.pem
ssl_key = <%1/key.pem
auth_mechanisms = %3
auth_verbose = yes
service/pop3-login/inet_listener/pop3/port = 0
service/pop3-login/inet_listener/pop3s/port = %2
service/pop3-login/inet_listener/pop3s/ssl = yes
passdb {
  driver = oauth2
  mechanisms = %3
  args = %1/oauth2.conf
}
userdb {
  driver = static
  args = uid=%4 gid=%5 home=%1/mail/%u mail=maildir:~
}
)";
const char* const Introspection = R"(introspection_mode = post
introspection_url = http://127.0.0.1:%1/introspect
username_attribute = username
active_attribute = active
active_value = true
force_introspection = yes
)";

const passwd* mailOwner()
{
    return geteuid() == 0 ? getpwnam("nobody") : getpwuid(geteuid());
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

// A manual check signs in through the browser and deletes exactly the spam at a Dovecot that takes
// nothing but tokens; the next timed check logs in with the token in memory, no browser.
class TestDovecotOAuth : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MOSSVALE_REQUIRE_DOVECOT(); }

    void signsInAndDeletesTheSpam_data()
    {
        QTest::addColumn<QString>("mechanisms");
        QTest::newRow("OAUTHBEARER") << u"xoauth2 oauthbearer"_qs;
        QTest::newRow("XOAUTH2") << u"xoauth2"_qs;
    }

    void signsInAndDeletesTheSpam()
    {
        QFETCH(QString, mechanisms);
        TokenServer provider;
        QVERIFY(provider.start());
        QTemporaryDir dir;
        const passwd* owner = mailOwner();
        QVERIFY(dir.isValid() && owner && chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        TestCertificate tls;
        QCOMPARE(tls.make(dir.path()), QString());
        const QString maildir = dir.filePath(u"mail/bob"_qs);
        for (const QString& sub : {u"run"_qs, u"state"_qs, u"mail/bob/tmp"_qs, u"mail/bob/cur"_qs})
            QVERIFY(QDir(dir.path()).mkpath(sub));
        const QList<QByteArray> mails = {mailMessage(u"spam offer"_qs, u"x"_qs, u"x@spam.example"_qs),
                                         mailMessage(u"お元気ですか"_qs, u"y"_qs, u"y@example.org"_qs)};
        QVERIFY(QDir(dir.path()).mkpath(u"mail/bob/new"_qs));
        for (int k = 0; k < mails.size(); ++k)
            QVERIFY(writeFile(maildir + u"/new/%1.test"_qs.arg(1000 + k), mails.at(k)));
        QProcess chown;
        chown.start(u"chown"_qs,
                    {u"-R"_qs, u"%1:%2"_qs.arg(owner->pw_uid).arg(owner->pw_gid), dir.filePath(u"mail"_qs)});
        QVERIFY(chown.waitForFinished() && chown.exitCode() == 0);
        QTcpServer free;
        QVERIFY(free.listen(QHostAddress::LocalHost));
        const quint16 port = free.serverPort();
        free.close();
        const QString config = QString::fromUtf8(Config)
                                   .arg(dir.path(), QString::number(port), mechanisms)
                                   .arg(owner->pw_uid)
                                   .arg(owner->pw_gid);
        QVERIFY(writeFile(dir.filePath(u"dovecot.conf"_qs), config.toUtf8()));
        QVERIFY(writeFile(
            dir.filePath(u"oauth2.conf"_qs),
            QString::fromUtf8(Introspection).arg(provider.url({}).section(u':', 2).section(u'/', 0, 0)).toUtf8()));
        QProcess dovecot;
        dovecot.setProcessChannelMode(QProcess::MergedChannels);
        dovecot.start(u"/usr/sbin/dovecot"_qs, {u"-F"_qs, u"-c"_qs, dir.filePath(u"dovecot.conf"_qs)});
        QVERIFY(dovecot.waitForStarted());
        QVERIFY(QTest::qWaitFor(
            [&] {
                QTcpSocket knock;
                knock.connectToHost(QHostAddress::LocalHost, port);
                return knock.waitForConnected(200);
            },
            10000));

        TestProgramFolder folder;
        folder.write(GeneralFile, "[Mossvale]\r\nSignIn=oauth2\r\nOAuthClientId=mossvale-test\r\nOAuthScope=mail\r\n"
                                  "OAuthAuthorizeUrl=" +
                                      provider.url(u"authorize"_qs).toLatin1() +
                                      "\r\nOAuthTokenUrl=" + provider.url(u"token"_qs).toLatin1() + "\r\n");
        folder.write("★MailData/Tlxdata50.data", keywordFileBytes({u"spam offer"_qs}));
        folder.writeAccount("bob", "");
        SettingsModel settings;
        settings.setServer({}, u"pop3s://127.0.0.1:%1"_qs.arg(port), {}, 0);
        OAuthTokens::forgetAccessTokens();
        QNetworkAccessManager browser;
        int opened = 0;
        OAuthTokens::setBrowser([&](const QUrl& url) {
            ++opened;
            browser.get(QNetworkRequest(url));
            return true;
        });
        Pop3Options options;
        options.extraTrustedCertificates = {tls.certificate};
        RecordingWindows windows;
        const auto log = [&] {
            QFile file(dir.filePath(u"dovecot.log"_qs));
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        for (const bool manual : {true, false}) {
            const CheckOutcome outcome = runCheck(windows, settings, manual, options);
            QVERIFY2(outcome.kind == CheckOutcome::Kind::Checked, qPrintable(outcome.details() + log()));
            QCOMPARE(outcome.deleted, manual ? 1 : 0);
        }
        QCOMPARE(opened, 1);
        QCOMPARE(provider.log, (QStringList{u"authorize"_qs, u"code"_qs}));
        QCOMPARE(QDir(maildir + u"/cur"_qs).entryList(QDir::Files).size() +
                     QDir(maildir + u"/new"_qs).entryList(QDir::Files).size(),
                 1);
        const QString method =
            u"method="_qs + (mechanisms.contains(u"oauthbearer"_qs) ? u"OAUTHBEARER"_qs : u"XOAUTH2"_qs);
        QCOMPARE(log().count(method), 2);
        dovecot.terminate();
        QVERIFY(dovecot.waitForFinished(10000));
    }
};

QTEST_MAIN(TestDovecotOAuth)
#include "tst_dovecotoauth.moc"
