// INI access against files written byte for byte in cp932 with CR LF, as existing users have them,
// and the settings model and the three files under it, without any window.
#include "AccountSteps.h"
#include "TestProgramFolder.h"
#include "platform/IniProfile.h"
#include "settings/Settings.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace {
// cp932 written out by hand: 髙 = FB FC, ① = 87 40, ～ = 81 60.
const QByteArray Taka = "\xFB\xFC";
const QByteArray Fixture = "; settings\r\n[OTHER]\r\nNAME=other section\r\n\r\n[ExeIni]\r\n"
                           "name =  C:\\\xFB\xFC\x87\x40\x81\x60\\mail.exe  \r\nNumber2=15min\r\nNUMBER4=\r\n"
                           "NUMBER5=-3\r\nQUOTED=\"  spaced  \"\r\nA=" +
                           QByteArray(300, 'a') + "\r\nW=" + Taka.repeated(150) +
                           "\r\n\r\n[LAST]\r\nKEY=1\r\n[EXEINI]\r\nLATE=1\r\n";

using Save = std::function<QString(SettingsModel&)>; // the save's error
// clang-format off
struct ReadRow { QString key, defaultText, text; int number; };
struct WriteRow { QByteArray initial; QString key, value; QByteArray expected; QString refusal = {}; rlim_t sizeLimit = RLIM_INFINITY; };
// before null: no file; after null: the save fails, naming the file. Both null: a folder stands where the
// file should be, which even root cannot write.
struct SaveRow { QString file; QByteArray before; Save save; QByteArray after; };
// clang-format on
const Save Switches = &SettingsModel::saveSwitches;
const Save Remember = [](SettingsModel& s) { return AccountSteps::save(s, true); };
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        signal(SIGXFSZ, SIG_IGN); // a file-size limit fails the write, not the process
    }
    void init() { m_folder = std::make_unique<TestProgramFolder>(); }

    void reads_data()
    {
        QTest::addColumn<ReadRow>("row");
        // clang-format off
        QTest::newRow("key in other case, blanks trimmed, cp932 decoded") << ReadRow{u"NAME"_qs, u"未設定"_qs, u"C:\\髙①～\\mail.exe"_qs, 0};
        QTest::newRow("leading digits") << ReadRow{u"NUMBER2"_qs, {}, u"15min"_qs, 15};
        QTest::newRow("empty value gives default") << ReadRow{u"NUMBER4"_qs, u"未設定"_qs, u"未設定"_qs, 0};
        QTest::newRow("quotes removed, inner blanks kept") << ReadRow{u"QUOTED"_qs, {}, u"  spaced  "_qs, 0};
        QTest::newRow("300 bytes cut to 255, at a character boundary") << ReadRow{u"W"_qs, {}, QString(127, u'髙'), 0};
        // clang-format on
    }
    void reads()
    {
        QFETCH(ReadRow, row);
        m_folder->write(u"a.ini"_qs, Fixture);
        const QString path = m_folder->file(u"a.ini"_qs);
        QCOMPARE(IniProfile::readText(path, u"EXEINI"_qs, row.key, row.defaultText), row.text);
        const IniProfile::Document document = IniProfile::Document::load(path);
        QVERIFY(QFile::remove(path)); // every lookup of a document answers from its one reading
        QCOMPARE(document.error(), QString());
        QCOMPARE(document.text(u"EXEINI"_qs, row.key, row.defaultText), row.text);
        QCOMPARE(document.number(u"EXEINI"_qs, row.key), row.number);
    }

    // Only the one value changes; other keys, sections, comments and line ends keep their bytes.
    void writes_data()
    {
        QTest::addColumn<WriteRow>("row");
        QByteArray replaced = Fixture, added = Fixture;
        replaced.replace("Number2=15min", "Number2=5");
        added.replace("\r\n\r\n[LAST]", "\r\nNEWKEY=" + Taka + "\r\n\r\n[LAST]");
        const QByteArray big = "[EXEINI]\r\nNAME=old\r\n;" + QByteArray(IniProfile::MaxFileBytes, ';');
        const QByteArray atLimit = big.left(IniProfile::MaxFileBytes);
        // clang-format off
        QTest::newRow("value replaced, all else kept") << WriteRow{Fixture, u"number2"_qs, u"5"_qs, replaced};
        QTest::newRow("key added at the section's end") << WriteRow{Fixture, u"NEWKEY"_qs, u"髙"_qs, added};
        QTest::newRow("file, section and key created") << WriteRow{{}, u"NAME"_qs, u"①～"_qs, "[EXEINI]\r\nNAME=\x87\x40\x81\x60\r\n"};
        QTest::newRow("section after a last line without line break") << WriteRow{"[A]\r\nX=1", u"NAME"_qs, u"v"_qs, "[A]\r\nX=1\r\n[EXEINI]\r\nNAME=v\r\n"};
        QTest::newRow("key after a last line without line break") << WriteRow{"[EXEINI]\r\nA=1", u"B"_qs, u"2"_qs, "[EXEINI]\r\nA=1\r\nB=2"};
        QTest::newRow("emoji refused") << WriteRow{Fixture, u"NAME"_qs, u"emoji 😀"_qs, Fixture, u"文字"_qs};
        QTest::newRow("file over 1 MB never replaced") << WriteRow{big, u"NAME"_qs, u"x"_qs, big, u"大きすぎる"_qs};
        QTest::newRow("file that would pass 1 MB left as it was") << WriteRow{atLimit, u"NAME"_qs, u"a much longer value"_qs, atLimit, u"大きすぎる"_qs};
        QTest::newRow("no room: honest reason, file kept") << WriteRow{Fixture, u"NAME"_qs, u"x"_qs, Fixture, u"ファイルの大きさが上限を超えます。"_qs, 100};
        // clang-format on
    }
    void writes()
    {
        QFETCH(WriteRow, row);
        if (!row.initial.isNull()) // else no such file
            m_folder->write(u"a.ini"_qs, row.initial);
        const QString path = m_folder->file(u"a.ini"_qs);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit lowered{row.sizeLimit, old.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        const QString error = IniProfile::writeText(path, u"EXEINI"_qs, row.key, row.value);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY2(row.refusal.isEmpty() ? error.isEmpty() : error.contains(row.refusal), qPrintable(error));
        QCOMPARE(m_folder->read(u"a.ini"_qs), row.expected);
        // A file over 1 MB is not ours: readers refuse it too, with a message naming it; 1 MB itself is read.
        QCOMPARE(IniProfile::Document::load(path).error().contains(path + u"」が大きすぎる"_qs),
                 row.expected.size() > IniProfile::MaxFileBytes);
    }

    // Every row saves the same values: the bytes are what the program has always stored for them.
    void storedBytes_data()
    {
        QTest::addColumn<SaveRow>("row");
        const Save forget = [](SettingsModel& s) { return AccountSteps::save(s, false); };
        const QByteArray exeini = "[EXEINI]\r\nNAME = x\r\nnumber5=1\r\n";
        const QByteArray stored = "[EXEINI]\r\nNAME=old\r\nNAME2=oldpw\r\nNAME3=";
        // clang-format off
        QTest::newRow("server, cp932 extensions and blanks kept") << SaveRow{ServerFile, "old", &SettingsModel::saveServer,
            "SMTP=\x91\x97\x90M\x87@\r\nPOP3= pop3s://\x8E\xF3\x90M.jp:995 \r\nMAIL=\x8ER\x93" "c\x81`@\x97\xE1.jp\r\nAPOP=0\r\n"};
        QTest::newRow("switches in place, neither action empty") << SaveRow{GeneralFile, "[EXEINI]\r\nNAME=x\r\nNUMBER5=1\r\n[B]\r\n", Switches, "[EXEINI]\r\nNAME=x\r\nNUMBER5=\r\nNUMBER=0\r\nNUMBER2=-3\r\nNUMBER4=0\r\n[B]\r\n"};
        QTest::newRow("added switch never touches [EXEINI]") << SaveRow{GeneralFile, exeini, [](SettingsModel& s) { return s.saveAddedSwitch(SettingKey::KeepDeleted); }, exeini + "[Mossvale]\r\nKeepDeleted=1\r\n"};
        QTest::newRow("account remembered, new file") << SaveRow{AccountFile, {}, Remember, "[EXEINI]\r\nNAME=taro\r\nNAME2=\x90V\x82\xB5\x82\xA2\r\nNAME3=1\r\n"};
        QTest::newRow("account not remembered keeps the stored one") << SaveRow{AccountFile, stored + "1\r\n", forget, stored + "0\r\n"};
        QTest::newRow("account file blocked") << SaveRow{AccountFile, {}, Remember, {}};
        // clang-format on
    }
    void storedBytes()
    {
        QFETCH(SaveRow, row);
        if (!row.before.isNull())
            m_folder->write(row.file, row.before); // readable by everyone, as an older program left it
        if (row.before.isNull() && row.after.isNull())
            QVERIFY(QDir().mkpath(m_folder->file(row.file)));
        SettingsModel settings;
        QSignalSpy general(&settings, &SettingsModel::generalChanged);
        settings.setServer(u"送信①"_qs, u" pop3s://受信.jp:995 "_qs, u"山田～@例.jp"_qs, 0);
        settings.setInterval(u"-3"_qs);
        settings.setInterval(u"-3"_qs); // no change: no signal
        settings.setAccount(u"taro"_qs, u"新しい"_qs);
        settings.setAddedSwitch(SettingKey::KeepDeleted, true);
        QCOMPARE(general.size(), 2); // to the main window: one signal per real change
        const QString error = row.save(settings);
        QVERIFY2(row.after.isNull() ? error.contains(QFileInfo(row.file).fileName()) : error.isEmpty(),
                 qPrintable(error));
        QCOMPARE(m_folder->read(row.file), row.after.isNull() ? row.before : row.after);
        if (row.file == AccountFile && !row.after.isNull())
            QCOMPARE(m_folder->mode(row.file), 0600); // it holds a password
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
