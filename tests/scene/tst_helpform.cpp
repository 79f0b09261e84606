#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "platform/FormSlot.h"
#include "platform/PageView.h"
#include "platform/WindowPlacement.h"

#include <QPointer>
#include <QtTest>

// The help window: loaded once while open, afresh after a close; its page view follows its size.
class HELPFormTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<TestProgramFolder>();
        m_folder->write(QStringLiteral("HTML/1.htm"),
                        "<html><meta charset=\"utf-8\"><body>メールチェックの使い方</body></html>");
    }
    void browserFollowsTheOuterSize()
    {
        QCOMPARE(HELPForm::browserTwips({8000, 6000}), QSize(7900, 5600));
        QCOMPARE(HELPForm::browserTwips({60, 300}), QSize(0, 0));
        QCOMPARE(HELPForm::browserTwips({3000, 150}), QSize(2900, 0));
        HELPForm form;
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // 540 x 400 pixels are 8100 x 6000 twips: 8000 x 5600 twips remain, 533 x 373 pixels.
        form.resize(QSize(540, 400) - (form.frameGeometry().size() - form.size()));
        QTRY_COMPARE(form.frameGeometry().size(), QSize(540, 400));
        QTRY_COMPARE(form.WebBrowser1->size(), QSize(533, 373));
    }
    void oneWindowOnTopWhileOpenFreshAfterClose()
    {
        FormSlot<HELPForm> slot;
        HELPForm* first = slot.show();
        QCOMPARE(first->windowTitle(), QStringLiteral("HELP"));
        QVERIFY(isTopmost(first));
        QVERIFY(first->WebBrowser1->pageText().contains(QStringLiteral("メールチェックの使い方")));
        m_folder->write(QStringLiteral("HTML/1.htm"), "<html><body>second edition</body></html>");
        QCOMPARE(slot.show(), first); // not loaded again while open
        QVERIFY(first->WebBrowser1->pageText().contains(QStringLiteral("メールチェックの使い方")));

        QPointer<HELPForm> closed = first;
        QVERIFY(first->close());
        HELPForm* again = slot.show();
        QVERIFY(again->WebBrowser1->pageText().contains(QStringLiteral("second edition")));
        QTRY_VERIFY(closed.isNull());
    }

private:
    std::unique_ptr<TestProgramFolder> m_folder;
};

QTEST_MAIN(HELPFormTest)
#include "tst_helpform.moc"
