// The keyword data file and its window: records byte for byte, what the mail check may match
// with, a restore after an interrupted rebuild, and the window the user keeps the list in.
#include "keywords/GekitaiForm.h"
#include "keywords/KeywordFile.h"
#include "mailcheck/MessageJudge.h"
#include "platform/MessageBox.h"
#include "tests/support/TableRows.h"
#include "tests/support/TestProgramFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>


namespace {
const QString DataFile = QStringLiteral("★MailData/Tlxdata50.data");
const QString TempFile = QStringLiteral("★MailData/TLXDATA50.TMP");
// cp932 written out by hand, so that no expected byte comes from the encoder under test.
const QByteArray Circled1 = "\x87\x40", Wave = "\x81\x60", Taka = "\xFB\xFC", Star = "\x81\x9A";
const QStringList Five{u"viagra"_qs, u"①win"_qs, u"～sale"_qs, u"髙x"_qs, u"casino"_qs};
const QList<QByteArray> FiveBytes{"viagra", Circled1 + "win", Wave + "sale", Taka + "x", "casino"};

// 204-byte records of the keywords, each with the one InUse.
QByteArray rawFile(const QList<QByteArray>& keywords, qint16 inUse = 1)
{
    QByteArray bytes;
    for (const QByteArray& keyword : keywords)
        bytes += QByteArray("\r\n") + char(inUse & 0xFF) + char(inUse >> 8) +
                 keyword.leftJustified(KeywordFieldBytes, ' ', true);
    return bytes;
}

const auto without = [](auto list, int i) { return list.mid(0, i) + list.mid(i + 1); };

// Five keywords, the third marked for removal: what a confirmed removal leaves before the rebuild.
const QByteArray Marked = rawFile(FiveBytes.mid(0, 2)) + rawFile({FiveBytes[2]}, 0) + rawFile(FiveBytes.mid(3));

QStringList items(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text().trimmed()); // fields come filled with spaces
    return texts;
}

// clang-format off
struct ReadRow { const char* name; QByteArray data, temp; int records; QStringList matched; QList<int> unreadable = {}; };
// The window on stored: the item selected (-1: none) is removed with answer, or entry (when not null) registered;
// box: the text of the box shown, with its buttons. changed: what another window leaves in the file after this
// one listed it (null: nothing).
struct WindowRow { const char* name; QByteArray stored; QStringList listed; int selected; MessageBox::Button answer; QString box; QByteArray kept; QStringList after; QByteArray changed = {}; QString entry = {}; };
// clang-format on
} // namespace

class TestKeywords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { MessageBox::reset(); }

    // A null data or temp stands for no such file.
    void reads_data()
    {
        const auto add = addRow<ReadRow>();
        const QByteArray three = rawFile({"viagra", Circled1 + Wave + Taka, Star});
        // NULs at the end fill the field as spaces do; one inside breaks the text.
        const QByteArray undecodable = rawFile({"viagra", "\xFF", "a\x81 b", QByteArray(199, 'x') + '\x81', Taka,
                                                QByteArray("a\0b", 3), QByteArray("casino ").leftJustified(200, '\0')});
        const QByteArray spacedAndMarked = rawFile({"  viagra ", "", Circled1 + " win"}) + rawFile({"casino"}, 0);
        // clang-format off
        add({"missing file: an empty list", {}, {}, 0, {}});
        add({"incomplete tail of 203 bytes", three + rawFile({"lost"}).left(203), {}, 3, {u"viagra"_qs, u"①～髙"_qs, u"★"_qs}});
        add({"spaces around dropped; blank and marked records left out", spacedAndMarked, {}, 4, {u"viagra"_qs, u"① win"_qs}});
        // Each would decode to U+FFFD and so match any subject holding an undecodable byte.
        add({"undecodable records never match", undecodable, {}, 7, {u"viagra"_qs, u"髙"_qs, u"casino"_qs}, {2, 3, 4, 6}});
        // A rebuild by another program stopped while it refilled the data file: the temporary file is the list.
        add({"restore: data file refilled half-way", rawFile(FiveBytes.mid(0, 2)) + rawFile({"torn"}).left(7), Marked, 4, without(Five, 2)});
        // clang-format on
    }
    void reads()
    {
        QFETCH(ReadRow, row);
        TestProgramFolder folder;
        for (const auto& [file, bytes] : {std::pair{DataFile, row.data}, std::pair{TempFile, row.temp}})
            if (!bytes.isNull())
                folder.write(file, bytes);
        QStringList matched{u"left from before"_qs};
        QList<int> unreadable{99};
        QCOMPARE(KeywordFile::LoadMatchKeywords(&matched, &unreadable), QString());
        QCOMPARE(matched, row.matched);
        QCOMPARE(unreadable, row.unreadable);
        int number = 0;
        QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
        QCOMPARE(number, row.records + 1);
        if (row.temp.isNull()) // reading never rewrites
            QCOMPARE(folder.read(DataFile), row.data);
        QVERIFY(!folder.exists(TempFile));
    }

    // A new keyword becomes the last record, over an incomplete one; one cp932 cannot store, or one
    // past 200 bytes, is refused. A rebuild drops every marked record; bytes this program would never
    // write itself come through untouched, and a second rebuild changes nothing. Removing a keyword
    // from the history removes each live record of it, spaced or not, and no other.
    void writesAndRebuilds()
    {
        const QByteArray odd =
            QByteArray("\n\n\x01\x00", 4) + QByteArray(200, '\0') + rawFile({"\x81\x20\xFF\xA0"}) + rawFile({"two"}, 2);
        TestProgramFolder folder;
        folder.write(DataFile, rawFile({"gone"}, 0) + odd.left(408) + rawFile({"x"}) + odd.mid(408) + "torn");
        int number = 0;
        QCOMPARE(KeywordFile::NextRecordNumber(&number), QString());
        QCOMPARE(KeywordFile::WriteKeywordRecord(number, {.Keyword = u" ①～髙★ "_qs}), QString());
        QVERIFY(KeywordFile::WriteKeywordRecord(number, {.Keyword = u"😀"_qs}).contains(u"登録できない文字"_qs));
        QVERIFY(
            KeywordFile::WriteKeywordRecord(number, {.Keyword = QString(100, u'髙') + u'b'}).contains(u"長すぎ"_qs));
        QCOMPARE(KeywordFile::MarkKeywordRecord(4), QString());
        for (int pass = 0; pass < 2; ++pass) {
            QCOMPARE(KeywordFile::CompactKeywordFile(), QString());
            QCOMPARE(folder.read(DataFile), odd + rawFile({' ' + Circled1 + Wave + Taka + Star + ' '}));
            QVERIFY(!folder.exists(TempFile));
        }
        folder.write(DataFile, rawFile({"viagra", Taka, "  " + Taka + " ", Taka + "x", "\xFF"}) + rawFile({Taka}, 0));
        QCOMPARE(removeKeyword(u"髙"_qs), QString());
        QCOMPARE(folder.read(DataFile), rawFile({"viagra", Taka + "x", "\xFF"}));
    }

    // The window removes the selected keyword after asking, never by a stale list, and refuses a
    // keyword of white space only (full-width spaces included): it would never match. Entries come
    // as an input method gives them.
    void window_data()
    {
        const auto add = addRow<WindowRow>();
        const QByteArray five = rawFile(FiveBytes), compacted = rawFile(without(FiveBytes, 1));
        const QString ask = u"選択された（行、青色）データを削除します。よろしいですか[はい][いいえ]"_qs;
        const QString stale =
            u"キーワードの一覧がほかの画面で変更されていたため、表示を更新しました。もう一度選んでください。[OK]"_qs;
        // clang-format off
        add({"third, no", five, Five, 2, MessageBox::No, ask, five, Five});
        // A record left marked by an interrupted removal is listed in its place (item k is record
        // k + 1); the next removal drops it with the chosen one, or alone when it is the one chosen.
        add({"marked record listed, gone with the next removal", Marked, Five, 3, MessageBox::Yes, ask, rawFile({FiveBytes[0], FiveBytes[1], FiveBytes[4]}), {Five[0], Five[1], Five[4]}});
        add({"marked record itself removed", Marked, Five, 2, MessageBox::Yes, ask, rawFile(without(FiveBytes, 2)), without(Five, 2)});
        // Another window removed the second keyword and the records after it moved up: the list is
        // never acted on by its old numbers; it is reloaded, nothing removed.
        add({"stale list removes nothing", five, Five, 2, MessageBox::Yes, stale, compacted, without(Five, 1), compacted});
        add({"full-width space refused", {}, {}, -1, {}, u"キーワードが入力されていません。[OK]"_qs, {}, {}, {}, u"　"_qs});
        add({"typed and registered", {}, {}, -1, {}, {}, rawFile({"\x81\x40\x96\xC0\x98\x66"}), {u"迷惑"_qs}, {}, u"　迷惑"_qs});
        // clang-format on
    }
    void window()
    {
        QFETCH(WindowRow, row);
        TestProgramFolder folder;
        folder.write(DataFile, row.stored);
        GekitaiForm form;
        QCOMPARE(items(form.List1), row.listed);
        if (!row.changed.isNull())
            folder.write(DataFile, row.changed);
        if (row.selected >= 0)
            QTest::mouseClick(form.List1->viewport(), Qt::LeftButton, {},
                              form.List1->visualItemRect(form.List1->item(row.selected)).center());
        bool answered = false; // a box is answered later, on a turn of the event loop
        MessageBox::setNextAnswer(row.answer, [&answered] { answered = true; });
        QInputMethodEvent typed; // the end of a conversion, whose own Enter went to the input method
        typed.setCommitString(row.entry);
        QApplication::sendEvent(form.Text1, &typed);
        if (row.entry.isNull())
            QTest::mouseClick(form.Command2, Qt::LeftButton);
        else
            QTest::keyClick(form.Text1, Qt::Key_Return);
        QTRY_VERIFY(answered || row.box.isEmpty());
        QString shown; // the boxes shown, as their texts and buttons
        for (const MessageBox::Shown& box : MessageBox::shown())
            shown += box.text + (box.buttons == MessageBox::YesNo ? u"[はい][いいえ]"_qs : u"[OK]"_qs);
        QCOMPARE(shown, row.box);
        QCOMPARE(folder.read(DataFile), row.kept);
        QCOMPARE(items(form.List1), row.after);
        QVERIFY(form.List1->selectedItems().isEmpty());
    }
};

QTEST_MAIN(TestKeywords)
#include "tst_keywords.moc"
