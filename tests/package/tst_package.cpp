#include "Prerequisite.h"
#include "Tools.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

// The Debian package as `make deb` builds it (only when the build folder holds none of this
// version): its dependencies, every file it holds with owner and mode, lintian's verdict, and its
// desktop metadata. It is unpacked into a temporary folder, never installed.
class PackageTest : public QObject
{
    Q_OBJECT

    QString m_deb, m_folder; // the program folder inside the package: usr/lib/<multiarch>/mossvale
    QString m_listing;       // `dpkg-deb -c`: "-rw-r--r-- root/root 1234 2026-12-07 19:30 ./usr/bin/x [-> target]"
    QTemporaryDir m_unpacked;

    static QString findPackage()
    {
        const QDir build(MOSSVALE_BINARY_DIR);
        const QStringList debs = build.entryList({"mossvale_" MOSSVALE_PROJECT_VERSION "_*.deb"}, QDir::Files);
        return debs.size() == 1 ? build.filePath(debs.first()) : QString();
    }

private slots:
    void initTestCase()
    {
        const QByteArray missing = Prerequisite::missingPrograms(
            {"dpkg-deb", "dpkg-architecture", "lintian", "desktop-file-validate", "appstreamcli", "make"});
        MOSSVALE_REQUIRE(missing.isEmpty(), missing);
        if (findPackage().isEmpty()) {
            const ToolRun build =
                runTool("make", {"-C", MOSSVALE_SOURCE_DIR, "deb", "BUILD=" MOSSVALE_BINARY_DIR}, 1'700'000);
            QVERIFY2(build.ok, build.err.right(4000));
        }
        m_deb = findPackage();
        QVERIFY2(!m_deb.isEmpty(), "make deb made no mossvale_<version>_<arch>.deb");
        m_folder = "usr/lib/" + runTool("dpkg-architecture", {"-qDEB_HOST_MULTIARCH"}).out.trimmed() + "/mossvale";
        const ToolRun list = runTool("dpkg-deb", {"-c", m_deb});
        QVERIFY2(list.ok && runTool("dpkg-deb", {"-x", m_deb, m_unpacked.path()}).ok, list.err);
        m_listing = QString::fromUtf8(list.out);
    }

    // What the package must hold (ARCH: the multiarch triplet), and neither a data folder nor a test.
    // (Owners, modes and places: lintian's tags; a lost shlibs: its missing-dependency-on-libc.)
    void contents()
    {
        const QString arch = m_folder.section(u'/', 2, 2);
        for (const QString path :
             {"usr/bin/mossvale -> ../lib/ARCH/mossvale/mossvale", "usr/lib/ARCH/mossvale/installed.txt",
              "usr/share/icons/hicolor/scalable/apps/mossvale.svg", "usr/share/man/man1/mossvale.1.gz",
              "usr/share/man/ja/man1/mossvale.1.gz", "usr/share/doc/mossvale/copyright"})
            QVERIFY2(m_listing.contains(" ./" + QString(path).replace("ARCH", arch) + u'\n'), qPrintable(path));
        QVERIFY2(!m_listing.contains(u"★MailData") && !m_listing.contains(u"/tst_"), qPrintable(m_listing));
    }

    void lintianAcceptsIt()
    {
        const ToolRun lint = runTool("lintian", {"--tag-display-limit", "0", m_deb}, 600'000);
        const QByteArray report = lint.out + lint.err;
        QVERIFY2(lint.ok && !QString::fromUtf8(report).contains(
                                QRegularExpression("^[EW]: ", QRegularExpression::MultilineOption)),
                 report);
    }

    void unpackedFiles()
    {
        const QString desktop = m_unpacked.filePath("usr/share/applications/mossvale.desktop");
        for (const QStringList& validator :
             {QStringList{"desktop-file-validate", desktop},
              {"appstreamcli", "validate", "--no-net",
               m_unpacked.filePath("usr/share/metainfo/io.github.mossvale.Mossvale.metainfo.xml")}}) {
            const ToolRun run = runTool(validator.first(), validator.mid(1));
            QVERIFY2(run.ok, run.out + run.err);
        }
        QFile file(desktop), marker(m_unpacked.filePath(m_folder + "/installed.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly) && marker.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\nExec=/usr/bin/mossvale\n"));
        QCOMPARE(marker.readLine(), QByteArray("/usr/bin/mossvale\n"));
        QCOMPARE(runTool(m_unpacked.filePath(m_folder + "/mossvale"), {"--version"}).out,
                 "mossvale " MOSSVALE_PROJECT_VERSION "\n");
    }
};

QTEST_GUILESS_MAIN(PackageTest)
#include "tst_package.moc"
