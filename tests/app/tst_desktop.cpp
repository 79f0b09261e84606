#include "TableRows.h"
#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "app/SingleInstance.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MsgForm.h"
#include "platform/WindowPlacement.h"
#include "settings/SetForm.h"

#include <QApplication>
#include <QLocalSocket>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

// The program on the desktop: one program per data folder, and windows that fit a small screen and
// that the notice board does not hide. At three times the scale the offscreen screen (800 x 800) is
// some 266 x 266, where no design size fits. The real second start is e2e_single_instance.
namespace {
struct FolderRow
{
    const char* name;
    QString (*prepare)(const QString& base); // the socket folder asked for; nullptr: none, the environment decides
    const char* runtime;                     // $XDG_RUNTIME_DIR relative to the test's folder; nullptr: unset
    const char* expected;                    // the socket's folder, relative; nullptr: no socket
    const char* told;                        // then what the holder and a second start are told
};

// A window of the program: it opens within the free area, a sizable one made smaller, one of a fixed size
// keeping its whole design in a page that scrolls. The board, centred over it, moves aside or covers it.
struct WindowRow
{
    const char* name;
    QWidget* (*open)(MainForm&);
    QSize design; // the client area at 96 dpi, of a window that is made to fit; empty: its fit is not checked
    bool scrolls;
    bool aside; // the board stands aside from it; else it covers it
};

QString makeFolder(const QString& path, int mode)
{
    QDir().mkpath(path);
    chmod(QFile::encodeName(path).constData(), mode);
    return path;
}
} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
    QTemporaryDir m_base;
    QString m_data;
    TestProgramFolder m_folder{true, true};

private Q_SLOTS:
    void initTestCase() { m_folder.writeServer("pop.example.jp"); }
    void init()
    {
        m_data = makeFolder(m_base.filePath(u"★MailData"_qs), 0755);
        qputenv("XDG_CACHE_HOME", m_base.filePath(u"cache"_qs).toUtf8());
        qunsetenv("XDG_RUNTIME_DIR");
    }

    void socketFolder_data()
    {
        const auto add = addRow<FolderRow>();
        // clang-format off
        add({"runtime folder", nullptr, "run", "run", nullptr});
        // Without a runtime folder, or with one others may enter, a folder of the user's own: never a name
        // in /tmp that another user could make first.
        add({"no runtime folder: the cache's, made private", nullptr, nullptr, "cache/mossvale", nullptr});
        add({"a runtime folder others may enter is made private", [](const QString& b) {
            makeFolder(b + "/open", 0777);
            return QString(); }, "open", "open", nullptr});
        add({"a link is not a folder of the user's own", [](const QString& b) {
            QFile::link(makeFolder(b + "/real", 0700), b + "/link");
            return b + "/link"; }, nullptr, nullptr, "フォルダーではありません"});
        add({"a folder too deep for a socket's name", [](const QString& b) {
            return makeFolder(b + '/' + QString(90, u'd'), 0700); }, nullptr, nullptr, "長すぎます"});
        // clang-format on
    }
    // A second start asks the holder to show its window; where no socket can listen, both are told why.
    void socketFolder()
    {
        QFETCH(FolderRow, row);
        if (row.runtime)
            qputenv("XDG_RUNTIME_DIR", makeFolder(m_base.filePath(QLatin1String(row.runtime)), 0700).toUtf8());
        const QString wanted = row.prepare ? row.prepare(m_base.path()) : QString();
        SingleInstance first(m_data, wanted), second(m_data, wanted);
        const SingleInstance::Start start = first.acquire();
        QCOMPARE(second.acquire(), SingleInstance::Start::AnotherHolds);
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        QSignalSpy answered(&second, &SingleInstance::holderAnswered);
        second.askHolderToShow(1000);
        QTRY_COMPARE(answered.size(), 1);
        QCOMPARE(answered.first().first().toBool(), row.expected != nullptr);
        if (!row.expected) {
            QCOMPARE(start, SingleInstance::Start::HolderDeaf);
            QVERIFY2(first.error().contains(QString::fromUtf8(row.told)), qPrintable(first.error()));
            QCOMPARE(second.error(), first.error());
            return;
        }
        const QString folder = m_base.filePath(QLatin1String(row.expected));
        QCOMPARE(start, SingleInstance::Start::Holder);
        QCOMPARE(QFileInfo(first.socketPath()).path(), folder);
        // The owner's alone: what the owner may do, nothing for the group or others.
        QCOMPARE(QFile::permissions(folder) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QTRY_COMPARE(shown.size(), 1);
    }

    // The holder listens on its name although a crashed run left a file there; while it holds the lock no
    // second holder exists, and a folder where no lock can be made runs unlocked, told. A peer is held to one
    // short line, said at once: a flood is cut off without a request, and only "show" brings the window.
    void lockLeftoversAndPeers()
    {
        const QString run = makeFolder(m_base.filePath(u"run"_qs), 0700);
        QFile left(SingleInstance(m_data, run).socketPath());
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write("stale") == 5);
        left.close();
        {
            SingleInstance holder(m_data, run);
            QCOMPARE(holder.acquire(), SingleInstance::Start::Holder);
            QCOMPARE(SingleInstance(m_data, run).acquire(), SingleInstance::Start::AnotherHolds);
            QSignalSpy shown(&holder, &SingleInstance::showRequested);
            for (const QByteArray& said :
                 {QByteArray(100000, 'x') + "show\n", QByteArray("quit\n"), QByteArray("show\n")}) {
                QLocalSocket peer;
                QSignalSpy closed(&peer, &QLocalSocket::disconnected);
                peer.connectToServer(holder.socketPath());
                QVERIFY(peer.waitForConnected(1000));
                peer.write(said);
                QTRY_COMPARE(closed.size(), 1); // the holder ends every conversation itself
                QCOMPARE(shown.size(), said == "show\n" ? 1 : 0);
            }
        }
        QCOMPARE(SingleInstance(m_data, run).acquire(), SingleInstance::Start::Holder); // released at its end
        if (geteuid() != 0) {                                                           // root writes anywhere
            SingleInstance unlocked(makeFolder(m_base.filePath(u"ro"_qs), 0500), run);
            QCOMPARE(unlocked.acquire(), SingleInstance::Start::Unlocked);
            QVERIFY(unlocked.error().contains(u"mossvale.lock"_qs));
        }
    }

    void windows_data()
    {
        const auto add = addRow<WindowRow>();
        // clang-format off
        add({"help", [](MainForm& f) -> QWidget* { return f.helpForm().show(); }, {727, 512}, false, false});
        add({"main window", [](MainForm& f) -> QWidget* { return &f; }, {433, 307}, true, false});
        add({"settings", [](MainForm& f) -> QWidget* { return f.setForm().show(); }, {281, 344}, true, true});
        add({"deletion history", [](MainForm& f) -> QWidget* { return f.historyForm().show(); }, {}, false, true});
        // clang-format on
    }
    void windows()
    {
        QFETCH(WindowRow, row);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(area.width() < 270 && area.height() < 270);
        MainForm form;
        form.show();
        QWidget* window = row.open(form);
        const QSize frame = window->frameGeometry().size() - window->size(); // once there is one; else room for it
        QVERIFY(!row.design.isValid() ||
                area.contains(QRect(window->pos(), window->size() + (frame.isEmpty() ? QSize(8, 36) : frame))));
        auto* scroll = window->findChild<QScrollArea*>(u"screenFit"_qs, Qt::FindDirectChildrenOnly);
        QCOMPARE(scroll != nullptr, row.scrolls);
        if (scroll) // the whole design is there to scroll to
            QCOMPARE(scroll->widget()->size(), row.design);
        // The board keeps above every window; it stands aside from the program's own, and comes home when they
        // go, except over the main window and the help, as it always has. Half the screen leaves it room.
        window->setFixedSize(area.size() / 2);
        centreOnScreen(window);
        MsgForm* board = form.msgForm().show();
        const QPoint home = board->frameGeometry().center();
        QVERIFY(window->frameGeometry().contains(home) && isTopmost(board));
        if (!row.aside)
            return;
        QTRY_VERIFY(!board->frameGeometry().intersects(window->frameGeometry()));
        QVERIFY(area.contains(board->frameGeometry()));
        window->close();
        QTRY_COMPARE(board->frameGeometry().center(), home);
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_SCALE_FACTOR", "3");
    QApplication app(argc, argv);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_desktop.moc"
