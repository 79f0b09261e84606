#include "SceneFixtures.h"
#include "platform/SoundCommands.h"

#include <QTemporaryDir>
#include <QtTest>

// Command parsing and the device states, with an output that stands in for the audio device.
class SoundCommandsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_wave = writeFixture(m_dir.filePath(QStringLiteral("効果 音.wav")), makeWave(100));
        m_log = std::make_shared<FakeSoundOutput::Log>();
        m_sound = std::make_unique<SoundCommands>(FakeSoundOutput::factory(m_log));
    }

    void badCommandsChangeNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("result");
        const auto rows = [](int result, std::initializer_list<const char*> commands) {
            for (const char* command : commands)
                QTest::newRow(*command ? command : "(empty)") << QString::fromUtf8(command) << result;
        };
        rows(SoundCommands::UnknownCommand, {"", "   ", "pause bgm"});
        rows(SoundCommands::BadSyntax, {"open", "open \"%1\" alias", "open \"%1\" shareable bgm", "open \"%1 alias bgm",
                                        "open \"%1\" alias all", "play", "play bgm from", "play bgm from start",
                                        "play bgm to 0", "play bgm from -5", "status bgm", "stop bgm now", "close"});
        rows(SoundCommands::Unsupported, {"play bgm from 500", "status bgm volume"});
        rows(SoundCommands::NoSuchDevice, {"play other", "status other mode", "stop other", "close other"});
        rows(SoundCommands::AliasInUse, {"open \"%1\" alias BGM"});
        rows(SoundCommands::CannotOpenFile, {"open \"/nowhere/x.wav\" alias x"});
    }

    // A bad command answers with its code and leaves the playing device exactly as it was.
    void badCommandsChangeNothing()
    {
        QFETCH(QString, command);
        QFETCH(int, result);
        QCOMPARE(send(QStringLiteral("open \"%1\" alias bgm")), int(SoundCommands::Success));
        QCOMPARE(send(QStringLiteral("play bgm")), int(SoundCommands::Success));
        const QStringList eventsBefore = m_log->events;
        QString reply = QStringLiteral("left over");
        QCOMPARE(send(command, &reply), result);
        QVERIFY(reply.isEmpty());
        QCOMPARE(m_log->events, eventsBefore);
        QCOMPARE(mode(), QStringLiteral("playing"));
    }

    void openRefusesWhatCannotBePlayed_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("playable");
        const QByteArray wave = makeWave(50);
        QTest::newRow("pcm") << wave << true;
        QTest::newRow("pcm after odd chunk")
            << wave.left(12) + QByteArray("LIST\x05\0\0\0abcde\0", 14) + wave.mid(12) << true;
        QTest::newRow("mp3 format tag") << QByteArray(wave).replace(20, 1, "\x55") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("truncated fmt") << wave.left(22) << false;
        QTest::newRow("not wave") << QByteArray("RIFF\x10\0\0\0AVI fmt ", 16) << false;
    }

    void openRefusesWhatCannotBePlayed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, playable);
        const QString path = writeFixture(m_dir.filePath(QStringLiteral("x.wav")), bytes);
        QCOMPARE(m_sound->send(QStringLiteral("open \"%1\" alias bgm").arg(path)),
                 int(playable ? SoundCommands::Success : SoundCommands::CannotOpenFile));
        QCOMPARE(m_log->live.size(), playable ? 1 : 0);
    }

    // Words compare without regard to case; the end of the sound counts only once the output reports it.
    void playStatusStopClose()
    {
        QCOMPARE(send(QStringLiteral("OPEN \"%1\" type WaveAudio ALIAS Bgm")), int(SoundCommands::Success));
        QCOMPARE(m_log->events, QStringList{QStringLiteral("load 効果 音.wav")});
        QCOMPARE(mode(), QStringLiteral("stopped"));
        QCOMPARE(send(QStringLiteral("Play bGM")), int(SoundCommands::Success));
        QCOMPARE(send(QStringLiteral("play bgm")), int(SoundCommands::Success)); // goes on, no restart
        QCOMPARE(m_log->events.count(QStringLiteral("play")), 1);
        QTest::qWait(300); // far longer than the 100 ms sound: nothing is guessed
        QCOMPARE(mode(), QStringLiteral("playing"));
        m_log->live.first()->end();
        QCOMPARE(mode(), QStringLiteral("stopped"));
        QCOMPARE(send(QStringLiteral("play bgm from 0")), int(SoundCommands::Success));
        QCOMPARE(send(QStringLiteral("play bgm from 0")), int(SoundCommands::Success)); // restarts while playing
        QCOMPARE(m_log->events.count(QStringLiteral("play")), 3);
        QCOMPARE(mode(), QStringLiteral("playing"));
        QCOMPARE(send(QStringLiteral("stop bgm")), int(SoundCommands::Success));
        QCOMPARE(mode(), QStringLiteral("stopped"));
        QVERIFY(m_sound->isOpen(QStringLiteral("bgm")));
        QCOMPARE(send(QStringLiteral("  close   BGM  ")), int(SoundCommands::Success));
        QCOMPARE(m_log->events.last(), QStringLiteral("unload"));
        for (const char* name : {"one", "two"})
            QCOMPARE(send(QStringLiteral("open \"%1\" alias ") + QLatin1String(name)), int(SoundCommands::Success));
        QCOMPARE(send(QStringLiteral("close all")), int(SoundCommands::Success));
        QVERIFY(m_log->live.isEmpty());
    }

private:
    // Sends the command with %1 standing for the test sound.
    int send(const QString& command, QString* reply = nullptr)
    {
        return m_sound->send(command.contains(u"%1") ? command.arg(m_wave) : command, reply);
    }
    QString mode()
    {
        QString reply;
        return send(QStringLiteral("status bgm mode"), &reply) == SoundCommands::Success ? reply : QString();
    }
    QString m_wave;
    QTemporaryDir m_dir;
    std::shared_ptr<FakeSoundOutput::Log> m_log;
    std::unique_ptr<SoundCommands> m_sound;
};

QTEST_GUILESS_MAIN(SoundCommandsTest)
#include "tst_soundcommands.moc"
