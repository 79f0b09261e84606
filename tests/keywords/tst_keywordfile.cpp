#include "keywords/KeywordFile.h"
#include "settings/ProgramFolder.h"
#include "tests/support/TestProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const QString DataFile = QStringLiteral("★MailData/Tlxdata50.data");
const QString TempFile = QStringLiteral("★MailData/TLXDATA50.TMP");

// One record as the stored format defines it, assembled byte by byte, independent of the code.
QByteArray rawRecord(const QByteArray& keyword, qint16 inUse = 1)
{
    QByteArray record("\r\n");
    record.append(char(inUse & 0xFF));
    record.append(char((inUse >> 8) & 0xFF));
    record.append(keyword.leftJustified(KeywordFieldBytes, ' ', true));
    return record;
}

QByteArray rawFile(const QList<QByteArray>& keywords)
{
    QByteArray bytes;
    for (const QByteArray& keyword : keywords)
        bytes += rawRecord(keyword);
    return bytes;
}

struct Walk
{
    QString error;
    QList<KeywordRecord> records;
    QStringList keywords() const
    {
        QStringList list;
        for (const KeywordRecord& record : records)
            list.append(record.Keyword);
        return list;
    }
};

Walk walk()
{
    Walk result;
    result.error = KeywordFile::ReadKeywordRecords([&result](const KeywordRecord& record) {
        result.records.append(record);
        return true;
    });
    return result;
}

QString field(const QString& text)
{
    return text.leftJustified(KeywordFieldBytes, u' ');
}

KeywordRecord entry(const QString& text)
{
    KeywordRecord record;
    record.Keyword = field(text);
    return record;
}

// Five keywords, the third marked for removal: what a confirmed removal leaves before the rebuild.
QByteArray markedFixture()
{
    return rawRecord(cp932(QStringLiteral("未承諾広告"))) + rawRecord("viagra") +
           rawRecord(cp932(QStringLiteral("出会い")), 0) + rawRecord(cp932(QStringLiteral("①当選"))) +
           rawRecord("casino");
}

const QStringList MarkedFixtureOld{field(QStringLiteral("未承諾広告")), field(QStringLiteral("viagra")),
                                   field(QStringLiteral("出会い")), field(QStringLiteral("①当選")),
                                   field(QStringLiteral("casino"))};
const QStringList MarkedFixtureNew{field(QStringLiteral("未承諾広告")), field(QStringLiteral("viagra")),
                                   field(QStringLiteral("①当選")), field(QStringLiteral("casino"))};
} // namespace

class TestKeywordFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { KeywordFile::setStepHook({}); }

    void readsWholeRecordsInOrder_data();
    void readsWholeRecordsInOrder();
    void walkEndsWhenTheCallerSays();
    void missingFileIsCreatedEmpty_data();
    void missingFileIsCreatedEmpty();
    void fullLengthKeywordIsStoredWhole_data();
    void fullLengthKeywordIsStoredWhole();
    void unstorableKeywordIsRefused_data();
    void unstorableKeywordIsRefused();
    void registeringAppendsAtNextNumber_data();
    void registeringAppendsAtNextNumber();
    void registrationStopsAtTheLastRecordNumber();
    void removingMovesTheRestUp_data();
    void removingMovesTheRestUp();
    void rebuildDropsMarkedRecordsAndKeepsBytes();
    void interruptedRebuildNeverLosesTheList();
    void failingRebuildStepLeavesTheOldFile();
    void restoresFromTheTemporaryFile_data();
    void restoresFromTheTemporaryFile();
    void interruptedRestoreNeverLosesTheList();
    void fileFailuresAreReportedByName_data();
    void fileFailuresAreReportedByName();
};

void TestKeywordFile::readsWholeRecordsInOrder_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("nextNumber");

    const QByteArray three = rawFile({cp932(QStringLiteral("未承諾広告")), "viagra", cp932(QStringLiteral("①～㈱"))});
    const QStringList threeKeywords{field(QStringLiteral("未承諾広告")), field(QStringLiteral("viagra")),
                                    field(QStringLiteral("①～㈱"))};
    QTest::newRow("empty file") << QByteArray() << QStringList() << 1;
    QTest::newRow("three records") << three << threeKeywords << 4;
    QTest::newRow("incomplete tail of 1 byte") << three + "\r" << threeKeywords << 4;
    QTest::newRow("incomplete tail of 203 bytes") << three + rawRecord("lost").left(203) << threeKeywords << 4;
    QTest::newRow("only an incomplete record") << rawRecord("lost").left(100) << QStringList() << 1;
    QTest::newRow("trailing spaces kept, inner spaces kept")
        << rawRecord(" a b ") << QStringList{field(QStringLiteral(" a b "))} << 2;
}

void TestKeywordFile::readsWholeRecordsInOrder()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    QFETCH(int, nextNumber);
    TestProgramFolder folder;
    folder.write(DataFile, bytes);

    const Walk result = walk();
    QCOMPARE(result.error, QString());
    QCOMPARE(result.keywords(), expected);
    for (const KeywordRecord& record : result.records) {
        QCOMPARE(record.LineBreak, QStringLiteral("\r\n"));
        QCOMPARE(record.InUse, qint16(1));
    }
    int number = 0;
    QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
    QCOMPARE(number, nextNumber);
    QCOMPARE(folder.read(DataFile), bytes); // reading never rewrites
}

void TestKeywordFile::walkEndsWhenTheCallerSays()
{
    TestProgramFolder folder;
    folder.write(DataFile, rawFile({"one", "two", "three"}));
    QStringList seen;
    const QString error = KeywordFile::ReadKeywordRecords([&seen](const KeywordRecord& record) {
        seen.append(record.Keyword.trimmed());
        return record.Keyword.trimmed() != u"two";
    });
    QCOMPARE(error, QString());
    QCOMPARE(seen, (QStringList{"one", "two"}));
}

void TestKeywordFile::missingFileIsCreatedEmpty_data()
{
    QTest::addColumn<bool>("withDataFolder");
    QTest::newRow("data folder present") << true;
    QTest::newRow("data folder missing") << false;
}

void TestKeywordFile::missingFileIsCreatedEmpty()
{
    QFETCH(bool, withDataFolder);
    TestProgramFolder folder(withDataFolder);

    const Walk result = walk();
    QCOMPARE(result.error, QString());
    QVERIFY(result.records.isEmpty());
    QVERIFY(folder.exists(DataFile));
    QCOMPARE(QFileInfo(folder.file(DataFile)).size(), 0);
    int number = 0;
    QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
    QCOMPARE(number, 1);
}

void TestKeywordFile::fullLengthKeywordIsStoredWhole_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::newRow("100 full-width") << QString(100, QChar(u'迷'));
    QTest::newRow("200 half-width") << QString(200, QChar(u'x'));
    QTest::newRow("198 half-width and 1 full-width") << QString(198, QChar(u'a')) + u'①';
    QTest::newRow("200 half-width katakana") << QString(200, QChar(u'ｱ'));
}

void TestKeywordFile::fullLengthKeywordIsStoredWhole()
{
    QFETCH(QString, keyword);
    TestProgramFolder folder;

    QCOMPARE(KeywordFile::WriteKeywordRecord(1, entry(keyword)), QString());
    const QByteArray expected = QByteArray("\r\n\x01\x00", 4) + cp932(keyword);
    QCOMPARE(folder.read(DataFile), expected);
    QCOMPARE(walk().keywords(), QStringList{field(keyword)});
}

void TestKeywordFile::unstorableKeywordIsRefused_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::newRow("201 half-width") << QString(201, QChar(u'x'));
    QTest::newRow("101 full-width") << QString(101, QChar(u'迷'));
    QTest::newRow("full-width character across the end") << QString(199, QChar(u'x')) + u'迷';
    QTest::newRow("emoji") << QStringLiteral("spam\U0001F600");
    QTest::newRow("hangul") << QStringLiteral("광고");
}

void TestKeywordFile::unstorableKeywordIsRefused()
{
    QFETCH(QString, keyword);
    TestProgramFolder folder;
    const QByteArray before = rawFile({"kept"});
    folder.write(DataFile, before);

    QVERIFY(!KeywordFile::WriteKeywordRecord(2, entry(keyword)).isEmpty());
    QCOMPARE(folder.read(DataFile), before);
}

void TestKeywordFile::registeringAppendsAtNextNumber_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("wholeRecords");
    QTest::newRow("new file") << QByteArray() << 0;
    QTest::newRow("two records") << rawFile({"one", "two"}) << 2;
    QTest::newRow("two records and a torn third") << rawFile({"one", "two"}) + rawRecord("torn").left(150) << 2;
}

void TestKeywordFile::registeringAppendsAtNextNumber()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, wholeRecords);
    TestProgramFolder folder;
    folder.write(DataFile, bytes);

    int number = 0;
    QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
    QCOMPARE(number, wholeRecords + 1);
    QCOMPARE(KeywordFile::WriteKeywordRecord(number, entry(QStringLiteral("新規"))), QString());
    const QByteArray after = folder.read(DataFile);
    QCOMPARE(after, bytes.left(wholeRecords * KeywordRecordSize) + rawRecord(cp932(QStringLiteral("新規"))));
    QCOMPARE(walk().keywords().constLast(), field(QStringLiteral("新規")));
}

void TestKeywordFile::registrationStopsAtTheLastRecordNumber()
{
    TestProgramFolder folder;
    QByteArray full;
    for (int i = 0; i < MaxKeywordRecords; ++i)
        full += rawRecord("k");
    folder.write(DataFile, full);

    int number = 0;
    QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
    QCOMPARE(number, MaxKeywordRecords + 1);
    const QString error = KeywordFile::WriteKeywordRecord(number, entry(QStringLiteral("one too many")));
    QVERIFY(error.contains(QString::number(MaxKeywordRecords)));
    QCOMPARE(QFileInfo(folder.file(DataFile)).size(), full.size());
    // The last number that fits can still be rewritten.
    QCOMPARE(KeywordFile::WriteKeywordRecord(MaxKeywordRecords, entry(QStringLiteral("last"))), QString());
}

void TestKeywordFile::removingMovesTheRestUp_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("removed");
    QTest::newRow("first of five") << 5 << 1;
    QTest::newRow("third of five") << 5 << 3;
    QTest::newRow("last of five") << 5 << 5;
    QTest::newRow("only one") << 1 << 1;
}

void TestKeywordFile::removingMovesTheRestUp()
{
    QFETCH(int, count);
    QFETCH(int, removed);
    TestProgramFolder folder;
    QList<QByteArray> keywords;
    for (int i = 1; i <= count; ++i)
        keywords.append(cp932(QStringLiteral("キーワード%1").arg(i)));
    folder.write(DataFile, rawFile(keywords));

    QCOMPARE(KeywordFile::MarkKeywordRecord(removed), QString());
    QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
    keywords.removeAt(removed - 1);
    QCOMPARE(folder.read(DataFile), rawFile(keywords));
    QVERIFY(!folder.exists(TempFile));
}

void TestKeywordFile::rebuildDropsMarkedRecordsAndKeepsBytes()
{
    TestProgramFolder folder;
    // Bytes this program would never write itself must come through a rebuild untouched.
    const QByteArray oddLineBreak = QByteArray("\n\n\x01\x00", 4) + QByteArray(200, '\0');
    const QByteArray badCp932 = rawRecord(QByteArray("\x81\x20\xFF\xA0", 4));
    const QByteArray otherMark = rawRecord("two", 2);
    folder.write(DataFile, rawRecord("gone", 0) + oddLineBreak + badCp932 + rawRecord("gone too", 0) + otherMark +
                               rawRecord("torn").left(10));

    QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
    QCOMPARE(folder.read(DataFile), oddLineBreak + badCp932 + otherMark);
    QVERIFY(!folder.exists(TempFile));
    // A rebuild with nothing to drop changes nothing.
    QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
    QCOMPARE(folder.read(DataFile), oddLineBreak + badCp932 + otherMark);
}

// Every point where a rebuild can be interrupted, in the order they are passed.
static QStringList rebuildSteps(const QByteArray& fixture, const QString& dataName)
{
    TestProgramFolder folder;
    folder.write(dataName, fixture);
    QStringList steps;
    KeywordFile::setStepHook([&steps](const char* step) {
        steps.append(QString::fromLatin1(step));
        return true;
    });
    walk();
    KeywordFile::CompactKeywordFile();
    KeywordFile::setStepHook({});
    return steps;
}

// Runs a walk and a rebuild in a child process that dies without any clean-up at step number
// `at`, as a crash or a power cut would end it.
static void crashAtStep(int at)
{
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        int passed = 0;
        KeywordFile::setStepHook([&passed, at](const char*) {
            if (passed++ == at)
                _exit(9);
            return true;
        });
        walk();
        KeywordFile::CompactKeywordFile();
        _exit(0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 9);
}

void TestKeywordFile::interruptedRebuildNeverLosesTheList()
{
    const QStringList steps = rebuildSteps(markedFixture(), DataFile);
    QVERIFY(steps.contains(u"compact-write-temp"_qs));
    QVERIFY(steps.contains(u"compact-rename"_qs));
    for (int at = 0; at < steps.size(); ++at) {
        const QString where = QStringLiteral("crash at step %1 (%2)").arg(at).arg(steps.at(at));
        TestProgramFolder folder;
        folder.write(DataFile, markedFixture());
        crashAtStep(at);
        if (QTest::currentTestFailed())
            return;

        const QStringList seen = walk().keywords();
        QVERIFY2(seen == MarkedFixtureOld || seen == MarkedFixtureNew, qPrintable(where));
        QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
        QVERIFY2(walk().keywords() == MarkedFixtureNew, qPrintable(where));
        QVERIFY2(!folder.exists(TempFile), qPrintable(where));
    }
}

void TestKeywordFile::failingRebuildStepLeavesTheOldFile()
{
    const QStringList steps = rebuildSteps(markedFixture(), DataFile);
    for (int at = 0; at < steps.size(); ++at) {
        TestProgramFolder folder;
        folder.write(DataFile, markedFixture());
        int passed = 0;
        KeywordFile::setStepHook([&passed, at](const char*) { return passed++ != at; });
        const QString error = KeywordFile::CompactKeywordFile();
        KeywordFile::setStepHook({});
        const QString where = QStringLiteral("failure at step %1 (%2)").arg(at).arg(steps.at(at));
        QVERIFY2(error.contains(u"Tlxdata50.data"_qs) || error.contains(u"TLXDATA50.TMP"_qs), qPrintable(where));
        QVERIFY2(folder.read(DataFile) == markedFixture(), qPrintable(where));
        QVERIFY2(!folder.exists(TempFile), qPrintable(where));
    }
}

void TestKeywordFile::restoresFromTheTemporaryFile_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("dataExists");
    QTest::addColumn<QByteArray>("temp");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("tempRemains");

    QTest::newRow("data file deleted, rebuild not begun")
        << QByteArray() << false << markedFixture() << MarkedFixtureNew << false;
    QTest::newRow("data file refilled half-way")
        << rawFile({cp932(QStringLiteral("未承諾広告")), "viagra"}) + rawRecord("torn").left(7) << true
        << markedFixture() << MarkedFixtureNew << false;
    QTest::newRow("data file created, still empty")
        << QByteArray() << true << markedFixture() << MarkedFixtureNew << false;
    QTest::newRow("stale copy of our own unfinished rebuild")
        << markedFixture() << true << rawFile({cp932(QStringLiteral("未承諾広告"))}) << MarkedFixtureOld << true;
    QTest::newRow("stale copy after keywords were added")
        << rawFile({"a", "b", "c"}) << true << rawFile({"a", "b"})
        << QStringList{field(u"a"_qs), field(u"b"_qs), field(u"c"_qs)} << true;
}

void TestKeywordFile::restoresFromTheTemporaryFile()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, dataExists);
    QFETCH(QByteArray, temp);
    QFETCH(QStringList, expected);
    QFETCH(bool, tempRemains);
    TestProgramFolder folder;
    if (dataExists)
        folder.write(DataFile, data);
    folder.write(TempFile, temp);

    const Walk result = walk();
    QCOMPARE(result.error, QString());
    QCOMPARE(result.keywords(), expected);
    QCOMPARE(folder.exists(TempFile), tempRemains);
    QCOMPARE(walk().keywords(), expected);
}

void TestKeywordFile::interruptedRestoreNeverLosesTheList()
{
    const QStringList steps = rebuildSteps(markedFixture(), TempFile);
    QVERIFY(steps.contains(u"restore-write"_qs));
    for (int at = 0; at < steps.size(); ++at) {
        TestProgramFolder folder;
        folder.write(TempFile, markedFixture());
        crashAtStep(at);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(walk().keywords() == MarkedFixtureNew, qPrintable(steps.at(at)));
    }
    // A restore that fails keeps the temporary file for the next attempt.
    TestProgramFolder folder;
    folder.write(TempFile, markedFixture());
    KeywordFile::setStepHook([](const char* step) { return qstrcmp(step, "restore-write") != 0; });
    QVERIFY(walk().error.contains(u"Tlxdata50.data"_qs));
    KeywordFile::setStepHook({});
    QCOMPARE(folder.read(TempFile), markedFixture());
    QCOMPARE(walk().keywords(), MarkedFixtureNew);
}

// Lets this process write files only up to limit bytes, as a full disk would; restored on exit.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_old;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    sighandler_t m_oldHandler;
};

void TestKeywordFile::fileFailuresAreReportedByName_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("named");
    for (const char* operation : {"walk", "next", "register", "mark", "rebuild"}) {
        QTest::addRow("data folder cannot be created, %s", operation)
            << "folder is a file" << operation << "Tlxdata50.data";
        QTest::addRow("data file is a folder, %s", operation) << "data is a folder" << operation << "Tlxdata50.data";
    }
    QTest::newRow("disk full while registering") << "disk full"
                                                 << "register"
                                                 << "Tlxdata50.data";
    QTest::newRow("disk full while rebuilding") << "disk full"
                                                << "rebuild"
                                                << "TLXDATA50.TMP";
    QTest::newRow("temporary file on a full device") << "temp is /dev/full"
                                                     << "rebuild"
                                                     << "TLXDATA50.TMP";
    QTest::newRow("temporary file cannot be written") << "temp is a folder"
                                                      << "rebuild"
                                                      << "TLXDATA50.TMP";
    QTest::newRow("removing a record that is not there") << ""
                                                         << "mark"
                                                         << "Tlxdata50.data";
}

void TestKeywordFile::fileFailuresAreReportedByName()
{
    QFETCH(QString, setup);
    QFETCH(QString, operation);
    QFETCH(QString, named);
    TestProgramFolder folder(setup != u"folder is a file");
    const QByteArray list = markedFixture();
    if (setup == u"folder is a file")
        folder.write(u"★MailData"_qs, "not a folder");
    else if (setup == u"data is a folder")
        QDir(folder.path()).mkpath(DataFile);
    else
        folder.write(DataFile, list);
    if (setup == u"temp is /dev/full")
        QVERIFY(QFile::link(u"/dev/full"_qs, folder.file(TempFile)));
    else if (setup == u"temp is a folder")
        QDir(folder.path()).mkpath(TempFile);

    QString error;
    {
        // Room for part of one more record, less than the survivors of a rebuild need.
        const rlim_t room = operation == u"register" ? list.size() + 100 : 300;
        std::optional<FileSizeLimit> full;
        if (setup == u"disk full")
            full.emplace(room);
        int number = 0;
        if (operation == u"walk")
            error = walk().error;
        else if (operation == u"next")
            error = KeywordFile::NextRecordNumber(&number);
        else if (operation == u"register")
            error = KeywordFile::WriteKeywordRecord(6, entry(u"new"_qs));
        else if (operation == u"mark")
            error = KeywordFile::MarkKeywordRecord(6);
        else
            error = KeywordFile::CompactKeywordFile();
    }
    QVERIFY2(error.contains(named), qPrintable(error));
    if (QFileInfo(folder.file(DataFile)).isFile()) {
        QCOMPARE(folder.read(DataFile), list);
        QCOMPARE(walk().keywords(), MarkedFixtureOld);
    }
    QVERIFY(!QFileInfo(folder.file(TempFile)).isFile());
}

QTEST_GUILESS_MAIN(TestKeywordFile)
#include "tst_keywordfile.moc"
