#include "TableRows.h"
#include "TokenServer.h"
#include "app/MainForm.h"
#include "maillib/TlsTrust.h"
#include "oauth/RedirectListener.h"
#include "platform/MessageBox.h"
#include "settings/OptionForm.h"
#include "tests/mailcheck/RecordingWindows.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/Prerequisite.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <list>
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
    Kind kind;                // of both checks
    QStringList provider;     // what the token endpoint saw, in order
    bool deny = false;        // the user refuses consent in the browser
    bool refuseFirst = false; // the mail server refuses the first token it gets
};

// Sends bytes to the sign-in's listener on port and returns its answer's status line: "refused" when
// nothing listens, empty when it never answered.
QByteArray sendRaw(quint16 port, const QByteArray& bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&socket] { return socket.state() != QAbstractSocket::ConnectingState; }, 5000) ||
        socket.state() != QAbstractSocket::ConnectedState)
        return "refused";
    socket.write(bytes);
    // An answer the listener never ends is read as far as it came.
    if (!QTest::qWaitFor([&socket] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000))
        socket.waitForReadyRead(0);
    return socket.readAll().split('\r').value(0);
}

qint64 residentBytes()
{
    QFile statm(u"/proc/self/statm"_qs);
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE)
                                           : -1;
}

// A browser sign-in whose page waits for the test: what comes to its listener first, then the browser.
struct Redirect
{
    const char* name;
    QList<QByteArray> foreign = {}; // requests of other local programs, "STATE" standing for the sign-in's own
    QByteArray status = {};         // the listener's answer to each
    TokenResult::Status result = TokenResult::Status::Ok;
    const char* page = "サインインしました"; // what the browser shows at the end
    bool deny = false;
    bool failToken = false;
    int idle = 0;      // connections opened before the browser's, that send nothing
    bool huge = false; // then a request of 100 MB that never ends its header, from another program
};

} // namespace

// The mail check signed in with OAuth 2.0 at a Dovecot that takes nothing but tokens: the browser
// only for a manual check, one renewal of a
// refused token, a revoked grant asks for a new sign-in, is forgotten and deletes nothing.
class TestOAuthCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // never the desktop's own keyring: tokens go to the file
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"openssl"}).isEmpty(), "openssl");
        MOSSVALE_REQUIRE_DOVECOT();
    }

    void checks_data()
    {
        const auto add = addRow<Row>();
        // clang-format off
        add({"manual, not signed in: the browser", true, Stored::None, Kind::Checked, {"authorize", "code"}});
        add({"timed, not signed in: no browser", false, Stored::None, Kind::SignInNeeded, {}});
        add({"timed, revoked: sign in again", false, Stored::Revoked, Kind::SignInNeeded, {"refused"}});
        add({"manual, revoked: the browser", true, Stored::Revoked, Kind::Checked, {"refused", "authorize", "code"}});
        add({"consent refused", true, Stored::None, Kind::SignInNeeded, {"authorize"}, true});
        add({"token refused once, renewed", false, Stored::Valid, Kind::Checked, {"refresh", "refresh"}, false, true});
        // clang-format on
    }

    void checks()
    {
        QFETCH(Row, row);
        TokenServer provider;
        provider.deny = row.deny;
        provider.refuseAccess = row.refuseFirst ? 1 : 0;
        // A Dovecot that takes nothing but tokens, asking the test's provider whether each is active.
        DovecotServer dovecot;
        dovecot.takeTokens(u"xoauth2 oauthbearer"_qs, provider.url(u"introspect"_qs));
        QVERIFY2(dovecot.start() && dovecot.addUser(u"bob"_qs, {}), qPrintable(dovecot.errorText()));
        QVERIFY(dovecot.deliver(u"bob"_qs, mailMessage(u"spam offer"_qs, u"x"_qs, u"x@spam.example"_qs)));
        const QByteArray wanted = mailMessage(u"お元気ですか"_qs, u"y"_qs, u"y@example.org"_qs);
        QVERIFY(dovecot.deliver(u"bob"_qs, wanted));
        const TestProgramFolder& folder = provider.folder;
        const QString address = dovecot.tlsServer();
        const QString tokenFile = u"★MailData/oauth2.tsv"_qs; // where the refresh token goes without a keyring
        if (row.stored != Stored::None)
            folder.write(tokenFile, address.toUtf8() + "\tbob\trt0\n");
        if (row.stored == Stored::Valid)
            provider.granted << "rt0";
        SettingsModel settings;
        settings.setServer({}, address, {}, 0);
        // Dovecot's self-signed certificate pinned, as the user's 「はい」 to it leaves it.
        TlsTrust{{}, {}, {{u"127.0.0.1"_qs, dovecot.certificate()}}, {}}.save(folder.file(u"★MailData/tls.tsv"_qs));
        RecordingWindows windows;
        // The next timed check needs no request: the token is in memory, or nothing is kept to renew.
        for (const bool first : {true, false}) {
            const CheckOutcome outcome = runCheck(windows, settings, row.manual && first);
            QVERIFY2(outcome.kind == row.kind, qPrintable(outcome.details() + dovecot.log()));
            QCOMPARE(outcome.deleted, row.kind == Kind::Checked && first ? 1 : 0);
            QCOMPARE(provider.log, row.provider); // the browser opened only where "authorize" is listed
        }
        const QList<QByteArray> left = dovecot.messages(u"bob"_qs);
        QCOMPARE(left.size(), row.kind == Kind::Checked ? 1 : 2);
        QCOMPARE(left.last(), wanted);
        QCOMPARE(dovecot.log().count("Login: user=<bob>, method=OAUTHBEARER"), row.kind == Kind::Checked ? 2 : 0);
        // The refresh token kept is the provider's, one it gave readable by the user alone; none after a refusal.
        const QByteArray kept = folder.read(tokenFile).split('\t').value(2).trimmed();
        QCOMPARE(kept.isEmpty(), row.kind != Kind::Checked);
        QVERIFY(kept.isEmpty() ||
                (provider.granted.contains(kept) && (kept == "rt0" || folder.mode(tokenFile) == 0600)));
    }

    // Only the redirect with the sign-in's own state counts: whatever else reaches the listener is answered
    // and ignored, the real redirect still completes it, and the browser's last page says how it ended.
    void redirects_data()
    {
        const auto add = addRow<Redirect>();
        using S = TokenResult::Status;
        const QByteArray end = " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        // clang-format off
        add({"refused: the page says so", {}, {}, S::SignInNeeded, "サインインが拒否されました", true});
        add({"token endpoint fails: the page says so", {}, {}, S::SignInNeeded, "サインインできませんでした", false, true});
        add({"without the state, or beside, on another path, in a POST", {"GET /?error=access_denied" + end, "GET /?error=access_denied&state=forged" + end, "GET /favicon.ico?error=access_denied&state=STATE" + end, "POST /?error=access_denied&state=STATE" + end, "GET /?state=forged&error=access_denied&state=STATE" + end}, "HTTP/1.1 404 Not Found"});
        add({.name = "idle connections", .idle = 2 * RedirectListener::MaxConnections});
        add({.name = "100 MB: answered after a few KB, at no cost of memory", .huge = true});
        // clang-format on
    }
    void redirects()
    {
        QFETCH(Redirect, row);
        TokenServer provider;
        provider.holdBrowser = true;
        provider.deny = row.deny;
        provider.failToken = row.failToken;
        OAuthTokens tokens;
        std::optional<TokenResult> result;
        tokens.signIn(u"pop.example.jp"_qs, u"bob"_qs, [&result](const TokenResult& r) { result = r; });
        const quint16 port = provider.redirectPort();
        QVERIFY(port != 0 && tokens.isBrowserWaiting());
        for (QByteArray request : row.foreign)
            QCOMPARE(sendRaw(port, request.replace("STATE", provider.state())), row.status);
        const qint64 before = residentBytes();
        QProcess sender; // its own buffers are not this program's
        if (row.huge)
            sender.start(
                u"bash"_qs,
                {u"-c"_qs,
                 u"{ printf 'GET /?state=%s HTTP/1.1\\r\\nX: ' $1; head -c 100M /dev/zero | tr '\\0' a; } >/dev/tcp/127.0.0.1/$0"_qs,
                 QString::number(port), QString::fromLatin1(provider.state())});
        QVERIFY(QTest::qWaitFor([&sender] { return sender.state() == QProcess::NotRunning; }, 60000));
        QVERIFY(residentBytes() - before < 20 * 1024 * 1024);
        std::list<QTcpSocket> idle(row.idle);
        for (QTcpSocket& socket : idle)
            socket.connectToHost(QHostAddress::LocalHost, port);
        QTest::qWait(100);
        QVERIFY(!result && tokens.isBrowserWaiting());
        QVERIFY(provider.visit());
        QVERIFY(QTest::qWaitFor([&result] { return result.has_value(); }, 20000));
        QVERIFY2(result->status == row.result, qPrintable(result->error));
        QTRY_VERIFY(QString::fromUtf8(provider.lastPage).contains(QString::fromUtf8(row.page)));
        QVERIFY(!tokens.isBrowserWaiting());
        QCOMPARE(sendRaw(port, "GET /" + provider.state()), "refused"); // closed with the step
        const auto open = std::count_if(idle.begin(), idle.end(),
                                        [](auto& s) { return s.state() == QAbstractSocket::ConnectedState; });
        QVERIFY(open <= RedirectListener::MaxConnections);
    }

    // 「サインインを中止」 takes the status line's place while the browser waits, in the window and the tray
    // menu; it ends the check within a second, with nothing sent and the listener closed. Two accounts
    // signing in meet the browser one after the other.
    void mainWindowCancels()
    {
        TokenServer provider(true);
        provider.folder.writeServer(u"pop3s://127.0.0.1:1"_qs);
        provider.folder.write(u"★MailData/accounts.ini"_qs, u"[Account2]\nServer=pop3s://127.0.0.1:1\nUser=carol\nSignIn=oauth2\n"
                                                           "OAuthClientId=c\nOAuthAuthorizeUrl=%1\nOAuthTokenUrl=%2\n"_qs
                                                               .arg(provider.url(u"authorize"_qs), provider.url(u"token"_qs))
                                                               .toUtf8());
        int opened = 0;
        OAuthTokens::setBrowser([&](const QUrl& url) { return provider.page = url, ++opened; });
        MainForm form;
        form.show();
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        QTRY_VERIFY(form.CancelSignInCommand->isVisible());
        QVERIFY(form.mtraycancelsignin->isVisible() && !form.StatusLabel->isVisible() && form.isChecking());
        QVERIFY(!form.Command6->isEnabled() && !form.mcheck->isEnabled()); // one check at a time
        const quint16 port = provider.redirectPort();
        QTest::qWait(300);
        QCOMPARE(opened, 1);
        QTest::mouseClick(form.CancelSignInCommand, Qt::LeftButton);
        QTRY_COMPARE(opened, 2);
        QVERIFY(form.isChecking() && provider.redirectPort() != port);
        QTRY_VERIFY(form.CancelSignInCommand->isVisible());
        QTest::mouseClick(form.CancelSignInCommand, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 1000);
        QCOMPARE(form.lastCheck().kind, CheckOutcome::Kind::Cancelled);
        QVERIFY(!form.CancelSignInCommand->isVisible() && !form.mtraycancelsignin->isVisible());
        QVERIFY(form.StatusLabel->isVisible() && form.Command6->isEnabled() && form.mcheck->isEnabled());
        QCOMPARE(sendRaw(port, "GET /?code=x&state=" + provider.state() + " HTTP/1.1\r\n\r\n"), "refused");
        QCOMPARE(provider.log, QStringList());
    }

    // The server window signs in with the user id saved in the account file, after a restart too, and
    // 「サインアウト」 takes the refresh token away.
    void serverWindowSignsInAndOut()
    {
        MessageBox::reset();
        TokenServer provider;
        SettingsModel settings; // nothing confirmed in this run: as after a restart
        settings.setServer({}, u"pop.example.jp"_qs, {}, 0);
        OptionForm form(settings);
        form.SignInCommand->click();
        QTRY_COMPARE(MessageBox::shown().size(), 1);
        QVERIFY(provider.folder.read(u"★MailData/oauth2.tsv"_qs).startsWith("pop.example.jp\tbob\trt"));
        form.SignOutCommand->click();
        QTRY_COMPARE(MessageBox::shown().size(), 2);
        QVERIFY2(MessageBox::shown().last().text.contains(u"サインアウト"_qs),
                 qPrintable(MessageBox::shown().last().text));
        QVERIFY(!provider.folder.read(u"★MailData/oauth2.tsv"_qs).contains("bob"));
    }
};

QTEST_MAIN(TestOAuthCheck)
#include "tst_oauthcheck.moc"
