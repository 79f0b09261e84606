#include "keywords/KeywordFile.h"
#include "settings/ProgramFolder.h"
#include "tests/support/TestProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const QString DataFile = QStringLiteral("★MailData/Tlxdata50.data");
const QString TempFile = QStringLiteral("★MailData/TLXDATA50.TMP");
const QByteArray Missing = "missing"; // fixture: no such file

// One record as the stored format defines it, assembled byte by byte, independent of the code.
QByteArray rawRecord(const QByteArray& keyword, qint16 inUse = 1)
{
    return QByteArray("\r\n") + char(inUse & 0xFF) + char((inUse >> 8) & 0xFF) +
           keyword.leftJustified(KeywordFieldBytes, ' ', true);
}

QByteArray rawFile(const QList<QByteArray>& keywords)
{
    QByteArray bytes;
    for (const QByteArray& keyword : keywords)
        bytes += rawRecord(keyword);
    return bytes;
}

QStringList fields(const QStringList& texts)
{
    QStringList list;
    for (const QString& text : texts)
        list.append(text.leftJustified(KeywordFieldBytes, u' '));
    return list;
}

KeywordRecord entry(const QString& text)
{
    return {u"\r\n"_qs, 1, text.leftJustified(KeywordFieldBytes, u' ')};
}

// Reads the list, ending the walk after stopAfter records when that is given.
QStringList walk(QString* error = nullptr, QList<KeywordRecord>* records = nullptr, int stopAfter = -1)
{
    QStringList keywords;
    const QString result = KeywordFile::ReadKeywordRecords([&](const KeywordRecord& record) {
        keywords.append(record.Keyword);
        if (records)
            records->append(record);
        return keywords.size() != stopAfter;
    });
    if (error)
        *error = result;
    return keywords;
}

// Five keywords, the third marked for removal: what a confirmed removal leaves before the rebuild.
QByteArray markedFixture()
{
    return rawRecord(cp932(u"未承諾広告"_qs)) + rawRecord("viagra") + rawRecord(cp932(u"出会い"_qs), 0) +
           rawRecord(cp932(u"①当選"_qs)) + rawRecord("casino");
}

const QStringList MarkedOld = fields({u"未承諾広告"_qs, u"viagra"_qs, u"出会い"_qs, u"①当選"_qs, u"casino"_qs});
const QStringList MarkedNew = fields({u"未承諾広告"_qs, u"viagra"_qs, u"①当選"_qs, u"casino"_qs});

void writeFixture(const TestProgramFolder& folder, const QString& file, const QByteArray& bytes)
{
    if (bytes != Missing)
        folder.write(file, bytes);
}

} // namespace

class TestKeywordFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { signal(SIGXFSZ, SIG_IGN); } // a full disk fails the write, not the process
    void cleanup() { KeywordFile::setStepHook({}); }

    void reads_data();
    void reads();
    void registers_data();
    void registers();
    void removes_data();
    void removes();
    void interruptionNeverLosesTheList_data();
    void interruptionNeverLosesTheList();
    void fileFailuresAreReportedByName_data();
    void fileFailuresAreReportedByName();
};

void TestKeywordFile::reads_data()
{
    QTest::addColumn<bool>("withDataFolder");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("temp");
    QTest::addColumn<QStringList>("expected");

    const auto row = [](const char* name, const QByteArray& data, const QByteArray& temp, const QStringList& expected,
                        bool withDataFolder = true) {
        QTest::newRow(name) << withDataFolder << data << temp << expected;
    };
    const QByteArray three = rawFile({cp932(u"未承諾広告"_qs), "viagra", cp932(u"①～㈱"_qs)});
    const QStringList threeKeywords = fields({u"未承諾広告"_qs, u"viagra"_qs, u"①～㈱"_qs});
    const QByteArray fixture = markedFixture();
    row("missing file, created empty", Missing, Missing, {});
    row("missing data folder, created", Missing, Missing, {}, false);
    row("empty file", "", Missing, {});
    row("three records", three, Missing, threeKeywords);
    row("incomplete tail of 1 byte", three + "\r", Missing, threeKeywords);
    row("incomplete tail of 203 bytes", three + rawRecord("lost").left(203), Missing, threeKeywords);
    row("only an incomplete record", rawRecord("lost").left(100), Missing, {});
    row("spaces kept", rawRecord(" a b "), Missing, fields({u" a b "_qs}));
    // An interrupted rebuild is finished from the temporary file; a stale one is left alone.
    row("restore: data file deleted", Missing, fixture, MarkedNew);
    row("restore: data file refilled half-way",
        rawFile({cp932(u"未承諾広告"_qs), "viagra"}) + rawRecord("torn").left(7), fixture, MarkedNew);
    row("restore: data file created, still empty", "", fixture, MarkedNew);
    row("stale copy of our own unfinished rebuild", fixture, rawFile({cp932(u"未承諾広告"_qs)}), MarkedOld);
    row("stale copy after keywords were added", rawFile({"a", "b", "c"}), rawFile({"a", "b"}),
        fields({u"a"_qs, u"b"_qs, u"c"_qs}));
}

void TestKeywordFile::reads()
{
    QFETCH(bool, withDataFolder);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, temp);
    QFETCH(QStringList, expected);
    TestProgramFolder folder(withDataFolder);
    writeFixture(folder, DataFile, data);
    writeFixture(folder, TempFile, temp);

    QString error;
    QList<KeywordRecord> records;
    QCOMPARE(walk(&error, &records), expected);
    QCOMPARE(error, QString());
    for (const KeywordRecord& record : records) {
        QCOMPARE(record.LineBreak, u"\r\n"_qs);
        QCOMPARE(record.InUse, qint16(record.Keyword.startsWith(u"出会い") ? 0 : 1));
    }
    int number = 0;
    QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
    QCOMPARE(number, int(expected.size()) + 1);
    QCOMPARE(walk(), expected);
    if (temp == Missing) // reading never rewrites
        QCOMPARE(folder.read(DataFile), data == Missing ? QByteArray() : data);
    else // a restore removes the temporary file; a stale one stays
        QCOMPARE(folder.exists(TempFile), QByteArray(QTest::currentDataTag()).startsWith("stale"));
    if (!expected.isEmpty()) // the caller may end the walk early
        QCOMPARE(walk(nullptr, nullptr, 1), expected.mid(0, 1));
}

void TestKeywordFile::registers_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("refusal"); // empty: accepted

    const auto row = [](const char* name, const QByteArray& stored, const QString& keyword, const char* refusal = "") {
        QTest::newRow(name) << stored << keyword << QString::fromUtf8(refusal);
    };
    const QByteArray two = rawFile({"one", "two"});
    row("new file", "", u"新規"_qs);
    row("after two", two, u"新規"_qs);
    row("over a torn third", two + rawRecord("torn").left(150), u"新規"_qs);
    row("100 full-width", two, QString(100, u'迷'));
    row("200 half-width", two, QString(200, u'x'));
    row("198 half-width and 1 full-width", two, QString(198, u'a') + u'①');
    row("200 half-width katakana", two, QString(200, u'ｱ'));
    row("201 half-width", two, QString(201, u'x'), "長すぎ");
    row("101 full-width", two, QString(101, u'迷'), "長すぎ");
    row("full-width across the end", two, QString(199, u'x') + u'迷', "長すぎ");
    row("emoji", two, u"spam\U0001F600"_qs, "文字");
    row("hangul", two, u"광고"_qs, "文字");
    row("past the last record number", rawRecord("k").repeated(MaxKeywordRecords), u"one too many"_qs, "32767");
}

void TestKeywordFile::registers()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, keyword);
    QFETCH(QString, refusal);
    TestProgramFolder folder;
    folder.write(DataFile, stored);

    int number = 0;
    QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
    const qsizetype whole = stored.size() / KeywordRecordSize;
    QCOMPARE(number, int(whole) + 1);
    const QString error = KeywordFile::WriteKeywordRecord(number, entry(keyword));
    QVERIFY2(refusal.isEmpty() ? error.isEmpty() : error.contains(refusal), qPrintable(error));
    if (!refusal.isEmpty()) {
        QCOMPARE(folder.read(DataFile), stored);
        return;
    }
    const QByteArray record = QByteArray("\r\n\x01\x00", 4) + cp932(keyword).leftJustified(KeywordFieldBytes, ' ');
    QCOMPARE(folder.read(DataFile), stored.left(whole * KeywordRecordSize) + record);
    QCOMPARE(walk().constLast(), keyword.leftJustified(KeywordFieldBytes, u' '));
}

void TestKeywordFile::removes_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("removed"); // 0: only the records marked earlier go
    QTest::addColumn<QByteArray>("expected");

    QList<QByteArray> five;
    for (int i = 1; i <= 5; ++i)
        five.append(cp932(u"キーワード%1"_qs.arg(i)));
    for (int removed : {1, 3, 5}) {
        QList<QByteArray> rest = five;
        rest.removeAt(removed - 1);
        QTest::addRow("%d of five", removed) << rawFile(five) << removed << rawFile(rest);
    }
    QTest::newRow("only one") << rawFile({"one"}) << 1 << QByteArray();
    // Bytes this program would never write itself must come through a rebuild untouched.
    const QByteArray odd = QByteArray("\n\n\x01\x00", 4) + QByteArray(200, '\0') +
                           rawRecord(QByteArray("\x81\x20\xFF\xA0", 4)) + rawRecord("two", 2);
    QTest::newRow("odd bytes kept") << rawRecord("gone", 0) + odd.left(408) + rawRecord("gone too", 0) + odd.mid(408) +
                                           rawRecord("torn").left(10)
                                    << 0 << odd;
}

void TestKeywordFile::removes()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, removed);
    QFETCH(QByteArray, expected);
    TestProgramFolder folder;
    folder.write(DataFile, stored);
    if (removed)
        QCOMPARE(KeywordFile::MarkKeywordRecord(removed), QString());
    for (int pass = 0; pass < 2; ++pass) { // the second has nothing to drop and changes nothing
        QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
        QCOMPARE(folder.read(DataFile), expected);
        QVERIFY(!folder.exists(TempFile));
    }
}

void TestKeywordFile::interruptionNeverLosesTheList_data()
{
    QTest::addColumn<QString>("fixtureFile");
    QTest::addColumn<bool>("crash"); // else the step fails and the program goes on
    QTest::newRow("crash in a rebuild") << DataFile << true;
    QTest::newRow("crash in a restore") << TempFile << true;
    QTest::newRow("failure in a rebuild") << DataFile << false;
    QTest::newRow("failure in a restore") << TempFile << false;
}

// Stops a rebuild or a restore at each of its steps in turn, by a crash (a child process that
// dies there without clean-up) or by a failing write, until a round passes every step. The list
// stays whole every time, and a later rebuild ends the removal.
void TestKeywordFile::interruptionNeverLosesTheList()
{
    QFETCH(QString, fixtureFile);
    QFETCH(bool, crash);
    const bool rebuild = fixtureFile == DataFile;
    for (int at = 0;; ++at) {
        const QByteArray where = "step " + QByteArray::number(at);
        TestProgramFolder folder;
        folder.write(fixtureFile, markedFixture());
        int passed = 0;
        KeywordFile::setStepHook([&passed, at, crash](const char*) {
            if (passed == at && crash)
                _exit(9);
            return passed++ != at;
        });
        QString error;
        if (const pid_t child = crash ? fork() : -1; child == 0) {
            walk();
            _exit(KeywordFile::CompactKeywordFile().isEmpty() ? 0 : 1);
        } else if (crash) {
            int status = 0;
            QCOMPARE(waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) != 1);
            passed = WEXITSTATUS(status) == 9 ? at + 1 : 0;
        } else {
            walk(&error);
            if (rebuild)
                error = KeywordFile::CompactKeywordFile();
        }
        KeywordFile::setStepHook({});
        if (passed <= at) { // this round passed every step: all were tried
            QVERIFY(at >= (rebuild ? 6 : 2));
            break;
        }
        if (!crash && rebuild) { // the old file as it was
            QVERIFY2(error.contains(u"Tlxdata50.data"_qs) || error.contains(u"TLXDATA50.TMP"_qs), where.constData());
            QVERIFY2(folder.read(DataFile) == markedFixture() && !folder.exists(TempFile), where.constData());
        } else if (!crash && !error.isEmpty()) { // a failed restore keeps the temporary file for the next try
            QVERIFY2(error.contains(u"Tlxdata50.data"_qs) && folder.read(TempFile) == markedFixture(),
                     where.constData());
        }
        // A restore always finishes the removal; a rebuild shows the list before or after it.
        const QStringList seen = walk();
        QVERIFY2(seen == MarkedNew || (rebuild && seen == MarkedOld), where.constData());
        QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
        QVERIFY2(walk() == MarkedNew && (!rebuild || !folder.exists(TempFile)), where.constData());
    }
}

void TestKeywordFile::fileFailuresAreReportedByName_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("named");
    const auto row = [](const QString& name, const char* setup, const char* operation, const char* named) {
        QTest::newRow(qPrintable(name)) << QString(setup) << QString(operation) << QString(named);
    };
    for (const char* operation : {"walk", "next", "register", "mark", "rebuild"}) {
        row(u"data folder is a file, "_qs + operation, "folder is a file", operation, "Tlxdata50.data");
        row(u"data file is a folder, "_qs + operation, "data is a folder", operation, "Tlxdata50.data");
    }
    row(u"disk full while registering"_qs, "disk full", "register", "Tlxdata50.data");
    row(u"disk full while rebuilding"_qs, "disk full", "rebuild", "TLXDATA50.TMP");
    row(u"temporary file on a full device"_qs, "temp is /dev/full", "rebuild", "TLXDATA50.TMP");
    row(u"temporary file is a folder"_qs, "temp is a folder", "rebuild", "TLXDATA50.TMP");
    row(u"removing a record that is not there"_qs, "", "mark", "Tlxdata50.data");
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
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto restore = qScopeGuard([old] { setrlimit(RLIMIT_FSIZE, &old); });
        // Room for part of one more record, less than the survivors of a rebuild need.
        rlimit lowered{operation == u"register" ? rlim_t(list.size() + 100) : 300, old.rlim_max};
        if (setup == u"disk full")
            setrlimit(RLIMIT_FSIZE, &lowered);
        int number = 0;
        if (operation == u"walk")
            walk(&error);
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
    if (QFileInfo(folder.file(DataFile)).isFile()) { // the list stays whole
        QCOMPARE(folder.read(DataFile), list);
        QCOMPARE(walk(), MarkedOld);
    }
    QVERIFY(!QFileInfo(folder.file(TempFile)).isFile());
}

QTEST_GUILESS_MAIN(TestKeywordFile)
#include "tst_keywordfile.moc"
