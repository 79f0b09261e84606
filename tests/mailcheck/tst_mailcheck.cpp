#include "DovecotServer.h"
#include "MailFixtures.h"
#include "RecordingWindows.h"
#include "ScriptedPop3Server.h"
#include "keywords/KeywordFile.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MessageJudge.h"
#include "mailcheck/SavedCopies.h"
#include "platform/MessageBox.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QDir>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTest>
#include <QTreeWidget>
#include <csignal>
#include <memory>
#include <sys/resource.h>

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
const QStringList Spam{"spam offer", "店", "x@spam.example"};
const QStringList Wanted{"お元気ですか", "友人", "friend@example.org"};
const QStringList Boss{"spam の件", "上司", "boss@mail.example.jp"};
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
    CheckOutcome check(RecordingWindows& windows, bool manual = true, const Pop3Options& options = checkOptions())
    {
        windows.applySwitches(*m_settings);
        return runCheck(windows, *m_settings, manual, options);
    }
    // The keyword and allow lists the history cases share.
    void useHistoryRules() const
    {
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"spam"}));
        m_folder->write("★MailData/allow.txt", "# the boss\n@Example.JP\n");
    }
    qsizetype logins(const QString& user) const { return loginsOf(*m_server, user); }
    // Starts server as the account u/p's, with these keywords.
    bool useScripted(ScriptedPop3Server& server, const QStringList& keywords)
    {
        if (!server.start())
            return false;
        m_settings->setServer({}, server.server(), {}, 0);
        m_folder->writeAccount("u", "p");
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes(keywords));
        return true;
    }
    // Whether the memory of the last check says the server offered PIPELINING over TLS.
    bool pipeliningMarked() const
    {
        QFile seen(m_folder->file("★MailData/seen.tsv"));
        return seen.open(QIODevice::ReadOnly) && seen.readLine().trimmed().endsWith("\tpipelining");
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

    // What remains is announced as the settings say; nothing new, and only then, hangs up.
    void announces_data()
    {
        QTest::addColumn<AnnounceRow>("row");
        const QStringList a{"a", "a", "a@a.jp"};
        const QStringList spam{"spam", "s", "s@spam.example"};
        const QString notice = QStringLiteral("notice 新着メールがあります。 %1");
        const QString noProgram = QStringLiteral("message [Mossvale] 起動するメーラーが設定されていません。");
        const QStringList closes{"scene", notice.arg(1), "unload notice"};
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
        const Script loginRefused = {"S: +OK ready", "C: CAPA",   "S: -ERR",          "C: USER u",
                                     "S: +OK",       "C: PASS p", "S: -ERR [AUTH] no"};
        // clang-format off
        const FailureRow rows[] = {
            {"no such host", {}, "nosuch.invalid", Kind::NoConnection, "見つかりません", false},
            {"port closed", {}, closedPort, Kind::NoConnection, "接続を拒否しました", false},
            {"silent after the greeting", {"S: +OK ready", "W: 3000"}, {}, Kind::NoConnection, "応答がありません", false},
            {"dropped mid-check", Greeting + stat + Script{"C: TOP 1 0", "X"}, {}, Kind::Broken, "途中で切れました", false},
            {"QUIT refused", Greeting + stat + quitRefused, {}, Kind::Unconfirmed, "正しく終了できませんでした", true},
            {"login refused", loginRefused, {}, Kind::LoginRefused, "-ERR [AUTH] no", false},
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
    // Once the server offered PIPELINING over TLS, the next check goes to STLS at once and sends
    // CAPA with the login; the failed check forgets that.
    void certificateTrustedOnPurpose()
    {
        const QString user = mailbox({{"a", "a", "a@a.jp"}});
        const auto attempts = [&] { return m_server->log().count(QStringLiteral("user=<%1>").arg(user)); };
        Pop3Options options = checkOptions();
        options.extraTrustedCertificates.clear();
        RecordingWindows windows;
        for (const bool trusted : {false, true}) {
            windows.answer = trusted;
            QCOMPARE(check(windows, true, options).kind, trusted ? Kind::Checked : Kind::Insecure);
            QVERIFY(windows.calls.filter("trust? ").last().contains(certificateFingerprint(m_server->certificate())));
            QTRY_COMPARE(attempts(), trusted ? 1 : 0);
        }
        windows.calls.clear();
        QVERIFY(pipeliningMarked());
        QCOMPARE(check(windows, false, options).kind, Kind::Checked);
        QTRY_COMPARE(attempts(), 2);
        TlsTrust trust;
        const QString file = m_folder->file("★MailData/tls.tsv");
        QVERIFY(trust.load(file).isEmpty() && trust.encrypted.contains("127.0.0.1"));
        trust.pinned["127.0.0.1"] = QSslConfiguration::systemCaCertificates().value(0);
        QVERIFY(trust.save(file).isEmpty());
        // A pin is the only certificate accepted, even where an issuer the system trusts signed another.
        const CheckOutcome changed = check(windows, false, checkOptions());
        QVERIFY2(changed.reason.contains(QStringLiteral("証明書が、信頼すると決めた証明書から変わっています")),
                 qPrintable(changed.reason));
        QVERIFY(windows.calls.filter("trust? ").isEmpty());
        QCOMPARE(attempts(), 2);
        QVERIFY(!pipeliningMarked());
    }

    // Every way in reads and deletes alike: STLS or TLS from the first byte, USER/PASS or APOP,
    // pipelined or one request at a time.
    void logsInEveryWay_data()
    {
        QTest::addColumn<bool>("pop3s");
        QTest::addColumn<bool>("apop");
        QTest::addColumn<bool>("pipelining");
        QTest::newRow("STLS, USER/PASS, pipelined") << false << false << true;
        QTest::newRow("POP3S, USER/PASS, pipelined") << true << false << true;
        QTest::newRow("POP3S, APOP, one at a time") << true << true << false;
    }

    void logsInEveryWay()
    {
        QFETCH(bool, pop3s);
        QFETCH(bool, apop);
        QFETCH(bool, pipelining);
        const QString user = mailbox({Spam, Wanted, Spam, Boss});
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"spam offer"}));
        m_settings->setServer({}, pop3s ? m_server->tlsServer() : m_server->plainServer(), {}, apop ? 1 : 0);
        Pop3Options options = checkOptions();
        options.allowPipelining = pipelining;
        RecordingWindows windows;
        const CheckOutcome outcome = check(windows, true, options);
        QVERIFY2(outcome.kind == Kind::Checked, qPrintable(outcome.details()));
        QCOMPARE(outcome.deleted, 2);
        QCOMPARE(subjectsLeft(user), (QStringList{Wanted.first(), Boss.first()}));
        QVERIFY(m_server->log().contains(apop ? "method=APOP" : "method=PLAIN"));
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
        for (const Step& step : {Step{false, true, Kind::Insecure, 0}, Step{true, false, Kind::Insecure, 1},
                                 Step{true, true, Kind::Checked, 2}, Step{false, false, Kind::Checked, 2}}) {
            ScriptedPop3Server server(step.kind == Kind::Checked ? login : Greeting.mid(0, 6));
            QVERIFY(server.start(QHostAddress("127.0.0.2")));
            m_settings->setServer({}, server.server(), {}, 0);
            windows.answer = step.answer;
            QCOMPARE(check(windows, step.manual, options).kind, step.kind);
            QCOMPARE(windows.calls.filter("ask ").size(), step.asked);
            QVERIFY(windows.calls.filter("message [").isEmpty()); // a "no" needs no box after it
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
        ScriptedPop3Server server(
            Greeting + Script{"C: STAT",    "S: +OK 3 300", "C: LIST",      "S: -ERR",        "C: UIDL",
                              "S: -ERR",    "C: TOP 1 0",   "S: " + spam,   "C: TOP 2 0",     "S: -ERR no such message",
                              "C: TOP 3 0", "S: " + spam,   "C: DELE 1",    "S: -ERR locked", "C: DELE 3",
                              "S: +OK",     "C: STAT",      "S: +OK 2 200", "C: QUIT",        "S: +OK bye"});
        QVERIFY(useScripted(server, {"spam"}));
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
        const QString user = mailbox({{"a", "a", "a@a.jp"}, {"old offer", "b", "b@b.jp"}, {"c", "c", "c@c.jp"}});
        RecordingWindows windows;
        windows.noticeBoard = true;
        QCOMPARE(check(windows).remaining(), 3);
        QVERIFY(m_server->deliver(user, mailMessage("d", "d", "d@d.jp")) &&
                m_server->deliver(user, mailMessage("new offer", "e", "e@e.jp")));
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"offer"}));
        m_settings->setAddedSwitch(SettingKey::AnnounceNewOnly, true);
        const CheckOutcome second = check(windows);
        QCOMPARE(second.deleted, 2);
        QCOMPARE(subjectsLeft(user), (QStringList{"a", "c", "d"}));
        QCOMPARE(windows.calls.last(), QStringLiteral("notice 新着メールがあります。 1"));
        windows.calls.clear();
        QCOMPARE(check(windows).fresh, 0);
        QVERIFY(!windows.calls.contains("scene"));
        // Headers read per check: all three; the two new and the remembered "old offer", which now
        // matches and is read again before its deletion; none.
        QTRY_COMPARE(topsPerSession(*m_server, user), (QList<int>{3, 3, 0}));
    }

    // Headers the server will not give are never "no mail": the messages stay, count as mail, and the
    // user is told how many could not be read; no hang-up. A count that the server's answers belie
    // ends the asking after MaxRefusedInARow refusals in a row.
    void unreadMailIsNeverNothing_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("served"); // messages whose headers the server gives
        QTest::newRow("every TOP of 25 refused") << 25 << 0;
        QTest::newRow("a count of 100,000, three served") << 100000 << 3;
    }

    void unreadMailIsNeverNothing()
    {
        QFETCH(int, count);
        QFETCH(int, served);
        const QByteArray stat = "+OK " + QByteArray::number(count) + " 100";
        ScriptedPop3Server server(
            Greeting + Script{"C: STAT", "S: " + stat, "C: LIST", "S: -ERR", "C: UIDL", "S: -ERR"},
            [served, stat](const QByteArray& command) -> QList<QByteArray> {
                if (command.startsWith("TOP") && command.split(' ').value(1).toInt() <= served)
                    return {"+OK", "Subject: spam", "", "."};
                return {command.startsWith("STAT") ? stat : QByteArray(command.startsWith("TOP") ? "-ERR no" : "+OK")};
            });
        QVERIFY(useScripted(server, {"nothing matches this"}));
        Pop3Options options = checkOptions();
        options.allowPipelining = false;
        RecordingWindows windows;
        windows.hangUpSwitch = true;
        const CheckOutcome outcome = check(windows, true, options);
        QCOMPARE(outcome.kind, Kind::Checked);
        QCOMPARE(outcome.remaining(), count);
        QCOMPARE(outcome.unread, count - served);
        QVERIFY(!outcome.foundNothing() && !windows.calls.contains("hang up"));
        QVERIFY2(outcome.details().contains(QStringLiteral("%1 通はヘッダーを読み取れなかった").arg(count - served)),
                 qPrintable(outcome.details()));
        QVERIFY(server.waitForFinished());
        const QList<QByteArray> sent = server.received();
        QCOMPARE(std::count_if(sent.begin(), sent.end(), [](const QByteArray& c) { return c.startsWith("TOP"); }),
                 served + MailCheck::MaxRefusedInARow);
        QVERIFY(!sent.contains("DELE 1"));
    }

    // Memory decides what is read, never what is deleted: a message that memory condemns, or whose id
    // now belongs to a message of another size, is read again and judged on its own headers.
    void memoryDecidesWhatIsRead_data()
    {
        QTest::addColumn<QByteArray>("remembered");
        QTest::addColumn<bool>("sameSize");
        QTest::addColumn<QByteArray>("now");
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("id reused, same size")
            << QByteArray("casino bonus") << true << QByteArray("Lunch plans!") << true << false;
        QTest::newRow("id reused, other size")
            << QByteArray("Lunch") << false << QByteArray("casino bonus") << true << true;
        QTest::newRow("remembered, unchanged")
            << QByteArray("Lunch plans!") << true << QByteArray("Lunch plans!") << false << false;
        QTest::newRow("remembered spam") << QByteArray("casino bonus") << true << QByteArray("casino bonus") << true
                                         << true;
    }

    void memoryDecidesWhatIsRead()
    {
        QFETCH(QByteArray, remembered);
        QFETCH(bool, sameSize);
        QFETCH(QByteArray, now);
        QFETCH(bool, read);
        QFETCH(bool, deleted);
        const QByteArray message = "Subject: " + now + "\r\nFrom: a@b.jp\r\n\r\nbody\r\n";
        ScriptedPop3Server server({"S: +OK ready"}, scriptedMailbox({{"a2", message}}));
        QVERIFY(useScripted(server, {"casino"}));
        const SeenStore::Message before{message.size() + (sameSize ? 0 : 7), remembered, "a@b.jp"};
        QVERIFY(
            SeenStore::save(m_folder->file("★MailData/seen.tsv"), server.server(), "u", {{"a2", before}}).isEmpty());
        RecordingWindows windows;
        const CheckOutcome outcome = check(windows);
        QCOMPARE(outcome.kind, Kind::Checked);
        QCOMPARE(outcome.deleted, deleted ? 1 : 0);
        QCOMPARE(outcome.fresh, sameSize && remembered == now ? 0 : 1 - outcome.deleted); // another message is new mail
        QVERIFY(server.waitForFinished());
        QCOMPARE(server.received().contains("TOP 1 0"), read);
        QVERIFY(!pipeliningMarked()); // offered in plain text: not a promise a later check may act on
    }

    // A copy is stored only when it is the whole message that was judged; otherwise the message stays
    // on the server and the user is told.
    void copyIsTheWholeMessage_data()
    {
        const QByteArray spam = "Subject: casino\r\nFrom: a@b.jp\r\n\r\nline one of the body\r\nline two\r\n";
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("retr"); // empty: the message itself
        QTest::addColumn<bool>("deleted");
        QTest::newRow("whole") << spam << QByteArray() << true;
        QTest::newRow("cut short") << spam << spam.left(40) + "\r\n" << false;
        QTest::newRow("another message")
            << spam << QByteArray("Subject: lunch?\r\nFrom: x@b.jp\r\n\r\nline one of the body\r\nline two\r\n")
            << false;
        QTest::newRow("60 MB, past the copies' cap")
            << spam + QByteArray(999, 'x').append("\r\n").repeated(60000) << QByteArray() << false;
    }

    void copyIsTheWholeMessage()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, retr);
        QFETCH(bool, deleted);
        ScriptedPop3Server server({"S: +OK ready"}, scriptedMailbox({{"a1", message, retr}}));
        QVERIFY(useScripted(server, {"casino"}));
        m_settings->setAddedSwitch(SettingKey::KeepDeleted, true);
        RecordingWindows windows;
        Pop3Options options = checkOptions();
        options.replyTimeoutMs = 30000; // 60 MB from a server that writes a line at a time
        const CheckOutcome outcome = check(windows, true, options);
        QVERIFY2(outcome.kind == Kind::Checked, qPrintable(outcome.details()));
        QCOMPARE(outcome.deleted, deleted ? 1 : 0);
        QCOMPARE(outcome.unsaved.size(), deleted ? 0 : 1);
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files).size(), deleted ? 1 : 0);
        QVERIFY(server.waitForFinished());
        QCOMPARE(server.received().contains("DELE 1"), deleted);
    }

    // Once QUIT is out, a lost answer means "maybe deleted": the copy and the history line stay,
    // marked unconfirmed, and the next check settles the line by what the server holds.
    void lostQuitAnswerKeepsEverything()
    {
        const QByteArray spam = "Subject: casino\r\nFrom: a@b.jp\r\n\r\nbody\r\n";
        ScriptedPop3Server server(
            {"S: +OK ready"}, [mailbox = scriptedMailbox({{"a1", spam}})](const QByteArray& c) mutable {
                return c == "QUIT" ? QList<QByteArray>{} : mailbox(c); // the connection drops instead
            });
        QVERIFY(useScripted(server, {"casino"}));
        m_settings->setAddedSwitch(SettingKey::KeepDeleted, true);
        RecordingWindows windows;
        const CheckOutcome outcome = check(windows);
        QCOMPARE(outcome.kind, Kind::Unconfirmed);
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files).size(), 1);
        QList<HistoryEntry> history = DeletionHistory::read();
        QVERIFY(history.size() == 1 && history.first().unconfirmed && history.first().uid == "a1");

        ScriptedPop3Server after({"S: +OK ready"}, scriptedMailbox({}));
        QVERIFY(after.start());
        m_settings->setServer({}, after.server(), {}, 0);
        QCOMPARE(check(windows).kind, Kind::Checked);
        history = DeletionHistory::read();
        QVERIFY(history.size() == 1 && !history.first().unconfirmed);
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files).size(), 1);
    }

    // Trial mode deletes nothing and records the match; then, with saving on, the same message goes,
    // its copy holding exactly the bytes Dovecot held; the allowed sender's mail stays.
    void trialThenKeepAndDelete()
    {
        useHistoryRules();
        const QString user = mailbox({Spam, Wanted, Boss});
        m_server->deliver(user, "Subject: spam\r\nFrom: x@spam.example\r\n\r\n.leading dot\r\n..two\r\n");
        const QList<QByteArray> before = m_server->messages(user);
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER=0\r\n[Mossvale]\r\nKeepDeleted=1\r\nTrialMode=1\r\n");
        m_settings->loadGeneral();
        RecordingWindows windows;
        CheckOutcome outcome = check(windows);
        QCOMPARE(outcome.remaining(), 4);
        QCOMPARE(outcome.trialMatches, 2);
        QCOMPARE(m_server->messages(user), before);
        QVERIFY(!m_folder->exists("★MailData/Deleted"));
        const QList<HistoryEntry> trial = DeletionHistory::read();
        QCOMPARE(trial.size(), 2);
        QVERIFY(trial.at(0).trial && trial.at(1).trial);

        m_settings->setAddedSwitch(SettingKey::TrialMode, false);
        outcome = check(windows);
        QCOMPARE(outcome.deleted, 2);
        QCOMPARE(m_server->messages(user), (QList<QByteArray>{before.at(1), before.at(2)}));
        const QList<HistoryEntry> history = DeletionHistory::read();
        QCOMPARE(history.size(), 4);
        for (int i : {1, 0}) { // newest first: message 4, then message 1
            const HistoryEntry& entry = history.at(1 - i);
            const QByteArray original = before.at(i * 3);
            QVERIFY(!entry.trial && !entry.uid.isEmpty());
            QCOMPARE(entry.keyword, QStringLiteral("spam"));
            QCOMPARE(entry.size, qint64(original.size()));
            QFile copy(SavedCopies::find(entry));
            QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(entry.subject));
            QCOMPARE(copy.readAll(), original);
        }
    }

    // A copy that cannot be written (a file-size limit standing in for a full disk) keeps its message.
    void unwritableCopyKeepsMail()
    {
        useHistoryRules();
        const QString user = mailbox({Spam});
        m_server->deliver(user, "Subject: spam big\r\nFrom: y@spam.example\r\n\r\n" +
                                    QByteArray(1000, 'x').append("\r\n").repeated(100));
        m_settings->setAddedSwitch(SettingKey::KeepDeleted, true);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 50000;
        setrlimit(RLIMIT_FSIZE, &small);
        RecordingWindows windows;
        const CheckOutcome outcome = check(windows);
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(outcome.deleted, 1);
        QCOMPARE(outcome.unsaved, QList<int>{2});
        QVERIFY2(outcome.notice.contains(QStringLiteral("上限を超えます")), qPrintable(outcome.notice));
        QCOMPARE(m_server->messages(user).size(), 1);
        QVERIFY(m_server->messages(user).at(0).contains("spam big"));
        QCOMPARE(DeletionHistory::read().size(), 1);
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files).size(), 1);
    }
};

QTEST_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
