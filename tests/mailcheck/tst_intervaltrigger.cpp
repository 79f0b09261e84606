#include "mailcheck/IntervalTrigger.h"

#include <QTest>

// The interval counters, driven tick by tick: which tick starts a timed check.
class TestIntervalTrigger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void neverDueWithoutInterval_data();
    void neverDueWithoutInterval();
    void firstCheckAfterSixtyOneTicks_data();
    void firstCheckAfterSixtyOneTicks();
    void nextCheckCountsAfresh();
    void loweredIntervalIsStillMet();
    void manualChecksLeaveCountersAlone();
};

namespace {
// Ticks until a check is due for interval, at most limit ticks; -1 when none came.
int ticksUntilDue(IntervalTrigger& trigger, const QString& interval, int limit)
{
    for (int tick = 1; tick <= limit; ++tick) {
        trigger.tick();
        if (trigger.isDue(interval))
            return tick;
    }
    return -1;
}
} // namespace

void TestIntervalTrigger::neverDueWithoutInterval_data()
{
    QTest::addColumn<QString>("interval");
    QTest::newRow("zero") << "0";
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
    QTest::newRow("negative") << "-3";
}

void TestIntervalTrigger::neverDueWithoutInterval()
{
    QFETCH(QString, interval);
    IntervalTrigger trigger;
    QCOMPARE(ticksUntilDue(trigger, interval, 61 * 10), -1);
    QCOMPARE(trigger.minutes(), 10); // the counters still run
}

void TestIntervalTrigger::firstCheckAfterSixtyOneTicks_data()
{
    QTest::addColumn<QString>("interval");
    QTest::addColumn<int>("ticks");
    QTest::newRow("one minute") << "1" << 61;
    QTest::newRow("three minutes") << "3" << 183;
    QTest::newRow("1.5 rounds to 2") << "1.5" << 122;
    QTest::newRow("2.5 rounds to 2") << "2.5" << 122;
    QTest::newRow("below half a minute means one") << "0.3" << 61;
    QTest::newRow("leading blanks and unit") << "  2分" << 122;
}

void TestIntervalTrigger::firstCheckAfterSixtyOneTicks()
{
    QFETCH(QString, interval);
    QFETCH(int, ticks);
    IntervalTrigger trigger;
    QCOMPARE(ticksUntilDue(trigger, interval, 61 * 5), ticks);
}

void TestIntervalTrigger::nextCheckCountsAfresh()
{
    IntervalTrigger trigger;
    QCOMPARE(ticksUntilDue(trigger, "1", 100), 61);
    trigger.checkDone();
    QVERIFY(!trigger.isDue("1"));
    // The seconds counter is not reset: the next minute comes after 61 more ticks.
    QCOMPARE(ticksUntilDue(trigger, "1", 100), 61);
}

void TestIntervalTrigger::loweredIntervalIsStillMet()
{
    IntervalTrigger trigger;
    QCOMPARE(ticksUntilDue(trigger, "5", 61 * 3), -1);
    QCOMPARE(trigger.minutes(), 3);
    QVERIFY(trigger.isDue("2")); // passed already: due at once rather than never
}

void TestIntervalTrigger::manualChecksLeaveCountersAlone()
{
    IntervalTrigger trigger;
    for (int i = 0; i < 70; ++i)
        trigger.tick();
    // A check from the button or the menu does not touch the trigger at all.
    QCOMPARE(trigger.minutes(), 1);
    QCOMPARE(trigger.seconds(), 9);
    QCOMPARE(ticksUntilDue(trigger, "2", 100), 52);
}

QTEST_GUILESS_MAIN(TestIntervalTrigger)
#include "tst_intervaltrigger.moc"
