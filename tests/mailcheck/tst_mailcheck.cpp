#include "DovecotServer.h"
#include "MailFixtures.h"
#include "Pop3Proxy.h"
#include "RecordingWindows.h"
#include "ScriptedPop3Server.h"
#include "settings/Settings.h"

#include <QDir>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTest>
#include <memory>

using Kind = CheckOutcome::Kind;
using Script = QList<QByteArray>;

namespace {
const QString Password = QStringLiteral("secret");
const Script Greeting = {"S: +OK ready", "C: CAPA",   "S: +OK", "S: TOP",    "S: USER",
                         "S: .",         "C: USER u", "S: +OK", "C: PASS p", "S: +OK"};

// What the windows are told after a check of a mailbox of these messages.
struct AnnounceRow
{
    const char* name;
    QList<QStringList> messages; // subject, sender name, sender address
    QStringList keywords;
    NewMailAction action;
    bool autoClose;
    bool hangUp;
    QString program;
    QStringList calls; // after the account line
    int left;
};

// How a check that could not check ends.
struct FailureRow
{
    const char* name;
    Script script; // for the scripted server; empty: the server is given as is
    QString server;
    Kind kind;
    const char* reason; // a part of the reason the user is shown
    bool quitSent;
};
} // namespace

Q_DECLARE_METATYPE(AnnounceRow)
Q_DECLARE_METATYPE(FailureRow)

// One check: what is deleted on the server, what the windows are told, and how failures end.
class TestMailCheck : public QObject
{
    Q_OBJECT

    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    int m_users = 0;

    QString mailbox(const QList<QStringList>& messages)
    {
        const QString user = QStringLiteral("check%1").arg(++m_users);
        if (!fillMailbox(*m_server, user, Password, messages))
            return {};
        m_folder->writeAccount(user, Password);
        return user;
    }
    QStringList subjectsLeft(const QString& user) const
    {
        QStringList subjects;
        for (const QByteArray& message : m_server->messages(user)) {
            const qsizetype at = message.indexOf("Subject: =?UTF-8?B?");
            subjects << QString::fromUtf8(QByteArray::fromBase64(message.mid(at + 19).split('?').value(0)));
        }
        return subjects;
    }
    CheckOutcome check(RecordingWindows& windows, bool manual = true)
    {
        windows.applySwitches(*m_settings);
        return MailCheck(windows, *m_settings, checkOptions()).run(manual);
    }
    qsizetype logins(const QString& user) const
    {
        return m_server->log().count(QStringLiteral("Login: user=<%1>").arg(user));
    }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE_DOVECOT();
        QString error;
        m_server = startTrustedDovecot(&error);
        QVERIFY2(m_server, qPrintable(error));
    }
    void cleanupTestCase() { m_server.reset(); }
    void init()
    {
        m_folder = std::make_unique<TestProgramFolder>();
        m_settings = std::make_unique<SettingsModel>();
        m_settings->setServer({}, m_server->plainServer(), {}, 0);
    }

    // Exactly the matching mail goes, wherever the keyword is; the finer rules are judged in
    // tst_history.
    void deletesByKeyword_data()
    {
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QStringList>("subject"); // subject, sender name, sender address
        QTest::addColumn<bool>("deleted");
        const QStringList plain{"お元気ですか", "友人", "friend@example.jp"};
        QTest::newRow("in subject") << QStringList{"未承諾広告※"}
                                    << QStringList{"未承諾広告※ 激安セール", "店", "shop@example.jp"} << true;
        QTest::newRow("in sender address")
            << QStringList{"spam.example"} << QStringList{"ご案内", "店", "info@spam.example"} << true;
        QTest::newRow("in display name") << QStringList{"出会い"} << QStringList{"やあ", "出会いの会", "a@b.jp"}
                                         << true;
        QTest::newRow("no keyword") << QStringList{"未承諾広告※"} << plain << false;
        QTest::newRow("spaces around keyword")
            << QStringList{"  激安  "} << QStringList{"本日激安", "x", "x@y.jp"} << true;
    }

    void deletesByKeyword()
    {
        QFETCH(QStringList, keywords);
        QFETCH(QStringList, subject);
        QFETCH(bool, deleted);
        const QStringList keep{"残すメール", "知人", "keep@example.jp"};
        const QString user = mailbox({keep, subject, keep});
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes(keywords));
        RecordingWindows windows;
        const CheckOutcome outcome = check(windows);
        QCOMPARE(outcome.kind, Kind::Checked);
        QCOMPARE(outcome.messages, 3);
        QCOMPARE(outcome.deleted, deleted ? 1 : 0);
        QStringList left{"残すメール", "残すメール"};
        if (!deleted)
            left.insert(1, subject.first());
        QCOMPARE(subjectsLeft(user), left);
    }

    // What remains is announced as the settings say; nothing new, and only then, hangs up.
    void announces_data()
    {
        QTest::addColumn<AnnounceRow>("row");
        const QStringList a{"a", "a", "a@a.jp"};
        const QStringList spam{"spam", "s", "s@spam.example"};
        const QString notice = QStringLiteral("notice 新着メールがあります。 %1");
        const QString noProgram = QStringLiteral("message [Mossvale] 起動するメーラーが設定されていません。");
        const QStringList closes{"scene", notice.arg(1), "wait 1000", "unload notice"};
        const QStringList started{"scene", "start [/bin/mail x]"};
        using enum NewMailAction;
        const AnnounceRow rows[] = {
            {"empty, hang-up on", {}, {}, NoticeBoard, false, true, "", {"hang up"}, 0},
            {"empty, hang-up off", {}, {}, NoticeBoard, false, false, "", {}, 0},
            {"all deleted: no scene, no hang-up", {spam, spam}, {"spam"}, NoticeBoard, false, true, "", {}, 0},
            {"notice stays", {a, spam, a}, {"spam"}, NoticeBoard, false, true, "", {"scene", notice.arg(2)}, 2},
            {"notice closes itself", {a}, {}, NoticeBoard, true, false, "", closes, 1},
            {"mail program not set", {a}, {}, MailProgram, false, false, "未設定", {"scene", noProgram}, 1},
            {"mail program empty", {a}, {}, MailProgram, false, false, "", {"scene", noProgram}, 1},
            {"mail program, spaces trimmed", {a}, {}, MailProgram, false, false, "  /bin/mail x  ", started, 1},
        };
        for (const AnnounceRow& row : rows)
            QTest::newRow(row.name) << row;
    }

    void announces()
    {
        QFETCH(AnnounceRow, row);
        const QString user = mailbox(row.messages);
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes(row.keywords));
        RecordingWindows windows;
        windows.noticeBoard = row.action == NewMailAction::NoticeBoard;
        windows.mailProgram = row.action == NewMailAction::MailProgram;
        windows.autoClose = row.autoClose;
        windows.hangUpSwitch = row.hangUp;
        windows.programPath = row.program;
        QCOMPARE(check(windows).remaining(), row.left);
        QCOMPARE(windows.calls, QStringList{QStringLiteral("account %1 %2").arg(user, Password)} + row.calls);
        QCOMPARE(m_server->messages(user).size(), row.left); // announced mail stays on the server
    }

    // A check that could not check says why, announces nothing and never hangs up; one that
    // broke after the login sends no QUIT, so nothing is deleted.
    void failuresAreTold_data()
    {
        QTest::addColumn<FailureRow>("row");
        QTest::addColumn<bool>("manual");
        static QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        const QString closedPort = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        const Script stat = {"C: STAT", "S: +OK 2 200", "C: LIST", "S: -ERR", "C: UIDL", "S: -ERR"};
        const Script quitRefused = {"C: TOP 1 0", "S: -ERR",      "C: TOP 2 0", "S: -ERR",
                                    "C: STAT",    "S: +OK 2 200", "C: QUIT",    "S: -ERR busy"};
        const Script loginRefused = {"S: +OK ready", "C: CAPA",           "S: -ERR", "C: USER u", "S: +OK",
                                     "C: PASS p",    "S: -ERR [AUTH] no", "C: QUIT", "S: +OK"};
        // clang-format off
        const FailureRow rows[] = {
            {"no such host", {}, "nosuch.invalid", Kind::NoConnection, "見つかりません", false},
            {"port closed", {}, closedPort, Kind::NoConnection, "接続を拒否しました", false},
            {"silent after the greeting", {"S: +OK ready", "W: 3000"}, {}, Kind::NoConnection, "応答がありません", false},
            {"dropped mid-check", Greeting + stat + Script{"C: TOP 1 0", "X"}, {}, Kind::Broken, "途中で切れました", false},
            {"QUIT refused", Greeting + stat + quitRefused, {}, Kind::Broken, "正しく終了できませんでした", true},
            {"login refused", loginRefused, {}, Kind::LoginRefused, "-ERR [AUTH] no", true},
        };
        // clang-format on
        for (const FailureRow& row : rows) {
            QTest::addRow("%s, manual", row.name) << row << true;
            QTest::addRow("%s, timed", row.name) << row << false;
        }
    }

    void failuresAreTold()
    {
        QFETCH(FailureRow, row);
        QFETCH(bool, manual);
        ScriptedPop3Server server(row.script);
        QVERIFY(row.script.isEmpty() || server.start());
        m_settings->setServer({}, row.script.isEmpty() ? row.server : server.server(), {}, 0);
        m_folder->writeAccount("u", "p");
        RecordingWindows windows;
        windows.hangUpSwitch = true;
        windows.noticeBoard = true;
        const CheckOutcome outcome = check(windows, manual);
        QCOMPARE(outcome.kind, row.kind);
        QVERIFY2(outcome.reason.contains(QString::fromUtf8(row.reason)), qPrintable(outcome.reason));
        QVERIFY(!windows.calls.contains("hang up") && !windows.calls.contains("scene"));
        // A refused login always shows its box; a failure to check only when the user asked.
        const bool box = manual || row.kind == Kind::LoginRefused;
        QCOMPARE(windows.calls.filter(QStringLiteral("message [")).size(), box ? 1 : 0);
        QVERIFY(!outcome.summary().isEmpty());
        if (!row.script.isEmpty()) {
            QVERIFY(server.waitForFinished());
            QCOMPARE(server.received().contains("QUIT"), row.quitSent);
        }
    }

    // A certificate that fails verification is trusted only on purpose, and then only that one:
    // nothing of the account reaches the server before the decision, and a changed one is refused.
    void certificateTrustedOnPurpose()
    {
        const QString user = mailbox({{"a", "a", "a@a.jp"}});
        const auto attempts = [&] { return m_server->log().count(QStringLiteral("user=<%1>").arg(user)); };
        Pop3Options options = checkOptions();
        options.extraTrustedCertificates.clear();
        RecordingWindows windows;
        windows.applySwitches(*m_settings);
        for (const bool trusted : {false, true}) {
            windows.answer = trusted;
            QCOMPARE(MailCheck(windows, *m_settings, options).run(true).kind,
                     trusted ? Kind::Checked : Kind::NoConnection);
            QVERIFY(windows.calls.filter("trust? ").last().contains(certificateFingerprint(m_server->certificate())));
            QTRY_COMPARE(attempts(), trusted ? 1 : 0);
        }
        windows.calls.clear();
        QCOMPARE(MailCheck(windows, *m_settings, options).run(false).kind, Kind::Checked);
        QTRY_COMPARE(attempts(), 2);
        TlsTrust trust;
        const QString file = m_folder->file("★MailData/tls.tsv");
        QVERIFY(trust.load(file).isEmpty() && trust.encrypted.contains("127.0.0.1"));
        trust.pinned["127.0.0.1"] = QSslConfiguration::systemCaCertificates().value(0);
        QVERIFY(trust.save(file).isEmpty());
        const CheckOutcome changed = MailCheck(windows, *m_settings, options).run(false);
        QVERIFY2(changed.reason.contains(QStringLiteral("証明書が、信頼すると決めた証明書から変わっています")),
                 qPrintable(changed.reason));
        QVERIFY(windows.calls.filter("trust? ").isEmpty());
        QCOMPARE(attempts(), 2);
    }

    // Plain text to a server elsewhere: a timed check stops, a manual check asks, the answer is kept.
    void plainTextAskedOnce()
    {
        Pop3Options options = checkOptions();
        options.trust.treatAsRemote = {"127.0.0.2"};
        m_folder->writeAccount("u", "p");
        const Script login = Greeting + Script{"C: STAT", "S: +OK 0 0", "C: LIST",    "S: +OK",  "S: .",  "C: UIDL",
                                               "S: -ERR", "C: STAT",    "S: +OK 0 0", "C: QUIT", "S: +OK"};
        struct Step
        {
            bool manual, answer;
            Kind kind;
            qsizetype asked;
        };
        RecordingWindows windows;
        for (const Step& step : {Step{false, true, Kind::NoConnection, 0}, Step{true, false, Kind::NoConnection, 1},
                                 Step{true, true, Kind::Checked, 2}, Step{false, false, Kind::Checked, 2}}) {
            ScriptedPop3Server server(step.kind == Kind::Checked ? login : Greeting.mid(0, 6));
            QVERIFY(server.start(QHostAddress("127.0.0.2")));
            m_settings->setServer({}, server.server(), {}, 0);
            windows.answer = step.answer;
            QCOMPARE(MailCheck(windows, *m_settings, options).run(step.manual).kind, step.kind);
            QCOMPARE(windows.calls.filter("ask ").size(), step.asked);
            QVERIFY(server.waitForFinished());
            QCOMPARE(server.received().contains("USER u"), step.kind == Kind::Checked);
        }
    }

    void incompleteAccountNeverLogsIn()
    {
        const QString user = mailbox({{"a", "a", "a@a.jp"}});
        m_folder->write("★MailData/iniIdPass.ini", "[EXEINI]\r\nNAME=" + user.toLatin1() + "\r\nNAME2=\r\n");
        const qsizetype before = logins(user);
        RecordingWindows windows;
        windows.hangUpSwitch = true;
        QCOMPARE(check(windows).kind, Kind::AccountMissing);
        QCOMPARE(windows.calls, (QStringList{QStringLiteral("account %1 ").arg(user), "settings", "hang up"}));
        m_folder->writeAccount(user, Password);
        QCOMPARE(check(windows).kind, Kind::Checked);
        QTRY_COMPARE(logins(user), before + 1); // one login: the second check's
    }

    // A message whose headers are refused is never judged on another's texts; a list that
    // cannot be read deletes nothing and says so; a deletion refused is told and not counted.
    void neverJudgesBlind()
    {
        const QByteArray spam = "+OK\r\nSubject: spam offer\r\nFrom: a@spam.example\r\n\r\n.";
        ScriptedPop3Server server(Greeting +
                                  Script{"C: STAT",    "S: +OK 3 300",   "C: LIST",    "S: -ERR",
                                         "C: UIDL",    "S: -ERR",        "C: TOP 1 0", "S: " + spam,
                                         "C: DELE 1",  "S: -ERR locked", "C: TOP 2 0", "S: -ERR no such message",
                                         "C: TOP 3 0", "S: " + spam,     "C: DELE 3",  "S: +OK",
                                         "C: STAT",    "S: +OK 2 200",   "C: QUIT",    "S: +OK bye"});
        QVERIFY(server.start());
        m_settings->setServer({}, server.server(), {}, 0);
        m_folder->writeAccount("u", "p");
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"spam"}));
        RecordingWindows windows;
        windows.noticeBoard = true;
        const CheckOutcome outcome = check(windows);
        QVERIFY(server.waitForFinished());
        QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
        QCOMPARE(outcome.deleted, 1);
        QCOMPARE(outcome.refusedDeletions, QList<int>{1});
        QVERIFY2(outcome.notice.contains(QStringLiteral("メール1を削除できませんでした")), qPrintable(outcome.notice));
        QCOMPARE(windows.calls.last(), QStringLiteral("notice 新着メールがあります。 2"));

        m_settings->setServer({}, m_server->plainServer(), {}, 0);
        const QString user = mailbox({{"spam", "a", "a@a.jp"}});
        QFile::remove(m_folder->file("★MailData/Tlxdata50.data"));
        QVERIFY(QDir(m_folder->path()).mkpath("★MailData/Tlxdata50.data")); // a folder where the list should be
        const CheckOutcome unread = check(windows);
        QCOMPARE(unread.deleted, 0);
        QVERIFY2(unread.notice.contains(QStringLiteral("Tlxdata50.data")), qPrintable(unread.notice));
        QCOMPARE(m_server->messages(user).size(), 1);
    }

    // A later check asks only for the headers of mail it has not read, judges remembered mail by
    // today's keywords, and leaves exactly what a full scan would; with AnnounceNewOnly only the mail
    // that is new since the last check is announced.
    void scansOnlyNewMail()
    {
        Pop3Proxy proxy(m_server->port());
        m_settings->setServer({}, proxy.server(), {}, 0);
        const QString user = mailbox({{"a", "a", "a@a.jp"}, {"old offer", "b", "b@b.jp"}, {"c", "c", "c@c.jp"}});
        const auto tops = [&proxy] {
            QList<QByteArray> requests = proxy.requests();
            requests.removeIf([](const QByteArray& request) { return !request.startsWith("TOP"); });
            return requests;
        };
        RecordingWindows windows;
        windows.noticeBoard = true;
        QCOMPARE(check(windows).remaining(), 3);
        QCOMPARE(tops().size(), 3);
        QVERIFY(m_server->deliver(user, mailMessage("d", "d", "d@d.jp")) &&
                m_server->deliver(user, mailMessage("new offer", "e", "e@e.jp")));
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"offer"}));
        m_settings->setAddedSwitch(SettingKey::AnnounceNewOnly, true);
        const CheckOutcome second = check(windows);
        QCOMPARE(tops().mid(3), (QList<QByteArray>{"TOP 4 0", "TOP 5 0"}));
        QCOMPARE(second.deleted, 2);
        QCOMPARE(subjectsLeft(user), (QStringList{"a", "c", "d"}));
        QCOMPARE(windows.calls.last(), QStringLiteral("notice 新着メールがあります。 1"));
        windows.calls.clear();
        QCOMPARE(check(windows).fresh, 0);
        QVERIFY(!windows.calls.contains("scene"));
        QCOMPARE(tops().size(), 5);
    }

    // A count that the server's answers belie ends the scan early; only what exists is announced.
    void lyingCountIsBounded()
    {
        ScriptedPop3Server server(
            Greeting + Script{"C: STAT", "S: +OK 100000 100", "C: LIST", "S: -ERR", "C: UIDL", "S: -ERR"},
            [](const QByteArray& command) -> QList<QByteArray> {
                const int n = command.split(' ').value(1).toInt();
                if (command.startsWith("TOP") && n <= 3)
                    return {"+OK", "Subject: hi", "", "."};
                if (command.startsWith("STAT"))
                    return {"+OK 100000 100"};
                return {command.startsWith("TOP") || command.startsWith("UIDL") ? "-ERR no" : "+OK"};
            });
        QVERIFY(server.start());
        m_settings->setServer({}, server.server(), {}, 0);
        m_folder->writeAccount("u", "p");
        Pop3Options options = checkOptions();
        options.allowPipelining = false;
        RecordingWindows windows;
        windows.noticeBoard = true;
        windows.applySwitches(*m_settings);
        const CheckOutcome outcome = MailCheck(windows, *m_settings, options).run();
        QCOMPARE(outcome.remaining(), 3);
        QVERIFY(server.waitForFinished());
        const QList<QByteArray> sent = server.received();
        QCOMPARE(std::count_if(sent.begin(), sent.end(), [](const QByteArray& c) { return c.startsWith("TOP"); }),
                 3 + MailCheck::MaxRefusedInARow);
    }
};

QTEST_GUILESS_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
