#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "platform/FormSlot.h"
#include "platform/PageView.h"
#include "platform/WindowPlacement.h"

#include <QApplication>
#include <QPixmap>
#include <QtTest>

// The help window: loaded once while open, afresh after a close; its page view follows its size.
class HELPFormTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void browserTwips_data();
    void browserTwips();
    void loadShowsTheHelpOnTop();
    void resizeFollowsTheOuterSize_data();
    void resizeFollowsTheOuterSize();
    void oneWindowWhileOpenFreshAfterClose();

private:
    std::unique_ptr<TestProgramFolder> m_folder;
};

void HELPFormTest::init()
{
    m_folder = std::make_unique<TestProgramFolder>();
    m_folder->write(QStringLiteral("HTML/1.htm"),
                    "<html><meta charset=\"utf-8\"><body><h1>Mossvale ヘルプ</h1><p>メールチェックの使い方</p>"
                    "</body></html>");
    QPixmap icon(32, 32);
    icon.fill(QColor(0, 128, 0));
    QApplication::setWindowIcon(QIcon(icon));
}

void HELPFormTest::cleanup()
{
    m_folder.reset();
}

void HELPFormTest::browserTwips_data()
{
    QTest::addColumn<QSize>("outer");
    QTest::addColumn<QSize>("browser");
    QTest::newRow("8000 x 6000") << QSize(8000, 6000) << QSize(7900, 5600);
    QTest::newRow("design size") << QSize(10905, 7680) << QSize(10805, 7280);
    QTest::newRow("just fits") << QSize(101, 401) << QSize(1, 1);
    QTest::newRow("exactly nothing") << QSize(100, 400) << QSize(0, 0);
    QTest::newRow("too small") << QSize(60, 300) << QSize(0, 0);
    QTest::newRow("only too low") << QSize(3000, 150) << QSize(2900, 0);
}

void HELPFormTest::browserTwips()
{
    QFETCH(QSize, outer);
    QFETCH(QSize, browser);
    QCOMPARE(HELPForm::browserTwips(outer), browser);
}

void HELPFormTest::loadShowsTheHelpOnTop()
{
    HELPForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("HELP"));
    QVERIFY(form.isVisible());
    QVERIFY(isTopmost(&form));
    QCOMPARE(form.WebBrowser1, form.findChild<PageView*>(QStringLiteral("WebBrowser1")));
    QCOMPARE(form.WebBrowser1->address(), QStringLiteral("file://") + m_folder->path() + QStringLiteral("/HTML/1.htm"));
    QVERIFY(form.WebBrowser1->pageText().contains(QStringLiteral("メールチェックの使い方")));
    QCOMPARE(form.size(), QSize(727, 512));
    QCOMPARE(form.WebBrowser1->pos(), QPoint(0, 0));
    // Showing sized the view by the rule: the design size (729 pixels) was wider than the window.
    QTRY_VERIFY(form.WebBrowser1->width() < form.width());
    QCOMPARE(form.windowIcon().pixmap(32, 32).toImage(), QApplication::windowIcon().pixmap(32, 32).toImage());

    const QString folder = qEnvironmentVariable("MOSSVALE_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.grab().save(folder + QStringLiteral("/help.png")));
    }
}

void HELPFormTest::resizeFollowsTheOuterSize_data()
{
    QTest::addColumn<QSize>("outerPixels");
    QTest::addColumn<QSize>("browserPixels");
    // 540 x 400 pixels are 8100 x 6000 twips: 8000 x 5600 twips remain, 533 x 373 pixels.
    QTest::newRow("8100 x 6000 twips") << QSize(540, 400) << QSize(533, 373);
    QTest::newRow("727 x 512 outer") << QSize(727, 512) << QSize(720, 485);
    QTest::newRow("tiny") << QSize(5, 20) << QSize(0, 0);
}

void HELPFormTest::resizeFollowsTheOuterSize()
{
    QFETCH(QSize, outerPixels);
    QFETCH(QSize, browserPixels);
    HELPForm form;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.setMinimumSize(1, 1);
    const QSize frame = form.frameGeometry().size() - form.size();
    form.resize(outerPixels - frame);
    QTRY_COMPARE(form.frameGeometry().size(), outerPixels);
    QTRY_COMPARE(form.WebBrowser1->size(), browserPixels);
}

void HELPFormTest::oneWindowWhileOpenFreshAfterClose()
{
    FormSlot<HELPForm> slot;
    HELPForm* first = slot.show();
    QVERIFY(first->WebBrowser1->pageText().contains(QStringLiteral("メールチェックの使い方")));
    m_folder->write(QStringLiteral("HTML/1.htm"), "<html><body>second edition</body></html>");

    QCOMPARE(slot.show(), first);
    QVERIFY(first->WebBrowser1->pageText().contains(QStringLiteral("メールチェックの使い方")));
    QCOMPARE(QApplication::topLevelWidgets().count(first), 1);

    QPointer<HELPForm> closed = first;
    QVERIFY(first->close());
    QVERIFY(!slot.isLoaded());
    HELPForm* again = slot.show();
    QVERIFY(again != closed.data() || closed.isNull());
    QVERIFY(again->WebBrowser1->pageText().contains(QStringLiteral("second edition")));
    QTRY_VERIFY(closed.isNull());
    int helpWindows = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        helpWindows += qobject_cast<HELPForm*>(window) && window->isVisible() ? 1 : 0;
    QCOMPARE(helpWindows, 1);
}

QTEST_MAIN(HELPFormTest)
#include "tst_helpform.moc"
