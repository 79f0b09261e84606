#include "platform/DialUpConnections.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Sets up the stand-in ("add <padding> <kind>..." prints how many are active) and reports what it saw
// ("report" prints the deactivated, a slash, and the active connections left, padding left out).
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
} // namespace

// The hang-up against a NetworkManager stand-in (python3-dbusmock) on a private bus of its own,
// which the program takes for the system bus.
class DialUpTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!QFile::exists(Python) || QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon and /usr/bin/python3 with python3-dbusmock are needed");
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
    void cleanupTestCase() { stop(&m_bus); } // cleanup() has stopped the stand-in
    void cleanup()
    {
        stop(&m_mock);
        QTRY_VERIFY(!managerRunning());
    }
    void withoutNetworkManagerNothingHappens()
    {
        QVERIFY(!managerRunning());
        QElapsedTimer clock;
        clock.start();
        hangUpDialUpConnections();
        // The bus answers at once that nobody has the name: no call may sit out its time-out.
        QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
    }
    void dialUpKindsAreDeactivatedInOrder_data()
    {
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<int>("padding"); // active connections beyond those listed
        QTest::addColumn<QString>("report");
        const auto row = [](const char* name, const char* kinds, int padding, const char* report) {
            QTest::newRow(name) << QString::fromLatin1(kinds) << padding << QString::fromLatin1(report);
        };
        row("ethernet, gsm, pppoe", "802-3-ethernet gsm pppoe", 0, "a1 a2 / a0");
        row("every dial-up kind", "pppoe 802-11-wireless cdma adsl vpn bluetooth gsm", 0, "a0 a2 a3 a5 a6 / a1 a4");
        row("none dial-up", "802-3-ethernet 802-11-wireless", 0, "/ a0 a1");
        row("nothing active", "", 0, "/");
        // The old connection list had room for 256: a longer list did not fit and nothing was dropped.
        row("256 active", "gsm pppoe", 254, "a0 a1 /");
        row("257 active", "gsm pppoe", 255, "/ a0 a1");
    }
    void dialUpKindsAreDeactivatedInOrder()
    {
        QFETCH(QString, kinds);
        QFETCH(int, padding);
        QFETCH(QString, report);
        // The stand-in logs every call on its output: an unread pipe would fill up and stall it.
        m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_mock.setStandardOutputFile(QProcess::nullDevice());
        m_mock.start(Python, {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                              QStringLiteral("networkmanager")});
        QVERIFY(QTest::qWaitFor(managerRunning, 10000));
        const QStringList kindList = kinds.split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(helper(QStringList{QStringLiteral("add"), QString::number(padding)} + kindList),
                 QString::number(kindList.size() + padding));
        hangUpDialUpConnections();
        QCOMPARE(helper({QStringLiteral("report")}), report);
    }

private:
    QString helper(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(Python, QStringList{m_dir.filePath(QStringLiteral("nm.py"))} + arguments);
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            return QStringLiteral("helper failed");
        return QString::fromUtf8(process.readAllStandardOutput()).simplified();
    }
    static void stop(QProcess* process)
    {
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(2000);
    }
    static bool managerRunning()
    {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.NetworkManager"));
    }

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_mock;
};

QTEST_GUILESS_MAIN(DialUpTest)
#include "tst_dialup.moc"
