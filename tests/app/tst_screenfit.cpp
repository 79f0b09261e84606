#include "TableRows.h"
#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "keywords/GekitaiForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>

// At three times the scale the offscreen screen (800 x 800) is some 266 x 266: no design size fits. Every window
// opens within the free area with room for its frame; a sizable one is made smaller, one of a fixed
// size keeps its whole design in a page that scrolls. (At scale 1 the sizes are tst_mainform's.)
namespace {
struct FitRow
{
    const char* name;
    QWidget* (*open)(MainForm&);
    QSize design; // the client area, in pixels at 96 dpi
    bool scrolls;
};

// Room a frame not drawn yet must have: a title bar and borders.
constexpr QSize FrameRoom(8, 36);
} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT
    TestProgramFolder m_folder{true, true};

private Q_SLOTS:
    void initTestCase() { m_folder.writeServer("pop.example.jp"); }

    void windowsFitTheScreen_data()
    {
        const auto add = addRow<FitRow>();
        // clang-format off
        add({"help", [](MainForm& f) -> QWidget* { return f.helpForm().show(); }, {727, 512}, false});
        add({"main window", [](MainForm& f) -> QWidget* { return &f; }, {433, 307}, true});
        add({"keywords", [](MainForm& f) -> QWidget* { return f.gekitaiForm().show(); }, {473, 341}, true});
        add({"settings", [](MainForm& f) -> QWidget* { return f.setForm().show(); }, {281, 344}, true});
        add({"server settings", [](MainForm& f) -> QWidget* {
            f.setForm().show()->Command2->click(); // its way in, over the settings
            return f.optionForm().loaded(); }, {197, 298}, true});
        // clang-format on
    }

    void windowsFitTheScreen()
    {
        QFETCH(FitRow, row);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(area.width() < 270 && area.height() < 270);
        MainForm form;
        form.show();
        QWidget* window = row.open(form);
        const QSize drawn = window->frameGeometry().size() - window->size(); // once a frame is there
        QVERIFY2(area.contains(QRect(window->pos(), window->size() + (drawn.isEmpty() ? FrameRoom : drawn))),
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(window->x()).arg(window->y()).arg(window->width()).arg(window->height())));
        auto* scroll = window->findChild<QScrollArea*>(u"screenFit"_qs, Qt::FindDirectChildrenOnly);
        QCOMPARE(scroll != nullptr, row.scrolls);
        if (!row.scrolls) {
            QVERIFY(window->width() < row.design.width() && window->height() < row.design.height());
            return;
        }
        // The whole design is there to scroll to, every control where it was designed.
        QCOMPARE(scroll->widget()->size(), row.design);
        for (QWidget* control : scroll->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(QRect(QPoint(), row.design).intersects(control->geometry()) || control->isHidden(),
                     qPrintable(control->objectName()));
        scroll->ensureVisible(row.design.width() - 1, row.design.height() - 1);
        QCOMPARE(scroll->widget()->mapTo(scroll->viewport(), QPoint(row.design.width(), row.design.height())),
                 QPoint(scroll->viewport()->width(), scroll->viewport()->height()));
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_SCALE_FACTOR", "3");
    QApplication app(argc, argv);
    TestScreenFit test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_screenfit.moc"
