#include "Tools.h"
#include "settings/ProgramFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// What an install lays out, checked on a `cmake --install` of this build into a temporary prefix:
// one version everywhere, a command line that needs no display, where an installed program keeps
// its users' data, and the command that 「ログイン時に起動する」 starts.
class ReleaseTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_prefix;

    QString installed(const QString& relative) const { return m_prefix.filePath(relative); }

private slots:
    void initTestCase()
    {
        const ToolRun install = runTool(QStringLiteral(MOSSVALE_CMAKE_COMMAND),
                                        {"--install", MOSSVALE_BINARY_DIR, "--prefix", m_prefix.path()});
        QVERIFY2(install.ok, install.out + install.err);
    }

    // debian/changelog and the installed metainfo's newest release say CMake's version; so does
    // `mossvale --version` (commandLine).
    void versionsAgree()
    {
        QFile changelog(MOSSVALE_SOURCE_DIR "/debian/changelog"),
            metainfo(installed("share/metainfo/io.github.mossvale.Mossvale.metainfo.xml"));
        QVERIFY(changelog.open(QIODevice::ReadOnly) && metainfo.open(QIODevice::ReadOnly));
        QCOMPARE(changelog.readLine().split(')').first(), "mossvale (" MOSSVALE_PROJECT_VERSION);
        const QRegularExpression release("<release\\b[^>]*\\bversion=\"([^\"]*)\"");
        QCOMPARE(release.match(QString::fromUtf8(metainfo.readAll())).captured(1), MOSSVALE_PROJECT_VERSION);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("command"); // LANG=..., then the program's arguments
        QTest::addColumn<QByteArray>("text");     // a line of stdout with exit 0; empty: it fails
        QTest::newRow("--version") << QStringList{"LANG=C.UTF-8", "--version"} << QByteArray("mossvale " MOSSVALE_PROJECT_VERSION "\n");
        QTest::newRow("no option: needs a display") << QStringList{"LANG=C.UTF-8"} << QByteArray();
    }

    // In the environment of a console without any display: a program that asked Qt for one fails.
    void commandLine()
    {
        QFETCH(QStringList, command);
        QFETCH(QByteArray, text);
        command.insert(1, MOSSVALE_PROGRAM_FOLDER "/mossvale");
        const ToolRun run =
            runTool("env", QStringList{"-i", "PATH=/usr/bin:/bin", "QT_QPA_PLATFORM=xcb"} + command, 10'000);
        QCOMPARE(run.ok, !text.isEmpty());
        if (run.ok) {
            QVERIFY2(run.out.startsWith(text) || run.out.contains("\n" + text), run.out);
            QCOMPARE(run.err, QByteArray());
        }
    }

    // An installed program folder keeps its users' data in their own folder, whoever runs it: a
    // folder that root can write is no reason to write under /usr. A copy keeps them beside itself.
    // (tests/e2e/readonly-install.sh runs an installed program that cannot write its folder.)
    void dataFolder()
    {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        setProgramFolder(installed("lib/mossvale"));
        QCOMPARE(Paths::generalSettingsFile(), data.path() + "/Mossvale/★MailData/ini.ini");
        QCOMPARE(Paths::helpPage(), installed("lib/mossvale/HTML/1.htm"));
        setProgramFolder(MOSSVALE_PROGRAM_FOLDER);
        QCOMPARE(Paths::generalSettingsFile(), MOSSVALE_PROGRAM_FOLDER "/★MailData/ini.ini");
    }

    // 「ログイン時に起動する」 starts the installed command, so the entry outlives the program
    // folder's place; a marker that does not lead to this folder's program is not trusted.
    void startCommand_data()
    {
        QTest::addColumn<QByteArray>("marker");     // null: as installed; empty: none; LINK: the installed command
        QTest::addColumn<bool>("installedCommand"); // false: the running executable
        QTest::newRow("as installed") << QByteArray() << true;
        QTest::newRow("marker naming another program") << QByteArray("/bin/sh\n") << false;
        QTest::newRow("no marker") << QByteArray("") << false;
    }

    void startCommand()
    {
        QFETCH(QByteArray, marker);
        QFETCH(bool, installedCommand);
        const QString link = installed("bin/mossvale");
        QFile file(installed("lib/mossvale/installed.txt"));
        if (!marker.isNull())
            QVERIFY(marker.isEmpty()
                        ? file.remove()
                        : file.open(QIODevice::WriteOnly) && file.write(marker.replace("LINK", link.toUtf8())) > 0);
        file.close();
        setProgramFolder(installed("lib/mossvale"));
        QCOMPARE(programCommand(), installedCommand ? link : QCoreApplication::applicationFilePath());
    }
};

QTEST_GUILESS_MAIN(ReleaseTest)
#include "tst_release.moc"
