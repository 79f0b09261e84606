#include "SceneFixtures.h"
#include "platform/SoundCommands.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

// The sound really comes out: a PulseAudio daemon with a null sink is started for this test, and
// what the sink plays is recorded from its monitor.
class SoundAudioTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        for (const char* tool : {"pulseaudio", "parec", "pactl"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP("pulseaudio, parec and pactl are needed to hear the sound");
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("HOME"), m_dir.path());
        const QString socket = m_dir.filePath(QStringLiteral("native"));
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::ForwardedChannels);
        m_server.start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                        QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                        QStringLiteral("module-null-sink sink_name=spk"), QStringLiteral("-L"),
                        QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket});
        QVERIFY(m_server.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 5000);
        // Set before the first sound is made, so Qt's audio backend talks to our daemon.
        qputenv("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());
    }
    void cleanupTestCase()
    {
        for (QProcess* process : {&m_recorder, &m_server}) {
            process->terminate();
            if (process->state() != QProcess::NotRunning && !process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(2000);
        }
    }
    void playsTheEffectSoundAndReportsItsEnd()
    {
        // The shipped sound when the build has it; a generated tone otherwise.
        QString file = QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/Sound/Kouka.wav");
        if (!SoundCommands::isPlayableWave(file))
            file = writeFixture(m_dir.filePath(QStringLiteral("Kouka.wav")), makeWave(600));
        QVERIFY(startRecording());

        SoundCommands sound;
        QString mode;
        QCOMPARE(sound.send(QStringLiteral("open \"%1\" alias bgm").arg(file)), int(SoundCommands::Success));
        // Played again from the start, it ends again: what the repeating scene relies on.
        for (const QString& play : {QStringLiteral("play bgm"), QStringLiteral("play bgm from 0")}) {
            QCOMPARE(sound.send(play), int(SoundCommands::Success));
            QCOMPARE((sound.send(QStringLiteral("status bgm mode"), &mode), mode), QStringLiteral("playing"));
            QTRY_VERIFY_WITH_TIMEOUT((sound.send(QStringLiteral("status bgm mode"), &mode), mode == u"stopped"), 15000);
        }
        QCOMPARE(sound.send(QStringLiteral("close bgm")), int(SoundCommands::Success));

        QTest::qWait(200);
        QByteArray recorded = m_recorder.readAllStandardOutput();
        m_recorder.terminate();
        m_recorder.waitForFinished(5000);
        recorded += m_recorder.readAllStandardOutput();
        QVERIFY2(recorded.size() > 22050, "the recording is too short to hold the sound");
        int peak = 0;
        for (qsizetype i = 0; i + 1 < recorded.size(); i += 2)
            peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(recorded.constData() + i))));
        QVERIFY2(peak > 2000, qPrintable(QStringLiteral("the sink stayed silent (peak %1)").arg(peak)));
    }

private:
    bool startRecording()
    {
        m_recorder.start(QStringLiteral("parec"),
                         {QStringLiteral("--latency-msec=20"), QStringLiteral("-d"), QStringLiteral("spk.monitor"),
                          QStringLiteral("--raw"), QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                          QStringLiteral("--rate=22050")});
        // The null sink's monitor delivers nothing while the sink is idle, so wait until the recording
        // stream is connected instead: else the start of the sound would be lost.
        return m_recorder.waitForStarted(5000) &&
               QTest::qWaitFor(
                   [] {
                       QProcess list;
                       list.start(QStringLiteral("pactl"),
                                  {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")});
                       return list.waitForFinished(2000) && !list.readAllStandardOutput().trimmed().isEmpty();
                   },
                   5000);
    }
    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_recorder;
};

QTEST_GUILESS_MAIN(SoundAudioTest)
#include "tst_soundaudio.moc"
