#include "Prerequisite.h"
#include "TableRows.h"
#include "Tools.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <functional>

// What an install lays out, checked on a `cmake --install` of this build into a temporary prefix:
// one version everywhere, the metadata the desktop and software centres read, and where an
// installed program keeps its users' data.
namespace {
const QString ProjectVersion = QStringLiteral(MOSSVALE_PROJECT_VERSION);
const QString SourceDir = QStringLiteral(MOSSVALE_SOURCE_DIR);
const QString Program = QStringLiteral(MOSSVALE_PROGRAM_FOLDER "/mossvale");
const QString Metainfo = QStringLiteral("share/metainfo/io.github.mossvale.Mossvale.metainfo.xml");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString metainfoRelease(const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    while (reader.readNextStartElement() || !reader.atEnd()) {
        if (reader.isStartElement() && reader.name() == u"release")
            return reader.attributes().value(QStringLiteral("version")).toString();
    }
    return {};
}

// The environment of a console without any display: a program that asked Qt for one would fail.
QProcessEnvironment console(const QString& lang)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("LANG"), lang);
    return environment;
}

struct VersionRow
{
    const char* name;
    std::function<QString()> version;
};

struct CommandLineRow
{
    const char* name;
    QStringList arguments;
    QString lang;
    bool answers; // true: exit 0 with the text below on stdout; false: needs the display it lacks
    QByteArray text;
};

struct LayoutRow
{
    const char* name;
    QString path; // relative to the prefix
    enum Kind { File, Link, Absent } kind;
    int iconSize = 0; // a PNG of this many pixels square
};

struct ValidatorRow
{
    const char* name;
    QString program;
    QStringList arguments; // the installed file is appended
    QString path;
};

struct DataFolderRow
{
    const char* name;
    bool installed;
    bool writable;
    bool besideProgram;
};

struct CommandRow
{
    const char* name;
    QByteArray marker;     // "" for none; LINK names the link to this folder's program, OTHER another one
    bool installedCommand; // true: the link in the marker; false: the running executable
};
} // namespace

Q_DECLARE_METATYPE(VersionRow)
Q_DECLARE_METATYPE(CommandLineRow)
Q_DECLARE_METATYPE(LayoutRow)
Q_DECLARE_METATYPE(ValidatorRow)
Q_DECLARE_METATYPE(DataFolderRow)
Q_DECLARE_METATYPE(CommandRow)

class ReleaseTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_prefix;
    QTemporaryDir m_folder; // a program folder for the data folder's rules

    QString installed(const QString& relative) const { return m_prefix.filePath(relative); }

private slots:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"desktop-file-validate", "appstreamcli", "man"}).isEmpty(),
                         Prerequisite::missingPrograms({"desktop-file-validate", "appstreamcli", "man"}));
        const ToolRun install = runTool(QStringLiteral(MOSSVALE_CMAKE_COMMAND),
                                        {"--install", MOSSVALE_BINARY_DIR, "--prefix", m_prefix.path()});
        QVERIFY2(install.finished && install.exitCode == 0, install.out + install.err);
    }

    void versionsAgree_data()
    {
        const auto row = addRow<VersionRow>();
        row({"debian/changelog", [] { return changelogVersion(readAll(SourceDir + "/debian/changelog")); }});
        row({"metainfo release", [this] { return metainfoRelease(readAll(installed(Metainfo))); }});
        row({"mossvale --version", [] {
                 const ToolRun run = runTool(Program, {"--version"}, 10'000, console("C.UTF-8"));
                 return QString::fromUtf8(run.out).remove(QStringLiteral("mossvale ")).trimmed();
             }});
    }

    void versionsAgree()
    {
        QFETCH(VersionRow, row);
        QCOMPARE(row.version(), ProjectVersion);
    }

    void commandLine_data()
    {
        const auto row = addRow<CommandLineRow>();
        row({"--version", {"--version"}, "C.UTF-8", true, "mossvale " + ProjectVersion.toUtf8() + "\n"});
        row({"--help in English", {"--help"}, "C.UTF-8", true, "Usage: mossvale [--help | --version]"});
        row({"-h in Japanese", {"-h"}, "ja_JP.UTF-8", true, "使い方: mossvale [--help | --version]"});
        row({"--help after a Qt option", {"-platform", "xcb", "--help"}, "C.UTF-8", true, "      --version"});
        // The other side: without an option the program needs the display that is not there.
        row({"no option", {}, "C.UTF-8", false, {}});
    }

    void commandLine()
    {
        QFETCH(CommandLineRow, row);
        const ToolRun run = runTool(Program, row.arguments, 10'000, console(row.lang));
        QCOMPARE(run.finished && run.exitCode == 0, row.answers);
        if (row.answers) {
            QVERIFY2(run.out.startsWith(row.text) || run.out.contains("\n" + row.text), run.out);
            QCOMPARE(run.err, QByteArray());
        }
    }

    void layout_data()
    {
        const auto row = addRow<LayoutRow>();
        row({"command", "bin/mossvale", LayoutRow::Link});
        row({"install marker", "lib/mossvale/installed.txt", LayoutRow::File});
        row({"no data folder shipped", "lib/mossvale/★MailData", LayoutRow::Absent});
        row({"desktop entry", "share/applications/mossvale.desktop", LayoutRow::File});
        row({"scalable icon", "share/icons/hicolor/scalable/apps/mossvale.svg", LayoutRow::File});
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString path = QStringLiteral("share/icons/hicolor/%1x%1/apps/mossvale.png").arg(size);
            QTest::newRow(qPrintable(path)) << LayoutRow{"", path, LayoutRow::File, size};
        }
        row({"metainfo", Metainfo, LayoutRow::File});
        row({"man page", "share/man/man1/mossvale.1", LayoutRow::File});
        row({"Japanese man page", "share/man/ja/man1/mossvale.1", LayoutRow::File});
    }

    void layout()
    {
        QFETCH(LayoutRow, row);
        const QFileInfo info(installed(row.path));
        QCOMPARE(info.exists(), row.kind != LayoutRow::Absent);
        QCOMPARE(info.isSymLink(), row.kind == LayoutRow::Link);
        if (row.iconSize)
            QCOMPARE(QImage(info.filePath()).size(), QSize(row.iconSize, row.iconSize));
    }

    void installMarkerNamesTheCommand()
    {
        const QByteArray marker = readAll(installed("lib/mossvale/installed.txt"));
        QCOMPARE(marker.left(marker.indexOf('\n')), QDir(m_prefix.path()).filePath("bin/mossvale").toUtf8());
        QCOMPARE(QFileInfo(installed("bin/mossvale")).canonicalFilePath(),
                 QFileInfo(installed("lib/mossvale/mossvale")).canonicalFilePath());
    }

    void validators_data()
    {
        const auto row = addRow<ValidatorRow>();
        row({"desktop entry", "desktop-file-validate", {}, "share/applications/mossvale.desktop"});
        row({"metainfo", "appstreamcli", {"validate", "--no-net"}, Metainfo});
        // As lintian reads the pages: groff's warnings are faults.
        const QStringList man{"--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z"};
        row({"man page", "man", man, "share/man/man1/mossvale.1"});
        row({"Japanese man page", "man", man, "share/man/ja/man1/mossvale.1"});
    }

    void validators()
    {
        QFETCH(ValidatorRow, row);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
        const ToolRun run = runTool(row.program, row.arguments << installed(row.path), 60'000, environment);
        QVERIFY2(run.finished && run.exitCode == 0, run.out + run.err);
        QVERIFY2(!run.err.contains("warning") && !run.out.contains("W:") && !run.out.contains("E:"), run.out + run.err);
    }

    // An installed program folder keeps its users' data in their own folder, whoever runs it: a
    // folder that root can write is no reason to write under /usr.
    void dataFolder_data()
    {
        const auto row = addRow<DataFolderRow>();
        row({"a copy of the program folder", false, true, true});
        row({"installed, and writable (root)", true, true, false});
        row({"installed, read-only", true, false, false});
    }

    void dataFolder()
    {
        QFETCH(DataFolderRow, row);
        QTemporaryDir folder, data;
        if (row.installed)
            QVERIFY(QFile(folder.filePath("installed.txt")).open(QIODevice::WriteOnly));
        QFile(folder.path())
            .setPermissions(row.writable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                         : QFile::ReadOwner | QFile::ExeOwner);
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        setProgramFolder(folder.path());
        QCOMPARE(settingsBesideProgram(), row.besideProgram);
        QCOMPARE(Paths::generalSettingsFile(),
                 (row.besideProgram ? folder.path() : data.path() + "/Mossvale") + "/★MailData/ini.ini");
        QCOMPARE(Paths::helpPage(), folder.path() + "/HTML/1.htm");
        QFile(folder.path()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // 「ログイン時に起動する」 starts the installed command, so the entry outlives the program folder's place.
    void startCommand_data()
    {
        const auto row = addRow<CommandRow>();
        row({"not installed", "", false});
        row({"installed", "LINK\n# comment\n", true});
        row({"marker naming another program", "OTHER\n", false});
        row({"marker naming a relative path", "bin/mossvale\n", false});
        row({"marker of one endless line", QByteArray(8192, '/') + "LINK", false});
        row({"marker without a line", "\n", false});
    }

    void startCommand()
    {
        QFETCH(CommandRow, row);
        QTemporaryDir prefix;
        QDir(prefix.path()).mkpath("lib/mossvale");
        QDir(prefix.path()).mkpath("bin");
        const QString folder = prefix.filePath("lib/mossvale"), link = prefix.filePath("bin/mossvale");
        for (const QString& program : {folder + "/mossvale", prefix.filePath("other")})
            QVERIFY(QFile(program).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(folder + "/mossvale", link) &&
                QFile::link(prefix.filePath("other"), prefix.filePath("bin/other")));
        QByteArray marker = row.marker;
        marker.replace("LINK", link.toUtf8()).replace("OTHER", prefix.filePath("bin/other").toUtf8());
        if (!marker.isEmpty()) {
            QFile file(folder + "/installed.txt");
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(marker) == marker.size());
        }
        setProgramFolder(folder);
        QCOMPARE(programCommand(), row.installedCommand ? link : QCoreApplication::applicationFilePath());
    }
};

QTEST_GUILESS_MAIN(ReleaseTest)
#include "tst_release.moc"
