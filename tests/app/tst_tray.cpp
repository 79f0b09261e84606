// The tray as a desktop's panel meets it: the program's StatusNotifierItem and its dbusmenu, driven
// over a private session bus by a panel of the test's own (a StatusNotifierWatcher with a host), and
// the tip's texts in both kinds of tray.
#include "../mailcheck/MailFixtures.h"
#include "TableRows.h"
#include "app/DBusMenu.h"
#include "app/MainForm.h"
#include "app/StatusNotifierItem.h"
#include "mailcheck/HistoryForm.h"
#include "platform/MessageBox.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>
#include <memory>

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

// One click on the menu as the panel sends it, and what it must do.
struct ClickRow
{
    const char* name;
    QString label;             // the entry clicked; empty: an id no entry has
    bool duringCheck;          // clicked while a check runs
    bool refused;              // the call is answered with an error
    bool (*done)(MainForm& f); // what the click did
};

// The status line, and so the tip, for one way a check ended.
struct WordingRow
{
    const char* name;
    CheckOutcome outcome;
    QString expected;
};

CheckOutcome checked(int messages, int deleted, int fresh, int trial = 0)
{
    CheckOutcome outcome;
    outcome.kind = CheckOutcome::Kind::Checked;
    outcome.finished = QDateTime(QDate(2025, 1, 2), QTime(9, 5));
    outcome.messages = messages;
    outcome.deleted = deleted;
    outcome.fresh = fresh;
    outcome.trialMatches = trial;
    return outcome;
}
} // namespace

class TestTray : public QObject
{
    Q_OBJECT
    QProcess m_bus;
    QDBusConnection m_panelBus{QString()};
    std::unique_ptr<Panel> m_panel;
    std::unique_ptr<TestProgramFolder> m_folder;
    QTcpServer m_silent; // a server that never greets: a check against it runs until its reply time-out

    // The answer to a call from the panel, which the program's own thread has to serve meanwhile.
    QDBusMessage ask(const QString& method, const QVariantList& arguments, const QString& path = DBusMenu::path(),
                     const QString& interface = MenuInterface)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(m_panel->items.value(0), path, interface, method);
        call.setArguments(arguments);
        QDBusPendingCall pending = m_panelBus.asyncCall(call, 5000);
        if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 10000))
            return {};
        return pending.reply();
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
    static bool enabled(const DBusMenuLayoutItem& entry)
    {
        return entry.properties.value(QStringLiteral("enabled"), true).toBool();
    }
    SniToolTip tip()
    {
        const QDBusMessage reply =
            ask(QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("ToolTip")},
                QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"));
        SniToolTip tip;
        if (!reply.arguments().isEmpty())
            reply.arguments().at(0).value<QDBusVariant>().variant().value<QDBusArgument>() >> tip;
        return tip;
    }
    // The main window gone to the tray, its item registered with the panel and its menu followed.
    void toTray(MainForm& form)
    {
        form.show();
        form.Command4_Click();
        QTRY_COMPARE_WITH_TIMEOUT(m_panel->items.size(), 1, 10000);
        QVERIFY(m_panelBus.connect(m_panel->items.first(), DBusMenu::path(), MenuInterface,
                                   QStringLiteral("LayoutUpdated"), m_panel.get(), SLOT(layoutUpdated(uint, int))));
        QTRY_VERIFY(!form.isVisible());
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
        QVERIFY(m_panelBus.isConnected());
        QVERIFY(m_silent.listen(QHostAddress::LocalHost));
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }
    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>(true, true);
        m_folder->writeServer(QStringLiteral("127.0.0.1:%1").arg(m_silent.serverPort()));
        m_folder->writeAccount(QStringLiteral("user"), QStringLiteral("password"));
        m_panel = std::make_unique<Panel>();
        QVERIFY(m_panelBus.registerObject(QStringLiteral("/StatusNotifierWatcher"), m_panel.get(),
                                          QDBusConnection::ExportScriptableContents |
                                              QDBusConnection::ExportAllProperties));
        QVERIFY(m_panelBus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        checkOptions().connectTimeoutMs = checkOptions().replyTimeoutMs = 4000;
    }
    void cleanup()
    {
        m_panelBus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        m_panelBus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        while (QTcpSocket* socket = m_silent.nextPendingConnection())
            delete socket; // after the window: its check, if any, ended with it
    }

    // 「メールチェック」 in the panel's menu is off while a check runs and on again after it; each change
    // reaches the panel as LayoutUpdated with a new revision, and the tip follows the check.
    void menuFollowsTheCheck()
    {
        MainForm form;
        form.setMailOptions(checkOptions());
        toTray(form);
        QVERIFY(enabled(layout().value(QStringLiteral("メールチェック"))));
        SniToolTip before = tip();
        QCOMPARE(before.title, QStringLiteral("Mossvale"));
        QVERIFY2(!before.body.isEmpty() && !before.body.contains(u'\n'), qPrintable(before.body));

        form.Command6_Click();
        QVERIFY(form.isChecking());
        QTRY_VERIFY(!m_panel->revisions.isEmpty());
        const QMap<QString, DBusMenuLayoutItem> during = layout();
        QVERIFY(!enabled(during.value(QStringLiteral("メールチェック"))));
        QVERIFY(enabled(during.value(QStringLiteral("メイン画面を表示"))) &&
                enabled(during.value(QStringLiteral("終了"))));
        QVERIFY2(tip().body.startsWith(before.body + u'\n'), qPrintable(tip().body));

        const qsizetype seen = m_panel->revisions.size();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 15000);
        QTRY_VERIFY(m_panel->revisions.size() > seen);
        const QList<uint>& revisions = m_panel->revisions; // each a new one
        QVERIFY(std::adjacent_find(revisions.begin(), revisions.end(), std::greater_equal<uint>()) == revisions.end());
        QVERIFY(enabled(layout().value(QStringLiteral("メールチェック"))));
        QVERIFY2(tip().body.endsWith(QStringLiteral("接続できません")), qPrintable(tip().body));
        QTRY_COMPARE(MessageBox::shown().size(), 1); // a manual check that could not connect says so
    }

    void menuClicks_data()
    {
        const auto add = addRow<ClickRow>();
        add({"main window comes back", QStringLiteral("メイン画面を表示"), false, false,
             [](MainForm& f) { return f.isVisible(); }});
        add({"history opens", QStringLiteral("削除履歴"), false, false,
             [](MainForm& f) { return f.historyForm().isLoaded() && f.historyForm().loaded()->isVisible(); }});
        add({"check starts", QStringLiteral("メールチェック"), false, false,
             [](MainForm& f) { return f.isChecking(); }});
        add({"no second check", QStringLiteral("メールチェック"), true, false,
             [](MainForm& f) { return !f.isVisible() && f.isChecking(); }});
        add({"unknown entry refused", QString(), false, true, [](MainForm& f) { return !f.isVisible(); }});
    }
    // A click in the panel's menu does what the entry says, once the call has returned; a click on an
    // entry that is off does nothing.
    void menuClicks()
    {
        QFETCH(ClickRow, row);
        MainForm form;
        form.setMailOptions(checkOptions());
        toTray(form);
        if (row.duringCheck) {
            form.Command6_Click();
            QTRY_VERIFY(m_silent.hasPendingConnections());
        }
        const int id = row.label.isEmpty() ? 9999 : layout().value(row.label).id;
        QVERIFY(id > 0);
        QSignalSpy triggered(form.mtraycheck, &QAction::triggered);
        QSignalSpy connected(&m_silent, &QTcpServer::newConnection);
        const QDBusMessage reply = ask(QStringLiteral("Event"),
                                       {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), uint(0)});
        QCOMPARE(reply.type() == QDBusMessage::ErrorMessage, row.refused);
        QTRY_VERIFY(row.done(form));
        QTest::qWait(200); // room for a second check to connect, were one started
        const int checks = row.label == u"メールチェック" && !row.duringCheck ? 1 : 0;
        QCOMPARE(triggered.size(), checks);
        QCOMPARE(connected.size(), checks);
    }

    // Qt's own tray has one text: the program's title is its first line.
    void qtTrayTipCarriesTheTitle()
    {
        QMenu menu;
        TrayIcon* tray = TrayIcon::createQtTray(&menu, this);
        tray->setTip(QStringLiteral("Mossvale"), QStringLiteral("2025/01/02 09:05\n09:06 残り3（新着1）・削除0"));
        const auto* icon = tray->findChild<QSystemTrayIcon*>();
        QVERIFY(icon);
        QCOMPARE(icon->toolTip(), QStringLiteral("Mossvale\n2025/01/02 09:05\n09:06 残り3（新着1）・削除0"));
        delete tray;
    }

    void statusWording_data()
    {
        const auto add = addRow<WordingRow>();
        add({"left and new", checked(17, 1, 1), QStringLiteral("09:05 残り16（新着1）・削除1")});
        add({"old mail is not new", checked(16, 0, 0), QStringLiteral("09:05 残り16（新着0）・削除0")});
        add({"no unique ids", checked(13, 1, -1), QStringLiteral("09:05 残り12・削除1")});
        add({"trial", checked(5, 0, 2, 3), QStringLiteral("09:05 残り5（新着2）・試用3")});
        CheckOutcome noted = checked(0, 0, 0);
        noted.notice = QStringLiteral("x");
        add({"with a notice", noted, QStringLiteral("09:05 残り0（新着0）・削除0※")});
        CheckOutcome unreachable;
        unreachable.kind = CheckOutcome::Kind::NoConnection;
        unreachable.finished = noted.finished;
        add({"unreachable", unreachable, QStringLiteral("09:05 接続できません")});
    }
    // 「残り」 counts what stays on the server, 「新着」 only mail that was not there at the last check.
    void statusWording()
    {
        QFETCH(WordingRow, row);
        QCOMPARE(row.outcome.summary(), row.expected);
        if (row.outcome.kind == CheckOutcome::Kind::Checked && row.outcome.fresh < 0)
            QVERIFY(!row.outcome.details().contains(QStringLiteral("新着")));
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
