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
    void initTestCase();
    void cleanupTestCase();
    void playsTheEffectSoundAndReportsItsEnd();

private:
    QString effectSound();
    bool startRecording();
    QByteArray stopRecording();
    static int peakOf(const QByteArray& samples);

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_recorder;
};

void SoundAudioTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
        QSKIP("pulseaudio, parec and pactl are needed to hear the sound");
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

void SoundAudioTest::cleanupTestCase()
{
    for (QProcess* process : {&m_recorder, &m_server}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(2000);
    }
}

QString SoundAudioTest::effectSound()
{
    // The shipped sound when the build has it; a generated tone otherwise.
    const QString shipped = QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/Sound/Kouka.wav");
    if (SoundCommands::isPlayableWave(shipped))
        return shipped;
    const QString made = m_dir.filePath(QStringLiteral("Kouka.wav"));
    QFile file(made);
    if (file.open(QIODevice::WriteOnly))
        file.write(makeWave(600));
    return made;
}

bool SoundAudioTest::startRecording()
{
    m_recorder.setProcessChannelMode(QProcess::SeparateChannels);
    m_recorder.start(QStringLiteral("parec"),
                     {QStringLiteral("--latency-msec=20"), QStringLiteral("-d"), QStringLiteral("spk.monitor"),
                      QStringLiteral("--raw"), QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                      QStringLiteral("--rate=22050")});
    if (!m_recorder.waitForStarted(5000))
        return false;
    // The null sink's monitor delivers nothing while the sink is idle, so wait until the recording
    // stream is connected instead: else the start of the sound would be lost.
    return QTest::qWaitFor(
        [] {
            QProcess list;
            list.start(QStringLiteral("pactl"),
                       {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")});
            return list.waitForFinished(2000) && !list.readAllStandardOutput().trimmed().isEmpty();
        },
        5000);
}

QByteArray SoundAudioTest::stopRecording()
{
    QByteArray samples = m_recorder.readAllStandardOutput();
    m_recorder.terminate();
    m_recorder.waitForFinished(5000);
    return samples + m_recorder.readAllStandardOutput();
}

int SoundAudioTest::peakOf(const QByteArray& samples)
{
    int peak = 0;
    for (qsizetype i = 0; i + 1 < samples.size(); i += 2)
        peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(samples.constData() + i))));
    return peak;
}

void SoundAudioTest::playsTheEffectSoundAndReportsItsEnd()
{
    const QString file = effectSound();
    QVERIFY(SoundCommands::isPlayableWave(file));
    QVERIFY(startRecording());

    SoundCommands sound;
    QString mode;
    QCOMPARE(sound.send(QStringLiteral("open \"%1\" alias bgm").arg(file)), int(SoundCommands::Success));
    QCOMPARE(sound.send(QStringLiteral("play bgm")), int(SoundCommands::Success));
    QCOMPARE(sound.send(QStringLiteral("status bgm mode"), &mode), int(SoundCommands::Success));
    QCOMPARE(mode, QStringLiteral("playing"));
    QTRY_VERIFY_WITH_TIMEOUT((sound.send(QStringLiteral("status bgm mode"), &mode), mode == u"stopped"), 15000);

    // Played again from the start, it ends again: what the repeating scene relies on.
    QCOMPARE(sound.send(QStringLiteral("play bgm from 0")), int(SoundCommands::Success));
    sound.send(QStringLiteral("status bgm mode"), &mode);
    QCOMPARE(mode, QStringLiteral("playing"));
    QTRY_VERIFY_WITH_TIMEOUT((sound.send(QStringLiteral("status bgm mode"), &mode), mode == u"stopped"), 15000);
    QCOMPARE(sound.send(QStringLiteral("close bgm")), int(SoundCommands::Success));

    QTest::qWait(200);
    const QByteArray recorded = stopRecording();
    QVERIFY2(recorded.size() > 22050, "the recording is too short to hold the sound");
    const int peak = peakOf(recorded);
    QVERIFY2(peak > 2000, qPrintable(QStringLiteral("the sink stayed silent (peak %1)").arg(peak)));
}

QTEST_GUILESS_MAIN(SoundAudioTest)
#include "tst_soundaudio.moc"
