#include "TestProgramFolder.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <functional>

// The settings model and the three files under it, without any window.
namespace {
using Change = std::function<QString(SettingsModel&)>; // sets values and saves; the save's error

struct SaveRow
{
    QString file;
    QByteArray before; // empty: no file
    Change change;
    QByteArray after;     // empty: the save fails, naming the file
    bool blocked = false; // a folder stands where the file should be: even root cannot write it
};

struct LoadRow
{
    QString file;
    QByteArray content; // empty: no file
    GeneralSettings general;
    AccountSettings server;
};

const Change SaveServer = [](SettingsModel& s) {
    s.setServer("smtp.example.jp", "pop.example.jp", "taro@example.jp", 1);
    return s.saveServer();
};
const Change SaveSwitches = [](SettingsModel& s) {
    s.setHangUpWhenEmpty(true);
    s.setInterval("-3");
    s.setAutoCloseNotice(true);
    s.setNewMailAction(NewMailAction::MailProgram);
    return s.saveSwitches();
};
const Change SaveMailProgram = [](SettingsModel& s) {
    s.setMailProgram("/opt/メーラー①/～");
    return s.saveMailProgram();
};
const Change RememberAccount = [](SettingsModel& s) {
    s.setAccount("taro", "新しい");
    return s.saveAccount(true);
};
const Change ForgetAccount = [](SettingsModel& s) {
    s.setAccount("jiro", "pw");
    return s.saveAccount(false);
};
const AccountSettings Preset{"pop0", "smtp0", "mail0", 1, {}, {}};
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void storedBytes_data()
    {
        QTest::addColumn<SaveRow>("row");
        const Change japanese = [](SettingsModel& s) {
            s.setServer("送信①", " pop3s://受信.jp:995 ", "山田～@例.jp", 0);
            return s.saveServer();
        };
        const Change emoji = [](SettingsModel& s) {
            s.setServer("", "pop", "taro😀@example.jp", 0);
            return s.saveServer();
        };
        const Change storedInterval = [](SettingsModel& s) {
            s.loadGeneral();
            return s.saveInterval();
        };
        const auto add = [](const char* name, const SaveRow& row) { QTest::newRow(name) << row; };
        add("server", {ServerFile,
                       {},
                       SaveServer,
                       "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=taro@example.jp\r\nAPOP=1\r\n"});
        add("server, cp932 extensions and blanks kept",
            {ServerFile, "old", japanese,
             "SMTP=\x91\x97\x90M\x87@\r\nPOP3= pop3s://\x8E\xF3\x90M.jp:995 \r\nMAIL=\x8ER\x93"
             "c\x81`@\x97\xE1.jp\r\nAPOP=0\r\n"});
        add("switches, new file",
            {GeneralFile, {}, SaveSwitches, "[EXEINI]\r\nNUMBER=1\r\nNUMBER2=-3\r\nNUMBER4=1\r\nNUMBER5=2\r\n"});
        add("switches in place, neither action empty",
            {GeneralFile, "[EXEINI]\r\nNAME=x\r\nNUMBER5=1\r\n[B]\r\n", &SettingsModel::saveSwitches,
             "[EXEINI]\r\nNAME=x\r\nNUMBER5=\r\nNUMBER=0\r\nNUMBER2=0\r\nNUMBER4=0\r\n[B]\r\n"});
        add("mail program",
            {GeneralFile, {}, SaveMailProgram, "[EXEINI]\r\nNAME=/opt/\x83\x81\x81[\x83\x89\x81[\x87@/\x81`\r\n"});
        add("zero interval at once", {GeneralFile, {}, &SettingsModel::saveInterval, "[EXEINI]\r\nNUMBER2=0\r\n"});
        add("zero interval already stored is not rewritten",
            {GeneralFile, "[EXEINI]\r\nNUMBER2 = 0\r\n", storedInterval, "[EXEINI]\r\nNUMBER2 = 0\r\n"});
        add("account remembered, new file",
            {AccountFile, {}, RememberAccount, "[EXEINI]\r\nNAME=taro\r\nNAME2=\x90V\x82\xB5\x82\xA2\r\nNAME3=1\r\n"});
        add("account not remembered keeps the stored one",
            {AccountFile, "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n", ForgetAccount,
             "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=0\r\n"});
        add("server text without cp932 form", {ServerFile, "old", emoji, {}});
        add("server file blocked", {ServerFile, {}, SaveServer, {}, true});
        add("general file blocked", {GeneralFile, {}, SaveSwitches, {}, true});
        add("account file blocked", {AccountFile, {}, RememberAccount, {}, true});
    }

    void storedBytes()
    {
        QFETCH(SaveRow, row);
        TestProgramFolder folder;
        if (!row.before.isEmpty())
            folder.write(row.file, row.before); // readable by everyone, as an older program left it
        if (row.blocked)
            QVERIFY(QDir().mkpath(folder.file(row.file)));
        SettingsModel settings;
        const QString error = row.change(settings);
        if (row.after.isEmpty()) {
            QVERIFY2(error.contains(QFileInfo(row.file).fileName()), qPrintable(error));
            QCOMPARE(folder.read(row.file), row.before);
            // Nothing is lost from memory: the values stay set for a later try.
            QVERIFY(settings.general() != GeneralSettings() || settings.account() != AccountSettings());
            return;
        }
        QCOMPARE(error, QString());
        QCOMPARE(folder.read(row.file), row.after);
        if (row.file == AccountFile)
            QCOMPARE(folder.mode(row.file), 0600); // it holds a password
    }

    void loads_data()
    {
        QTest::addColumn<LoadRow>("row");
        const GeneralSettings none;
        const auto add = [](const char* name, const LoadRow& row) { QTest::newRow(name) << row; };
        add("no general file", {GeneralFile, {}, none, Preset});
        add("every general key",
            {GeneralFile,
             "[EXEINI]\r\nNAME=/usr/bin/mail\r\nNUMBER=1\r\nNUMBER2=5\r\nNUMBER4=1\r\nNUMBER5=2\r\n",
             {"/usr/bin/mail", true, "5", true, NewMailAction::MailProgram},
             Preset});
        add("odd general values read as nothing set",
            {GeneralFile, "[EXEINI]\r\nNAME=\r\nNUMBER=2\r\nNUMBER2=abc\r\nNUMBER4=7\r\nNUMBER5=3\r\n", none, Preset});
        add("interval as its whole number, cp932 path", {GeneralFile,
                                                         "[EXEINI]\r\nNAME=\x87@\x81`\r\nNUMBER2=1.5\r\nNUMBER5=1\r\n",
                                                         {"①～", false, "1", false, NewMailAction::NoticeBoard},
                                                         Preset});
        add("no server file leaves the server", {ServerFile, {}, none, Preset});
        add("server lines read leniently",
            {ServerFile,
             "SMTP=" + cp932(QString(150, u'あ')) +
                 "\r\npop3=x\r\n\r\nPOP3=first\r\nXYZ1=x\r\nPOP3=second\r\nMAIL=\r\nAPOP",
             none, AccountSettings{"second", QString(100, u'あ'), "", 1, {}, {}}});
        const std::pair<const char*, qint16> apops[] = {{"  -1", -1}, {"2.5", 2}, {"1.5", 2}, {"yes", 0}, {"70000", 1}};
        for (const auto& [text, value] : apops)
            QTest::addRow("APOP=%s", text) << LoadRow{ServerFile, QByteArray("APOP=") + text, none,
                                                      AccountSettings{"pop0", "smtp0", "mail0", value, {}, {}}};
    }

    void loads()
    {
        QFETCH(LoadRow, row);
        TestProgramFolder folder;
        if (!row.content.isEmpty())
            folder.write(row.file, row.content);
        SettingsModel settings;
        settings.setServer(Preset.SmtpServer, Preset.Pop3Server, Preset.MailAddress, Preset.UseApop);
        settings.loadGeneral();
        settings.loadServer();
        QCOMPARE(settings.general(), row.general);
        QCOMPARE(settings.account(), row.server);
    }

    void signalsSayWhatChanged()
    {
        TestProgramFolder folder;
        SettingsModel settings;
        QSignalSpy general(&settings, &SettingsModel::generalChanged);
        QSignalSpy account(&settings, &SettingsModel::accountChanged);
        settings.setInterval("5");
        settings.setInterval("5");
        settings.setNewMailAction(NewMailAction::Neither); // as it was
        QCOMPARE(general.size(), 1);
        QCOMPARE(general.first().first().value<SettingKey>(), SettingKey::Interval);
        for (const QString user : {"taro", "jiro"}) { // every check reads the account file afresh
            folder.writeAccount(user, "pw");
            settings.loadAccount();
            QCOMPARE(settings.account().UserId, user);
        }
        QCOMPARE(account.size(), 2);
    }

    void readOnlyInstallKeepsSettingsElsewhere()
    {
        TestProgramFolder writable(false);
        QCOMPARE(Paths::serverSettingsFile(), writable.file("tolvex.ini"));
        setProgramFolder("/nonexistent/mossvale"); // cannot be written, even by root
        const QString mine = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Mossvale";
        QDir(mine).removeRecursively();
        QVERIFY(!settingsBesideProgram());
        QCOMPARE(Paths::generalSettingsFile(), mine + "/★MailData/ini.ini");
        QCOMPARE(Paths::helpPage(), QStringLiteral("/nonexistent/mossvale/HTML/1.htm")); // shipped files stay
        bool created = false;
        QCOMPARE(ensureDataFolder(&created), QString());
        QVERIFY(created);
        SettingsModel settings;
        QCOMPARE(SaveSwitches(settings), QString());
        SettingsModel reloaded;
        reloaded.loadGeneral();
        QCOMPARE(reloaded.general().interval, QStringLiteral("-3"));
        QDir(mine).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
