#include "TestProgramFolder.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>

// Where the program's files are: shipped files beside the program, settings beside it too
// unless that folder cannot be written.
class TestProgramFolderPaths : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void settingsBesideWritableProgram();
    void settingsElsewhereForReadOnlyProgram();
};

void TestProgramFolderPaths::settingsBesideWritableProgram()
{
    TestProgramFolder folder(false);
    QVERIFY(settingsBesideProgram());
    QCOMPARE(Paths::serverSettingsFile(), folder.path() + QStringLiteral("/tolvex.ini"));
    QCOMPARE(Paths::keywordDataFile(), folder.path() + QStringLiteral("/★MailData/Tlxdata50.data"));
    QCOMPARE(Paths::fileAddress(Paths::restingPage()), "file://" + folder.path() + QStringLiteral("/画像データ/subako.html"));
    bool created = false;
    QCOMPARE(ensureDataFolder(&created), QString());
    QVERIFY(created);
    QVERIFY(QDir(folder.path() + QStringLiteral("/★MailData")).exists());
    QCOMPARE(ensureDataFolder(&created), QString());
    QVERIFY(!created);
}

void TestProgramFolderPaths::settingsElsewhereForReadOnlyProgram()
{
    // A folder that cannot be written, even by root: it does not exist.
    setProgramFolder(QStringLiteral("/nonexistent/mossvale"));
    const QString userFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Mossvale");
    QDir(userFolder).removeRecursively();
    QVERIFY(!settingsBesideProgram());
    QCOMPARE(settingsFolder(), userFolder);
    QCOMPARE(Paths::generalSettingsFile(), userFolder + QStringLiteral("/★MailData/ini.ini"));
    QCOMPARE(Paths::helpPage(), QStringLiteral("/nonexistent/mossvale/HTML/1.htm")); // shipped files stay
    bool created = false;
    QCOMPARE(ensureDataFolder(&created), QString());
    QVERIFY(created);
    QVERIFY(QDir(userFolder + QStringLiteral("/★MailData")).exists());
    QDir(userFolder).removeRecursively();
}

QTEST_GUILESS_MAIN(TestProgramFolderPaths)
#include "tst_programfolder.moc"
