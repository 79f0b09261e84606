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
    QByteArray after;
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

Q_DECLARE_METATYPE(SaveRow)
Q_DECLARE_METATYPE(LoadRow)

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void storedBytes_data();
    void storedBytes();
    void loads_data();
    void loads();
    void failedWriteKeepsValues_data();
    void failedWriteKeepsValues();
    void signalsSayWhatChanged();
    void readOnlyInstallKeepsSettingsElsewhere();
};

void TestSettings::storedBytes_data()
{
    QTest::addColumn<SaveRow>("row");
    const QByteArray account = "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=1\r\n";
    QTest::newRow("server") << SaveRow{
        ServerFile,
        {},
        SaveServer,
        "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=taro@example.jp\r\nAPOP=1\r\n"};
    QTest::newRow("server, cp932 extensions and blanks kept")
        << SaveRow{ServerFile, "old",
                   [](SettingsModel& s) {
                       s.setServer("送信①", " pop3s://受信.jp:995 ", "山田～@例.jp", 0);
                       return s.saveServer();
                   },
                   "SMTP=\x91\x97\x90M\x87@\r\nPOP3= pop3s://\x8E\xF3\x90M.jp:995 \r\n"
                   "MAIL=\x8ER\x93"
                   "c\x81`@\x97\xE1.jp\r\nAPOP=0\r\n"};
    QTest::newRow("switches, new file") << SaveRow{
        GeneralFile, {}, SaveSwitches, "[EXEINI]\r\nNUMBER=1\r\nNUMBER2=-3\r\nNUMBER4=1\r\nNUMBER5=2\r\n"};
    QTest::newRow("switches in place, neither action empty")
        << SaveRow{GeneralFile, "[EXEINI]\r\nNAME=x\r\nNUMBER5=1\r\n[B]\r\n", &SettingsModel::saveSwitches,
                   "[EXEINI]\r\nNAME=x\r\nNUMBER5=\r\nNUMBER=0\r\nNUMBER2=0\r\nNUMBER4=0\r\n[B]\r\n"};
    QTest::newRow("mail program") << SaveRow{
        GeneralFile, {}, SaveMailProgram, "[EXEINI]\r\nNAME=/opt/\x83\x81\x81[\x83\x89\x81[\x87@/\x81`\r\n"};
    QTest::newRow("zero interval at once")
        << SaveRow{GeneralFile, {}, &SettingsModel::saveInterval, "[EXEINI]\r\nNUMBER2=0\r\n"};
    QTest::newRow("zero interval already stored is not rewritten")
        << SaveRow{GeneralFile, "[EXEINI]\r\nNUMBER2 = 0\r\n",
                   [](SettingsModel& s) {
                       s.loadGeneral();
                       return s.saveInterval();
                   },
                   "[EXEINI]\r\nNUMBER2 = 0\r\n"};
    QTest::newRow("account remembered, new file") << SaveRow{
        AccountFile, {}, RememberAccount, "[EXEINI]\r\nNAME=taro\r\nNAME2=\x90V\x82\xB5\x82\xA2\r\nNAME3=1\r\n"};
    QTest::newRow("account not remembered keeps the stored one")
        << SaveRow{AccountFile, account, ForgetAccount, "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=0\r\n"};
}

void TestSettings::storedBytes()
{
    QFETCH(SaveRow, row);
    TestProgramFolder folder;
    if (!row.before.isEmpty())
        folder.write(row.file, row.before); // readable by everyone, as an older program left it
    SettingsModel settings;
    QCOMPARE(row.change(settings), QString());
    QCOMPARE(folder.read(row.file), row.after);
    if (row.file == AccountFile)
        QCOMPARE(folder.mode(row.file), 0600); // it holds a password
}

void TestSettings::loads_data()
{
    QTest::addColumn<LoadRow>("row");
    const GeneralSettings none;
    QTest::newRow("no general file") << LoadRow{GeneralFile, {}, none, Preset};
    QTest::newRow("every general key") << LoadRow{
        GeneralFile,
        "[EXEINI]\r\nNAME=/usr/bin/mail\r\nNUMBER=1\r\nNUMBER2=5\r\nNUMBER4=1\r\nNUMBER5=2\r\n",
        {"/usr/bin/mail", true, "5", true, NewMailAction::MailProgram},
        Preset};
    QTest::newRow("odd general values read as nothing set") << LoadRow{
        GeneralFile, "[EXEINI]\r\nNAME=\r\nNUMBER=2\r\nNUMBER2=abc\r\nNUMBER4=7\r\nNUMBER5=3\r\n", none, Preset};
    QTest::newRow("interval as its whole number, cp932 path")
        << LoadRow{GeneralFile,
                   "[EXEINI]\r\nNAME=\x87@\x81`\r\nNUMBER2=1.5\r\nNUMBER5=1\r\n",
                   {"①～", false, "1", false, NewMailAction::NoticeBoard},
                   Preset};
    QTest::newRow("no server file leaves the server") << LoadRow{ServerFile, {}, none, Preset};
    QTest::newRow("server lines read leniently")
        << LoadRow{ServerFile,
                   "SMTP=" + cp932(QString(150, u'あ')) +
                       "\r\npop3=lower\r\n\r\nPOP3=first\r\nXYZ1=x\r\nPOP3=second\r\nMAIL=\r\nAPOP",
                   none, AccountSettings{"second", QString(100, u'あ'), "", 1, {}, {}}};
    const std::pair<const char*, qint16> apops[] = {{"  -1", -1}, {"2.5", 2}, {"1.5", 2}, {"yes", 0}, {"70000", 1}};
    for (const auto& [text, value] : apops)
        QTest::addRow("APOP=%s", text) << LoadRow{ServerFile, QByteArray("APOP=") + text, none,
                                                  AccountSettings{"pop0", "smtp0", "mail0", value, {}, {}}};
}

void TestSettings::loads()
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

void TestSettings::failedWriteKeepsValues_data()
{
    QTest::addColumn<QString>("blocked"); // a folder stands where this file should be; empty: none
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("named");
    QTest::newRow("server") << ServerFile << SaveServer << "tolvex.ini";
    QTest::newRow("switches") << GeneralFile << SaveSwitches << "ini.ini";
    QTest::newRow("mail program") << GeneralFile << SaveMailProgram << "ini.ini";
    QTest::newRow("account remembered") << AccountFile << RememberAccount << "iniIdPass.ini";
    QTest::newRow("account not remembered") << AccountFile << ForgetAccount << "iniIdPass.ini";
    QTest::newRow("server text without cp932 form") << QString() << Change([](SettingsModel& s) {
        s.setServer("", "pop", "taro😀@example.jp", 0);
        return s.saveServer();
    }) << "tolvex.ini";
    QTest::newRow("account text without cp932 form") << QString() << Change([](SettingsModel& s) {
        s.setAccount("taro😀", "pw");
        return s.saveAccount(true);
    }) << "iniIdPass.ini";
}

void TestSettings::failedWriteKeepsValues()
{
    QFETCH(QString, blocked);
    QFETCH(Change, change);
    QFETCH(QString, named);
    TestProgramFolder folder;
    if (!blocked.isEmpty())
        QVERIFY(QDir().mkpath(folder.file(blocked))); // even root cannot write it
    SettingsModel settings;
    const QString error = change(settings);
    QVERIFY2(error.contains(named), qPrintable(error));
    // Nothing is lost from memory: the values stay as set, and a later save may succeed.
    SettingsModel expected;
    change(expected);
    QCOMPARE(settings.general(), expected.general());
    QCOMPARE(settings.account(), expected.account());
}

void TestSettings::signalsSayWhatChanged()
{
    TestProgramFolder folder;
    SettingsModel settings;
    QSignalSpy general(&settings, &SettingsModel::generalChanged);
    QSignalSpy server(&settings, &SettingsModel::serverChanged);
    QSignalSpy account(&settings, &SettingsModel::accountChanged);
    settings.setInterval("5");
    settings.setInterval("5");
    settings.setNewMailAction(NewMailAction::Neither); // as it was
    QCOMPARE(general.size(), 1);
    QCOMPARE(general.first().first().value<SettingKey>(), SettingKey::Interval);
    settings.setServer("", "pop", "", 0);
    settings.setServer("", "pop", "", 0);
    QCOMPARE(server.size(), 1);
    // Every check reads the account file afresh.
    for (const QString user : {"taro", "jiro"}) {
        folder.writeAccount(user, "pw");
        settings.loadAccount();
        QCOMPARE(settings.account().UserId, user);
    }
    QCOMPARE(account.size(), 2);
}

void TestSettings::readOnlyInstallKeepsSettingsElsewhere()
{
    TestProgramFolder writable(false);
    QVERIFY(settingsBesideProgram());
    QCOMPARE(Paths::serverSettingsFile(), writable.file("tolvex.ini"));
    // A folder that cannot be written, even by root: it does not exist.
    setProgramFolder("/nonexistent/mossvale");
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Mossvale";
    QDir(userFolder).removeRecursively();
    QVERIFY(!settingsBesideProgram());
    QCOMPARE(Paths::generalSettingsFile(), userFolder + "/★MailData/ini.ini");
    QCOMPARE(Paths::helpPage(), QStringLiteral("/nonexistent/mossvale/HTML/1.htm")); // shipped files stay
    bool created = false;
    QCOMPARE(ensureDataFolder(&created), QString());
    QVERIFY(created);
    QCOMPARE(ensureDataFolder(&created), QString());
    QVERIFY(!created);
    SettingsModel settings;
    QCOMPARE(SaveSwitches(settings), QString());
    SettingsModel reloaded;
    reloaded.loadGeneral();
    QCOMPARE(reloaded.general().interval, QStringLiteral("-3"));
    QDir(userFolder).removeRecursively();
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
