#include "TestProgramFolder.h"
#include "settings/ProgramFolder.h"
#include "settings/SettingsFiles.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>
#include <csignal>

// The real program as a process: the system ending it runs the orderly shutdown.
class TestProgramProcess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void signalRunsShutdown_data();
    void signalRunsShutdown();
};

void TestProgramProcess::signalRunsShutdown_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestProgramProcess::signalRunsShutdown()
{
    QFETCH(int, signal);
    TestProgramFolder folder(false, true);
    QVERIFY(QFile::copy(QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/mossvale"), folder.file("mossvale")));
    folder.write("tolvex.ini", "POP3=127.0.0.1:1\r\n");

    QProcess program;
    program.setProgram(folder.file("mossvale"));
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start();
    QVERIFY(program.waitForStarted(5000));
    // The settings window writes the stopped interval while the program starts.
    QTRY_VERIFY_WITH_TIMEOUT(folder.read("★MailData/ini.ini").contains("NUMBER2=0"), 10000);
    QVERIFY(!folder.read("★MailData/ini.ini").contains("NAME="));
    QTest::qWait(300); // let the event loop start

    ::kill(pid_t(program.processId()), signal);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), "NAME", "absent"), QStringLiteral("未設定"));
}

QTEST_GUILESS_MAIN(TestProgramProcess)
#include "tst_programprocess.moc"
