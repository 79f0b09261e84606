#include "mailcheck/MsgForm.h"
#include "platform/FormSlot.h"
#include "platform/WindowPlacement.h"

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
} // namespace

class TestMsgForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneBoardOnTopCountChangesInPlace();
};

void TestMsgForm::oneBoardOnTopCountChangesInPlace()
{
    FormSlot<MsgForm> slot;
    MsgForm* first = slot.get(); // the check cycle's first write to it creates it, and on top
    QVERIFY(first->isVisible() && isTopmost(first));
    QCOMPARE(first->windowTitle(), u"新着お知らせボード"_qs);
    QCOMPARE(first->Text1->text(), u"新着メールがあります。"_qs);
    QVERIFY(first->Text2->text().isEmpty());
    QVERIFY((first->frameGeometry().center() - first->screen()->availableGeometry().center()).manhattanLength() <= 2);

    for (int count : {3, 12}) { // a later check while the board is still open reuses it
        slot.get()->Text2->setText(QString::number(count));
        QCOMPARE(slot.show(), first);
        QCOMPARE(first->Text2->text(), QString::number(count));
        QCOMPARE(loadedNoticeBoards(), 1);
    }

    // Closed by the user (or the auto-close): the next announcement brings a fresh board, on top.
    slot.unload();
    QVERIFY(!slot.isLoaded());
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(loadedNoticeBoards(), 0);
    slot.get()->Text2->setText(u"1"_qs);
    QCOMPARE(loadedNoticeBoards(), 1);
    QVERIFY(isTopmost(slot.loaded()));
    QCOMPARE(slot.loaded()->Text2->text(), u"1"_qs);
}

QTEST_MAIN(TestMsgForm)
#include "tst_msgform.moc"
