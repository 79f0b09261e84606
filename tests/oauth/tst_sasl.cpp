#include "TableRows.h"
#include "maillib/Pop3Session.h"
#include "maillib/Pop3Texts.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/ScriptedPop3Server.h"
#include "tests/support/SessionSteps.h"
#include "tests/support/TestCertificate.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

using Script = QList<QByteArray>;
using State = Pop3Session::State;

namespace {

const QByteArray token = "ya29.a0-tok_en~1/+x==";
const QByteArray bearer = "user=bob\1auth=Bearer " + token + "\1\1"; // the XOAUTH2 message
const QByteArray plain = QByteArray("\0bob\0secret", 11).toBase64();

// One login against a server that lists sasl in CAPA: the script from AUTH (or USER) on.
struct Exchange
{
    const char* name;
    QByteArray sasl;        // CAPA's SASL line, without "SASL"
    Script auth;            // what follows CAPA
    QByteArray token;       // empty: the password "secret"
    int count = -1;         // the login's count; -1: refused
    QString error = {};     // the start of errorText()
    bool plainText = false; // a remote server without TLS, plain text allowed for the password
    bool tokenRefused = false;
    bool apop = false; // the user chose APOP
};

} // namespace

// The SASL exchange of Pop3Session against a scripted server.
class TestSasl : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestCertificate m_tls;

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"openssl"}).isEmpty(), "openssl");
        QCOMPARE(m_tls.make(m_dir.path()), QString());
    }

    // The client sends exactly the script's lines, and after a login STAT, LIST, UIDL, STAT and QUIT: never
    // a secret the row does not expect, never past a bounded exchange.
    void exchanges_data()
    {
        const auto add = addRow<Exchange>();
        const QByteArray longToken = QByteArray(300, 'T');
        const QByteArray error = "S: + " + QByteArray(R"({"status":"invalid_token"})").toBase64();
        // clang-format off
        add({"PLAIN over TLS", "PLAIN LOGIN", {"C: AUTH PLAIN " + plain, "S: +OK"}, {}, 2});
        add({"no PLAIN: USER/PASS", "LOGIN", {"C: USER bob", "S: +OK", "C: PASS secret", "S: +OK"}, {}, 2});
        add({"APOP chosen: never PLAIN", "PLAIN", {"C: APOP bob " + QCryptographicHash::hash("<1.2@test>secret", QCryptographicHash::Md5).toHex(), "S: +OK"}, {}, 2, {}, false, false, true});
        add({"plain text: USER/PASS, never PLAIN", "PLAIN", {"C: USER bob", "S: +OK", "C: PASS secret", "S: +OK"}, {}, 2, {}, true});
        add({"long token after the empty challenge", "XOAUTH2", {"C: AUTH XOAUTH2", "S: + ", "C: " + QByteArray("user=bob\1auth=Bearer " + longToken + "\1\1").toBase64(), "S: +OK"}, longToken, 2});
        add({"XOAUTH2 refused", "XOAUTH2", {"C: AUTH XOAUTH2 " + bearer.toBase64(), error, "C: ", "S: -ERR invalid", "C: QUIT", "S: +OK", "X"}, token, -1, Pop3Texts::tokenRefused, false, true});
        add({"OAUTHBEARER refused", "OAUTHBEARER", {"C: *", error, "C: AQ==", "S: -ERR invalid", "C: QUIT", "S: +OK", "X"}, token, -1, Pop3Texts::tokenRefused, false, true});
        add({"endless exchange", "PLAIN", {"C: *", "S: +", "C: *", "S: +", "C: *", "S: +", "C: *", "S: +", "C: *", "S: +", "W: 1500"}, {}, -1, Pop3Texts::saslEndless(4)});
        add({"no OAuth mechanism", "PLAIN", {}, token, -1, Pop3Texts::noTokenMechanism});
        add({"token never in plain text", "XOAUTH2 OAUTHBEARER", {}, token, -1, Pop3Texts::tokenNeedsTls(u"127.0.0.2"_qs), true});
        add({"token that could end a field", "XOAUTH2", {}, "tok\1en", -1, Pop3Texts::badToken});
        // clang-format on
    }

    void exchanges()
    {
        QFETCH(Exchange, row);
        const QString host = row.plainText ? u"127.0.0.2"_qs : u"127.0.0.1"_qs;
        const Script capa = {"S: +OK ready <1.2@test>", "C: CAPA", "S: +OK", "S: SASL " + row.sasl, "S: ."};
        ScriptedPop3Server server((row.plainText ? Script{} : Script{"T"}) + capa + row.auth, [](const QByteArray& c) {
            return Script{c == "STAT" ? "+OK 2 20" : c == "QUIT" ? "+OK" : "-ERR"};
        });
        server.useTls(m_tls.certificate, m_tls.key);
        QVERIFY(server.start(QHostAddress(host)));
        Pop3Options options;
        options.replyTimeoutMs = 1000;
        options.extraTrustedCertificates = {m_tls.certificate};
        options.trust.treatAsRemote = options.trust.plainTextAllowed = {host};
        Pop3Session session(options);
        QVERIFY(SessionSteps::open(session, (row.plainText ? QString() : u"pop3s://"_qs) + server.server()));
        row.token.isEmpty() ? session.login(u"bob"_qs, u"secret"_qs, row.apop)
                            : session.loginWithToken(u"bob"_qs, row.token);
        SessionSteps::settle(session, {State::Authenticating, State::Authorizing});
        QCOMPARE(session.state() == State::Transaction ? session.messageCount() : -1, row.count);
        QVERIFY2(session.errorText().startsWith(row.error), qPrintable(session.errorText()));
        QCOMPARE(session.tokenRefused(), row.tokenRefused);
        QCOMPARE(SessionSteps::close(session), row.count >= 0 || row.tokenRefused); // a refused token leaves it open
        QVERIFY2(server.waitForFinished() && server.failure().isEmpty(), qPrintable(server.failure()));
        const qsizetype scripted = std::count_if(row.auth.begin(), row.auth.end(), [](auto& l) { return l[0] == 'C'; });
        // A login the server refused ends with a goodbye (QUIT) of its own.
        const bool goodbye =
            session.refused() && !row.tokenRefused && session.errorText().contains(u"サーバーの応答"_qs);
        QCOMPARE(server.received().size(), 1 + scripted + (row.count >= 0 ? 5 : 0) + (goodbye ? 1 : 0));
    }
};

QTEST_GUILESS_MAIN(TestSasl)
#include "tst_sasl.moc"
