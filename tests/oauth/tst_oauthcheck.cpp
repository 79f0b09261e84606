#include "TokenServer.h"
#include "maillib/TlsTrust.h"
#include "tests/mailcheck/RecordingWindows.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/Prerequisite.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

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
    const char* tool = nullptr; // the first check is the demo tool's, opening the page with this browser
};

// The demo tool's manual check on folder, a program of its own on the offscreen platform, where Qt
// has no URL handler: the sign-in page opens through xdg-open, or $BROWSER where xdg-open is missing.
// The browser is the test's, named handler: it follows the page and the redirect. PATH holds nothing
// else, and BROWSER names "browser" even when it is missing: no real browser opens the page, and
// xdg-open comes first. Empty when the tool ended well, else what it said.
QByteArray runDemoTool(const TestProgramFolder& folder, const DovecotServer& dovecot, const QString& handler)
{
    folder.write(u"bin/"_qs + handler, "#!/bin/sh\nexec " + QStandardPaths::findExecutable(u"curl"_qs).toUtf8() +
                                           " -sS -L -o /dev/null \"$1\"\n");
    folder.writeServer(dovecot.tlsServer());
    // What fails here the tool says: a browser it could not start.
    QFile::setPermissions(folder.file(u"bin/"_qs + handler), QFile::ReadOwner | QFile::ExeOwner);
    QProcess shot; // nothing of the user's: no keyring (the token goes to the file), no display, no browser
    shot.setEnvironment({u"PATH="_qs + folder.file(u"bin"_qs), u"BROWSER="_qs + folder.file(u"bin/browser"_qs),
                         u"HOME="_qs + folder.path(), u"QT_QPA_PLATFORM=offscreen"_qs,
                         u"XDG_RUNTIME_DIR="_qs + qEnvironmentVariable("XDG_RUNTIME_DIR")});
    shot.start(QStringLiteral(MOSSVALE_DEMO_SHOT), {folder.path(), folder.path()});
    const bool ended = QTest::qWaitFor([&shot] { return shot.state() == QProcess::NotRunning; }, 60000);
    return ended && shot.exitCode() == 0 ? QByteArray() : shot.readAll() + shot.readAllStandardError() + '!';
}

} // namespace

Q_DECLARE_METATYPE(Row)

// The mail check signed in with OAuth 2.0 at a Dovecot that takes nothing but tokens: the browser
// only for a manual check (also the demo tool's, through the desktop's URL handler), one renewal of a
// refused token, a revoked grant asks for a new sign-in, is forgotten and deletes nothing.
class TestOAuthCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"openssl", "curl"}).isEmpty(), "openssl and curl");
        MOSSVALE_REQUIRE_DOVECOT();
    }

    void checks_data()
    {
        QTest::addColumn<Row>("row");
        // clang-format off
        const QList<Row> rows = {
            {"demo tool, xdg-open", true, Stored::None, Kind::Checked, {"authorize", "code", "refresh"}, false, false, u"xoauth2 oauthbearer"_qs, "xdg-open"},
            {"demo tool, BROWSER without xdg-open, XOAUTH2", true, Stored::None, Kind::Checked, {"authorize", "code", "refresh"}, false, false, u"xoauth2"_qs, "browser"},
            {"timed, not signed in: no browser", false, Stored::None, Kind::SignInNeeded, {}},
            {"timed, revoked: sign in again", false, Stored::Revoked, Kind::SignInNeeded, {"refused"}},
            {"manual, revoked: the browser", true, Stored::Revoked, Kind::Checked, {"refused", "authorize", "code"}},
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
        provider.deny = row.deny;
        provider.refuseAccess = row.refuseFirst ? 1 : 0;
        // A Dovecot that takes nothing but tokens, asking the test's provider whether each is active.
        DovecotServer dovecot;
        dovecot.takeTokens(row.mechanisms, provider.url(u"introspect"_qs));
        QVERIFY2(dovecot.start() && dovecot.addUser(u"bob"_qs, {}), qPrintable(dovecot.errorText()));
        QVERIFY(dovecot.deliver(u"bob"_qs, mailMessage(u"spam offer"_qs, u"x"_qs, u"x@spam.example"_qs)));
        const QByteArray wanted = mailMessage(u"お元気ですか"_qs, u"y"_qs, u"y@example.org"_qs);
        QVERIFY(dovecot.deliver(u"bob"_qs, wanted));
        TestProgramFolder folder;
        provider.configure(folder);
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
        // The next timed check needs no request: the token is in memory, or nothing is kept to renew. The demo
        // tool, another program, checks first where it is named: two timed checks follow, the first renewing
        // with the refresh token the tool kept.
        if (row.tool)
            QCOMPARE(runDemoTool(folder, dovecot, row.tool), QByteArray());
        for (const bool first : {!row.tool, false}) {
            const CheckOutcome outcome = runCheck(windows, settings, row.manual && first);
            QVERIFY2(outcome.kind == row.kind, qPrintable(outcome.details() + dovecot.log()));
            QCOMPARE(outcome.deleted, row.kind == Kind::Checked && first ? 1 : 0);
            QCOMPARE(provider.log, row.provider); // the browser opened only where "authorize" is listed
        }
        const QList<QByteArray> left = dovecot.messages(u"bob"_qs);
        QCOMPARE(left.size(), row.kind == Kind::Checked ? 1 : 2);
        QCOMPARE(left.last(), wanted);
        const QByteArray method = row.mechanisms.contains(u"oauthbearer"_qs) ? "OAUTHBEARER" : "XOAUTH2";
        QCOMPARE(dovecot.log().count("Login: user=<bob>, method=" + method),
                 row.kind == Kind::Checked ? 2 + !!row.tool : 0);
        // The refresh token kept is the provider's, one it gave readable by the user alone; none after a refusal.
        const QByteArray kept = folder.read(tokenFile).split('\t').value(2).trimmed();
        QCOMPARE(kept.isEmpty(), row.kind != Kind::Checked);
        QVERIFY(kept.isEmpty() ||
                (provider.granted.contains(kept) && (kept == "rt0" || folder.mode(tokenFile) == 0600)));
    }
};

QTEST_MAIN(TestOAuthCheck)
#include "tst_oauthcheck.moc"
