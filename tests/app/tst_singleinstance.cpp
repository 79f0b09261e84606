#include "TableRows.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

// One program per data folder: the lock, the socket a second start talks to, and where that socket
// may live. The real second start, window and all, is e2e_single_instance.
namespace {
struct FolderRow
{
    const char* name;
    // Prepares the socket folder inside the test's folder; empty text: the folder is left unset,
    // so $XDG_RUNTIME_DIR or the cache folder decides.
    QString (*prepare)(const QString& base);
    const char* runtime;  // $XDG_RUNTIME_DIR relative to the test's folder, nullptr: unset
    const char* expected; // the socket's folder, relative; nullptr: no socket, and the holder says why
    const char* told;     // what the holder and a second start are told, when there is no socket
};

QString makeFolder(const QString& path, int mode)
{
    QDir().mkpath(path);
    chmod(QFile::encodeName(path).constData(), mode);
    return path;
}

int modeOf(const QString& path)
{
    struct stat info{};
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QString unset(const QString&)
{
    return {};
}
} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
    QTemporaryDir m_base;
    QString m_data;

private Q_SLOTS:
    void init()
    {
        m_data = makeFolder(m_base.filePath(QStringLiteral("★MailData")), 0755);
        qputenv("XDG_CACHE_HOME", m_base.filePath(QStringLiteral("cache")).toUtf8());
        qunsetenv("XDG_RUNTIME_DIR");
    }

    void socketFolder_data()
    {
        const auto add = addRow<FolderRow>();
        // clang-format off
        add({"runtime folder", unset, "run", "run", nullptr});
        // Where no runtime folder is set, or one others may enter, a folder of the user's own: never
        // a name in /tmp that another user could make first.
        add({"no runtime folder: the cache's, made private", unset, nullptr, "cache/mossvale", nullptr});
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

    void socketFolder()
    {
        QFETCH(FolderRow, row);
        if (row.runtime)
            qputenv("XDG_RUNTIME_DIR", makeFolder(m_base.filePath(QLatin1String(row.runtime)), 0700).toUtf8());
        const QString wanted = row.prepare(m_base.path());
        SingleInstance first(m_data, wanted);
        SingleInstance second(m_data, wanted);
        const SingleInstance::Start start = first.acquire();
        QCOMPARE(second.acquire(), SingleInstance::Start::AnotherHolds);
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        QSignalSpy answered(&second, &SingleInstance::holderAnswered);
        second.askHolderToShow(1000);
        QTRY_COMPARE(answered.size(), 1);
        if (!row.expected) {
            QCOMPARE(start, SingleInstance::Start::HolderDeaf);
            QVERIFY2(first.error().contains(QString::fromUtf8(row.told)), qPrintable(first.error()));
            QVERIFY(!answered.first().first().toBool() && second.error() == first.error());
            return;
        }
        const QString folder = m_base.filePath(QLatin1String(row.expected));
        QCOMPARE(start, SingleInstance::Start::Holder);
        QCOMPARE(QFileInfo(first.socketPath()).path(), folder);
        QCOMPARE(modeOf(folder), 0700);
        QVERIFY(answered.first().first().toBool());
        QTRY_COMPARE(shown.size(), 1);
    }

    // The holder listens on its name although a crashed run left a file there; while it holds the
    // lock, no second holder exists, and a folder where no lock can be made runs unlocked, told.
    void lockAndLeftovers()
    {
        const QString run = makeFolder(m_base.filePath(QStringLiteral("run")), 0700);
        SingleInstance probe(m_data, run);
        QFile left(probe.socketPath());
        QVERIFY(left.open(QIODevice::WriteOnly) && left.write("stale") == 5);
        left.close();
        {
            SingleInstance holder(m_data, run);
            QCOMPARE(holder.acquire(), SingleInstance::Start::Holder);
            QCOMPARE(SingleInstance(m_data, run).acquire(), SingleInstance::Start::AnotherHolds);
        }
        QCOMPARE(SingleInstance(m_data, run).acquire(), SingleInstance::Start::Holder); // released at its end
        const QString readOnly = makeFolder(m_base.filePath(QStringLiteral("ro")), 0500);
        if (geteuid() != 0) { // root writes anywhere: then the row above is all there is to see
            SingleInstance unlocked(readOnly, run);
            QCOMPARE(unlocked.acquire(), SingleInstance::Start::Unlocked);
            QVERIFY(unlocked.error().contains(u"mossvale.lock"_qs));
        }
    }

    // Only the same user can reach the socket; even so a peer is held to one short line, said at once:
    // a flood is cut off without a request, and only "show" brings the window.
    void hostilePeers_data()
    {
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<int>("requests");
        QTest::newRow("show") << QByteArray("show\n") << 1;
        QTest::newRow("something else") << QByteArray("quit\n") << 0;
        QTest::newRow("a flood without a line end") << QByteArray(100000, 'x') + "show\n" << 0;
    }

    void hostilePeers()
    {
        QFETCH(QByteArray, said);
        QFETCH(int, requests);
        SingleInstance holder(m_data, makeFolder(m_base.filePath(QStringLiteral("run")), 0700));
        QCOMPARE(holder.acquire(), SingleInstance::Start::Holder);
        QSignalSpy shown(&holder, &SingleInstance::showRequested);
        QLocalSocket peer;
        QSignalSpy closed(&peer, &QLocalSocket::disconnected);
        peer.connectToServer(holder.socketPath());
        QVERIFY(peer.waitForConnected(1000));
        peer.write(said);
        QTRY_COMPARE(closed.size(), 1); // the holder ends every conversation itself
        QCOMPARE(shown.size(), requests);
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
