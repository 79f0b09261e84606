#include "TestProgramFolder.h"
#include "platform/IniProfile.h"
#include "settings/ProgramFolder.h"
#include "settings/SettingsFiles.h"

#include <QFileInfo>
#include <QTest>

// INI access against files written byte for byte in cp932 with CR LF, as existing users have them.
class TestIniProfile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsValues_data();
    void readsValues();
    void cutsLongValuesAtCharacterBoundary();
    void readsNumbers_data();
    void readsNumbers();
    void missingFileGivesDefaults();
    void writeKeepsEverythingElse();
    void writeCreatesFileSectionAndKey();
    void writeAppendsKeyToSectionWithoutFinalLineBreak();
    void writeRoundTripsJapanese();
    void writeRefusesWhatCannotBeStored();
    void writeFailureNamesTheFile();
    void accountFileIsOwnerOnly();
};

namespace {
const QByteArray Fixture = cp932(QStringLiteral("; 設定ファイル\r\n"
                                                "[OTHER]\r\n"
                                                "NAME=違うセクション\r\n"
                                                "\r\n"
                                                "[exeini]\r\n"
                                                "name =  C:\\Program Files\\髙橋メール①～\\mail.exe  \r\n"
                                                "Number2=15分\r\n"
                                                "NUMBER4=\r\n"
                                                "NUMBER5=-3\r\n"
                                                "QUOTED=\"  spaced  \"\r\n"
                                                "letters=abc\r\n"
                                                "\r\n"
                                                "[LAST]\r\n"
                                                "KEY=1\r\n"));
} // namespace

void TestIniProfile::readsValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defaultText");
    QTest::addColumn<QString>("expected");
    QTest::newRow("keys ignore case, blanks trimmed, cp932 decoded")
        << "NAME" << "未設定" << QStringLiteral("C:\\Program Files\\髙橋メール①～\\mail.exe");
    QTest::newRow("empty value gives default") << "NUMBER4" << "未設定" << QStringLiteral("未設定");
    QTest::newRow("missing key gives default") << "NOPE" << "" << QString();
    QTest::newRow("quotes removed, inner blanks kept") << "QUOTED" << "" << QStringLiteral("  spaced  ");
    QTest::newRow("other section not read") << "KEY" << "x" << QStringLiteral("x");
}

void TestIniProfile::readsValues()
{
    QFETCH(QString, key);
    QFETCH(QString, defaultText);
    QFETCH(QString, expected);
    TestProgramFolder folder;
    folder.write(QStringLiteral("★MailData/ini.ini"), Fixture);
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), key, defaultText), expected);
}

void TestIniProfile::cutsLongValuesAtCharacterBoundary()
{
    TestProgramFolder folder;
    const QString ascii(300, u'a');
    const QString wide(150, u'髙'); // 300 bytes; 255 would split a character
    folder.write(QStringLiteral("a.ini"), "[EXEINI]\r\nA=" + ascii.toLatin1() + "\r\nW=" + cp932(wide) + "\r\n");
    QCOMPARE(ReadIniText(folder.file("a.ini"), "A", ""), QString(255, u'a'));
    QCOMPARE(ReadIniText(folder.file("a.ini"), "W", ""), QString(127, u'髙'));
}

void TestIniProfile::readsNumbers_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("expected");
    QTest::newRow("leading digits") << "NUMBER2" << 15;
    QTest::newRow("negative") << "NUMBER5" << -3;
    QTest::newRow("empty") << "NUMBER4" << 0;
    QTest::newRow("letters") << "LETTERS" << 0;
    QTest::newRow("missing") << "NUMBER" << 0;
}

void TestIniProfile::readsNumbers()
{
    QFETCH(QString, key);
    QFETCH(int, expected);
    TestProgramFolder folder;
    folder.write(QStringLiteral("★MailData/ini.ini"), Fixture);
    QCOMPARE(ReadIniNumber(Paths::generalSettingsFile(), key), expected);
}

void TestIniProfile::missingFileGivesDefaults()
{
    TestProgramFolder folder(false);
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), "NAME", NotSetText), QStringLiteral("未設定"));
    QCOMPARE(ReadIniNumber(Paths::generalSettingsFile(), "NUMBER5"), 0);
}

void TestIniProfile::writeKeepsEverythingElse()
{
    TestProgramFolder folder;
    folder.write(QStringLiteral("★MailData/ini.ini"), Fixture);
    QVERIFY(WriteIniText(Paths::generalSettingsFile(), "NUMBER2", "5").isEmpty());
    QVERIFY(WriteIniText(Paths::generalSettingsFile(), "NEWKEY", "新").isEmpty());
    QByteArray expected = Fixture;
    expected.replace("Number2=" + cp932(QStringLiteral("15分")), "Number2=5");
    expected.replace("letters=abc\r\n", "letters=abc\r\nNEWKEY=" + cp932(QStringLiteral("新")) + "\r\n");
    QCOMPARE(folder.read(QStringLiteral("★MailData/ini.ini")), expected);
}

void TestIniProfile::writeCreatesFileSectionAndKey()
{
    TestProgramFolder folder;
    QVERIFY(WriteIniText(Paths::generalSettingsFile(), "NAME", NotSetText).isEmpty());
    QVERIFY(WriteIniText(Paths::generalSettingsFile(), "NUMBER", "1").isEmpty());
    QCOMPARE(folder.read(QStringLiteral("★MailData/ini.ini")),
             "[EXEINI]\r\nNAME=" + cp932(QStringLiteral("未設定")) + "\r\nNUMBER=1\r\n");

    folder.write(QStringLiteral("other.ini"), "[A]\r\nX=1");
    QVERIFY(WriteIniText(folder.file("other.ini"), "NAME", "v").isEmpty());
    QCOMPARE(folder.read(QStringLiteral("other.ini")), QByteArray("[A]\r\nX=1\r\n[EXEINI]\r\nNAME=v\r\n"));
}

void TestIniProfile::writeAppendsKeyToSectionWithoutFinalLineBreak()
{
    TestProgramFolder folder;
    folder.write(QStringLiteral("a.ini"), "[EXEINI]\r\nA=1");
    QVERIFY(WriteIniText(folder.file("a.ini"), "B", "2").isEmpty());
    QCOMPARE(folder.read(QStringLiteral("a.ini")), QByteArray("[EXEINI]\r\nA=1\r\nB=2"));
    QVERIFY(WriteIniText(folder.file("a.ini"), "a", "").isEmpty());
    QCOMPARE(folder.read(QStringLiteral("a.ini")), QByteArray("[EXEINI]\r\nA=\r\nB=2"));
}

void TestIniProfile::writeRoundTripsJapanese()
{
    TestProgramFolder folder;
    const QString path = QStringLiteral("/home/髙橋/メール①～/起動.sh");
    QVERIFY(WriteIniText(Paths::generalSettingsFile(), "NAME", path).isEmpty());
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), "NAME", NotSetText), path);
    QVERIFY(folder.read(QStringLiteral("★MailData/ini.ini")).contains(cp932(path)));
}

void TestIniProfile::writeRefusesWhatCannotBeStored()
{
    TestProgramFolder folder;
    folder.write(QStringLiteral("★MailData/ini.ini"), Fixture);
    QVERIFY(!WriteIniText(Paths::generalSettingsFile(), "NAME", QStringLiteral("emoji 😀")).isEmpty());
    QVERIFY(!WriteIniText(Paths::generalSettingsFile(), "NAME", QStringLiteral("two\r\nlines")).isEmpty());
    QCOMPARE(folder.read(QStringLiteral("★MailData/ini.ini")), Fixture);
}

void TestIniProfile::writeFailureNamesTheFile()
{
    TestProgramFolder folder(false);
    folder.write(QStringLiteral("★MailData"), "a file where the folder should be");
    const QString error = WriteIniText(Paths::generalSettingsFile(), "NAME", "x");
    QVERIFY(error.contains(QStringLiteral("ini.ini")));
}

void TestIniProfile::accountFileIsOwnerOnly()
{
    TestProgramFolder folder;
    QVERIFY(WriteIniText(Paths::accountFile(), "NAME2", "secret").isEmpty());
    QCOMPARE(QFileInfo(Paths::accountFile()).permissions(),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
}

QTEST_GUILESS_MAIN(TestIniProfile)
#include "tst_iniprofile.moc"
