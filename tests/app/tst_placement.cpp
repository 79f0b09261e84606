#include "TableRows.h"
#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "keywords/GekitaiForm.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MsgForm.h"
#include "platform/WindowPlacement.h"
#include "settings/SetForm.h"

#include <QMessageBox>
#include <QScreen>
#include <QTest>

// The notice board keeps above every window but does not hide the program's own: the history (where a
// click on the result line leads right after a check, while the board is up), the keywords, the
// settings and every question. It may cover the main window and the help, as it always has.
namespace {
struct BoardRow
{
    const char* name;
    QWidget* (*open)(MainForm&);
    bool standsAside;
};

QRect area()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}
} // namespace

class TestPlacement : public QObject
{
    Q_OBJECT
    TestProgramFolder m_folder{true, true};

private Q_SLOTS:
    void initTestCase() { m_folder.writeServer("pop.example.jp"); }

    void boardStandsAside_data()
    {
        const auto add = addRow<BoardRow>();
        // clang-format off
        add({"deletion history", [](MainForm& f) -> QWidget* { return f.historyForm().show(); }, true});
        add({"keywords", [](MainForm& f) -> QWidget* { return f.gekitaiForm().show(); }, true});
        add({"settings", [](MainForm& f) -> QWidget* { return f.setForm().show(); }, true});
        add({"a question", [](MainForm& f) -> QWidget* {
            auto* box = new QMessageBox(QMessageBox::Question, u"確認"_qs, u"よろしいですか"_qs, QMessageBox::Yes, &f);
            box->show();
            return box; }, true});
        add({"the main window", [](MainForm& f) -> QWidget* { return &f; }, false});
        add({"the help", [](MainForm& f) -> QWidget* { return f.helpForm().show(); }, false});
        // clang-format on
    }

    void boardStandsAside()
    {
        QFETCH(BoardRow, row);
        MainForm form;
        form.show();
        QWidget* window = row.open(form);
        centreOnScreen(window); // where the board stands too
        MsgForm* board = form.msgForm().show();
        const QPoint home = board->frameGeometry().center();
        QVERIFY(window->frameGeometry().contains(home));
        if (!row.standsAside) {
            QTest::qWait(50); // a move would come on the next turns of the event loop
            QCOMPARE(board->frameGeometry().center(), home);
            return;
        }
        QTRY_VERIFY(!board->frameGeometry().intersects(window->frameGeometry()));
        QVERIFY(area().contains(board->frameGeometry()) && board->size() == QSize(239, 17) && isTopmost(board));
        window->setWindowState(Qt::WindowMinimized); // out of sight: the board comes home
        QTRY_COMPARE(board->frameGeometry().center(), home);
        window->setWindowState(Qt::WindowNoState);
        window->show();
        QTRY_VERIFY(!board->frameGeometry().intersects(window->frameGeometry()));
        window->close();
        QTRY_COMPARE(board->frameGeometry().center(), home);
    }
};

QTEST_MAIN(TestPlacement)
#include "tst_placement.moc"
