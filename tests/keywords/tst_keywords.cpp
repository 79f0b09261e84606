// The keyword data file and its window: records byte for byte, what the mail check may match
// with, interrupted rebuilds, honest file failures, and the window the user keeps the list in.
#include "keywords/GekitaiForm.h"
#include "keywords/KeywordFile.h"
#include "platform/MessageBox.h"
#include "tests/support/TestProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
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
// cp932 written out by hand, so that no expected byte comes from the encoder under test.
const QByteArray Circled1 = "\x87\x40", Wave = "\x81\x60", Taka = "\xFB\xFC", Star = "\x81\x9A";
const QStringList Five{u"viagra"_qs, u"①win"_qs, u"～sale"_qs, u"髙x"_qs, u"casino"_qs};
const QList<QByteArray> FiveBytes{"viagra", Circled1 + "win", Wave + "sale", Taka + "x", "casino"};

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

// Keyword fields as read: filled with spaces to 200 characters.
QStringList fields(const QStringList& texts)
{
    QStringList list;
    for (const QString& text : texts)
        list.append(text.leftJustified(KeywordFieldBytes, u' '));
    return list;
}

template <class T> QList<T> without(const QList<T>& list, int i)
{
    return list.mid(0, i) + list.mid(i + 1);
}

// Five keywords, the third marked for removal: what a confirmed removal leaves before the rebuild.
const QByteArray Marked = rawFile(FiveBytes.mid(0, 2)) + rawRecord(FiveBytes[2], 0) + rawFile(FiveBytes.mid(3));
const QStringList MarkedOld = fields(Five);
const QStringList MarkedNew = fields(without(Five, 2));

// The Keyword fields of the list, ending the walk after stopAfter records when that is given.
QStringList walk(QString* error = nullptr, int stopAfter = -1)
{
    QStringList keywords;
    const QString result = KeywordFile::ReadKeywordRecords([&](const KeywordRecord& record) {
        keywords.append(record.Keyword);
        return keywords.size() != stopAfter;
    });
    if (error)
        *error = result;
    return keywords;
}

QStringList items(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QString boxText(const MessageBox::Shown& b)
{
    return u"%1|%2|%3|%4|%5"_qs.arg(b.text, b.caption).arg(b.buttons).arg(b.icon).arg(b.defaultButton);
}

// The one message box shown, as boxText; else how many there were.
QString shownBox()
{
    const QList<MessageBox::Shown>& all = MessageBox::shown();
    return all.size() == 1 ? boxText(all.constFirst()) : u"%1 boxes"_qs.arg(all.size());
}

// clang-format off
struct ReadRow { bool withDataFolder; QByteArray data, temp; QStringList expected; };
struct MatchRow { QByteArray data; QStringList keywords; QList<int> unreadable; bool fails = false; };
struct FailureRow { QString setup, operation, named, reason; };
struct EntryRow { QString filling; QByteArray bytes; QString refused, refusal; };
struct RemoveRow { QByteArray stored; QStringList listed; int selected; MessageBox::Button answer; QByteArray kept; };
// clang-format on
} // namespace

Q_DECLARE_METATYPE(ReadRow)
Q_DECLARE_METATYPE(MatchRow)
Q_DECLARE_METATYPE(FailureRow)
Q_DECLARE_METATYPE(EntryRow)
Q_DECLARE_METATYPE(RemoveRow)

class TestKeywords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { signal(SIGXFSZ, SIG_IGN); } // a file-size limit fails the write, not the process
    void init() { MessageBox::reset(); }
    void cleanup() { KeywordFile::setStepHook({}); }

    void reads_data()
    {
        QTest::addColumn<ReadRow>("row");
        const QByteArray three = rawFile({"viagra", Circled1 + Wave + Taka, Star});
        const QStringList threeKeywords = fields({u"viagra"_qs, u"①～髙"_qs, u"★"_qs});
        QTest::newRow("missing file, created") << ReadRow{true, Missing, Missing, {}};
        QTest::newRow("missing data folder, created") << ReadRow{false, Missing, Missing, {}};
        QTest::newRow("incomplete tail of 203 bytes")
            << ReadRow{true, three + rawRecord("lost").left(203), Missing, threeKeywords};
        QTest::newRow("spaces kept") << ReadRow{true, rawRecord(" a b "), Missing, fields({u" a b "_qs})};
        // An interrupted rebuild is finished from the temporary file; a stale one is left alone.
        QTest::newRow("restore: data file deleted") << ReadRow{true, Missing, Marked, MarkedNew};
        QTest::newRow("restore: data file refilled half-way")
            << ReadRow{true, rawFile(FiveBytes.mid(0, 2)) + rawRecord("torn").left(7), Marked, MarkedNew};
        QTest::newRow("stale copy of our own unfinished rebuild") << ReadRow{true, Marked, rawFile({"x"}), MarkedOld};
    }

    void reads()
    {
        QFETCH(ReadRow, row);
        TestProgramFolder folder(row.withDataFolder);
        for (const auto& [file, bytes] : {std::pair{DataFile, row.data}, std::pair{TempFile, row.temp}}) {
            if (bytes != Missing)
                folder.write(file, bytes);
        }
        QString error;
        QCOMPARE(walk(&error), row.expected);
        QCOMPARE(error, QString());
        QVERIFY(QFileInfo(folder.file(DataFile)).isFile());
        int number = 0;
        QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
        QCOMPARE(number, int(row.expected.size()) + 1);
        if (row.temp == Missing) // reading never rewrites
            QCOMPARE(folder.read(DataFile), row.data == Missing ? QByteArray() : row.data);
        else // a restore removes the temporary file; a stale one stays
            QCOMPARE(folder.exists(TempFile), QByteArray(QTest::currentDataTag()).startsWith("stale"));
        if (!row.expected.isEmpty()) // the caller may end the walk early
            QCOMPARE(walk(nullptr, 1), row.expected.mid(0, 1));
    }

    void matchesOnlyLiveReadableKeywords_data()
    {
        QTest::addColumn<MatchRow>("row");
        QTest::newRow("spaces around dropped, blank records left out")
            << MatchRow{rawFile({"  viagra ", "", Circled1 + " win"}), {u"viagra"_qs, u"① win"_qs}, {}};
        // Left behind by a removal whose rebuild failed on a full disk.
        QTest::newRow("a record marked for removal never matches")
            << MatchRow{rawRecord("viagra") + rawRecord("casino", 0), {u"viagra"_qs}, {}};
        // Each would decode to U+FFFD and so match any subject holding an undecodable byte.
        QTest::newRow("undecodable records never match")
            << MatchRow{rawFile({"viagra", "\xFF", "a\x81 b", QByteArray(199, 'x') + '\x81', Taka}),
                        {u"viagra"_qs, u"髙"_qs},
                        {2, 3, 4}};
        QTest::newRow("file cannot be read: nothing to match") << MatchRow{{}, {}, {}, true};
    }

    void matchesOnlyLiveReadableKeywords()
    {
        QFETCH(MatchRow, row);
        TestProgramFolder folder;
        if (row.fails)
            QDir(folder.path()).mkpath(DataFile);
        else
            folder.write(DataFile, row.data);
        QStringList keywords{u"left from before"_qs};
        QList<int> unreadable{99};
        const QString error = KeywordFile::LoadMatchKeywords(&keywords, &unreadable);
        QVERIFY2(error.contains(u"Tlxdata50.data"_qs) == row.fails, qPrintable(error));
        QCOMPARE(keywords, row.keywords);
        QCOMPARE(unreadable, row.unreadable);
    }

    // A rebuild drops every marked record; bytes this program would never write itself come
    // through untouched, and a second rebuild changes nothing. The list stops at 32,767 records.
    void removesAndRefuses()
    {
        const QByteArray odd = QByteArray("\n\n\x01\x00", 4) + QByteArray(200, '\0') +
                               rawRecord(QByteArray("\x81\x20\xFF\xA0", 4)) + rawRecord("two", 2);
        TestProgramFolder folder;
        folder.write(DataFile, rawRecord("gone", 0) + odd.left(408) + rawRecord("x") + odd.mid(408) + "torn");
        QCOMPARE(KeywordFile::MarkKeywordRecord(4), QString());
        for (int pass = 0; pass < 2; ++pass) {
            QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
            QCOMPARE(folder.read(DataFile), odd);
            QVERIFY(!folder.exists(TempFile));
        }
        const QByteArray full = rawRecord("k").repeated(MaxKeywordRecords);
        folder.write(DataFile, full);
        int number = 0;
        QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
        QVERIFY(KeywordFile::WriteKeywordRecord(number, {.Keyword = u"x"_qs}).contains(u"32767"_qs));
        QCOMPARE(folder.read(DataFile), full);
    }

    void interruptionNeverLosesTheList_data()
    {
        QTest::addColumn<QString>("fixtureFile");
        QTest::addColumn<bool>("crash"); // else the step fails and the program goes on
        QTest::newRow("crash in a rebuild") << DataFile << true;
        QTest::newRow("crash in a restore") << TempFile << true;
        QTest::newRow("failure in a rebuild") << DataFile << false;
        QTest::newRow("failure in a restore") << TempFile << false;
    }

    // Stops a rebuild or a restore at each of its steps in turn, by a crash (a child process that
    // dies there without clean-up) or by a failing step, until a round passes every step. The list
    // stays whole every time, and a later rebuild ends the removal.
    void interruptionNeverLosesTheList()
    {
        QFETCH(QString, fixtureFile);
        QFETCH(bool, crash);
        const bool rebuild = fixtureFile == DataFile;
        for (int at = 0;; ++at) {
            const QByteArray where = "step " + QByteArray::number(at);
            TestProgramFolder folder;
            folder.write(fixtureFile, Marked);
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
                QVERIFY2(error.contains(u"TLXDATA50.TMP"_qs) || error.contains(u"Tlxdata50.data"_qs), where);
                QVERIFY2(folder.read(DataFile) == Marked && !folder.exists(TempFile), where);
            } else if (!crash && !error.isEmpty()) { // a failed restore keeps the temporary file for the next try
                QVERIFY2(error.contains(u"Tlxdata50.data"_qs) && folder.read(TempFile) == Marked, where);
            }
            // A restore always finishes the removal; a rebuild shows the list before or after it.
            const QStringList seen = walk();
            QVERIFY2(seen == MarkedNew || (rebuild && seen == MarkedOld), where);
            QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
            QVERIFY2(walk() == MarkedNew && (!rebuild || !folder.exists(TempFile)), where);
        }
    }

    void fileFailuresAreReportedHonestly_data()
    {
        QTest::addColumn<FailureRow>("row");
        for (const QString operation : {"walk", "next", "register", "mark", "rebuild"}) {
            QTest::addRow("data folder is a file, %s", qPrintable(operation))
                << FailureRow{u"folder is a file"_qs, operation, u"Tlxdata50.data"_qs, {}};
            QTest::addRow("data file is a folder, %s", qPrintable(operation))
                << FailureRow{u"data is a folder"_qs, operation, u"Tlxdata50.data"_qs, {}};
        }
        // A file-size limit stops a write part-way, as a full disk does, with EFBIG; /dev/full gives ENOSPC.
        const QString tooBig = u"ファイルの大きさが上限を超えます。"_qs;
        QTest::newRow("size limit, register") << FailureRow{u"limit"_qs, u"register"_qs, u"Tlxdata50.data"_qs, tooBig};
        QTest::newRow("size limit, rebuild") << FailureRow{u"limit"_qs, u"rebuild"_qs, u"TLXDATA50.TMP"_qs, tooBig};
        QTest::newRow("temporary file on a full device")
            << FailureRow{u"temp is /dev/full"_qs, u"rebuild"_qs, u"TLXDATA50.TMP"_qs, u"空き容量がありません。"_qs};
        QTest::newRow("temporary file is a folder")
            << FailureRow{u"temp is a folder"_qs, u"rebuild"_qs, u"TLXDATA50.TMP"_qs, {}};
        QTest::newRow("removing a record that is not there") << FailureRow{{}, u"mark"_qs, u"Tlxdata50.data"_qs, {}};
    }

    void fileFailuresAreReportedHonestly()
    {
        QFETCH(FailureRow, row);
        TestProgramFolder folder(row.setup != u"folder is a file");
        if (row.setup == u"folder is a file")
            folder.write(u"★MailData"_qs, "not a folder");
        else
            QDir(folder.path()).mkpath(row.setup == u"data is a folder" ? DataFile : u"★MailData"_qs);
        if (row.setup != u"data is a folder" && row.setup != u"folder is a file")
            folder.write(DataFile, Marked);
        if (row.setup == u"temp is /dev/full")
            QVERIFY(QFile::link(u"/dev/full"_qs, folder.file(TempFile)));
        else if (row.setup == u"temp is a folder")
            QDir(folder.path()).mkpath(TempFile);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto restore = qScopeGuard([old] { setrlimit(RLIMIT_FSIZE, &old); });
        // Room for part of one more record, less than the survivors of a rebuild need.
        const rlimit lowered{row.operation == u"register" ? rlim_t(Marked.size() + 100) : 300, old.rlim_max};
        QVERIFY(row.setup != u"limit" || setrlimit(RLIMIT_FSIZE, &lowered) == 0);
        QString error;
        int number = 0;
        if (row.operation == u"walk")
            walk(&error);
        else if (row.operation == u"next")
            error = KeywordFile::NextRecordNumber(&number);
        else if (row.operation == u"register")
            error = KeywordFile::WriteKeywordRecord(6, {.Keyword = u"new"_qs});
        else
            error = row.operation == u"mark" ? KeywordFile::MarkKeywordRecord(6) : KeywordFile::CompactKeywordFile();
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY2(error.contains(row.named) && error.contains(row.reason), qPrintable(error));
        QVERIFY2(!error.contains(u"Unknown error"_qs), qPrintable(error));
        if (QFileInfo(folder.file(DataFile)).isFile()) // the list stays whole
            QCOMPARE(folder.read(DataFile), Marked);
        QVERIFY(!QFileInfo(folder.file(TempFile)).isFile());
    }

    void windowEntry_data()
    {
        QTest::addColumn<EntryRow>("row");
        QTest::newRow("nothing typed") << EntryRow{};
        QTest::newRow("only spaces") << EntryRow{u"   "_qs, {}, {}, {}};
        QTest::newRow("spaces around kept")
            << EntryRow{u" ①～髙★ "_qs, ' ' + Circled1 + Wave + Taka + Star + ' ', {}, {}};
        QTest::newRow("200 half-width, then 1 more") << EntryRow{QString(200, u'a'), QByteArray(200, 'a'), u"b"_qs, {}};
        QTest::newRow("100 full-width, then 1 half-width")
            << EntryRow{QString(100, u'髙'), Taka.repeated(100), u"b"_qs, {}};
        QTest::newRow("emoji refused") << EntryRow{u"～"_qs, Wave, u"spam\U0001F600"_qs, u"「\U0001F600」"_qs};
    }

    // The entry holds at most 200 cp932 bytes and only characters cp932 can represent; a refused
    // input is dropped whole. A blank entry is not registered; another becomes the last record,
    // over an incomplete one.
    void windowEntry()
    {
        QFETCH(EntryRow, row);
        TestProgramFolder folder;
        const QByteArray torn = rawRecord("torn").left(50);
        folder.write(DataFile, rawFile(FiveBytes) + torn);
        GekitaiForm form;
        form.Text1->setFocus();
        QStringList typed; // as a Japanese input method delivers text: a character at a time, then the refused input
        for (const QChar c : row.filling)
            typed.append(c);
        for (const QString& text : typed << row.refused) {
            QInputMethodEvent event;
            event.setCommitString(text);
            QApplication::sendEvent(form.Text1, &event);
        }
        QCOMPARE(form.Text1->text(), row.filling);
        QVERIFY(row.refusal.isEmpty() ? MessageBox::shown().isEmpty() : shownBox().contains(row.refusal));
        MessageBox::reset();
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        const bool blank = row.filling.trimmed().isEmpty();
        QCOMPARE(shownBox(), blank ? boxText({u"キーワードが入力されていません。"_qs, u"Mossvale"_qs,
                                              MessageBox::OkOnly, MessageBox::NoIcon, MessageBox::Ok})
                                   : u"0 boxes"_qs);
        QCOMPARE(form.Text1->text(), blank ? row.filling : QString());
        QCOMPARE(items(form.List1), fields(blank ? Five : Five + QStringList{row.filling}));
        QCOMPARE(folder.read(DataFile), blank ? rawFile(FiveBytes) + torn : rawFile(FiveBytes + QList{row.bytes}));
    }

    void windowRemoves_data()
    {
        QTest::addColumn<RemoveRow>("row");
        const QByteArray five = rawFile(FiveBytes);
        QTest::newRow("last, yes") << RemoveRow{five, fields(Five), 4, MessageBox::Yes, rawFile(without(FiveBytes, 4))};
        QTest::newRow("third, no") << RemoveRow{five, fields(Five), 2, MessageBox::No, five};
        QTest::newRow("nothing selected") << RemoveRow{five, fields(Five), -1, MessageBox::Yes, five};
        // A record left marked by an interrupted removal is not listed; the items keep their records.
        QTest::newRow("marked record hidden, gone with the next removal")
            << RemoveRow{Marked, MarkedNew, 2, MessageBox::Yes, rawFile({FiveBytes[0], FiveBytes[1], FiveBytes[4]})};
        QTest::newRow("undecodable record listed by its bytes, removable") << RemoveRow{
            rawFile({"viagra",
                     "\xFF"
                     "abc",
                     "casino"}),
            {Five[0].leftJustified(200), u"（読めないキーワード） FF 61 62 63"_qs, Five[4].leftJustified(200)},
            1,
            MessageBox::Yes,
            rawFile({"viagra", "casino"})};
    }

    void windowRemoves()
    {
        QFETCH(RemoveRow, row);
        TestProgramFolder folder;
        folder.write(DataFile, row.stored);
        GekitaiForm form;
        QCOMPARE(items(form.List1), row.listed);
        if (row.selected >= 0)
            QTest::mouseClick(form.List1->viewport(), Qt::LeftButton, {},
                              form.List1->visualItemRect(form.List1->item(row.selected)).center());
        MessageBox::setNextAnswer(row.answer);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        const MessageBox::Shown asked{u"選択された（行、青色）データを削除します。よろしいですか"_qs, u"確認"_qs,
                                      MessageBox::YesNo, MessageBox::Question, MessageBox::Yes};
        const MessageBox::Shown noSelection{u"データが選択されていません。"_qs, u"Mossvale"_qs, MessageBox::OkOnly,
                                            MessageBox::NoIcon, MessageBox::Ok};
        QCOMPARE(shownBox(), boxText(row.selected < 0 ? noSelection : asked));
        QCOMPARE(folder.read(DataFile), row.kept);
        QVERIFY(!folder.exists(TempFile));
        const QStringList left =
            row.answer == MessageBox::Yes && row.selected >= 0 ? without(row.listed, row.selected) : row.listed;
        QCOMPARE(items(form.List1), left);
        QVERIFY(form.List1->selectedItems().isEmpty());
    }
};

QTEST_MAIN(TestKeywords)
#include "tst_keywords.moc"
