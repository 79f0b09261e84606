#include "DovecotServer.h"
#include "MailFixtures.h"
#include "RecordingWindows.h"
#include "ScriptedMailbox.h"
#include "ScriptedPop3Server.h"
#include "mailcheck/SavedCopies.h"
#include "maillib/TlsTrust.h"
#include "platform/AtomicFile.h"
#include "settings/Settings.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

using Kind = CheckOutcome::Kind;
using Script = QList<QByteArray>;

namespace {
const QString Password = QStringLiteral("secret"), Keywords = QStringLiteral("★MailData/Tlxdata50.data");
const Script Greeting = {"S: +OK ready", "C: CAPA",   "S: +OK", "S: TOP",    "S: USER",
                         "S: .",         "C: USER u", "S: +OK", "C: PASS p", "S: +OK"};
const QStringList Spam{"spam offer", "店", "x@spam.example"};
const QStringList Wanted{"お元気ですか", "友人", "friend@example.org"};
const QStringList Boss{"spam の件", "上司", "boss@mail.example.jp"};
const QByteArray Casino = "Subject: casino\r\nFrom: a@b.jp\r\n\r\n.line one of the body\r\n..two\r\n";

// What the windows are told after a check of a Dovecot mailbox of these messages, and what stays.
struct AnnounceRow
{
    const char* name;
    QList<QStringList> messages = {};      // subject, sender name, sender address
    QStringList keywords = {}, calls = {}; // calls: after the account line
    QList<QStringList> left = {};          // the messages left on the server
    RecordingWindows::Switches switches = {};
    bool pop3s = false, apop = false, pipelining = true;
};

// A check of a scripted server: how it ends, what it reads, asks to delete, leaves, keeps as copies and tells.
struct ScriptedRow
{
    const char* name;
    Script script = {"S: +OK ready"}; // then the mailbox
    QList<ScriptedMessage> messages = {};
    MailboxFaults faults = {};
    // keep: KeepDeleted, trial: TrialMode, newOnly: AnnounceNewOnly
    bool manual = true, keep = false, trial = false, newOnly = false, pipelining = true, keywordsReadable = true;
    bool historyBlocked = false, wholeWithoutTop = false; // a folder where the history goes; RETR for want of TOP
    bool toldOnce = false; // nothing could be judged: a box says so, once for the server
    int cancelMs = 0;      // the program ends this long after the start
    rlim_t fileLimit = RLIM_INFINITY;       // how large a file this process may write
    int replyMs = 2000;                     // the reply time-out
    QString password = QStringLiteral("p"); // of the account u
    QByteArray remembered = {};             // the subject the memory holds for message 1's id, when set
    QString rememberedUser = QStringLiteral("u"); // whose memory that is
    int grew = 0;                           // how many bytes message 1 has more than the memory says
    Kind kind = Kind::Checked;
    Script dele = {};                                          // the deletions asked, in order
    int left = 0, tops = 1, unread = 0, fresh = 1, copies = 0; // left: what the check reports as remaining
    const char* told = "";                                     // a part of the details the user is shown
    QList<CopyProblem> copy = {};                              // why a judged message kept no copy
};

ScriptedMessage mail(const QByteArray& subject, const QByteArray& id = "a1", const QByteArray& from = "a@b.jp")
{
    return {id, "Subject: " + subject + "\r\nFrom: " + from + "\r\n\r\nbody\r\n"};
}

Script sentWith(const ScriptedPop3Server& server, const QByteArray& verb)
{
    Script lines;
    for (const QByteArray& line : server.received()) {
        if (line.startsWith(verb))
            lines << line;
    }
    return lines;
}

qsizetype copies()
{
    return QDir(SavedCopies::folder()).entryList(QDir::Files).size();
}
} // namespace

Q_DECLARE_METATYPE(AnnounceRow)
Q_DECLARE_METATYPE(ScriptedRow)

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
    // Starts server as the account u/p's, with the keyword "casino" and the boss allowed.
    bool useScripted(ScriptedPop3Server& server, const QHostAddress& address = QHostAddress(QHostAddress::LocalHost))
    {
        const bool started = server.start(address);
        m_settings->setServer({}, server.server(), {}, 0);
        m_folder->writeAccount("u", "p");
        m_folder->write(Keywords, keywordFileBytes({"casino"}));
        m_folder->write("★MailData/allow.txt", "# the boss\n@Example.JP\n");
        return started;
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
        std::signal(SIGXFSZ, SIG_IGN); // a file-size limit stands in for a full disk
    }
    void cleanupTestCase() { m_server.reset(); }
    void init()
    {
        m_folder = std::make_unique<TestProgramFolder>();
        m_settings = std::make_unique<SettingsModel>();
        m_settings->setServer({}, m_server->plainServer(), {}, 0);
    }

    // What remains is announced as the settings say; nothing new, and only then, hangs up. Every way
    // in reads and deletes alike: STLS or TLS from the first byte, USER/PASS or APOP, pipelined or not.
    void announces_data()
    {
        QTest::addColumn<AnnounceRow>("row");
        const QStringList a{"a", "a", "a@a.jp"}, spam{"spam", "s", "s@spam.example"};
        const QList<QStringList> mix{Spam, Wanted, Spam, Boss};
        const QString notice = QStringLiteral("notice 新着メールがあります。 %1");
        const QStringList two{"scene", notice.arg(2)};
        const QList<QStringList> kept{Wanted, Boss};
        using enum NewMailAction;
        // clang-format off
        const AnnounceRow rows[] = {
            {.name = "empty, hang-up on", .calls = {"hang up"}},
            {.name = "all deleted: no scene, no hang-up", .messages = {spam, spam}, .keywords = {"spam"}},
            {.name = "STLS, USER/PASS, pipelined", .messages = mix, .keywords = {"spam offer"}, .calls = two, .left = kept},
            {.name = "POP3S, APOP, one at a time", .messages = mix, .keywords = {"spam offer"}, .calls = two, .left = kept, .pop3s = true, .apop = true, .pipelining = false},
            {.name = "notice closes itself", .messages = {a}, .calls = {"scene", notice.arg(1), "unload notice"}, .left = {a}, .switches = {.autoClose = true}},
            {.name = "mail program not set", .messages = {a}, .calls = {"scene", "message [Mossvale] 起動するメーラーが設定されていません。"}, .left = {a}, .switches = {.action = MailProgram}},
            {.name = "mail program, spaces trimmed", .messages = {a}, .calls = {"scene", "start [/bin/mail x]"}, .left = {a}, .switches = {.action = MailProgram, .program = "  /bin/mail x  "}},
        };
        // clang-format on
        for (const AnnounceRow& row : rows)
            QTest::newRow(row.name) << row;
    }

    void announces()
    {
        QFETCH(AnnounceRow, row);
        const QString user = mailbox(row.messages);
        m_folder->write(Keywords, keywordFileBytes(row.keywords));
        m_settings->setServer({}, row.pop3s ? m_server->tlsServer() : m_server->plainServer(), {}, row.apop);
        Pop3Options options = checkOptions();
        options.allowPipelining = row.pipelining;
        RecordingWindows windows;
        windows.switches = row.switches;
        QCOMPARE(runCheck(windows, *m_settings, true, options).remaining(), row.left.size());
        QCOMPARE(windows.calls, QStringList{"account " + user + ' ' + Password} + row.calls);
        QList<QByteArray> left; // announced mail stays on the server
        for (const QStringList& m : row.left)
            left << mailMessage(m[0], m[1], m[2]);
        QCOMPARE(m_server->messages(user), left);
        QVERIFY(!row.apop || m_server->log().contains("user=<" + user + ">, method=APOP"));
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
            QCOMPARE(runCheck(windows, *m_settings, true, options).kind, trusted ? Kind::Checked : Kind::Insecure);
            QVERIFY(windows.calls.filter("trust? ").last().contains(certificateFingerprint(m_server->certificate())));
            QTRY_COMPARE(attempts(), trusted ? 1 : 0);
        }
        windows.calls.clear();
        QVERIFY(pipeliningMarked());
        QCOMPARE(runCheck(windows, *m_settings, false, options).kind, Kind::Checked);
        QTRY_COMPARE(attempts(), 2);
        TlsTrust trust;
        const QString file = m_folder->file("★MailData/tls.tsv");
        QVERIFY(trust.load(file).isEmpty() && trust.encrypted.contains("127.0.0.1"));
        trust.pinned["127.0.0.1"] = QSslConfiguration::systemCaCertificates().value(0);
        QVERIFY(trust.save(file).isEmpty());
        // A pin is the only certificate accepted, even where an issuer the system trusts signed another.
        const CheckOutcome changed = runCheck(windows, *m_settings, false, checkOptions());
        QVERIFY2(changed.reason.contains(QStringLiteral("証明書が、信頼すると決めた証明書から変わっています")),
                 qPrintable(changed.reason));
        QVERIFY(windows.calls.filter("trust? ").isEmpty());
        QCOMPARE(attempts(), 2);
        QVERIFY(!pipeliningMarked());
    }

    // A full disk where the history goes: nothing is deleted (no QUIT), and the user hears why, with the
    // free space. The data folder is a small tmpfs, filled up, which root cannot write through.
    void historyOnAFullDisk()
    {
        MOSSVALE_REQUIRE(::geteuid() == 0, "root, to mount a tmpfs");
        const QString user = mailbox({Spam, Wanted});
        m_folder->write(Keywords, keywordFileBytes({"spam offer"}));
        const QString data = m_folder->file("★MailData"), saved = data + ".saved";
        QVERIFY(QDir().rename(data, saved) && QDir().mkdir(data));
        QCOMPARE(QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=128k", "tmpfs", data}), 0);
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {data}); });
        for (const QString& name : QDir(saved).entryList(QDir::Files))
            QVERIFY(QFile::copy(saved + '/' + name, data + '/' + name));
        QFile filler(data + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {}
        filler.close();
        RecordingWindows windows;
        const CheckOutcome outcome = runCheck(windows, *m_settings);
        QCOMPARE(outcome.kind, Kind::LocalTrouble);
        QVERIFY2(outcome.reason.contains(u"空き容量"_qs) && outcome.reason.contains(u"削除していません"_qs),
                 qPrintable(outcome.reason));
        QCOMPARE(m_server->messages(user).size(), 2); // the spam is still there
    }

    // Plain text to a server elsewhere: a timed check stops, a manual check asks, the answer is kept.
    void plainTextAskedOnce()
    {
        Pop3Options options = checkOptions();
        options.trust.treatAsRemote = {"127.0.0.2"};
        RecordingWindows windows;
        using Step = std::tuple<bool, bool, Kind, qsizetype>; // manual, the answer, how it ends, questions so far
        for (const auto& [manual, answer, kind, asked] :
             {Step{false, true, Kind::Insecure, 0}, Step{true, false, Kind::Insecure, 1},
              Step{true, true, Kind::Checked, 2}, Step{false, false, Kind::Checked, 2}}) {
            ScriptedPop3Server server({"S: +OK ready"}, scriptedMailbox({}));
            QVERIFY(useScripted(server, QHostAddress("127.0.0.2")));
            windows.answer = answer;
            QCOMPARE(runCheck(windows, *m_settings, manual, options).kind, kind);
            QCOMPARE(windows.calls.filter("ask ").size(), asked);
            QVERIFY(windows.calls.filter("message [").isEmpty()); // a "no" needs no box after it
            QVERIFY(server.waitForFinished());
            QCOMPARE(server.received().contains("USER u"), kind == Kind::Checked);
        }
    }

    // Headers are read only where memory cannot vouch for them, and a message is judged on its own;
    // a copy is stored only when it is the whole message judged; headers the server will not give
    // are never "no mail"; a lost answer to QUIT keeps the copy and the history line, unconfirmed,
    // until the next check settles them by what the server holds. A check that could not check says
    // why, in a box only when the user asked or the login was refused, and never hangs up; one that
    // broke after the login sends no QUIT, so nothing is deleted.
    void scriptedChecks_data()
    {
        QTest::addColumn<ScriptedRow>("row");
        const Script stat = Greeting + Script{"C: UIDL", "S: -ERR", "C: STAT", "S: +OK 2 200", "C: LIST", "S: -ERR"};
        const Script quitRefused =
            stat + Script{"C: TOP 1 0", "S: +OK", "S: Subject: casino", "S: .", "C: TOP 2 0", "S: -ERR",
                          "C: DELE 1",  "S: +OK", "C: STAT",            "S: +OK 1 100", "C: QUIT", "S: -ERR busy"};
        const Script noTop = {"S: +OK ready", "C: CAPA", "S: +OK", "S: USER", "S: UIDL", "S: .",
                              "C: USER u",    "S: +OK",  "C: PASS p", "S: +OK"};
        const QByteArray large = "Subject: casino too\r\nFrom: a@b.jp\r\n\r\n" + QByteArray(1000, 'x').append("\r\n").repeated(300);
        const Script loginRefused = {"S: +OK ready", "C: CAPA",   "S: -ERR",          "C: USER u",
                                     "S: +OK",       "C: PASS p", "S: -ERR [AUTH] no"};
        const Script silent = {"S: +OK ready", "W: 3000"}, dropped = stat + Script{"C: TOP 1 0", "X"};
        const QByteArray other = "Subject: lunch?\r\nFrom: x@b.jp\r\n\r\nline one of the body\r\nline two\r\n";
        const QByteArray huge = Casino + QByteArray(999, 'x').append("\r\n").repeated(60000);
        const char* unsaved = "控えを保存できなかったため";
        // clang-format off
        const ScriptedRow rows[] = {
            {.name = "id reused, same size", .messages = {mail("Lunch plans!")}, .remembered = "casino bonus", .left = 1},
            {.name = "id reused, other size", .messages = {mail("casino bonus")}, .remembered = "Lunch", .grew = 7, .dele = {"DELE 1"}, .fresh = 0},
            {.name = "only new mail announced", .messages = {mail("Lunch plans!"), mail("tea?", "b2")}, .newOnly = true, .remembered = "Lunch plans!", .left = 2},
            {.name = "nothing new to announce", .messages = {mail("Lunch plans!")}, .newOnly = true, .remembered = "Lunch plans!", .left = 1, .tops = 0, .fresh = 0},
            {.name = "whole copy", .messages = {{"a1", Casino}}, .keep = true, .dele = {"DELE 1"}, .fresh = 0, .copies = 1},
            {.name = "copy cut short", .messages = {{"a1", Casino, Casino.left(40) + "\r\n"}}, .keep = true, .left = 1, .told = unsaved, .copy = {CopyProblem::SizeMismatch}},
            {.name = "copy of another message", .messages = {{"a1", Casino, other}}, .keep = true, .left = 1, .copy = {CopyProblem::NotTheJudged}},
            {.name = "copy from another sender", .messages = {{"a1", Casino, QByteArray(Casino).replace("a@b.jp", "c@b.jp")}}, .keep = true, .left = 1, .copy = {CopyProblem::NotTheJudged}},
            {.name = "copy with another Message-ID", .messages = {{"a1", "Message-ID: <1@b.jp>\r\n" + Casino, "Message-ID: <2@b.jp>\r\n" + Casino}}, .keep = true, .left = 1, .copy = {CopyProblem::NotTheJudged}},
            {.name = "history cannot be written: no QUIT", .messages = {mail("casino")}, .historyBlocked = true, .kind = Kind::LocalTrouble, .dele = {"DELE 1"}, .fresh = -1, .told = "削除していません"},
            {.name = "memory of another account", .messages = {mail("casino bonus")}, .remembered = "Lunch plans!", .rememberedUser = "v", .dele = {"DELE 1"}, .fresh = 0},
            {.name = "header grown past LIST: that one skipped", .messages = {mail("casino"), mail("casino", "b2")}, .faults = {.tinyListSize = 1}, .dele = {"DELE 2"}, .left = 1, .tops = 2, .unread = 1, .told = "一覧で示された大きさ"},
            {.name = "no TOP: nothing judged", .script = noTop, .messages = {mail("casino")}, .toldOnce = true, .left = 1, .tops = 0, .told = "TOP"},
            {.name = "program ends while QUIT is unanswered", .script = stat + Script{"C: TOP 1 0", "S: +OK", "S: Subject: casino", "S: .", "C: TOP 2 0", "S: -ERR", "C: DELE 1", "S: +OK", "C: STAT", "S: +OK 1 100", "C: QUIT", "W: 4000"}, .cancelMs = 1500, .kind = Kind::Unconfirmed, .dele = {"DELE 1"}, .tops = 2, .unread = 1, .fresh = -1, .told = "未確認"},
            {.name = "no TOP, read whole: large one left", .script = noTop, .messages = {mail("casino"), {"b2", large}}, .wholeWithoutTop = true, .dele = {"DELE 1"}, .left = 1, .tops = 0, .told = "256 KB"},
            {.name = "no TOP, read whole: a size that lies is cut off", .script = noTop, .messages = {{"a1", large}}, .faults = {.tinyListSize = 1}, .wholeWithoutTop = true, .toldOnce = true, .left = 1, .tops = 0, .unread = 1, .told = "読み取れなかった"},
            {.name = "60 MB, past the copies' cap", .messages = {{"a1", huge}}, .keep = true, .replyMs = 30000, .left = 1, .copy = {CopyProblem::TooLarge}},
            {.name = "QUIT unanswered", .messages = {{"a1", Casino}}, .faults = {.quitUnanswered = true}, .keep = true, .kind = Kind::Unconfirmed, .dele = {"DELE 1"}, .fresh = -1, .copies = 1, .told = "未確認"},
            {.name = "a TOP and a DELE refused", .messages = {mail("casino", ""), mail("b", ""), mail("casino", "")}, .faults = {.refusedTop = 2, .refusedDele = 1}, .dele = {"DELE 1", "DELE 3"}, .left = 2, .tops = 3, .unread = 1, .fresh = -1, .told = "メール1を削除できませんでした"},
            {.name = "every TOP of 25 refused", .messages = {}, .faults = {.statClaims = 25, .listRefused = true}, .pipelining = false, .toldOnce = true, .left = 25, .tops = 20, .unread = 25, .fresh = -1, .told = "25 通はヘッダーを読み取れなかった"},
            {.name = "allowed sender", .messages = {mail("casino", "a1", "boss@mail.example.jp")}, .left = 1},
            {.name = "trial: matches recorded, nothing deleted", .messages = {mail("casino"), mail("lunch", "b2")}, .keep = true, .trial = true, .left = 2, .tops = 2, .fresh = 2, .told = "該当した 1 通"},
            {.name = "a copy past the file-size limit", .messages = {{"a1", Casino}, {"b2", Casino + QByteArray(1000, 'x').append("\r\n").repeated(100)}}, .keep = true, .fileLimit = 50000, .dele = {"DELE 1"}, .left = 1, .tops = 2, .copies = 1, .copy = {CopyProblem::NotStored}},
            {.name = "keyword list unreadable", .messages = {mail("casino")}, .keywordsReadable = false, .left = 1, .told = "Tlxdata50.data"},
            {.name = "silent after the greeting", .script = silent, .kind = Kind::NoConnection, .tops = 0, .fresh = -1, .told = "応答がありません"},
            {.name = "dropped mid-check, timed", .script = dropped, .manual = false, .kind = Kind::Broken, .fresh = -1, .told = "途中で切れました"},
            {.name = "QUIT refused", .script = quitRefused, .kind = Kind::Unconfirmed, .dele = {"DELE 1"}, .tops = 2, .unread = 1, .fresh = -1, .told = "正しく終了できませんでした"},
            {.name = "account without a password", .messages = {mail("casino")}, .password = "", .kind = Kind::AccountMissing, .tops = 0, .fresh = -1},
            {.name = "login refused, timed", .script = loginRefused, .manual = false, .kind = Kind::LoginRefused, .tops = 0, .fresh = -1, .told = "-ERR [AUTH] no"},
        };
        // clang-format on
        for (const ScriptedRow& row : rows)
            QTest::newRow(row.name) << row;
    }

    void scriptedChecks()
    {
        QFETCH(ScriptedRow, row);
        ScriptedPop3Server server(row.script, scriptedMailbox(row.messages, row.faults));
        QVERIFY(useScripted(server));
        m_folder->writeAccount("u", row.password);
        if (!row.keywordsReadable)
            QVERIFY(QFile::remove(m_folder->file(Keywords)) && QDir(m_folder->path()).mkpath(Keywords));
        if (row.historyBlocked) // root writes through permissions, not through a folder
            QVERIFY(QDir(m_folder->path()).mkpath("★MailData/deleted.tsv"));
        m_settings->setAddedSwitch(SettingKey::ReadWholeWithoutTop, row.wholeWithoutTop);
        m_settings->setAddedSwitch(SettingKey::KeepDeleted, row.keep);
        m_settings->setAddedSwitch(SettingKey::TrialMode, row.trial);
        m_settings->setAddedSwitch(SettingKey::AnnounceNewOnly, row.newOnly);
        const SeenStore::Message seen{row.messages.value(0).bytes.size() - row.grew, row.remembered, "a@b.jp"};
        const QString memory = m_folder->file("★MailData/seen.tsv");
        QVERIFY(row.remembered.isEmpty() || SeenStore::save(memory, server.server(), row.rememberedUser, {{"a1", seen}}).isEmpty());
        Pop3Options options = checkOptions();
        options.allowPipelining = row.pipelining;
        options.replyTimeoutMs = row.replyMs;
        RecordingWindows windows;
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{std::min(row.fileLimit, old.rlim_max), old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        if (row.cancelMs)
            QTimer::singleShot(row.cancelMs, [] { Pop3Connection::cancelAll(); });
        const CheckOutcome outcome = runCheck(windows, *m_settings, row.manual, options);
        Pop3Connection::allowConnections();
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY2(outcome.kind == row.kind, qPrintable(outcome.details()));
        QCOMPARE(outcome.remaining(), row.left);
        QCOMPARE(outcome.unread, row.unread);
        QCOMPARE(outcome.fresh, row.fresh);
        QVERIFY2(outcome.details().contains(QString::fromUtf8(row.told)), qPrintable(outcome.details()));
        QCOMPARE(outcome.copyProblems, row.copy);
        // Only nothing to check hangs up; an incomplete account opens the settings window and logs in nowhere.
        QCOMPARE(windows.calls.contains("hang up"), row.kind == Kind::AccountMissing);
        QCOMPARE(windows.calls.contains("settings"), row.kind == Kind::AccountMissing);
        const int announced = row.newOnly ? row.fresh : row.left; // the notice board is on
        QCOMPARE(windows.calls.contains("notice 新着メールがあります。 " + QString::number(announced)), announced > 0);
        QCOMPARE(windows.calls.contains("scene"), announced > 0);
        const bool box = (outcome.failed() && (row.manual || row.kind == Kind::LoginRefused)) || row.toldOnce;
        QCOMPARE(windows.calls.filter("message [").size(), box ? 1 : 0);
        QByteArray told;
        QCOMPARE(readWholeFile(m_folder->file("★MailData/told.tsv"), &told) && told.contains(server.server().toUtf8()),
                 row.toldOnce);
        QCOMPARE(copies(), row.copies);
        QVERIFY(server.waitForFinished());
        const bool goodbye = row.kind == Kind::Checked || row.kind == Kind::Unconfirmed ||
                             row.kind == Kind::AccountMissing || row.kind == Kind::LoginRefused;
        QCOMPARE(server.received().contains("QUIT"), goodbye); // never after a login that broke
        QCOMPARE(sentWith(server, "DELE"), row.dele);
        QCOMPARE(sentWith(server, "TOP").size(), row.tops);
        QVERIFY(!pipeliningMarked()); // offered in plain text: not a promise a later check may act on
        QList<HistoryEntry> history = DeletionHistory::read();
        QCOMPARE(history.size(),
                 outcome.deleted + outcome.trialMatches + (row.kind == Kind::Unconfirmed ? row.dele.size() : 0));
        for (const HistoryEntry& entry : history) { // with copies kept, message 1's copy holds exactly its bytes
            QFile copy(SavedCopies::find(entry));
            QVERIFY(entry.trial == row.trial && entry.keyword == "casino" &&
                    entry.unconfirmed == (row.kind == Kind::Unconfirmed));
            QVERIFY(!row.keep || row.trial ||
                    (copy.open(QIODevice::ReadOnly) && copy.readAll() == row.messages[0].bytes));
        }
        if (!row.faults.quitUnanswered)
            return;
        ScriptedPop3Server after({"S: +OK ready"}, scriptedMailbox({}));
        QVERIFY(useScripted(after));
        QCOMPARE(runCheck(windows, *m_settings).kind, Kind::Checked);
        history = DeletionHistory::read();
        QVERIFY(history.size() == 1 && !history.first().unconfirmed && history.first().uid == "a1");
        QCOMPARE(copies(), 1);
    }
};

QTEST_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
