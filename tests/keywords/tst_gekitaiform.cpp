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
const QString H1 = QStringLiteral(
    "登録は１件につき全角で１００文字（半角では２００文字）、件数は無制限に登録できます。"
    "登録した文字を送信してきたメールアドレス、件名内から検索し、あなたの目に触れることなく削除します。");
const QString H2 =
    QStringLiteral("登録は１件につき全角で１００文字（半角では２００文字）、件数は無制限に登録できます。"
                   "登録した文字を送信してきたメールアドレス、件名から検索し、あなたの目に触れることなく削除します。");
const QString H3 =
    QStringLiteral("不要になったキーワードを削除します。リストでデータを選択し、このボタンをクリックして下さい。");
const QStringList Five{u"未承諾広告"_qs, u"viagra"_qs, u"出会い"_qs, u"①当選"_qs, u"casino"_qs};

// One stored record, assembled byte by byte.
QByteArray rawRecord(const QString& keyword, qint16 inUse = 1)
{
    return QByteArray("\r\n") + char(inUse) + char(inUse >> 8) + cp932(keyword).leftJustified(KeywordFieldBytes, ' ');
}

QByteArray rawFile(const QStringList& keywords)
{
    QByteArray bytes;
    for (const QString& keyword : keywords)
        bytes += rawRecord(keyword);
    return bytes;
}

QStringList fields(const QStringList& keywords)
{
    QStringList texts;
    for (const QString& keyword : keywords)
        texts.append(keyword.leftJustified(KeywordFieldBytes, u' '));
    return texts;
}

QStringList items(const QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// Text arriving the way a Japanese input method delivers it.
void commit(QLineEdit* entry, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(entry, &event);
}

void checkBox(const QString& text, const QString& caption, MessageBox::Buttons buttons, MessageBox::Icon icon)
{
    QCOMPARE(MessageBox::shown().size(), 1);
    const MessageBox::Shown box = MessageBox::shown().constFirst();
    QCOMPARE(box.text, text);
    QCOMPARE(box.caption, caption);
    QCOMPARE(box.buttons, buttons);
    QCOMPARE(box.icon, icon);
}
} // namespace

class TestGekitaiForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { MessageBox::reset(); }
    void cleanup() { MessageBox::reset(); }

    void registers_data();
    void registers();
    void entry_data();
    void entry();
    void removes_data();
    void removes();
    void fileFailuresAreShownByName();
    void hintsFollowThePointer();
    void secondOpeningBringsTheOpenWindowForward();
};

void TestGekitaiForm::registers_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<bool>("torn"); // an incomplete record at the end, overwritten by the next one
    QTest::addColumn<QStringList>("typed");
    QTest::newRow("first keyword, new file") << QStringList() << false << QStringList{"spam"};
    QTest::newRow("appended after the others") << Five << true << QStringList{"lottery"};
    QTest::newRow("same text twice") << QStringList{"a"} << false << QStringList{"twice", "twice"};
    QTest::newRow("spaces around kept") << QStringList() << false << QStringList{" x "};
}

void TestGekitaiForm::registers()
{
    QFETCH(QStringList, stored);
    QFETCH(bool, torn);
    QFETCH(QStringList, typed);
    TestProgramFolder folder;
    folder.write(DataFile, rawFile(stored) + (torn ? rawRecord(u"torn"_qs).left(50) : QByteArray()));
    GekitaiForm form;
    QCOMPARE(form.windowTitle(), u"Spam/迷惑メール撃退"_qs);
    QCOMPARE(items(form.List1), fields(stored));

    for (const QString& text : typed) {
        QTest::keyClicks(form.Text1, text);
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        QCOMPARE(form.Text1->text(), QString());
    }
    QVERIFY(MessageBox::shown().isEmpty());
    QCOMPARE(items(form.List1), fields(stored + typed));
    QCOMPARE(folder.read(DataFile), rawFile(stored + typed));
}

void TestGekitaiForm::entry_data()
{
    QTest::addColumn<QString>("filling");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("refusal"); // part of the message box shown, empty: none
    QTest::newRow("nothing typed") << QString() << QString() << QString();
    QTest::newRow("one space") << u" "_qs << QString() << QString();
    QTest::newRow("only spaces") << u"     "_qs << QString() << QString();
    QTest::newRow("200 half-width, then 1 more") << QString(200, u'a') << u"b"_qs << QString();
    QTest::newRow("100 full-width, then 1 half-width") << QString(100, u'迷') << u"b"_qs << QString();
    QTest::newRow("199 half-width, then 1 full-width") << QString(199, u'a') << u"迷"_qs << QString();
    QTest::newRow("200 half-width katakana, then 1 more") << QString(200, u'ｱ') << u"ｲ"_qs << QString();
    QTest::newRow("emoji") << u"未承諾"_qs << u"spam\U0001F600"_qs << u"「\U0001F600」"_qs;
    QTest::newRow("hangul") << u"未承諾"_qs << u"광고"_qs << u"「광」"_qs;
    QTest::newRow("simplified chinese") << u"未承諾"_qs << u"发票"_qs << u"「发」"_qs;
}

// The entry holds at most 200 cp932 bytes and only characters cp932 can represent; a refused
// input is dropped whole. A blank entry is not registered.
void TestGekitaiForm::entry()
{
    QFETCH(QString, filling);
    QFETCH(QString, refused);
    QFETCH(QString, refusal);
    TestProgramFolder folder;
    folder.write(DataFile, rawFile(Five));
    GekitaiForm form;
    form.Text1->setFocus();
    for (const QChar c : filling)
        commit(form.Text1, QString(c));
    QCOMPARE(form.Text1->text(), filling);
    if (std::all_of(refused.cbegin(), refused.cend(),
                    [](QChar c) { return c.unicode() < 0x80; })) // Latin letters come as key presses
        QTest::keyClicks(form.Text1, refused);
    else
        commit(form.Text1, refused);
    QCOMPARE(form.Text1->text(), filling);
    QCOMPARE(MessageBox::shown().size(), refusal.isEmpty() ? 0 : 1);
    if (!refusal.isEmpty()) {
        QVERIFY2(MessageBox::shown().constFirst().text.contains(refusal), qPrintable(refusal));
        MessageBox::reset();
    }

    QTest::mouseClick(form.Command1, Qt::LeftButton);
    if (filling.trimmed().isEmpty()) {
        checkBox(u"キーワードが入力されていません。"_qs, u"Mossvale"_qs, MessageBox::OkOnly, MessageBox::NoIcon);
        QCOMPARE(form.Text1->text(), filling);
        QCOMPARE(items(form.List1), fields(Five));
        QCOMPARE(folder.read(DataFile), rawFile(Five));
    } else {
        QVERIFY(MessageBox::shown().isEmpty());
        QCOMPARE(items(form.List1), fields(Five + QStringList{filling}));
        QCOMPARE(folder.read(DataFile), rawFile(Five + QStringList{filling}));
    }
}

void TestGekitaiForm::removes_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("selected"); // -1: none
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("remaining");

    const auto without = [](int i) { return QStringList(Five.mid(0, i) + Five.mid(i + 1)); };
    QTest::newRow("first, yes") << rawFile(Five) << 0 << int(MessageBox::Yes) << without(0);
    QTest::newRow("third, yes") << rawFile(Five) << 2 << int(MessageBox::Yes) << without(2);
    QTest::newRow("last, yes") << rawFile(Five) << 4 << int(MessageBox::Yes) << without(4);
    QTest::newRow("third, no") << rawFile(Five) << 2 << int(MessageBox::No) << Five;
    QTest::newRow("nothing selected") << rawFile(Five) << -1 << int(MessageBox::Yes) << Five;
    // A record left marked by an earlier, interrupted removal goes even when the user says No.
    QTest::newRow("no, yet a record left marked is dropped")
        << rawFile(Five.mid(0, 2)) + rawRecord(Five.at(2), 0) + rawFile(Five.mid(3)) << 0 << int(MessageBox::No)
        << without(2);
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

    if (selected >= 0) {
        QTest::mouseClick(form.List1->viewport(), Qt::LeftButton, {},
                          form.List1->visualItemRect(form.List1->item(selected)).center());
        QCOMPARE(form.List1->selectedItems().size(), 1);
    }
    MessageBox::setNextAnswer(MessageBox::Button(answer));
    QTest::mouseClick(form.Command2, Qt::LeftButton);

    if (selected < 0) {
        checkBox(u"データが選択されていません。"_qs, u"Mossvale"_qs, MessageBox::OkOnly, MessageBox::NoIcon);
    } else {
        checkBox(u"選択された（行、青色）データを削除します。よろしいですか"_qs, u"確認"_qs, MessageBox::YesNo,
                 MessageBox::Question);
        QCOMPARE(MessageBox::shown().constFirst().defaultButton, MessageBox::Yes);
        QVERIFY(form.List1->selectedItems().isEmpty());
    }
    QCOMPARE(items(form.List1), fields(remaining));
    QCOMPARE(folder.read(DataFile), rawFile(remaining));
    QVERIFY(!folder.exists(u"★MailData/TLXDATA50.TMP"_qs));
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
    // The hint area lies over the lower part of the list: the pointer there is over the hint area.
    const QPoint overBoth = form.Text2->geometry().center();
    QVERIFY(form.List1->geometry().contains(overBoth));
    const QPoint listOnly = form.List1->geometry().topLeft() + QPoint(20, 20);
    const QPoint bareWindow(form.width() - 10, 4);
    QCOMPARE(form.childAt(bareWindow), nullptr);

    const QList<std::tuple<QPoint, bool, QString>> walk{
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
        const auto& [at, visible, hint] = walk.at(i);
        QTest::mouseMove(&form, at);
        QVERIFY2(form.Text2->isVisible() == visible && form.Text2->toPlainText() == hint,
                 qPrintable(QString::number(i)));
    }
    // Whatever was typed into the hint area goes with the next hint.
    form.Text2->setPlainText(u"typed"_qs);
    QTest::mouseMove(&form, centreOf(form.Command2));
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
    QCOMPARE(slot.show()->List1->count(), 2);
}

QTEST_MAIN(TestGekitaiForm)
#include "tst_gekitaiform.moc"
