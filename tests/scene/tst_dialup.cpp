#include "platform/DialUpConnections.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The hang-up against a NetworkManager stand-in (python3-dbusmock) on a private bus of its own,
// which the program takes for the system bus.
class DialUpTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void withoutNetworkManagerNothingHappens();
    void dialUpKindsAreDeactivatedInOrder_data();
    void dialUpKindsAreDeactivatedInOrder();
    void moreThan256ActiveConnectionsDoNothing();

private:
    bool startNetworkManager();
    QStringList helper(const QStringList& arguments);
    static void stop(QProcess* process);

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_mock;
    QString m_address;
};

namespace {
// Sets up the stand-in and reads back what it saw, through its own control interface.
const char* HelperScript = R"(import sys, dbus
NM = 'org.freedesktop.NetworkManager'
ROOT = '/org/freedesktop/NetworkManager'
bus = dbus.SystemBus()
nm = bus.get_object(NM, ROOT)
mock = dbus.Interface(nm, 'org.freedesktop.DBus.Mock')
props = dbus.Interface(nm, 'org.freedesktop.DBus.Properties')
command = sys.argv[1]
if command == 'add':
    settings = dbus.Interface(bus.get_object(NM, ROOT + '/Settings'), NM + '.Settings')
    for i, kind in enumerate(sys.argv[2:]):
        device = mock.AddEthernetDevice('dev%d' % i, 'eth%d' % i, 100)
        connection = settings.AddConnection(dbus.Dictionary(
            {'connection': dbus.Dictionary({'type': kind, 'id': 'c%d' % i}, signature='sv')}, signature='sa{sv}'))
        mock.AddActiveConnection([device], connection, '/', 'a%d' % i, 2)
elif command == 'pad':
    active = list(props.Get(NM, 'ActiveConnections'))
    active += [dbus.ObjectPath(ROOT + '/ActiveConnection/pad%d' % i) for i in range(int(sys.argv[2]))]
    mock.SetProperty(ROOT, NM, 'ActiveConnections', dbus.Array(active, signature='o'))
elif command == 'active':
    for path in props.Get(NM, 'ActiveConnections'):
        print(path.rsplit('/', 1)[1])
elif command == 'calls':
    for _, args in mock.GetMethodCalls('DeactivateConnection'):
        print(args[0].rsplit('/', 1)[1])
)";
const QString Python = QStringLiteral("/usr/bin/python3");
} // namespace

void DialUpTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!QFile::exists(Python) || QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon and /usr/bin/python3 with python3-dbusmock are needed");
    QFile script(m_dir.filePath(QStringLiteral("nm.py")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(HelperScript);
    script.close();

    m_bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    QVERIFY(m_bus.waitForStarted(5000));
    QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine() || !m_bus.waitForReadyRead(100); }, 5000));
    m_address = QString::fromLocal8Bit(m_bus.readLine().trimmed());
    QVERIFY(!m_address.isEmpty());
    // Before the program's first use of the system bus, which then is this one.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toLocal8Bit());
    QVERIFY(QDBusConnection::systemBus().isConnected());
}

void DialUpTest::cleanupTestCase()
{
    stop(&m_mock);
    stop(&m_bus);
}

void DialUpTest::cleanup()
{
    stop(&m_mock);
    QTRY_VERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.NetworkManager")));
}

void DialUpTest::stop(QProcess* process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(2000);
    }
}

bool DialUpTest::startNetworkManager()
{
    // The stand-in logs every call on its output: an unread pipe would fill up and stall it.
    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.setStandardOutputFile(QProcess::nullDevice());
    m_mock.start(Python, {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                          QStringLiteral("networkmanager")});
    if (!m_mock.waitForStarted(5000))
        return false;
    return QTest::qWaitFor(
        [] {
            return QDBusConnection::systemBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.NetworkManager"));
        },
        10000);
}

QStringList DialUpTest::helper(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(Python, QStringList{m_dir.filePath(QStringLiteral("nm.py"))} + arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {QStringLiteral("helper failed")};
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

void DialUpTest::withoutNetworkManagerNothingHappens()
{
    QElapsedTimer clock;
    clock.start();
    hangUpDialUpConnections();
    // The bus answers at once that nobody has the name: no call may sit out its time-out.
    QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.NetworkManager")));
}

void DialUpTest::dialUpKindsAreDeactivatedInOrder_data()
{
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QStringList>("deactivated");
    const auto list = [](const char* text) { return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts); };
    QTest::newRow("ethernet, gsm, pppoe") << list("802-3-ethernet gsm pppoe") << list("a0") << list("a1 a2");
    QTest::newRow("every dial-up kind") << list("pppoe 802-11-wireless cdma adsl vpn bluetooth gsm") << list("a1 a4")
                                        << list("a0 a2 a3 a5 a6");
    QTest::newRow("none dial-up") << list("802-3-ethernet 802-11-wireless") << list("a0 a1") << QStringList();
    QTest::newRow("nothing active") << QStringList() << QStringList() << QStringList();
}

void DialUpTest::dialUpKindsAreDeactivatedInOrder()
{
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, left);
    QFETCH(QStringList, deactivated);
    QVERIFY(startNetworkManager());
    QCOMPARE(helper(QStringList{QStringLiteral("add")} + kinds), QStringList());
    QCOMPARE(helper({QStringLiteral("active")}).size(), kinds.size());

    hangUpDialUpConnections();
    QCOMPARE(helper({QStringLiteral("calls")}), deactivated);
    QCOMPARE(helper({QStringLiteral("active")}), left);
}

// The old connection list had room for 256: a longer list did not fit and nothing was dropped.
void DialUpTest::moreThan256ActiveConnectionsDoNothing()
{
    QVERIFY(startNetworkManager());
    QCOMPARE(helper({QStringLiteral("add"), QStringLiteral("gsm"), QStringLiteral("pppoe")}), QStringList());
    QCOMPARE(helper({QStringLiteral("pad"), QStringLiteral("255")}), QStringList());
    QCOMPARE(helper({QStringLiteral("active")}).size(), 257);
    hangUpDialUpConnections();
    QCOMPARE(helper({QStringLiteral("calls")}), QStringList());

    // 256 fit: the same two dial-up lines are then dropped.
    stop(&m_mock);
    QTRY_VERIFY(!QDBusConnection::systemBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.NetworkManager")));
    QVERIFY(startNetworkManager());
    QCOMPARE(helper({QStringLiteral("add"), QStringLiteral("gsm"), QStringLiteral("pppoe")}), QStringList());
    QCOMPARE(helper({QStringLiteral("pad"), QStringLiteral("254")}), QStringList());
    hangUpDialUpConnections();
    QCOMPARE(helper({QStringLiteral("calls")}), (QStringList{QStringLiteral("a0"), QStringLiteral("a1")}));
}

QTEST_GUILESS_MAIN(DialUpTest)
#include "tst_dialup.moc"
