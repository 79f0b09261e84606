// INI access against files written byte for byte in cp932 with CR LF, as existing users have them.
#include "TestProgramFolder.h"
#include "platform/IniProfile.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {
// cp932 written out by hand: 髙 = FB FC, ① = 87 40, ～ = 81 60.
const QByteArray Taka = "\xFB\xFC", Circled1 = "\x87\x40", Wave = "\x81\x60";
const QByteArray Fixture = "; settings\r\n[OTHER]\r\nNAME=other section\r\n\r\n[exeini]\r\n"
                           "name =  C:\\Program Files\\" +
                           Taka + Circled1 + Wave +
                           "\\mail.exe  \r\n"
                           "Number2=15min\r\nNUMBER4=\r\nNUMBER5=-3\r\nQUOTED=\"  spaced  \"\r\nletters=abc\r\n"
                           "A=" +
                           QByteArray(300, 'a') + "\r\nW=" + Taka.repeated(150) +
                           "\r\n\r\n"
                           "[LAST]\r\nKEY=1\r\n[EXEINI]\r\nLATE=1\r\n";
const QByteArray Missing = "missing"; // fixture: no such file

// clang-format off
struct ReadRow { QString key, defaultText, text; int number; };
struct WriteRow { QByteArray initial; QString key, value; QByteArray expected; QString refusal; rlim_t sizeLimit = RLIM_INFINITY; };
// clang-format on
} // namespace

Q_DECLARE_METATYPE(ReadRow)
Q_DECLARE_METATYPE(WriteRow)

class TestIniProfile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { signal(SIGXFSZ, SIG_IGN); } // a file-size limit fails the write, not the process

    void reads_data()
    {
        QTest::addColumn<ReadRow>("row");
        QTest::newRow("key in other case, blanks trimmed, cp932 decoded")
            << ReadRow{u"NAME"_qs, u"未設定"_qs, u"C:\\Program Files\\髙①～\\mail.exe"_qs, 0};
        QTest::newRow("leading digits") << ReadRow{u"NUMBER2"_qs, {}, u"15min"_qs, 15};
        QTest::newRow("negative") << ReadRow{u"number5"_qs, {}, u"-3"_qs, -3};
        QTest::newRow("empty value gives default") << ReadRow{u"NUMBER4"_qs, u"未設定"_qs, u"未設定"_qs, 0};
        QTest::newRow("quotes removed, inner blanks kept") << ReadRow{u"QUOTED"_qs, {}, u"  spaced  "_qs, 0};
        QTest::newRow("missing key") << ReadRow{u"NOPE"_qs, u"x"_qs, u"x"_qs, 0};
        QTest::newRow("other section not read") << ReadRow{u"KEY"_qs, u"x"_qs, u"x"_qs, 0};
        QTest::newRow("later section of the same name not read") << ReadRow{u"LATE"_qs, u"x"_qs, u"x"_qs, 0};
        QTest::newRow("300-byte value cut to 255") << ReadRow{u"A"_qs, {}, QString(255, u'a'), 0};
        QTest::newRow("cut at a character boundary") << ReadRow{u"W"_qs, {}, QString(127, u'髙'), 0};
    }

    void reads()
    {
        QFETCH(ReadRow, row);
        TestProgramFolder folder;
        folder.write(u"a.ini"_qs, Fixture);
        const IniProfile::Document document = IniProfile::Document::load(folder.file(u"a.ini"_qs));
        QCOMPARE(document.error(), QString());
        QCOMPARE(document.text(u"EXEINI"_qs, row.key, row.defaultText), row.text);
        QCOMPARE(document.number(u"EXEINI"_qs, row.key), row.number);
        QCOMPARE(IniProfile::readText(folder.file(u"a.ini"_qs), u"EXEINI"_qs, row.key, row.defaultText), row.text);
    }

    // Every lookup answers from the one reading: the file is gone before the first of them.
    void manyKeysAreReadOnce()
    {
        TestProgramFolder folder;
        QByteArray content = "[EXEINI]\r\n";
        for (int i = 0; i < 5000; ++i)
            content += "K" + QByteArray::number(i) + '=' + QByteArray::number(i) + "\r\n";
        folder.write(u"many.ini"_qs, content);
        const IniProfile::Document document = IniProfile::Document::load(folder.file(u"many.ini"_qs));
        QVERIFY(QFile::remove(folder.file(u"many.ini"_qs)));
        int wrong = 0;
        for (int i = 0; i < 5000; ++i)
            wrong += document.number(u"exeini"_qs, u"k%1"_qs.arg(i)) != i;
        QCOMPARE(wrong, 0);
    }

    // A file over 1 MB is not ours: it is refused with a message, readers see defaults.
    void filesOverOneMegabyteAreRefused()
    {
        TestProgramFolder folder;
        const QString path = folder.file(u"big.ini"_qs);
        const QByteArray head = "[EXEINI]\r\nNAME=old\r\n";
        for (const qint64 size : {qint64(0), IniProfile::MaxFileBytes, IniProfile::MaxFileBytes + 1}) {
            if (size > 0)
                folder.write(u"big.ini"_qs, head + QByteArray(size - head.size(), ';'));
            const IniProfile::Document document = IniProfile::Document::load(path);
            const bool refused = size > IniProfile::MaxFileBytes;
            QCOMPARE(document.error().contains(u"big.ini"_qs) && document.error().contains(u"大きすぎる"_qs), refused);
            QCOMPARE(document.error().isEmpty(), !refused); // a missing file is no error
            QCOMPARE(document.text(u"EXEINI"_qs, u"NAME"_qs, u"未設定"_qs),
                     size > 0 && !refused ? u"old"_qs : u"未設定"_qs);
        }
    }

    void writes_data()
    {
        QTest::addColumn<WriteRow>("row");
        QByteArray replaced = Fixture;
        replaced.replace("Number2=15min", "Number2=5");
        QByteArray added = Fixture;
        added.replace("\r\n\r\n[LAST]", "\r\nNEWKEY=" + Taka + "\r\n\r\n[LAST]");
        QTest::newRow("value replaced, all else kept") << WriteRow{Fixture, u"number2"_qs, u"5"_qs, replaced, {}};
        QTest::newRow("key added at the section's end") << WriteRow{Fixture, u"NEWKEY"_qs, u"髙"_qs, added, {}};
        QTest::newRow("file, section and key created")
            << WriteRow{Missing, u"NAME"_qs, u"①～"_qs, "[EXEINI]\r\nNAME=" + Circled1 + Wave + "\r\n", {}};
        QTest::newRow("section after a last line without line break")
            << WriteRow{"[A]\r\nX=1", u"NAME"_qs, u"v"_qs, "[A]\r\nX=1\r\n[EXEINI]\r\nNAME=v\r\n", {}};
        QTest::newRow("key after a last line without line break")
            << WriteRow{"[EXEINI]\r\nA=1", u"B"_qs, u"2"_qs, "[EXEINI]\r\nA=1\r\nB=2", {}};
        QTest::newRow("emoji refused") << WriteRow{Fixture, u"NAME"_qs, u"emoji 😀"_qs, Fixture, u"文字"_qs};
        const QByteArray big = "[EXEINI]\r\nNAME=old\r\n;" + QByteArray(IniProfile::MaxFileBytes, ';');
        QTest::newRow("file over 1 MB never replaced") << WriteRow{big, u"NAME"_qs, u"x"_qs, big, u"大きすぎる"_qs};
        const QByteArray nearly = big.left(IniProfile::MaxFileBytes - 4);
        QTest::newRow("file that would pass 1 MB left as it was")
            << WriteRow{nearly, u"NAME"_qs, u"a much longer value"_qs, nearly, u"大きすぎる"_qs};
        QTest::newRow("no room: honest reason, file kept")
            << WriteRow{Fixture, u"NAME"_qs, u"x"_qs, Fixture, u"ファイルの大きさが上限を超えます。"_qs, 100};
    }

    void writes()
    {
        QFETCH(WriteRow, row);
        TestProgramFolder folder;
        if (row.initial != Missing)
            folder.write(u"a.ini"_qs, row.initial);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto restore = qScopeGuard([old] { setrlimit(RLIMIT_FSIZE, &old); });
        const rlimit lowered{row.sizeLimit, old.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const QString error =
            IniProfile::writeText(folder.file(u"a.ini"_qs), u"EXEINI"_qs, row.key, row.value, ownerOnly);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY2(row.refusal.isEmpty() ? error.isEmpty() : error.contains(row.refusal), qPrintable(error));
        QCOMPARE(folder.read(u"a.ini"_qs), row.expected);
        if (error.isEmpty()) // a file that holds a password is never readable by others, not even for a moment
            QCOMPARE(QFileInfo(folder.file(u"a.ini"_qs)).permissions(),
                     ownerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }
};

QTEST_GUILESS_MAIN(TestIniProfile)
#include "tst_iniprofile.moc"
