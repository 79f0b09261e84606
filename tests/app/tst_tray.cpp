// The tray as a desktop's panel meets it: the program's StatusNotifierItem and its dbusmenu, driven
// over a private session bus by a panel of the test's own (a StatusNotifierWatcher with a host), and
// the tip's texts in both kinds of tray.
#include "../mailcheck/MailFixtures.h"
#include "app/DBusMenu.h"
#include "app/MainForm.h"
#include "app/StatusNotifierItem.h"
#include "platform/MessageBox.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

// The program's own readers of the protocol's structures.
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);

namespace {
const QString MenuInterface = QStringLiteral("com.canonical.dbusmenu");

// What a panel serves: a watcher that has a host and notes every item that registers.
class Panel : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hasHost)
public:
    QStringList items;
    QList<uint> revisions; // of every LayoutUpdated seen
    bool hasHost() const { return true; }
public Q_SLOTS:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
    void layoutUpdated(uint revision, int) { revisions.append(revision); }
};

} // namespace

class TestTray : public QObject
{
    Q_OBJECT
    QProcess m_bus;
    QDBusConnection m_panelBus{QString()};
    Panel m_panel;
    TestProgramFolder m_folder{true, true};
    QTcpServer m_silent; // a server that never greets: a check against it runs until its reply time-out

    // The answer to a call from the panel, which the program's own thread has to serve meanwhile.
    QDBusMessage ask(const QString& method, const QVariantList& arguments, const QString& path = DBusMenu::path(),
                     const QString& interface = MenuInterface)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(m_panel.items.value(0), path, interface, method);
        call.setArguments(arguments);
        QDBusPendingCall pending = m_panelBus.asyncCall(call, 5000);
        return QTest::qWaitFor([&pending] { return pending.isFinished(); }, 10000) ? pending.reply() : QDBusMessage();
    }
    // The menu's entries by label, with their properties.
    QMap<QString, DBusMenuLayoutItem> layout()
    {
        const QDBusMessage reply = ask(QStringLiteral("GetLayout"), {0, -1, QStringList()});
        DBusMenuLayoutItem root;
        if (reply.arguments().size() == 2)
            reply.arguments().at(1).value<QDBusArgument>() >> root;
        QMap<QString, DBusMenuLayoutItem> entries;
        for (const DBusMenuLayoutItem& child : std::as_const(root.children))
            entries.insert(child.properties.value(QStringLiteral("label")).toString(), child);
        return entries;
    }
    static bool enabled(const DBusMenuLayoutItem& e) { return e.properties.value(u"enabled"_qs, true).toBool(); }
    // A click on the entry id, as the panel sends it.
    QDBusMessage click(int id)
    {
        return ask(u"Event"_qs, {id, u"clicked"_qs, QVariant::fromValue(QDBusVariant(0)), 0u});
    }
    SniToolTip tip()
    {
        const QDBusMessage reply = ask(u"Get"_qs, {u"org.kde.StatusNotifierItem"_qs, u"ToolTip"_qs},
                                       u"/StatusNotifierItem"_qs, u"org.freedesktop.DBus.Properties"_qs);
        SniToolTip tip;
        if (!reply.arguments().isEmpty())
            reply.arguments().at(0).value<QDBusVariant>().variant().value<QDBusArgument>() >> tip;
        return tip;
    }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"dbus-daemon"}).isEmpty(), "dbus-daemon");
        m_bus.startCommand(QStringLiteral("dbus-daemon --session --nofork --nopidfile --print-address=1"));
        QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine() || (m_bus.waitForReadyRead(100), false); }, 10000));
        const QByteArray address = m_bus.readLine().trimmed();
        // Before the program's first use of the session bus, which then is this one.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        m_panelBus = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("panel"));
        QVERIFY(m_panelBus.registerObject(u"/StatusNotifierWatcher"_qs, &m_panel,
                                          QDBusConnection::ExportScriptableContents |
                                              QDBusConnection::ExportAllProperties));
        QVERIFY(m_panelBus.registerService(u"org.kde.StatusNotifierWatcher"_qs));
        QVERIFY(m_silent.listen(QHostAddress::LocalHost));
        m_folder.writeServer(u"127.0.0.1:%1"_qs.arg(m_silent.serverPort()));
        m_folder.writeAccount(u"user"_qs, u"password"_qs);
        checkOptions().connectTimeoutMs = checkOptions().replyTimeoutMs = 4000;
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
        m_bus.terminate(); // by its own PID
        m_bus.waitForFinished(5000);
    }

    // 「メールチェック」 in the panel's menu starts a check; it is off while the check runs, where a click on it
    // does nothing, and on again after it. Each change reaches the panel as LayoutUpdated with a new revision,
    // and the tip follows the check. The other entries do what they say; an id no entry has is refused.
    void menuFollowsTheCheck()
    {
        MainForm form;
        form.setMailOptions(checkOptions());
        form.show();
        form.Command4_Click(); // to the tray: its item registers with the panel, which follows its menu
        QTRY_COMPARE_WITH_TIMEOUT(m_panel.items.size(), 1, 10000);
        QVERIFY(m_panelBus.connect(m_panel.items.first(), DBusMenu::path(), MenuInterface, u"LayoutUpdated"_qs,
                                   &m_panel, SLOT(layoutUpdated(uint, int))));
        QTRY_VERIFY(!form.isVisible());
        const QString check = u"メールチェック"_qs;
        QVERIFY(enabled(layout().value(check)));
        const SniToolTip before = tip();
        QVERIFY2(!before.body.isEmpty() && !before.body.contains(u'\n'), qPrintable(before.body));
        QSignalSpy triggered(form.mtraycheck, &QAction::triggered);
        QSignalSpy connected(&m_silent, &QTcpServer::newConnection);
        QCOMPARE(click(layout().value(check).id).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(form.isChecking() && connected.size() == 1 && !m_panel.revisions.isEmpty());
        const QMap<QString, DBusMenuLayoutItem> during = layout();
        QVERIFY(!enabled(during.value(check)));
        QVERIFY(enabled(during.value(u"メイン画面を表示"_qs)) && enabled(during.value(u"終了"_qs)));
        QVERIFY2(tip().body.startsWith(before.body + u'\n'), qPrintable(tip().body));
        click(during.value(check).id);
        QTest::qWait(200); // room for a second check to connect, were one started
        QVERIFY(triggered.size() == 1 && connected.size() == 1 && !form.isVisible());

        const qsizetype seen = m_panel.revisions.size();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 15000);
        QTRY_VERIFY(m_panel.revisions.size() > seen);
        const QList<uint>& revisions = m_panel.revisions; // each a new one
        QVERIFY(std::adjacent_find(revisions.begin(), revisions.end(), std::greater_equal<uint>()) == revisions.end());
        QVERIFY(enabled(layout().value(check)));
        QVERIFY2(tip().body.endsWith(u"接続できません"_qs), qPrintable(tip().body));
        QTRY_COMPARE(MessageBox::shown().size(), 1); // a manual check that could not connect says so
        QCOMPARE(connected.size(), 1);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
