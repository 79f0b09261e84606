#include "Prerequisite.h"
#include "TableRows.h"
#include "Tools.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

// The Debian package as `make deb` builds it: its fields, every file it holds and their owners
// and modes, lintian's verdict, and its desktop metadata. It is unpacked into a temporary folder,
// never installed.
namespace {
const QString ProjectVersion = QStringLiteral(MOSSVALE_PROJECT_VERSION);
const QString BinaryDir = QStringLiteral(MOSSVALE_BINARY_DIR);

struct FieldRow
{
    const char* name;
    QString field;
    QStringList holds;
};

struct ContentRow
{
    const char* name;
    QString path; // "@" stands for usr/lib/<multiarch>/mossvale
    bool present;
    QString linkTarget = {};
};

// One line of `dpkg-deb -c`: "-rw-r--r-- root/root 1234 2026-12-07 19:30 ./usr/bin/x [-> target]".
struct Entry
{
    QString mode, owner, path, target;
};
} // namespace

Q_DECLARE_METATYPE(FieldRow)
Q_DECLARE_METATYPE(ContentRow)

class PackageTest : public QObject
{
    Q_OBJECT

    QString m_deb;
    QString m_folder; // the program folder inside the package, without the leading "./"
    QList<Entry> m_entries;
    QTemporaryDir m_unpacked;

    QString unpacked(const QString& path) const { return m_unpacked.filePath(path); }

    static QString findPackage()
    {
        const QStringList debs =
            QDir(BinaryDir).entryList({QStringLiteral("mossvale_%1_*.deb").arg(ProjectVersion)}, QDir::Files);
        return debs.size() == 1 ? BinaryDir + u'/' + debs.first() : QString();
    }

    void readContents()
    {
        const ToolRun list = runTool("dpkg-deb", {"-c", m_deb});
        QVERIFY2(list.finished && list.exitCode == 0, list.err);
        static const QRegularExpression line(R"(^(\S+) (\S+)\s+\d+ \S+ \S+ \./(.*?)(?: -> (.*))?$)");
        for (const QString& text : QString::fromUtf8(list.out).split(u'\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = line.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(text));
            m_entries.append({match.captured(1), match.captured(2), match.captured(3), match.captured(4)});
        }
    }

private slots:
    void initTestCase()
    {
        const QByteArray missing = Prerequisite::missingPrograms(
            {"dpkg-deb", "dpkg-architecture", "lintian", "desktop-file-validate", "appstreamcli", "make"});
        MOSSVALE_REQUIRE(missing.isEmpty(), missing);
        m_deb = findPackage();
        if (m_deb.isEmpty()) {
            const ToolRun build = runTool("make", {"-C", MOSSVALE_SOURCE_DIR, "deb", "BUILD=" + BinaryDir}, 1'700'000);
            QVERIFY2(build.finished && build.exitCode == 0, build.err.right(4000));
            m_deb = findPackage();
        }
        QVERIFY2(!m_deb.isEmpty(), "make deb made no mossvale_<version>_<arch>.deb");
        const ToolRun multiarch = runTool("dpkg-architecture", {"-qDEB_HOST_MULTIARCH"});
        m_folder = "usr/lib/" + QString::fromUtf8(multiarch.out).trimmed() + "/mossvale";
        readContents();
        const ToolRun unpack = runTool("dpkg-deb", {"-x", m_deb, m_unpacked.path()});
        QVERIFY2(unpack.finished && unpack.exitCode == 0, unpack.err);
    }

    void fields_data()
    {
        const auto row = addRow<FieldRow>();
        row({"name", "Package", {"mossvale"}});
        row({"version", "Version", {ProjectVersion}});
        row({"libraries found by shlibs",
             "Depends",
             {"libqt6widgets6", "libqt6multimedia6", "libqt6keychain1", "libc6"}});
        row({"what the program runs", "Depends", {"ca-certificates", "fonts-vlgothic | fonts-japanese-gothic"}});
        row({"optional helpers", "Recommends", {"libsecret-1-0", "xdg-utils"}});
        row({"optional extensions",
             "Suggests",
             {"gnome-keyring", "gnome-shell-extension-appindicator", "qt6-wayland"}});
    }

    void fields()
    {
        QFETCH(FieldRow, row);
        const ToolRun field = runTool("dpkg-deb", {"-f", m_deb, row.field});
        const QString value = QString::fromUtf8(field.out).trimmed();
        QVERIFY2(!value.contains(u'$'), qPrintable(value)); // a substitution variable left over
        // Each part is one relation of the list, with or without a version or alternatives after it.
        const QStringList relations = value.split(QStringLiteral(", "));
        for (const QString& part : row.holds) {
            QVERIFY2(std::any_of(relations.begin(), relations.end(),
                                 [&](const QString& r) { return r == part || r.startsWith(part + u' '); }),
                     qPrintable(part + " in " + value));
        }
    }

    void contents_data()
    {
        const auto row = addRow<ContentRow>();
        row({"command", "usr/bin/mossvale", true, "../lib/@/mossvale/mossvale"});
        row({"program", "@/mossvale", true});
        row({"install marker", "@/installed.txt", true});
        row({"no data folder", "@/★MailData/", false});
        row({"man page", "usr/share/man/man1/mossvale.1.gz", true});
        row({"Japanese man page", "usr/share/man/ja/man1/mossvale.1.gz", true});
        row({"copyright", "usr/share/doc/mossvale/copyright", true});
        row({"no test program", "@/tst_release", false});
    }

    void contents()
    {
        QFETCH(ContentRow, row);
        const QString multiarch = m_folder.section(u'/', 2, 2);
        const QString path = QString(row.path).replace(u'@', row.linkTarget.isEmpty() ? m_folder : multiarch);
        const auto entry = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
            return e.path == path || e.path.startsWith(path.endsWith(u'/') ? path : path + u'/');
        });
        QCOMPARE(entry != m_entries.end(), row.present);
        if (!row.linkTarget.isEmpty())
            QCOMPARE(entry->target, QString(row.linkTarget).replace(u'@', multiarch));
    }

    // Nothing in the package can be changed by a user, and it holds nothing but its own places.
    void ownersModesAndPlaces()
    {
        const QStringList places{"usr/bin/mossvale",         m_folder + u'/',       "usr/share/applications/",
                                 "usr/share/icons/hicolor/", "usr/share/metainfo/", "usr/share/man/",
                                 "usr/share/doc/mossvale/"};
        for (const Entry& entry : std::as_const(m_entries)) {
            QVERIFY2(entry.owner == "root/root", qPrintable(entry.path));
            const bool link = entry.mode.startsWith(u'l');
            QVERIFY2(link || (entry.mode.at(5) != u'w' && entry.mode.at(8) != u'w'), qPrintable(entry.path));
            // A place of ours, or a folder above one.
            const bool ours = std::any_of(places.begin(), places.end(), [&](const QString& place) {
                return entry.path.startsWith(place) || place.startsWith(entry.path);
            });
            QVERIFY2(ours, qPrintable(entry.path));
        }
    }

    void lintianAcceptsIt()
    {
        const ToolRun lint = runTool("lintian", {"--tag-display-limit", "0", m_deb}, 600'000);
        QVERIFY2(lint.finished, lint.err);
        const QByteArrayList complaints = lintianComplaints(lint.out + lint.err);
        QVERIFY2(complaints.isEmpty(), complaints.join('\n'));
    }

    void unpackedFiles()
    {
        const ToolRun desktop = runTool("desktop-file-validate", {unpacked("usr/share/applications/mossvale.desktop")});
        QVERIFY2(desktop.finished && desktop.exitCode == 0, desktop.out + desktop.err);
        const ToolRun metainfo =
            runTool("appstreamcli",
                    {"validate", "--no-net", unpacked("usr/share/metainfo/io.github.mossvale.Mossvale.metainfo.xml")});
        QVERIFY2(metainfo.finished && metainfo.exitCode == 0, metainfo.out + metainfo.err);
        QFile entry(unpacked("usr/share/applications/mossvale.desktop")), marker(unpacked(m_folder + "/installed.txt"));
        QVERIFY(entry.open(QIODevice::ReadOnly) && marker.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("\nExec=/usr/bin/mossvale\n"));
        QCOMPARE(marker.readLine(), QByteArray("/usr/bin/mossvale\n"));
        const ToolRun version = runTool(unpacked(m_folder + "/mossvale"), {"--version"});
        QCOMPARE(version.out, "mossvale " + ProjectVersion.toUtf8() + "\n");
    }
};

QTEST_GUILESS_MAIN(PackageTest)
#include "tst_package.moc"
