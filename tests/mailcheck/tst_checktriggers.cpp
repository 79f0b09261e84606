#include "MailFixtures.h"
#include "ScriptedPop3Server.h"
#include "app/MainForm.h"
#include "mailcheck/CheckHelpers.h"
#include "mailcheck/IntervalTrigger.h"
#include "platform/MessageBox.h"
#include "platform/MillisecondClock.h"
#include "platform/ProgramStart.h"
#include "settings/SettingsFiles.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
struct TriggerRow
{
    QString interval;
    int ticks; // ticks of the one-second timer until a timed check is due; -1: never
};

int ticksUntilDue(IntervalTrigger& trigger, const QString& interval, int limit = 61 * 10)
{
    for (int tick = 1; tick <= limit; ++tick) {
        trigger.tick();
        if (trigger.isDue(interval))
            return tick;
    }
    return -1;
}
} // namespace
Q_DECLARE_METATYPE(TriggerRow)

// What starts a check (the interval counters, the button), and the small helpers the check uses.
class TestCheckTriggers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { MillisecondClock::setSource({}); }

    void firstTimedCheck_data()
    {
        QTest::addColumn<TriggerRow>("row");
        for (const char* interval : {"0", "", "abc", "-3"})
            QTest::newRow(*interval ? interval : "(empty)") << TriggerRow{QString::fromUtf8(interval), -1};
        QTest::newRow("one minute is 61 ticks") << TriggerRow{"1", 61};
        QTest::newRow("three minutes") << TriggerRow{"3", 183};
        QTest::newRow("1.5 rounds to 2") << TriggerRow{"1.5", 122};
        QTest::newRow("2.5 rounds to 2") << TriggerRow{"2.5", 122};
        QTest::newRow("below half a minute means one") << TriggerRow{"0.3", 61};
        QTest::newRow("leading blanks and unit") << TriggerRow{"  2分", 122};
    }
    void firstTimedCheck()
    {
        QFETCH(TriggerRow, row);
        IntervalTrigger trigger;
        QCOMPARE(ticksUntilDue(trigger, row.interval), row.ticks);
    }
    void timedCheckCountsAfresh()
    {
        IntervalTrigger trigger;
        QCOMPARE(ticksUntilDue(trigger, "5", 61 * 3), -1);
        QVERIFY(trigger.isDue("2")); // a lowered interval that has passed is due at once, not never
        trigger.checkDone();
        QVERIFY(!trigger.isDue("1"));
        QCOMPARE(ticksUntilDue(trigger, "1"), 61); // the seconds counter runs on
    }
    // A check from the button runs the whole check (it reaches the server) and leaves the interval
    // counters alone; the timed check that follows is due on the counters' own schedule.
    void manualCheckLeavesCountersAlone()
    {
        // Each server takes one check and closes at once, which ends it quickly.
        ScriptedPop3Server manual({"X"}), timed({"X"});
        QVERIFY(manual.start() && timed.start());
        TestProgramFolder folder(true, true);
        folder.write("tolvex.ini", "POP3=" + manual.server().toLatin1() + "\r\n");
        folder.write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER2=2\r\n");
        writeAccount(folder, QStringLiteral("user"), QStringLiteral("secret"));
        MessageBox::reset();
        MainForm form;
        form.Timer3->stop(); // the test is the clock
        form.Timer4->stop();
        for (int i = 0; i < 70; ++i)
            form.Timer3_Timer();
        form.Command6->click();
        QVERIFY2(manual.waitForFinished(5000), "the button ran no check");
        QCOMPARE(form.trigger().minutes(), 1);
        QCOMPARE(form.trigger().seconds(), 9);
        form.settings().setServer({}, timed.server(), {}, 0);
        for (int tick = 71; tick < 122; ++tick) { // the second minute ends at tick 122
            form.Timer3_Timer();
            form.Timer4_Timer();
        }
        QVERIFY2(!timed.waitForFinished(1000), "a timed check came early");
        form.Timer3_Timer();
        form.Timer4_Timer();
        QVERIFY2(timed.waitForFinished(5000), "no timed check at two minutes");
        QCOMPARE(form.trigger().minutes(), 0);
    }

    // A text from the server ends at a NUL; only ASCII spaces are trimmed, a full-width space is text.
    void texts()
    {
        QCOMPARE(TrimAtNul(QString::fromUtf16(u"件名\0残り", 5)), QStringLiteral("件名"));
        QCOMPARE(TrimAtNul(QString(QChar(u'\0')) + "x"), QString());
        QCOMPARE(trimSpaces(" \t　全角 a  "), QStringLiteral("\t　全角 a"));
        QCOMPARE(trimSpaces("   "), QString());
    }
    // The wait handles events while it waits and is correct across the clock's wrap.
    void waitAcrossTheClockWrap()
    {
        quint32 clock = 0xFFFFFFFCu; // four milliseconds before the wrap, one more at each reading
        MillisecondClock::setSource([&clock] { return clock++; });
        bool handled = false;
        QTimer::singleShot(0, this, [&handled] { handled = true; });
        WaitMilliseconds(10);
        QVERIFY(handled);
        // Started at ...FC, it returns at the first reading more than 10 ms later: 0xFFFFFFFC + 11.
        QCOMPARE(clock, quint32(0xFFFFFFFCu + 12u));
    }
    void startsTheMailProgram()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("started"));
        const QString script = dir.filePath(QStringLiteral("my mail program.sh"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\ntouch \"$0.started\"\n") > 0);
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        QCOMPARE(startProgramDetached(script), QString()); // a file is run as it is, blanks and all
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(script + ".started"), 5000);
        // Not a file: split as a command line, with quoting.
        QCOMPARE(startProgramDetached("/bin/sh -c \"touch '" + marker + "'\""), QString());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 5000);
        QVERIFY(startProgramDetached(QStringLiteral("/nonexistent/メーラー.exe")).contains("メーラー.exe"));
    }
};

QTEST_MAIN(TestCheckTriggers)
#include "tst_checktriggers.moc"
