#include "Prerequisite.h"
#include "platform/DialUpConnections.h"
#include "platform/SoundCommands.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {
// Sets up the NetworkManager stand-in ("add <padding> <kind>..." prints how many connections are
// active) and reports what it saw ("report" prints the deactivated, a slash, and the active
// connections left, padding left out).
const char* HelperScript = R"(import sys, dbus
NM, ROOT = 'org.freedesktop.NetworkManager', '/org/freedesktop/NetworkManager'
bus = dbus.SystemBus()
mock = dbus.Interface(bus.get_object(NM, ROOT), 'org.freedesktop.DBus.Mock')
props = dbus.Interface(bus.get_object(NM, ROOT), 'org.freedesktop.DBus.Properties')
names = lambda paths: ' '.join(path.rsplit('/', 1)[1] for path in paths if 'pad' not in path)
if sys.argv[1] == 'add':
    settings = dbus.Interface(bus.get_object(NM, ROOT + '/Settings'), NM + '.Settings')
    for i, kind in enumerate(sys.argv[3:]):
        connection = settings.AddConnection(dbus.Dictionary(
            {'connection': dbus.Dictionary({'type': kind, 'id': 'c%d' % i}, signature='sv')}, signature='sa{sv}'))
        mock.AddActiveConnection([mock.AddEthernetDevice('d%d' % i, 'eth%d' % i, 100)], connection, '/', 'a%d' % i, 2)
    active = list(props.Get(NM, 'ActiveConnections'))
    active += [dbus.ObjectPath(ROOT + '/ActiveConnection/pad%d' % i) for i in range(int(sys.argv[2]))]
    mock.SetProperty(ROOT, NM, 'ActiveConnections', dbus.Array(active, signature='o'))
    print(len(active))
else:
    print(names(args[0] for _, args in mock.GetMethodCalls('DeactivateConnection')), '/',
          names(props.Get(NM, 'ActiveConnections')))
)";
const QString Python = QStringLiteral("/usr/bin/python3");

struct HangUpRow
{
    QString kinds;
    int padding; // active connections beyond those listed
    QString report;
};

void stop(QProcess* process)
{
    process->terminate();
    if (process->state() != QProcess::NotRunning && !process->waitForFinished(5000))
        process->kill();
    process->waitForFinished(2000);
}

bool managerRunning()
{
    return QDBusConnection::systemBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.NetworkManager"));
}
} // namespace
Q_DECLARE_METATYPE(HangUpRow)

// The program's two reaches into the desktop, each against the real service: the effect sound
// through a PulseAudio daemon with a null sink, whose monitor is recorded; the dial-up hang-up
// against NetworkManager as python3-dbusmock plays it, on a private bus taken for the system bus.
class SoundDialUpTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        const QByteArray missing = Prerequisite::missingPrograms({"pulseaudio", "parec", "dbus-daemon"});
        MOSSVALE_REQUIRE(missing.isEmpty(), missing);
        MOSSVALE_REQUIRE(QProcess::execute(Python, {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) == 0,
                         "python3-dbusmock for /usr/bin/python3");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("HOME"), m_dir.path());
        const QString socket = m_dir.filePath(QStringLiteral("native"));
        m_pulse.setProcessEnvironment(env);
        m_pulse.setProcessChannelMode(QProcess::ForwardedChannels);
        m_pulse.start(QStringLiteral("pulseaudio"),
                      {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                       QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"), QStringLiteral("-L"),
                       QStringLiteral("module-null-sink sink_name=spk"), QStringLiteral("-L"),
                       QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket});
        QVERIFY(m_pulse.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 5000);
        // Set before the first sound is made, so Qt's audio backend talks to our daemon.
        qputenv("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());

        QFile script(m_dir.filePath(QStringLiteral("nm.py")));
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write(HelperScript) > 0 && script.flush());
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                     QStringLiteral("--print-address=1")});
        QVERIFY(m_bus.waitForStarted(5000));
        QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine() || !m_bus.waitForReadyRead(100); }, 5000));
        // Before the program's first use of the system bus, which then is this one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());
        QVERIFY(QDBusConnection::systemBus().isConnected());
    }
    void cleanupTestCase()
    {
        for (QProcess* process : {&m_recorder, &m_pulse, &m_bus})
            stop(process);
    }
    void cleanup()
    {
        stop(&m_mock);
        QTRY_VERIFY(!managerRunning());
    }

    // Played again from the start, the sound ends again: what the repeating scene relies on. The
    // recorder may miss the start of the first play (an idle sink's monitor is silent until it is
    // connected), never the second.
    void soundIsHeardAndItsEndSeen()
    {
        m_recorder.start(QStringLiteral("parec"),
                         {QStringLiteral("--latency-msec=20"), QStringLiteral("-d"), QStringLiteral("spk.monitor"),
                          QStringLiteral("--raw"), QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                          QStringLiteral("--rate=22050")});
        QVERIFY(m_recorder.waitForStarted(5000));
        SoundCommands sound;
        QString mode;
        QCOMPARE(sound.send(QStringLiteral("open \"" MOSSVALE_PROGRAM_FOLDER "/Sound/Kouka.wav\" alias bgm")),
                 int(SoundCommands::Success));
        for (const QString& play : {QStringLiteral("play bgm"), QStringLiteral("play bgm from 0")}) {
            QCOMPARE(sound.send(play), int(SoundCommands::Success));
            QCOMPARE((sound.send(QStringLiteral("status bgm mode"), &mode), mode), QStringLiteral("playing"));
            QTRY_VERIFY_WITH_TIMEOUT((sound.send(QStringLiteral("status bgm mode"), &mode), mode == u"stopped"), 15000);
        }
        QCOMPARE(sound.send(QStringLiteral("close bgm")), int(SoundCommands::Success));
        QTest::qWait(200);
        stop(&m_recorder);
        const QByteArray recorded = m_recorder.readAllStandardOutput();
        QVERIFY2(recorded.size() > 22050, "the recording is too short to hold the sound");
        int peak = 0;
        for (qsizetype i = 0; i + 1 < recorded.size(); i += 2)
            peak = std::max(peak, std::abs(int(qFromLittleEndian<qint16>(recorded.constData() + i))));
        QVERIFY2(peak > 2000, qPrintable(QStringLiteral("the sink stayed silent (peak %1)").arg(peak)));
    }

    void dialUpKindsAreDeactivatedInOrder_data()
    {
        QTest::addColumn<HangUpRow>("row");
        QTest::newRow("ethernet, gsm, pppoe") << HangUpRow{"802-3-ethernet gsm pppoe", 0, "a1 a2 / a0"};
        QTest::newRow("every dial-up kind")
            << HangUpRow{"pppoe 802-11-wireless cdma adsl vpn bluetooth gsm", 0, "a0 a2 a3 a5 a6 / a1 a4"};
        QTest::newRow("none dial-up") << HangUpRow{"802-3-ethernet 802-11-wireless", 0, "/ a0 a1"};
        QTest::newRow("nothing active") << HangUpRow{"", 0, "/"};
        // The old connection list had room for 256: a longer list did not fit and nothing was dropped.
        QTest::newRow("256 active") << HangUpRow{"gsm pppoe", 254, "a0 a1 /"};
        QTest::newRow("257 active") << HangUpRow{"gsm pppoe", 255, "/ a0 a1"};
    }
    void dialUpKindsAreDeactivatedInOrder()
    {
        QFETCH(HangUpRow, row);
        // The stand-in logs every call on its output: an unread pipe would fill up and stall it.
        m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_mock.setStandardOutputFile(QProcess::nullDevice());
        m_mock.start(Python, {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                              QStringLiteral("networkmanager")});
        QVERIFY(QTest::qWaitFor(managerRunning, 10000));
        const QStringList kinds = row.kinds.split(u' ', Qt::SkipEmptyParts);
        const QString script = m_dir.filePath(QStringLiteral("nm.py"));
        QCOMPARE(output(Python, QStringList{script, "add", QString::number(row.padding)} + kinds),
                 QByteArray::number(kinds.size() + row.padding));
        hangUpDialUpConnections();
        QCOMPARE(output(Python, {script, "report"}).simplified(), row.report.toUtf8());
    }

private:
    // What the program printed, trimmed; empty when it failed.
    static QByteArray output(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
        const bool done = process.waitForFinished(30000) && process.exitCode() == 0;
        return done ? process.readAllStandardOutput().trimmed() : QByteArray();
    }

    QTemporaryDir m_dir;
    QProcess m_pulse, m_recorder, m_bus, m_mock;
};

QTEST_GUILESS_MAIN(SoundDialUpTest)
#include "tst_sounddialup.moc"
