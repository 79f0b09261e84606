#include "MailFixtures.h"
#include "RecordingWindows.h"
#include "keywords/KeywordFile.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MessageJudge.h"
#include "mailcheck/SavedCopies.h"
#include "platform/MessageBox.h"

#include <QCheckBox>
#include <QTreeWidget>
#include <csignal>
#include <sys/resource.h>

namespace {
// One message judged: by which keywords, exactly or loosely, against which allow list.
struct JudgeRow
{
    const char* name;
    QStringList keywords;
    QString subject;
    QString sender;
    bool loose;
    QByteArray allow;
    QString condemnedBy; // empty: kept
};

const QStringList Spam{"spam offer", "店", "x@spam.example"};
const QStringList Wanted{"お元気ですか", "友人", "friend@example.org"};
const QStringList Boss{"spam の件", "上司", "boss@mail.example.jp"};
} // namespace

Q_DECLARE_METATYPE(JudgeRow)

// What a check judges, what it keeps of what it deletes, and the window that shows it.
class TestHistory : public QObject
{
    Q_OBJECT

    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    int m_users = 0;

    QString mailbox(const QList<QStringList>& messages)
    {
        const QString user = QStringLiteral("hist%1").arg(++m_users);
        if (!fillMailbox(*m_server, user, QStringLiteral("pw"), messages))
            return {};
        m_folder->writeAccount(user, QStringLiteral("pw"));
        return user;
    }
    CheckOutcome check()
    {
        RecordingWindows windows;
        windows.applySwitches(*m_settings);
        return MailCheck(windows, *m_settings, checkOptions()).run();
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
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"spam"}));
        m_folder->write("★MailData/allow.txt", "# the boss\n@Example.JP\n");
    }

    void judges_data()
    {
        QTest::addColumn<JudgeRow>("row");
        const JudgeRow rows[] = {
            {"exact: in subject", {"未承諾広告※"}, "未承諾広告※ 激安", "店 <a@b.jp>", false, "", "未承諾広告※"},
            {"exact: in sender", {"spam.example"}, "ご案内", "店 <info@spam.example>", false, "", "spam.example"},
            {"exact: the later keyword", {"nothing", "友人"}, "やあ", "友人 <f@e.jp>", false, "", "友人"},
            {"exact: case differs", {"viagra"}, "VIAGRA now", "x@y.jp", false, "", ""},
            {"exact: width differs", {"viagra"}, "ｖｉａｇｒａ", "x@y.jp", false, "", ""},
            {"exact: kana differs", {"セール"}, "せーる", "x@y.jp", false, "", ""},
            {"exact: spaces around subject", {"終わり"}, "  夏の終わり  ", "x@y.jp", false, "", "終わり"},
            {"exact: inner spaces count", {"激 安"}, "激安", "x@y.jp", false, "", ""},
            {"exact: full-width space kept", {"　激安"}, "激安", "x@y.jp", false, "", ""},
            {"exact: spaces-only keyword", {"   "}, "a b", "x@y.jp", false, "", ""},
            {"loose: case", {"viagra"}, "VIAGRA now", "x@y.jp", true, "", "viagra"},
            {"loose: full width", {"viagra"}, "ｖｉａｇｒａ", "x@y.jp", true, "", "viagra"},
            {"loose: hiragana", {"セール"}, "夏のせーる", "x@y.jp", true, "", "セール"},
            {"loose: half-width kana", {"セール"}, "ｾｰﾙ", "x@y.jp", true, "", "セール"},
            {"loose: no match", {"セール"}, "セーター", "x@y.jp", true, "", ""},
            {"allowed address", {"spam"}, "spam", "上司 <BOSS@Example.jp>", false, "boss@example.jp", ""},
            {"allowed subdomain", {"spam"}, "spam", "a@mail.example.jp", true, "\n@example.jp\n", ""},
            {"lookalike domain", {"spam"}, "spam", "a@badexample.jp", false, "@example.jp", "spam"},
            {"display name is no address",
             {"spam"},
             "spam",
             "boss@example.jp <x@s.jp>",
             false,
             "boss@example.jp",
             "spam"},
            {"comment line", {"spam"}, "spam", "x@s.jp", false, "# x@s.jp", "spam"},
        };
        for (const JudgeRow& row : rows)
            QTest::newRow(row.name) << row;
    }

    void judges()
    {
        QFETCH(JudgeRow, row);
        const MessageJudge judge(row.keywords, row.loose, AllowList::parse(row.allow));
        QCOMPARE(judge.judge(row.subject, row.sender), row.condemnedBy);
    }

    // Trial mode deletes nothing and records the match; then, with saving on, the same message goes,
    // its copy holding exactly the bytes Dovecot held; the allowed sender's mail stays.
    void trialThenKeepAndDelete()
    {
        const QString user = mailbox({Spam, Wanted, Boss});
        m_server->deliver(user, "Subject: spam\r\nFrom: x@spam.example\r\n\r\n.leading dot\r\n..two\r\n");
        const QList<QByteArray> before = m_server->messages(user);
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER=0\r\n[Mossvale]\r\nKeepDeleted=1\r\nTrialMode=1\r\n");
        m_settings->loadGeneral();
        CheckOutcome outcome = check();
        QCOMPARE(outcome.remaining(), 4);
        QCOMPARE(outcome.trialMatches, 2);
        QCOMPARE(m_server->messages(user), before);
        QVERIFY(!m_folder->exists("★MailData/Deleted"));
        const QList<HistoryEntry> trial = DeletionHistory::read();
        QCOMPARE(trial.size(), 2);
        QVERIFY(trial.at(0).trial && trial.at(1).trial);

        m_settings->setAddedSwitch(SettingKey::TrialMode, false);
        outcome = check();
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
        const CheckOutcome outcome = check();
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(outcome.deleted, 1);
        QCOMPARE(outcome.unsaved, QList<int>{2});
        QVERIFY2(outcome.notice.contains(QStringLiteral("上限を超えます")), qPrintable(outcome.notice));
        QCOMPARE(m_server->messages(user).size(), 1);
        QVERIFY(m_server->messages(user).at(0).contains("spam big"));
        QCOMPARE(DeletionHistory::read().size(), 1);
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files).size(), 1);
    }

    // The history turns over past 1 MB; copies go after 30 days, and the oldest past 50 MB.
    void bounds()
    {
        const QByteArray full(DeletionHistory::MaxFileBytes + 1, '\n');
        m_folder->write("★MailData/deleted.tsv", full);
        const HistoryEntry entry{QDateTime::currentDateTime(), false, "u1", 10, "k", "s", "件名\tと\r\n"};
        QVERIFY(DeletionHistory::append({entry}).isEmpty());
        QCOMPARE(m_folder->read("★MailData/deleted.1.tsv"), full);
        QCOMPARE(m_folder->read("★MailData/deleted.tsv"), entry.line());
        QCOMPARE(DeletionHistory::read().value(0).subject, QStringLiteral("件名 と  "));

        const QDateTime now = QDateTime::currentDateTime();
        QDir().mkpath(SavedCopies::folder());
        const std::pair<int, qint64> copies[] = {{31, 10}, {10, 30 << 20}, {5, 25 << 20}, {1, 10}}; // age, size
        for (int i = 0; i < 4; ++i) {
            QFile file(SavedCopies::path(now, i));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(copies[i].second));
            QVERIFY(file.setFileTime(now.addDays(-copies[i].first), QFileDevice::FileModificationTime));
        }
        SavedCopies::prune(now);
        QCOMPARE(QDir(SavedCopies::folder()).entryList(QDir::Files, QDir::Name),
                 (QStringList{QFileInfo(SavedCopies::path(now, 2)).fileName(),
                              QFileInfo(SavedCopies::path(now, 3)).fileName()}));
    }

    // The window lists newest first, trials marked; it allows a sender, removes a keyword and sets a
    // switch in its own section, keeping every byte of the old one.
    void window()
    {
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"spam", "激安"}));
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER=1\r\n");
        const QDateTime time = QDateTime::currentDateTime();
        QVERIFY(DeletionHistory::append({{time.addSecs(-60), false, "", -1, "spam", "a <a@spam.example>", "old"},
                                         {time, true, "", -1, "激安", "B <B@Shop.example>", "new"}})
                    .isEmpty());
        HistoryForm form(*m_settings);
        form.show();
        QCOMPARE(form.List1->topLevelItemCount(), 2);
        QVERIFY(form.List1->topLevelItem(0)->text(0).endsWith(QStringLiteral("（試用）")));
        QCOMPARE(form.List1->topLevelItem(1)->text(2), QStringLiteral("old"));
        MessageBox::setNextAnswer(MessageBox::Ok);
        form.Command2_Click();
        QVERIFY(AllowList::load(AllowList::defaultFile()).allows(QStringLiteral("b@shop.example")));
        MessageBox::setNextAnswer(MessageBox::Yes);
        MessageBox::setNextAnswer(MessageBox::Ok);
        form.Command3_Click();
        QStringList keywords;
        QVERIFY(KeywordFile::LoadMatchKeywords(&keywords).isEmpty());
        QCOMPARE(keywords, QStringList{"spam"});
        form.Check3->setChecked(true);
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNUMBER=1\r\n[Mossvale]\r\nLooseMatch=1\r\n");
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
