#include "Prerequisite.h"
#include "platform/DialUpConnections.h"
#include "platform/SoundCommands.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Plays the NetworkManager side: "add <padding> <kind>..." adds active connections a0, a1... of
// these kinds, pads the active list with that many more (which name nothing), and prints its
// length; "report" prints the connections deactivated so far, in order.
const char* HelperScript = R"(import sys, dbus
NM, ROOT = 'org.freedesktop.NetworkManager', '/org/freedesktop/NetworkManager'
manager = dbus.SystemBus().get_object(NM, ROOT)
mock = dbus.Interface(manager, 'org.freedesktop.DBus.Mock')
if sys.argv[1] == 'report':
    sys.exit(print(*(args[0].rsplit('/', 1)[1] for _, args in mock.GetMethodCalls('DeactivateConnection'))))
settings = dbus.Interface(dbus.SystemBus().get_object(NM, ROOT + '/Settings'), NM + '.Settings')
for i, kind in enumerate(sys.argv[3:]):
    path = settings.AddConnection({'connection': {'type': kind, 'id': 'c%d' % i}})
    mock.AddActiveConnection([mock.AddEthernetDevice('d%d' % i, 'eth%d' % i, 100)], path, '/', 'a%d' % i, 2)
active = [p for p in manager.Get(NM, 'ActiveConnections', dbus_interface=dbus.PROPERTIES_IFACE) if 'pad' not in p]
active += [ROOT + '/ActiveConnection/pad%d' % i for i in range(int(sys.argv[2]))]
mock.SetProperty(ROOT, NM, 'ActiveConnections', dbus.Array(active, signature='o'))
print(len(active))
)";

// What the helper printed, trimmed, or "failed".
QByteArray helper(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/usr/bin/python3"), QStringList{"-c", HelperScript} + arguments);
    const bool done = process.waitForFinished(30000) && process.exitCode() == 0;
    return done ? process.readAllStandardOutput().trimmed() : QByteArray("failed");
}
} // namespace

// The program's two reaches into the desktop, each against the real service: the effect sound
// through a PulseAudio daemon with a null sink; the dial-up hang-up
// against NetworkManager as python3-dbusmock plays it, on a private bus taken for the system bus.
class SoundDialUpTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        const QByteArray missing = Prerequisite::missingPrograms({"pulseaudio", "dbus-daemon"});
        MOSSVALE_REQUIRE(missing.isEmpty(), missing);
        MOSSVALE_REQUIRE(QProcess::execute("/usr/bin/python3", {"-c", "import dbusmock"}) == 0, "python3-dbusmock");
        // Its own runtime and home folders: the user's sound server and settings are left alone.
        const QString socket = m_dir.filePath(QStringLiteral("native"));
        m_pulse.setProcessChannelMode(QProcess::ForwardedChannels);
        m_pulse.startCommand(u"env XDG_RUNTIME_DIR=%1 HOME=%1 pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no "
                             "--log-level=error -L \"module-null-sink sink_name=spk\" -L \"module-native-protocol-unix "
                             "auth-anonymous=1 socket=%2\""_qs.arg(m_dir.path(), socket));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 5000);
        // Set before the first sound is made, so Qt's audio backend talks to our daemon.
        qputenv("PULSE_SERVER", ("unix:" + socket).toLocal8Bit());
        m_bus.startCommand(QStringLiteral("dbus-daemon --session --nofork --nopidfile --print-address=1"));
        // Wait for the whole address line: a bus that starts slowly must not leave it empty.
        QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine() || (m_bus.waitForReadyRead(100), false); }, 10000));
        // Before the program's first use of the system bus, which then is this one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.readLine().trimmed());
    }
    void cleanupTestCase()
    {
        for (QProcess* process : {&m_mock, &m_pulse, &m_bus})
            process->terminate(), process->waitForFinished(5000);
    }

    // Played again from the start, the sound ends again: what the repeating scene relies on.
    void soundEndsAndEndsAgain()
    {
        const QString file = m_dir.filePath(QStringLiteral("効果 音.wav")); // a blank, as a program folder may have
        QVERIFY(QFile::copy(QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/Sound/Kouka.wav"), file));
        SoundCommands sound;
        QString mode;
        QCOMPARE(sound.send("open \"" + file + "\" alias bgm"), 0);
        for (const QString& play : {QStringLiteral("play bgm"), QStringLiteral("play bgm from 0")}) {
            QCOMPARE(sound.send(play), 0);
            QCOMPARE((sound.send(QStringLiteral("status bgm mode"), &mode), mode), QStringLiteral("playing"));
            QTRY_VERIFY_WITH_TIMEOUT((sound.send(QStringLiteral("status bgm mode"), &mode), mode == u"stopped"), 15000);
        }
    }

    // Exactly the dial-up kinds are hung up, in order, also among as many active connections as
    // the old connection list had room for (256).
    void dialUpKindsAreDeactivated()
    {
        // The stand-in logs every call on its output: an unread pipe would fill up and stall it.
        m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_mock.setStandardOutputFile(QProcess::nullDevice());
        m_mock.startCommand(QStringLiteral("/usr/bin/python3 -m dbusmock --template networkmanager"));
        QDBusConnectionInterface* bus = QDBusConnection::systemBus().interface();
        const QString manager = QStringLiteral("org.freedesktop.NetworkManager");
        QVERIFY(QTest::qWaitFor([&] { return bus->isServiceRegistered(manager).value(); }, 10000));
        QCOMPARE(helper({"add", "249", "pppoe", "802-11-wireless", "cdma", "adsl", "vpn", "bluetooth", "gsm"}), "256");
        hangUpDialUpConnections();
        QCOMPARE(helper({"report"}), "a0 a2 a3 a5 a6");
    }

private:
    QTemporaryDir m_dir;
    QProcess m_pulse, m_bus, m_mock;
};

QTEST_GUILESS_MAIN(SoundDialUpTest)
#include "tst_sounddialup.moc"
