#include "ScriptedPop3Server.h"
#include "TestProgramFolder.h"
#include "app/MainForm.h"
#include "mailcheck/IntervalTrigger.h"
#include "platform/ProgramStart.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

// What starts a check (the interval counters, the button), and the small helpers the check uses.
class TestCheckTriggers : public QObject
{
    Q_OBJECT
private Q_SLOTS:

    void firstTimedCheck_data()
    {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<int>("ticks"); // ticks of the one-second timer until a timed check is due; -1: never
        QTest::newRow("zero is off") << "0" << -1;
        QTest::newRow("one minute is 61 ticks") << "1" << 61;
        QTest::newRow("2.5 rounds to even") << "2.5" << 122;
        QTest::newRow("1.5 after blanks, with a unit") << "  1.5分" << 122;
        QTest::newRow("below half a minute means one") << "0.3" << 61;
    }
    void firstTimedCheck()
    {
        QFETCH(QString, interval);
        QFETCH(int, ticks);
        IntervalTrigger trigger;
        for (int tick = 1; tick <= 61 * 4; ++tick) { // once reached, the interval stays due until a check
            trigger.tick();
            QCOMPARE(trigger.isDue(interval), ticks > 0 && tick >= ticks);
        }
    }

    // A check from the button runs the whole check (it reaches the server) and leaves the interval
    // counters alone; the timed check that follows is due on the counters' own schedule.
    void manualCheckLeavesCountersAlone()
    {
        ScriptedPop3Server manual({"X"}); // takes one check and closes at once, which ends it quickly
        QVERIFY(manual.start());
        TestProgramFolder folder(true, true);
        folder.writeServer(manual.server());
        folder.write(GeneralFile, "[EXEINI]\r\nNUMBER2=2\r\n");
        folder.writeAccount(QStringLiteral("user"), QStringLiteral("secret"));
        MainForm form;
        form.Timer3->stop(); // the test is the clock
        form.Timer4->stop();
        for (int i = 0; i < 70; ++i)
            form.Timer3_Timer();
        form.Command6->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 5000);
        QVERIFY2(manual.waitForFinished(5000), "the button ran no check");
        for (int tick = 71; tick < 122; ++tick) // the second minute ends at tick 122
            form.Timer3_Timer(), form.Timer4_Timer();
        QVERIFY2(!form.isChecking(), "a timed check came early");
        form.Timer3_Timer(), form.Timer4_Timer();
        QVERIFY2(form.isChecking(), "no timed check at two minutes"); // the port is closed now: it ends soon
        form.Timer3_Timer();                                          // the clock goes on while the check runs
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 5000);
        // However long the check took, the next one is a whole interval away.
        QCOMPARE(form.trigger().minutes() * 61 + form.trigger().seconds(), 0);
    }

    // A path with blanks is one program, a command line is split with its quoting; a failure names
    // the program.
    void startsTheMailProgram()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath(QStringLiteral("my mail program.sh"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\ntouch \"$0.started\"\n") > 0);
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        QCOMPARE(startProgramDetached(script), QString());
        QCOMPARE(startProgramDetached("/bin/sh -c \"touch '" + dir.filePath("split") + "'\""), QString());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(script + ".started") && QFile::exists(dir.filePath("split")), 5000);
        QVERIFY(startProgramDetached(QStringLiteral("/nonexistent/メーラー.exe")).contains("メーラー.exe"));
    }
};

QTEST_MAIN(TestCheckTriggers)
#include "tst_checktriggers.moc"
