#include "mailcheck/MsgForm.h"
#include "platform/FormSlot.h"
#include "platform/WindowPlacement.h"
#include "tests/support/TestProgramFolder.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

namespace {
int loadedNoticeBoards()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<MsgForm*>(widget) != nullptr;
    return count;
}

// What the check cycle does to announce count new messages.
void announce(FormSlot<MsgForm>& slot, int count)
{
    slot.get()->Text1->setText(QStringLiteral("新着メールがあります。"));
    slot.get()->Text2->setText(QString::number(count));
    slot.show();
}
} // namespace

class TestMsgForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void createdTopmostAndCentred();
    void oneBoardCountChangesInPlace();
    void grab();
};

void TestMsgForm::createdTopmostAndCentred()
{
    FormSlot<MsgForm> slot;
    MsgForm* form = slot.get(); // setting a text creates it, and creating it puts it on top
    QVERIFY(form->isVisible());
    QVERIFY(isTopmost(form));
    QCOMPARE(form->windowTitle(), QStringLiteral("新着お知らせボード"));
    QCOMPARE(form->Text1->text(), QStringLiteral("新着メールがあります。"));
    QVERIFY(form->Text2->text().isEmpty());
    QCOMPARE(form->Text1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(form->Text2->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(form->Text1->palette().color(QPalette::Base), QColor(0, 0, 255));
    // Fixed size: the user cannot resize it.
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QCOMPARE(form->size(), QSize(239, 17));
    const QPoint screenCentre = form->screen()->availableGeometry().center();
    QVERIFY2(
        (form->frameGeometry().center() - screenCentre).manhattanLength() <= 2,
        qPrintable(
            QStringLiteral("%1,%2").arg(form->frameGeometry().center().x()).arg(form->frameGeometry().center().y())));
}

void TestMsgForm::oneBoardCountChangesInPlace()
{
    FormSlot<MsgForm> slot;
    announce(slot, 3);
    MsgForm* first = slot.loaded();
    QCOMPARE(first->Text2->text(), QStringLiteral("3"));

    announce(slot, 12); // a later check while the board is still open
    QCOMPARE(slot.loaded(), first);
    QCOMPARE(first->Text2->text(), QStringLiteral("12"));
    QCOMPARE(loadedNoticeBoards(), 1);

    // Closed by the user (or the auto-close): the next announcement brings a fresh board.
    slot.unload();
    QVERIFY(!slot.isLoaded());
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(loadedNoticeBoards(), 0);
    announce(slot, 1);
    QCOMPARE(loadedNoticeBoards(), 1);
    QCOMPARE(slot.loaded()->Text2->text(), QStringLiteral("1"));
    QVERIFY(isTopmost(slot.loaded()));
}

void TestMsgForm::grab()
{
    const QString dir = qEnvironmentVariable("MOSSVALE_GRAB_DIR");
    if (dir.isEmpty())
        QSKIP("set MOSSVALE_GRAB_DIR to save a picture of the window");
    FormSlot<MsgForm> slot;
    announce(slot, 12);
    QVERIFY(slot.loaded()->grab().save(dir + QStringLiteral("/MsgForm.png")));
}

QTEST_MAIN(TestMsgForm)
#include "tst_msgform.moc"
