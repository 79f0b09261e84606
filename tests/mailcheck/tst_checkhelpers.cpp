#include "mailcheck/CheckHelpers.h"
#include "platform/MillisecondClock.h"
#include "platform/ProgramStart.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The small helpers of the check: the wait that keeps events flowing, and the text helpers.
class TestCheckHelpers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { MillisecondClock::setSource({}); }
    void trimAtNul_data();
    void trimAtNul();
    void trimSpacesOnlyAscii();
    void waitHandlesEventsAndLastsLongerThanAsked();
    void waitIsCorrectAcrossTheClockWrap();
    void startsProgramWithSpacesInPath();
    void reportsProgramThatCannotStart();
};

void TestCheckHelpers::trimAtNul_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no NUL") << "件名"
                            << "件名";
    QTest::newRow("NUL in the middle") << QString::fromUtf16(u"件名\0残り", 5) << "件名";
    QTest::newRow("NUL first") << QString(QChar(u'\0')) + "x"
                               << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestCheckHelpers::trimAtNul()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TrimAtNul(text), expected);
}

void TestCheckHelpers::trimSpacesOnlyAscii()
{
    QCOMPARE(trimSpaces("  a b  "), QStringLiteral("a b"));
    QCOMPARE(trimSpaces(QStringLiteral("　全角　")), QStringLiteral("　全角　"));
    QCOMPARE(trimSpaces("\ttab "), QStringLiteral("\ttab"));
    QCOMPARE(trimSpaces("   "), QString());
}

void TestCheckHelpers::waitHandlesEventsAndLastsLongerThanAsked()
{
    bool fired = false;
    QTimer::singleShot(20, [&fired] { fired = true; });
    QElapsedTimer timer;
    timer.start();
    WaitMilliseconds(150);
    QVERIFY(fired);
    QVERIFY(timer.elapsed() > 150);
}

void TestCheckHelpers::waitIsCorrectAcrossTheClockWrap()
{
    // A clock four milliseconds before the wrap that moves one millisecond per reading.
    quint32 clock = 0xFFFFFFFCu;
    MillisecondClock::setSource([&clock] { return clock++; });
    WaitMilliseconds(10);
    // Start read at ...FC; it returns at the first reading more than 10 ms later: 0xFFFFFFFC + 11.
    QCOMPARE(clock, quint32(0xFFFFFFFCu + 12u));
}

void TestCheckHelpers::startsProgramWithSpacesInPath()
{
    QTemporaryDir dir;
    const QString script = dir.filePath("my mail program.sh");
    const QString marker = dir.filePath("started");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    QCOMPARE(startProgramDetached(script), QString());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 5000);

    // Not a file: split as a command line, with quoting.
    QFile::remove(marker);
    QCOMPARE(startProgramDetached("/bin/sh -c \"touch '" + marker + "'\""), QString());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 5000);
}

void TestCheckHelpers::reportsProgramThatCannotStart()
{
    const QString error = startProgramDetached("/nonexistent/メーラー.exe");
    QVERIFY(error.contains(QStringLiteral("メーラー.exe")));
}

QTEST_GUILESS_MAIN(TestCheckHelpers)
#include "tst_checkhelpers.moc"
