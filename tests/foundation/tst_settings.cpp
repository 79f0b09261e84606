// The settings model and the three files under it, without any window.
#include "AccountSteps.h"
#include "TestProgramFolder.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <functional>

namespace {
using Save = std::function<QString(SettingsModel&)>; // the save's error
const Save Switches = &SettingsModel::saveSwitches, Server = &SettingsModel::saveServer;
const Save Remember = [](SettingsModel& s) { return AccountSteps::save(s, true); };

// before null: no file; after null: the save fails, naming the file. Both null: a folder stands where the
// file should be, which even root cannot write.
// clang-format off
struct SaveRow { QString file; QByteArray before; Save save; QByteArray after; };
// clang-format on
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Every row saves the same values: the bytes are what the program has always stored for them.
    void storedBytes_data()
    {
        QTest::addColumn<SaveRow>("row");
        const Save emoji = [](SettingsModel& s) {
            s.setServer({}, u"pop"_qs, u"taro😀@example.jp"_qs, 0);
            return s.saveServer();
        };
        const Save forget = [](SettingsModel& s) { return AccountSteps::save(s, false); };
        const Save added = [](SettingsModel& s) { return s.saveAddedSwitch(SettingKey::KeepDeleted); };
        const QByteArray exeini = "[EXEINI]\r\nNAME = x\r\nnumber5=1\r\n";
        const QByteArray switches = "[EXEINI]\r\nNAME=x\r\nNUMBER5=\r\nNUMBER=0\r\nNUMBER2=-3\r\nNUMBER4=0\r\n[B]\r\n";
        const QByteArray account = "[EXEINI]\r\nNAME=taro\r\nNAME2=\x90V\x82\xB5\x82\xA2\r\nNAME3=1\r\n";
        const QByteArray stored = "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=";
        // clang-format off
        QTest::newRow("server, cp932 extensions and blanks kept") << SaveRow{ServerFile, "old", Server,
            "SMTP=\x91\x97\x90M\x87@\r\nPOP3= pop3s://\x8E\xF3\x90M.jp:995 \r\nMAIL=\x8ER\x93" "c\x81`@\x97\xE1.jp\r\nAPOP=0\r\n"};
        QTest::newRow("server text without cp932 form") << SaveRow{ServerFile, "old", emoji, {}};
        QTest::newRow("switches in place, neither action empty")
            << SaveRow{GeneralFile, "[EXEINI]\r\nNAME=x\r\nNUMBER5=1\r\n[B]\r\n", Switches, switches};
        QTest::newRow("added switch never touches [EXEINI]")
            << SaveRow{GeneralFile, exeini, added, exeini + "[Mossvale]\r\nKeepDeleted=1\r\n"};
        QTest::newRow("account remembered, new file") << SaveRow{AccountFile, {}, Remember, account};
        QTest::newRow("account not remembered keeps the stored one")
            << SaveRow{AccountFile, stored + "1\r\n", forget, stored + "0\r\n"};
        QTest::newRow("server file blocked") << SaveRow{ServerFile, {}, Server, {}};
        QTest::newRow("general file blocked") << SaveRow{GeneralFile, {}, Switches, {}};
        QTest::newRow("account file blocked") << SaveRow{AccountFile, {}, Remember, {}};
        // clang-format on
    }

    void storedBytes()
    {
        QFETCH(SaveRow, row);
        TestProgramFolder folder;
        if (!row.before.isNull())
            folder.write(row.file, row.before); // readable by everyone, as an older program left it
        if (row.before.isNull() && row.after.isNull())
            QVERIFY(QDir().mkpath(folder.file(row.file)));
        SettingsModel settings;
        settings.setServer(u"送信①"_qs, u" pop3s://受信.jp:995 "_qs, u"山田～@例.jp"_qs, 0);
        settings.setInterval(u"-3"_qs);
        settings.setAccount(u"taro"_qs, u"新しい"_qs);
        settings.setAddedSwitch(SettingKey::KeepDeleted, true);
        const QString error = row.save(settings);
        QVERIFY2(row.after.isNull() ? error.contains(QFileInfo(row.file).fileName()) : error.isEmpty(),
                 qPrintable(error));
        QCOMPARE(folder.read(row.file), row.after.isNull() ? row.before : row.after);
        if (row.file == AccountFile && !row.after.isNull())
            QCOMPARE(folder.mode(row.file), 0600); // it holds a password
    }

    // A window's change reaches the main window as one signal per real change, naming the key.
    void signalsSayWhatChanged()
    {
        TestProgramFolder folder;
        SettingsModel settings;
        QSignalSpy general(&settings, &SettingsModel::generalChanged);
        QSignalSpy account(&settings, &SettingsModel::accountChanged);
        settings.setInterval(u"5"_qs);
        settings.setInterval(u"5"_qs);
        QCOMPARE(general.size(), 1);
        QCOMPARE(general.first().first().value<SettingKey>(), SettingKey::Interval);
        for (const QString& user : {u"taro"_qs, u"jiro"_qs}) { // every check reads the account file afresh
            folder.writeAccount(user, u"pw"_qs);
            AccountSteps::load(settings);
            QCOMPARE(settings.account().UserId, user);
        }
        QCOMPARE(account.size(), 2);
    }

    // A program folder nobody may write keeps the settings in the user's data folder (e2e_readonly-install runs
    // such an installation); the shipped pages are still read from the program folder.
    void readOnlyInstallKeepsShippedPages()
    {
        setProgramFolder(u"/nonexistent/mossvale"_qs); // cannot be written, even by root
        QVERIFY(!settingsBesideProgram());
        QCOMPARE(Paths::helpPage(), u"/nonexistent/mossvale/HTML/1.htm"_qs);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
