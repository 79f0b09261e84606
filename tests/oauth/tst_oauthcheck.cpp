#include "TokenServer.h"
#include "mailcheck/MailCheck.h"
#include "oauth/OAuthTokens.h"
#include "oauth/RefreshTokenStore.h"
#include "settings/Settings.h"
#include "tests/mailcheck/MailFixtures.h"
#include "tests/mailcheck/RecordingWindows.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestCertificate.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTest>

using Kind = CheckOutcome::Kind;

namespace {

enum class Stored { None, Valid, Revoked };

// One check with SignIn=oauth2 against a scripted mailbox of one spam and one wanted message.
struct Row
{
    const char* name;
    bool manual;
    Stored stored;
    Kind kind;
    QStringList provider;     // what the token endpoint saw, in order
    bool deny = false;        // the user refuses consent in the browser
    bool refuseFirst = false; // the mail server refuses the first token it gets
};

QByteArray bearerOf(const QByteArray& authLine)
{
    const QByteArray message = QByteArray::fromBase64(authLine.split(' ').value(2));
    const qsizetype at = message.indexOf("auth=Bearer ");
    return message.mid(at + 12).split('\x01').value(0);
}

} // namespace

Q_DECLARE_METATYPE(Row)

// The mail check signed in with OAuth 2.0: the browser only for a manual check, one renewal of a
// refused token, a revoked grant asks for a new sign-in and deletes nothing.
class TestOAuthCheck : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestCertificate m_tls;

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"openssl"}).isEmpty(), "openssl");
        QVERIFY(m_dir.isValid());
        const QString error = m_tls.make(m_dir.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void checks_data()
    {
        QTest::addColumn<Row>("row");
        const QStringList browser{"authorize", "code"};
        // clang-format off
        const QList<Row> rows = {
            {"manual, first sign-in in the browser", true, Stored::None, Kind::Checked, browser},
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
        TestProgramFolder folder;
        TokenServer provider;
        QVERIFY(provider.start());
        provider.deny = row.deny;
        folder.write(GeneralFile, "[Mossvale]\r\nSignIn=oauth2\r\nOAuthClientId=mossvale-test\r\nOAuthScope=mail\r\n"
                                  "OAuthAuthorizeUrl=" +
                                      provider.url("authorize").toLatin1() +
                                      "\r\nOAuthTokenUrl=" + provider.url("token").toLatin1() + "\r\n");
        folder.write("★MailData/Tlxdata50.data", keywordFileBytes({"spam offer"}));
        folder.writeAccount("bob", "");

        QList<QByteArray> bearers;
        int refusals = row.refuseFirst ? 1 : 0;
        auto mailbox = scriptedMailbox({{"a", mailMessage("spam offer", "x", "x@spam.example")},
                                        {"b", mailMessage("お元気ですか", "y", "y@example.org")}});
        ScriptedPop3Server server({"T", "S: +OK ready"}, [&](const QByteArray& line) -> QList<QByteArray> {
            if (line == "CAPA")
                return {"+OK", "UIDL", "TOP", "SASL XOAUTH2 OAUTHBEARER", "."};
            if (line.startsWith("AUTH ")) {
                bearers << bearerOf(line);
                return {refusals-- > 0 ? "+ " + QByteArray(R"({"status":"invalid_token"})").toBase64() : "+OK"};
            }
            return line == "AQ==" ? QList<QByteArray>{"-ERR invalid"} : mailbox(line);
        });
        server.useTls(m_tls.certificate, m_tls.key);
        QVERIFY(server.start());
        const QString address = u"pop3s://"_qs + server.server();
        SettingsModel settings;
        settings.setServer({}, address, {}, 0);
        if (row.stored != Stored::None) {
            QByteArray token = provider.issueRefresh();
            if (row.stored == Stored::Revoked)
                provider.revoked.insert(token);
            bool stored = false;
            RefreshTokenStore::write(address, u"bob"_qs, token, this,
                                     [&](const QString&, const QString&) { stored = true; });
            QVERIFY(QTest::qWaitFor([&] { return stored; }));
        }
        OAuthTokens::forgetAccessTokens();
        QNetworkAccessManager browser;
        int opened = 0;
        OAuthTokens::setBrowser([&](const QUrl& url) {
            ++opened;
            browser.get(QNetworkRequest(url)); // follows the redirect back to the program
            return true;
        });

        Pop3Options options;
        options.extraTrustedCertificates = {m_tls.certificate};
        RecordingWindows windows;
        const CheckOutcome outcome = runCheck(windows, settings, row.manual, options);
        QVERIFY2(outcome.kind == row.kind, qPrintable(outcome.details()));
        QCOMPARE(provider.log, row.provider);
        QCOMPARE(opened, row.provider.count(u"authorize"_qs));
        QCOMPARE(outcome.deleted, row.kind == Kind::Checked ? 1 : 0);
        // Every token the mail server saw came from the provider, a renewed one new each time.
        QCOMPARE(bearers.size(), row.kind == Kind::Checked ? 1 + row.refuseFirst : 0);
        QVERIFY(bearers.size() < 2 || bearers.at(0) != bearers.at(1));
        QVERIFY(!server.received().contains("DELE 2"));
        // The refresh token kept is the provider's; nothing is kept after a refusal.
        QByteArray kept;
        bool read = false;
        RefreshTokenStore::read(address, u"bob"_qs, this, [&](const QByteArray& token, const QString&) {
            kept = token;
            read = true;
        });
        QVERIFY(QTest::qWaitFor([&] { return read; }));
        QCOMPARE(kept.isEmpty(), row.kind != Kind::Checked);
        QVERIFY(kept.isEmpty() || provider.issuedRefresh(kept));
        QVERIFY(kept.isEmpty() || folder.mode("★MailData/oauth2.tsv") == 0600);
        QCOMPARE(server.received().isEmpty(), bearers.isEmpty()); // no token: no connection
        if (bearers.isEmpty()) {                                  // let the server go without its 30 s wait
            QTcpSocket knock;
            knock.connectToHost(QHostAddress::LocalHost, quint16(server.server().section(u':', 1).toUInt()));
            QVERIFY(knock.waitForConnected(5000));
        }
    }
};

QTEST_MAIN(TestOAuthCheck)
#include "tst_oauthcheck.moc"
