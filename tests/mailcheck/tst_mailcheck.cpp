#include "DovecotServer.h"
#include "MailFixtures.h"
#include "RecordingWindows.h"
#include "ScriptedPop3Server.h"
#include "maillib/Pop3Session.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QTest>
#include <memory>

// One check against a real Dovecot: what is deleted on the server, and what the windows are told.
class TestMailCheck : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void emptyMailbox_data();
    void emptyMailbox();
    void deletesByKeyword_data();
    void deletesByKeyword();
    void everyMessageMatching();
    void noticeBoard_data();
    void noticeBoard();
    void mailProgram_data();
    void mailProgram();
    void missingKeywordFileIsCreatedEmpty();
    void unusableDataFolderDeletesNothing();
    void incompleteAccountConnectsAndCloses();
    void failedLoginShowsErrorAndNeverHangsUp();
    void noServerOrNoConnection();
    void failedHeaderRequestSkipsTheMessage();

private:
    // A user whose mailbox holds these (subject, sender name, sender address) messages.
    QString mailbox(const QList<QStringList>& messages);
    QStringList subjectsLeft(const QString& user) const;
    MailCheck::Result check(RecordingWindows& windows);

    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    int m_users = 0;
};

namespace {
const QString Password = QStringLiteral("secret");
}

void TestMailCheck::initTestCase()
{
    if (DovecotServer::binary().isEmpty())
        QSKIP("dovecot (/usr/sbin/dovecot) is not installed; the check needs a real server");
    QString error;
    m_server = startTrustedDovecot(&error);
    QVERIFY2(m_server, qPrintable(error));
}

void TestMailCheck::cleanupTestCase()
{
    m_server.reset();
}

void TestMailCheck::init()
{
    m_folder = std::make_unique<TestProgramFolder>();
    m_settings = std::make_unique<SettingsModel>();
    m_settings->setServer({}, m_server->plainServer(), {}, 0);
}

QString TestMailCheck::mailbox(const QList<QStringList>& messages)
{
    const QString user = QStringLiteral("check%1").arg(++m_users);
    if (!fillMailbox(*m_server, user, Password, messages))
        return {};
    writeAccount(*m_folder, user, Password);
    return user;
}

QStringList TestMailCheck::subjectsLeft(const QString& user) const
{
    QStringList subjects;
    for (const QByteArray& message : m_server->messages(user)) {
        for (const QByteArray& line : message.split('\n')) {
            if (line.startsWith("Subject: =?UTF-8?B?"))
                subjects << QString::fromUtf8(QByteArray::fromBase64(line.mid(19).chopped(3)));
        }
    }
    return subjects;
}

MailCheck::Result TestMailCheck::check(RecordingWindows& windows)
{
    windows.applySwitches(*m_settings);
    return MailCheck(windows, *m_settings).run();
}

void TestMailCheck::emptyMailbox_data()
{
    QTest::addColumn<bool>("hangUpSwitch");
    QTest::newRow("hang-up switch on") << true;
    QTest::newRow("hang-up switch off") << false;
}

void TestMailCheck::emptyMailbox()
{
    QFETCH(bool, hangUpSwitch);
    const QString user = mailbox({});
    RecordingWindows windows;
    windows.hangUpSwitch = hangUpSwitch;
    windows.noticeBoard = true;
    const MailCheck::Result result = check(windows);
    QCOMPARE(result.messages, 0);
    QStringList expected{QStringLiteral("account %1 %2").arg(user, Password)};
    if (hangUpSwitch)
        expected << QStringLiteral("hang up");
    QCOMPARE(windows.calls, expected);
    // An empty mailbox never needs the keyword list.
    QVERIFY(!m_folder->exists("★MailData/Tlxdata50.data"));
}

void TestMailCheck::deletesByKeyword_data()
{
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QStringList>("subject"); // subject, sender name, sender address
    QTest::addColumn<bool>("deleted");
    const QStringList plain{"お元気ですか", "友人", "friend@example.jp"};
    QTest::newRow("keyword in subject") << QStringList{"未承諾広告※"}
                                        << QStringList{"未承諾広告※ 激安セール", "店", "shop@example.jp"} << true;
    QTest::newRow("keyword in sender address")
        << QStringList{"spam.example"} << QStringList{"ご案内", "店", "info@spam.example"} << true;
    QTest::newRow("keyword in sender display name")
        << QStringList{"出会い"} << QStringList{"こんにちは", "出会いの会", "a@b.jp"} << true;
    QTest::newRow("no keyword") << QStringList{"未承諾広告※"} << plain << false;
    QTest::newRow("case differs") << QStringList{"viagra"} << QStringList{"VIAGRA now", "x", "x@y.jp"} << false;
    QTest::newRow("width differs") << QStringList{"ＳＡＬＥ"} << QStringList{"SALE", "x", "x@y.jp"} << false;
    QTest::newRow("kana differs") << QStringList{"セール"} << QStringList{"ｾｰﾙ", "x", "x@y.jp"} << false;
    QTest::newRow("spaces around keyword ignored")
        << QStringList{"  激安  "} << QStringList{"本日激安", "x", "x@y.jp"} << true;
    QTest::newRow("spaces around subject ignored")
        << QStringList{"終わり"} << QStringList{"  夏の終わり  ", "x", "x@y.jp"} << true;
    QTest::newRow("inner spaces count") << QStringList{"激 安"} << QStringList{"激安", "x", "x@y.jp"} << false;
    QTest::newRow("full-width space not trimmed")
        << QStringList{"　激安"} << QStringList{"激安", "x", "x@y.jp"} << false;
    QTest::newRow("spaces-only keyword matches nothing") << QStringList{"   "} << plain << false;
    QTest::newRow("later keyword matches") << QStringList{"nothing", "友人"} << plain << true;
}

void TestMailCheck::deletesByKeyword()
{
    QFETCH(QStringList, keywords);
    QFETCH(QStringList, subject);
    QFETCH(bool, deleted);
    const QStringList keep{"残すメール", "知人", "keep@example.jp"};
    const QString user = mailbox({keep, subject, keep});
    m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes(keywords));
    RecordingWindows windows;
    windows.noticeBoard = true;
    windows.hangUpSwitch = true;
    const MailCheck::Result result = check(windows);
    QVERIFY2(result.messages == 3, qPrintable(windows.calls.join(u'|') + m_server->log().right(600)));
    QCOMPARE(result.deleted, deleted ? 1 : 0);
    QStringList left{"残すメール", "残すメール"};
    if (!deleted)
        left.insert(1, subject.first());
    QCOMPARE(subjectsLeft(user), left);
    QCOMPARE(windows.calls, (QStringList{QStringLiteral("account %1 %2").arg(user, Password), "scene",
                                         QStringLiteral("notice 新着メールがあります。 %1").arg(left.size())}));
}

void TestMailCheck::everyMessageMatching()
{
    const QString user = mailbox({{"広告1", "a", "ad@spam.example"},
                                  {"広告2 spam.example", "spam.example", "ad@spam.example"},
                                  {"広告3", "a", "ad@spam.example"}});
    m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"spam.example"}));
    RecordingWindows windows;
    windows.noticeBoard = true;
    windows.hangUpSwitch = true;
    const MailCheck::Result result = check(windows);
    QCOMPARE(result.messages, 3);
    QCOMPARE(result.deleted, 3); // the message matching twice counts once
    QCOMPARE(subjectsLeft(user), QStringList());
    // Nothing new: no scene, no notice, and no hang-up either, since the mailbox was not empty.
    QCOMPARE(windows.calls, QStringList{QStringLiteral("account %1 %2").arg(user, Password)});
}

void TestMailCheck::noticeBoard_data()
{
    QTest::addColumn<bool>("autoClose");
    QTest::newRow("stays") << false;
    QTest::newRow("closes after a second") << true;
}

void TestMailCheck::noticeBoard()
{
    QFETCH(bool, autoClose);
    const QString user = mailbox({{"a", "a", "a@a.jp"}, {"b", "b", "b@b.jp"}});
    RecordingWindows windows;
    windows.noticeBoard = true;
    windows.mailProgram = true; // the notice board wins when both are somehow set
    windows.autoClose = autoClose;
    check(windows);
    QStringList expected{QStringLiteral("account %1 %2").arg(user, Password), "scene",
                         "notice 新着メールがあります。 2"};
    if (autoClose)
        expected << "wait 1000"
                 << "unload notice";
    QCOMPARE(windows.calls, expected);
    QCOMPARE(m_server->messages(user).size(), 2); // announced mail stays on the server
}

void TestMailCheck::mailProgram_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("not set") << "未設定"
                             << "message [Mossvale] 起動するメーラーが設定されていません。";
    QTest::newRow("empty") << ""
                           << "message [Mossvale] 起動するメーラーが設定されていません。";
    QTest::newRow("set, spaces trimmed") << "  /usr/bin/mail program  "
                                         << "start [/usr/bin/mail program]";
}

void TestMailCheck::mailProgram()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const QString user = mailbox({{"a", "a", "a@a.jp"}});
    RecordingWindows windows;
    windows.mailProgram = true;
    windows.programPath = path;
    check(windows);
    QCOMPARE(windows.calls, (QStringList{QStringLiteral("account %1 %2").arg(user, Password), "scene", expected}));
}

void TestMailCheck::missingKeywordFileIsCreatedEmpty()
{
    const QString user = mailbox({{"a", "a", "a@a.jp"}});
    QVERIFY(!m_folder->exists("★MailData/Tlxdata50.data"));
    RecordingWindows windows;
    QCOMPARE(check(windows).deleted, 0);
    QVERIFY(m_folder->exists("★MailData/Tlxdata50.data"));
    QCOMPARE(m_folder->read("★MailData/Tlxdata50.data"), QByteArray());
    QCOMPARE(m_server->messages(user).size(), 1);
}

void TestMailCheck::unusableDataFolderDeletesNothing()
{
    const QString user = mailbox({{"spam", "a", "a@a.jp"}});
    // The keyword file's place is taken by a folder: the list cannot be read, so nothing may go.
    QDir(m_folder->path()).mkpath("★MailData/Tlxdata50.data");
    RecordingWindows windows;
    const MailCheck::Result result = check(windows);
    QCOMPARE(result.messages, 1);
    QCOMPARE(result.deleted, 0);
    QCOMPARE(m_server->messages(user).size(), 1);
}

void TestMailCheck::incompleteAccountConnectsAndCloses()
{
    const QString user = mailbox({{"a", "a", "a@a.jp"}});
    m_folder->write("★MailData/iniIdPass.ini", "[EXEINI]\r\nNAME=" + user.toLatin1() + "\r\nNAME2=\r\n");
    const qsizetype loginsBefore = m_server->log().count(QStringLiteral("Login: user=<%1>").arg(user));
    RecordingWindows windows;
    windows.hangUpSwitch = true;
    windows.noticeBoard = true;
    QCOMPARE(check(windows).messages, 0);
    QCOMPARE(windows.calls, (QStringList{QStringLiteral("account %1 ").arg(user), "settings", "hang up"}));
    QCOMPARE(m_settings->account().UserId, user);
    QCOMPARE(m_settings->account().Password, QString());
    QCOMPARE(m_server->log().count(QStringLiteral("Login: user=<%1>").arg(user)), loginsBefore);
}

void TestMailCheck::failedLoginShowsErrorAndNeverHangsUp()
{
    const QString user = mailbox({{"a", "a", "a@a.jp"}});
    writeAccount(*m_folder, user, "wrong password");
    RecordingWindows windows;
    windows.hangUpSwitch = true;
    windows.noticeBoard = true;
    const MailCheck::Result result = check(windows);
    QVERIFY(result.messages < 0);
    QCOMPARE(windows.calls.size(), 2);
    QVERIFY2(windows.calls.at(1).startsWith("message [エラー] "), qPrintable(windows.calls.at(1)));
    QVERIFY2(windows.calls.at(1).contains("-ERR"), qPrintable(windows.calls.at(1))); // the server's own words
}

void TestMailCheck::noServerOrNoConnection()
{
    for (const QString& server : {QString(), QStringLiteral("127.0.0.1:1")}) {
        m_settings->setServer({}, server, {}, 0);
        RecordingWindows windows;
        windows.hangUpSwitch = true;
        QCOMPARE(check(windows).messages, 0);
        QCOMPARE(windows.calls, QStringList{"hang up"}); // no message, and the account is not read
    }
}

void TestMailCheck::failedHeaderRequestSkipsTheMessage()
{
    // Message 2's headers are refused; it must not be judged by message 1's spam subject.
    const QByteArray spamHeader = "Subject: spam offer\r\nFrom: a@spam.example\r\n\r\n.";
    ScriptedPop3Server server({"S: +OK ready", "C: CAPA",
                               "S: +OK",       "S: TOP",
                               "S: USER",      "S: .",
                               "C: USER u",    "S: +OK",
                               "C: PASS p",    "S: +OK",
                               "C: STAT",      "S: +OK 3 300",
                               "C: TOP 1 0",   "S: +OK\r\n" + spamHeader,
                               "C: DELE 1",    "S: +OK",
                               "C: TOP 2 0",   "S: -ERR no such message",
                               "C: TOP 3 0",   "S: +OK\r\nSubject: hello\r\nFrom: b@friend.example\r\n\r\n.",
                               "C: QUIT",      "S: +OK bye"});
    QVERIFY(server.start());
    m_settings->setServer({}, server.server(), {}, 0);
    writeAccount(*m_folder, "u", "p");
    m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"spam"}));
    RecordingWindows windows;
    windows.noticeBoard = true;
    const MailCheck::Result result = check(windows);
    QVERIFY(server.waitForFinished());
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QCOMPARE(result.messages, 3);
    QCOMPARE(result.deleted, 1);
    QVERIFY(!server.received().contains("DELE 2"));
    QCOMPARE(windows.calls.last(), QStringLiteral("notice 新着メールがあります。 2"));
}

QTEST_GUILESS_MAIN(TestMailCheck)
#include "tst_mailcheck.moc"
