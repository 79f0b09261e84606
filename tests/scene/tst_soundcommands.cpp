#include "SceneFixtures.h"
#include "platform/SoundCommands.h"

#include <QTemporaryDir>
#include <QtTest>

// Command parsing and the device states, with an output that stands in for the audio device.
class SoundCommandsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void malformedCommandsFailWithoutEffect_data();
    void malformedCommandsFailWithoutEffect();
    void openRefusesWhatCannotBePlayed_data();
    void openRefusesWhatCannotBePlayed();
    void playStatusStopClose();
    void aliasInUseIsRefusedAndTheDevicePlaysOn();
    void endOfSoundIsReportedOnlyWhenSeen();
    void playFromStartRestarts();
    void namesAndWordsIgnoreCase();
    void commandsOnAClosedDeviceFail();
    void closeAllReleasesEveryDevice();

private:
    QString writeFile(const QString& name, const QByteArray& bytes);
    QString m_wave;
    QTemporaryDir m_dir;
    std::shared_ptr<FakeSoundOutput::Log> m_log;
    std::unique_ptr<SoundCommands> m_sound;
};

QString SoundCommandsTest::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write the fixture %s", qPrintable(path));
    return path;
}

void SoundCommandsTest::init()
{
    m_wave = writeFile(QStringLiteral("効果 音.wav"), makeWave(100));
    m_log = std::make_shared<FakeSoundOutput::Log>();
    m_sound = std::make_unique<SoundCommands>(FakeSoundOutput::factory(m_log));
}

void SoundCommandsTest::malformedCommandsFailWithoutEffect_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("result");
    QTest::newRow("empty") << QString() << int(SoundCommands::UnknownCommand);
    QTest::newRow("blanks") << QStringLiteral("   ") << int(SoundCommands::UnknownCommand);
    QTest::newRow("unknown verb") << QStringLiteral("pause bgm") << int(SoundCommands::UnknownCommand);
    QTest::newRow("open without file") << QStringLiteral("open") << int(SoundCommands::BadSyntax);
    QTest::newRow("alias without name") << QStringLiteral("open \"%1\" alias") << int(SoundCommands::BadSyntax);
    QTest::newRow("unknown open word") << QStringLiteral("open \"%1\" shareable bgm") << int(SoundCommands::BadSyntax);
    QTest::newRow("unbalanced quote") << QStringLiteral("open \"%1 alias bgm") << int(SoundCommands::BadSyntax);
    QTest::newRow("alias all") << QStringLiteral("open \"%1\" alias all") << int(SoundCommands::BadSyntax);
    QTest::newRow("play without name") << QStringLiteral("play") << int(SoundCommands::BadSyntax);
    QTest::newRow("play from nothing") << QStringLiteral("play bgm from") << int(SoundCommands::BadSyntax);
    QTest::newRow("play from word") << QStringLiteral("play bgm from start") << int(SoundCommands::BadSyntax);
    QTest::newRow("play to") << QStringLiteral("play bgm to 0") << int(SoundCommands::BadSyntax);
    QTest::newRow("play from negative") << QStringLiteral("play bgm from -5") << int(SoundCommands::BadSyntax);
    QTest::newRow("play from middle") << QStringLiteral("play bgm from 500") << int(SoundCommands::Unsupported);
    QTest::newRow("status without item") << QStringLiteral("status bgm") << int(SoundCommands::BadSyntax);
    QTest::newRow("status unknown item") << QStringLiteral("status bgm volume") << int(SoundCommands::Unsupported);
    QTest::newRow("stop two names") << QStringLiteral("stop bgm now") << int(SoundCommands::BadSyntax);
    QTest::newRow("close nothing") << QStringLiteral("close") << int(SoundCommands::BadSyntax);
}

// A bad command answers with its code and leaves the open device exactly as it was.
void SoundCommandsTest::malformedCommandsFailWithoutEffect()
{
    QFETCH(QString, command);
    QFETCH(int, result);
    QCOMPARE(m_sound->send(QStringLiteral("open \"%1\" alias bgm").arg(m_wave)), int(SoundCommands::Success));
    QCOMPARE(m_sound->send(QStringLiteral("play bgm")), int(SoundCommands::Success));
    const QStringList eventsBefore = m_log->events;

    QString reply = QStringLiteral("left over");
    QCOMPARE(m_sound->send(command.contains(u"%1") ? command.arg(m_wave) : command, &reply), result);
    QVERIFY(reply.isEmpty());
    QCOMPARE(m_log->events, eventsBefore);
    QCOMPARE(m_sound->openCount(), 1);
    QCOMPARE(m_sound->send(QStringLiteral("status bgm mode"), &reply), int(SoundCommands::Success));
    QCOMPARE(reply, QStringLiteral("playing"));
}

void SoundCommandsTest::openRefusesWhatCannotBePlayed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("playable");
    const QByteArray wave = makeWave(50);
    QByteArray compressed = wave;
    compressed[20] = 0x55; // MPEG layer 3 format tag
    QByteArray withListChunk = wave.left(12) + QByteArray("LIST\x05\0\0\0abcde\0", 14) + wave.mid(12);
    QTest::newRow("pcm") << wave << true;
    QTest::newRow("pcm after an odd-sized chunk") << withListChunk << true;
    QTest::newRow("compressed") << compressed << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("text") << QByteArray("<html></html>") << false;
    QTest::newRow("riff header only") << wave.left(12) << false;
    QTest::newRow("truncated fmt") << wave.left(22) << false;
    QTest::newRow("not wave") << QByteArray("RIFF\x10\0\0\0AVI fmt ", 16) << false;
}

void SoundCommandsTest::openRefusesWhatCannotBePlayed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, playable);
    const QString path = writeFile(QStringLiteral("x.wav"), bytes);
    QCOMPARE(m_sound->send(QStringLiteral("open \"%1\" alias bgm").arg(path)),
             int(playable ? SoundCommands::Success : SoundCommands::CannotOpenFile));
    QCOMPARE(m_sound->isOpen(QStringLiteral("bgm")), playable);
    QCOMPARE(m_log->live.size(), playable ? 1 : 0);
}

void SoundCommandsTest::playStatusStopClose()
{
    QString mode;
    QCOMPARE(m_sound->send(QStringLiteral("open \"%1\" alias bgm").arg(m_wave)), int(SoundCommands::Success));
    QCOMPARE(m_log->events, QStringList{QStringLiteral("load 効果 音.wav")});
    QCOMPARE(m_sound->send(QStringLiteral("status bgm mode"), &mode), int(SoundCommands::Success));
    QCOMPARE(mode, QStringLiteral("stopped"));
    QCOMPARE(m_sound->send(QStringLiteral("play bgm")), int(SoundCommands::Success));
    QVERIFY(m_log->live.first()->playing());
    m_sound->send(QStringLiteral("status bgm mode"), &mode);
    QCOMPARE(mode, QStringLiteral("playing"));
    // Play while playing goes on where it is: no restart.
    QCOMPARE(m_sound->send(QStringLiteral("play bgm")), int(SoundCommands::Success));
    QCOMPARE(m_log->events.count(QStringLiteral("play")), 1);
    QCOMPARE(m_sound->send(QStringLiteral("stop bgm")), int(SoundCommands::Success));
    m_sound->send(QStringLiteral("status bgm mode"), &mode);
    QCOMPARE(mode, QStringLiteral("stopped"));
    QVERIFY(m_sound->isOpen(QStringLiteral("bgm")));
    QCOMPARE(m_sound->send(QStringLiteral("close bgm")), int(SoundCommands::Success));
    QVERIFY(!m_sound->isOpen(QStringLiteral("bgm")));
    QCOMPARE(m_log->events.last(), QStringLiteral("unload"));
    QVERIFY(m_log->live.isEmpty());
}

void SoundCommandsTest::aliasInUseIsRefusedAndTheDevicePlaysOn()
{
    const QString open = QStringLiteral("open \"%1\" alias bgm").arg(m_wave);
    QCOMPARE(m_sound->send(open), int(SoundCommands::Success));
    QCOMPARE(m_sound->send(QStringLiteral("play bgm")), int(SoundCommands::Success));
    QCOMPARE(m_sound->send(open), int(SoundCommands::AliasInUse));
    QCOMPARE(m_sound->send(QStringLiteral("open \"%1\" alias BGM").arg(m_wave)), int(SoundCommands::AliasInUse));
    QCOMPARE(m_log->live.size(), 1);
    QVERIFY(m_log->live.first()->playing());
    // Another name is another device.
    QCOMPARE(m_sound->send(QStringLiteral("open \"%1\" type waveaudio alias other").arg(m_wave)),
             int(SoundCommands::Success));
    QCOMPARE(m_sound->openCount(), 2);
}

// Without an end reported by the output the mode stays "playing": nothing is guessed.
void SoundCommandsTest::endOfSoundIsReportedOnlyWhenSeen()
{
    QString mode;
    m_sound->send(QStringLiteral("open \"%1\" alias bgm").arg(m_wave));
    m_sound->send(QStringLiteral("play bgm"));
    QTest::qWait(300); // far longer than the 100 ms sound
    m_sound->send(QStringLiteral("status bgm mode"), &mode);
    QCOMPARE(mode, QStringLiteral("playing"));
    m_log->live.first()->end();
    m_sound->send(QStringLiteral("status bgm mode"), &mode);
    QCOMPARE(mode, QStringLiteral("stopped"));
    QVERIFY(m_sound->isOpen(QStringLiteral("bgm")));
}

void SoundCommandsTest::playFromStartRestarts()
{
    QString mode;
    m_sound->send(QStringLiteral("open \"%1\" alias bgm").arg(m_wave));
    m_sound->send(QStringLiteral("play bgm"));
    QCOMPARE(m_sound->send(QStringLiteral("play bgm from 0")), int(SoundCommands::Success));
    QCOMPARE(m_log->events.count(QStringLiteral("play")), 2);
    m_log->live.first()->end();
    QCOMPARE(m_sound->send(QStringLiteral("play bgm from 0")), int(SoundCommands::Success));
    m_sound->send(QStringLiteral("status bgm mode"), &mode);
    QCOMPARE(mode, QStringLiteral("playing"));
    QCOMPARE(m_log->events.count(QStringLiteral("play")), 3);
}

void SoundCommandsTest::namesAndWordsIgnoreCase()
{
    QString mode;
    QCOMPARE(m_sound->send(QStringLiteral("OPEN \"%1\" ALIAS Bgm").arg(m_wave)), int(SoundCommands::Success));
    QCOMPARE(m_sound->send(QStringLiteral("Play bGM")), int(SoundCommands::Success));
    QCOMPARE(m_sound->send(QStringLiteral("STATUS bgm MODE"), &mode), int(SoundCommands::Success));
    QCOMPARE(mode, QStringLiteral("playing"));
    QCOMPARE(m_sound->send(QStringLiteral("  close   BGM  ")), int(SoundCommands::Success));
    QCOMPARE(m_sound->openCount(), 0);
}

// What start-up and shutdown send with nothing open: failures, and nothing else happens.
void SoundCommandsTest::commandsOnAClosedDeviceFail()
{
    QString mode = QStringLiteral("x");
    QCOMPARE(m_sound->send(QStringLiteral("stop bgm")), int(SoundCommands::NoSuchDevice));
    QCOMPARE(m_sound->send(QStringLiteral("close bgm")), int(SoundCommands::NoSuchDevice));
    QCOMPARE(m_sound->send(QStringLiteral("play bgm")), int(SoundCommands::NoSuchDevice));
    QCOMPARE(m_sound->send(QStringLiteral("status bgm mode"), &mode), int(SoundCommands::NoSuchDevice));
    QVERIFY(mode.isEmpty());
    QCOMPARE(m_sound->send(QStringLiteral("open \"%1\" alias bgm").arg(m_dir.filePath(QStringLiteral("none.wav")))),
             int(SoundCommands::CannotOpenFile));
    QCOMPARE(m_sound->send(QStringLiteral("play bgm")), int(SoundCommands::NoSuchDevice));
    QVERIFY(m_log->events.isEmpty());
}

void SoundCommandsTest::closeAllReleasesEveryDevice()
{
    m_sound->send(QStringLiteral("open \"%1\" alias one").arg(m_wave));
    m_sound->send(QStringLiteral("open \"%1\" alias two").arg(m_wave));
    m_sound->send(QStringLiteral("play one"));
    QCOMPARE(m_sound->send(QStringLiteral("close all")), int(SoundCommands::Success));
    QCOMPARE(m_sound->openCount(), 0);
    QVERIFY(m_log->live.isEmpty());
    QCOMPARE(m_sound->send(QStringLiteral("close all")), int(SoundCommands::Success));
}

QTEST_GUILESS_MAIN(SoundCommandsTest)
#include "tst_soundcommands.moc"
