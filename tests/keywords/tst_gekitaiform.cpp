#include "keywords/GekitaiForm.h"
#include "keywords/KeywordFile.h"
#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "tests/support/TestProgramFolder.h"

#include <QFrame>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {
const QString DataFile = QStringLiteral("★MailData/Tlxdata50.data");
const QString NoEntry = QStringLiteral("キーワードが入力されていません。");
const QString NoSelection = QStringLiteral("データが選択されていません。");
const QString Confirm = QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
const QString H1 = QStringLiteral(
    "登録は１件につき全角で１００文字（半角では２００文字）、件数は無制限に登録できます。"
    "登録した文字を送信してきたメールアドレス、件名内から検索し、あなたの目に触れることなく削除します。");
const QString H2 =
    QStringLiteral("登録は１件につき全角で１００文字（半角では２００文字）、件数は無制限に登録できます。"
                   "登録した文字を送信してきたメールアドレス、件名から検索し、あなたの目に触れることなく削除します。");
const QString H3 =
    QStringLiteral("不要になったキーワードを削除します。リストでデータを選択し、このボタンをクリックして下さい。");

QByteArray rawRecord(const QString& keyword, qint16 inUse = 1)
{
    return QByteArray("\r\n") + char(inUse & 0xFF) + char((inUse >> 8) & 0xFF) +
           cp932(keyword).leftJustified(KeywordFieldBytes, ' ');
}

QByteArray rawFile(const QStringList& keywords)
{
    QByteArray bytes;
    for (const QString& keyword : keywords)
        bytes += rawRecord(keyword);
    return bytes;
}

QString field(const QString& text)
{
    return text.leftJustified(KeywordFieldBytes, u' ');
}

QStringList items(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QStringList fields(const QStringList& keywords)
{
    QStringList texts;
    for (const QString& keyword : keywords)
        texts.append(field(keyword));
    return texts;
}

// Text arriving the way a Japanese input method delivers it.
void commitText(QWidget* widget, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(widget, &event);
}

const QStringList Five{QStringLiteral("未承諾広告"), QStringLiteral("viagra"), QStringLiteral("出会い"),
                       QStringLiteral("①当選"), QStringLiteral("casino")};
} // namespace

class TestGekitaiForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { MessageBox::reset(); }
    void cleanup() { MessageBox::reset(); }

    void loadsTheStoredList();
    void registers_data();
    void registers();
    void emptyEntryIsRefused_data();
    void emptyEntryIsRefused();
    void entryStopsAt200Bytes_data();
    void entryStopsAt200Bytes();
    void characterWithoutCp932FormIsRefusedAndExplained_data();
    void characterWithoutCp932FormIsRefusedAndExplained();
    void removes_data();
    void removes();
    void removingWithoutSelectionChangesNothing();
    void registrationBeyondTheLastRecordNumberIsRefused();
    void fileFailuresAreShownByName();
    void hintsFollowThePointer();
    void secondOpeningBringsTheOpenWindowForward();
};

void TestGekitaiForm::loadsTheStoredList()
{
    TestProgramFolder folder;
    folder.write(DataFile, rawFile(Five) + rawRecord(u"torn"_qs).left(50));
    GekitaiForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Spam/迷惑メール撃退"));
    QCOMPARE(items(form.List1), fields(Five));
    QVERIFY(MessageBox::shown().isEmpty());
}

void TestGekitaiForm::registers_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("typed");
    QTest::newRow("first keyword, new file") << QStringList() << QStringList{"spam"};
    QTest::newRow("appended after the others") << Five << QStringList{"lottery"};
    QTest::newRow("same text twice") << QStringList{"a"} << QStringList{"twice", "twice"};
    QTest::newRow("spaces around kept") << QStringList() << QStringList{" x "};
}

void TestGekitaiForm::registers()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, typed);
    TestProgramFolder folder;
    if (!stored.isEmpty())
        folder.write(DataFile, rawFile(stored));
    GekitaiForm form;

    for (const QString& text : typed) {
        QTest::keyClicks(form.Text1, text);
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        QCOMPARE(form.Text1->text(), QString());
        QCOMPARE(form.List1->item(form.List1->count() - 1)->text(), field(text));
    }
    QVERIFY(MessageBox::shown().isEmpty());
    QCOMPARE(items(form.List1), fields(stored + typed));
    QCOMPARE(folder.read(DataFile), rawFile(stored + typed));
}

void TestGekitaiForm::emptyEntryIsRefused_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("nothing typed") << QString();
    QTest::newRow("one space") << u" "_qs;
    QTest::newRow("only spaces") << u"     "_qs;
}

void TestGekitaiForm::emptyEntryIsRefused()
{
    QFETCH(QString, typed);
    TestProgramFolder folder;
    const QByteArray before = rawFile(Five);
    folder.write(DataFile, before);
    GekitaiForm form;
    QTest::keyClicks(form.Text1, typed);

    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), 1);
    const MessageBox::Shown box = MessageBox::shown().constFirst();
    QCOMPARE(box.text, NoEntry);
    QCOMPARE(box.caption, u"Mossvale"_qs);
    QCOMPARE(box.buttons, MessageBox::OkOnly);
    QCOMPARE(box.icon, MessageBox::NoIcon);
    QCOMPARE(folder.read(DataFile), before);
    QCOMPARE(items(form.List1), fields(Five));
    QCOMPARE(form.Text1->text(), typed);
}

void TestGekitaiForm::entryStopsAt200Bytes_data()
{
    QTest::addColumn<QString>("filling");
    QTest::addColumn<QString>("refused");
    QTest::newRow("200 half-width, then 1 more") << QString(200, u'a') << u"b"_qs;
    QTest::newRow("100 full-width, then 1 half-width") << QString(100, u'迷') << u"b"_qs;
    QTest::newRow("199 half-width, then 1 full-width") << QString(199, u'a') << u"迷"_qs;
    QTest::newRow("200 half-width katakana, then 1 more") << QString(200, u'ｱ') << u"ｲ"_qs;
}

void TestGekitaiForm::entryStopsAt200Bytes()
{
    QFETCH(QString, filling);
    QFETCH(QString, refused);
    TestProgramFolder folder;
    GekitaiForm form;
    form.Text1->setFocus();
    for (const QChar c : filling)
        commitText(form.Text1, QString(c));
    QCOMPARE(form.Text1->text(), filling);

    // Latin letters come as key presses, the rest as an input method commits them.
    if (refused.at(0).unicode() < 0x80)
        QTest::keyClicks(form.Text1, refused);
    else
        commitText(form.Text1, refused);
    QCOMPARE(form.Text1->text(), filling);
    QVERIFY(MessageBox::shown().isEmpty());

    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(items(form.List1), QStringList{field(filling)});
    QCOMPARE(folder.read(DataFile),
             QByteArray("\r\n\x01\x00", 4) + cp932(filling).leftJustified(KeywordFieldBytes, ' '));
}

void TestGekitaiForm::characterWithoutCp932FormIsRefusedAndExplained_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("offending");
    QTest::newRow("emoji") << QStringLiteral("spam\U0001F600") << QStringLiteral("\U0001F600");
    QTest::newRow("hangul") << QStringLiteral("광고") << QStringLiteral("광");
    QTest::newRow("simplified chinese") << QStringLiteral("发票") << QStringLiteral("发");
}

void TestGekitaiForm::characterWithoutCp932FormIsRefusedAndExplained()
{
    QFETCH(QString, typed);
    QFETCH(QString, offending);
    TestProgramFolder folder;
    GekitaiForm form;
    form.Text1->setFocus();
    commitText(form.Text1, u"未承諾"_qs);

    commitText(form.Text1, typed);
    QCOMPARE(form.Text1->text(), u"未承諾"_qs);
    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY2(MessageBox::shown().constFirst().text.contains(offending),
             qPrintable(MessageBox::shown().constFirst().text));
    QVERIFY(!form.Text1->text().contains(u'?'));
}

void TestGekitaiForm::removes_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("remaining");

    QStringList withoutFirst = Five;
    withoutFirst.removeAt(0);
    QStringList withoutThird = Five;
    withoutThird.removeAt(2);
    QStringList withoutLast = Five;
    withoutLast.removeLast();
    QTest::newRow("first, yes") << rawFile(Five) << 0 << int(MessageBox::Yes) << withoutFirst;
    QTest::newRow("third, yes") << rawFile(Five) << 2 << int(MessageBox::Yes) << withoutThird;
    QTest::newRow("last, yes") << rawFile(Five) << 4 << int(MessageBox::Yes) << withoutLast;
    QTest::newRow("third, no") << rawFile(Five) << 2 << int(MessageBox::No) << Five;
    QTest::newRow("no, yet a record left marked is dropped")
        << rawFile(Five.mid(0, 2)) + rawRecord(Five.at(2), 0) + rawFile(Five.mid(3)) << 0 << int(MessageBox::No)
        << withoutThird;
}

void TestGekitaiForm::removes()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, selected);
    QFETCH(int, answer);
    QFETCH(QStringList, remaining);
    TestProgramFolder folder;
    folder.write(DataFile, stored);
    GekitaiForm form;
    QCOMPARE(form.List1->count(), 5);

    QTest::mouseClick(form.List1->viewport(), Qt::LeftButton, {},
                      form.List1->visualItemRect(form.List1->item(selected)).center());
    QCOMPARE(form.List1->selectedItems().size(), 1);
    MessageBox::setNextAnswer(MessageBox::Button(answer));
    QTest::mouseClick(form.Command2, Qt::LeftButton);

    QCOMPARE(MessageBox::shown().size(), 1);
    const MessageBox::Shown box = MessageBox::shown().constFirst();
    QCOMPARE(box.text, Confirm);
    QCOMPARE(box.caption, u"確認"_qs);
    QCOMPARE(box.buttons, MessageBox::YesNo);
    QCOMPARE(box.icon, MessageBox::Question);
    QCOMPARE(box.defaultButton, MessageBox::Yes);
    QCOMPARE(items(form.List1), fields(remaining));
    QVERIFY(form.List1->selectedItems().isEmpty());
    QCOMPARE(folder.read(DataFile), rawFile(remaining));
    QVERIFY(!folder.exists(u"★MailData/TLXDATA50.TMP"_qs));
}

void TestGekitaiForm::removingWithoutSelectionChangesNothing()
{
    TestProgramFolder folder;
    const QByteArray before = rawFile(Five);
    folder.write(DataFile, before);
    GekitaiForm form;

    QTest::mouseClick(form.Command2, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), 1);
    QCOMPARE(MessageBox::shown().constFirst().text, NoSelection);
    QCOMPARE(MessageBox::shown().constFirst().caption, u"Mossvale"_qs);
    QCOMPARE(MessageBox::shown().constFirst().buttons, MessageBox::OkOnly);
    QCOMPARE(MessageBox::shown().constFirst().icon, MessageBox::NoIcon);
    QCOMPARE(items(form.List1), fields(Five));
    QCOMPARE(folder.read(DataFile), before);
}

void TestGekitaiForm::registrationBeyondTheLastRecordNumberIsRefused()
{
    TestProgramFolder folder;
    QByteArray full;
    for (int i = 0; i < MaxKeywordRecords; ++i)
        full += rawRecord(u"k"_qs);
    folder.write(DataFile, full);
    GekitaiForm form;
    QCOMPARE(form.List1->count(), MaxKeywordRecords);

    QTest::keyClicks(form.Text1, u"one too many"_qs);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY(MessageBox::shown().constFirst().text.contains(QString::number(MaxKeywordRecords)));
    QCOMPARE(form.Text1->text(), u"one too many"_qs);
    QCOMPARE(form.List1->count(), MaxKeywordRecords);
    QCOMPARE(QFileInfo(folder.file(DataFile)).size(), full.size());
}

void TestGekitaiForm::fileFailuresAreShownByName()
{
    TestProgramFolder folder(false);
    folder.write(u"★MailData"_qs, "a file where the data folder belongs");
    GekitaiForm form;
    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY(MessageBox::shown().constFirst().text.contains(u"Tlxdata50.data"_qs));
    QCOMPARE(MessageBox::shown().constFirst().icon, MessageBox::Critical);
    QCOMPARE(form.List1->count(), 0);

    QTest::keyClicks(form.Text1, u"spam"_qs);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), 2);
    QVERIFY(MessageBox::shown().constLast().text.contains(u"Tlxdata50.data"_qs));
    QCOMPARE(form.Text1->text(), u"spam"_qs); // the typing is not lost
}

void TestGekitaiForm::hintsFollowThePointer()
{
    TestProgramFolder folder;
    folder.write(DataFile, rawFile(Five));
    GekitaiForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.Text2->isVisible());
    QCOMPARE(form.Text2->toPlainText(), QString());

    const auto centreOf = [&form](QWidget* control) { return control->mapTo(&form, control->rect().center()); };
    const auto moveTo = [&form](QPoint at) { QTest::mouseMove(&form, at); };
    // The hint area lies over the lower part of the list: the pointer there is over the hint area.
    const QPoint overBoth = form.Text2->geometry().center();
    QVERIFY(form.List1->geometry().contains(overBoth));
    const QPoint listOnly(form.List1->geometry().left() + 20, form.List1->geometry().top() + 20);
    const QPoint bareWindow(form.width() - 10, 4);
    QCOMPARE(form.childAt(bareWindow), nullptr);

    struct Step
    {
        QPoint at;
        bool visible;
        QString hint;
    };
    const QList<Step> walk{
        {centreOf(form.Command1), true, H1},
        {centreOf(form.Text1), true, H2},
        {centreOf(form.Command2), true, H3},
        {overBoth, true, H3},
        {centreOf(form.Label2), true, H3},
        {centreOf(form.Picture2), true, H3},
        {listOnly, false, H3},
        {centreOf(form.Command1), true, H1},
        {bareWindow, false, H1},
        {centreOf(form.Text1), true, H2},
    };
    for (int i = 0; i < walk.size(); ++i) {
        moveTo(walk.at(i).at);
        QVERIFY2(form.Text2->isVisible() == walk.at(i).visible, qPrintable(QString::number(i)));
        QVERIFY2(form.Text2->toPlainText() == walk.at(i).hint, qPrintable(QString::number(i)));
    }
    // Whatever was typed into the hint area goes with the next hint.
    form.Text2->setPlainText(u"typed"_qs);
    moveTo(centreOf(form.Command2));
    QCOMPARE(form.Text2->toPlainText(), H3);
}

void TestGekitaiForm::secondOpeningBringsTheOpenWindowForward()
{
    TestProgramFolder folder;
    folder.write(DataFile, rawFile(Five));
    FormSlot<GekitaiForm> slot;
    GekitaiForm* first = slot.show();
    QVERIFY(QTest::qWaitForWindowExposed(first));
    folder.write(DataFile, rawFile(Five.mid(0, 2)));

    QCOMPARE(slot.show(), first);
    QCOMPARE(first->List1->count(), 5); // not loaded again while open
    QVERIFY(first->isVisible());

    first->close();
    QVERIFY(!slot.isLoaded());
    GekitaiForm* second = slot.show();
    QCOMPARE(second->List1->count(), 2);

    // A look at the window as the user sees it, when asked for.
    const QString shots = qEnvironmentVariable("MOSSVALE_SCREENSHOTS");
    if (!shots.isEmpty()) {
        second->Text1->setText(u"未承諾広告"_qs);
        second->List1->setCurrentRow(1);
        QTest::mouseMove(second, second->Command1->mapTo(second, second->Command1->rect().center()));
        QVERIFY(second->grab().save(shots + u"/gekitaiform.png"_qs));
    }
}

QTEST_MAIN(TestGekitaiForm)
#include "tst_gekitaiform.moc"
