#include "Prerequisite.h"
#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "keywords/GekitaiForm.h"
#include "mailcheck/MsgForm.h"
#include "platform/DesignFont.h"
#include "platform/WrappingCheckBox.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStyleOptionButton>
#include <QTest>
#include <memory>

// Every caption of every window is whole with each Japanese face the program meets: the text
// fits the rectangle it is drawn in, and that rectangle is not cut by the window or a frame.
// The windows are saved as pictures beside the test, for a person to look at.
namespace {
const QStringList Faces{QStringLiteral("VL PGothic"), QStringLiteral("Noto Sans CJK JP")};

// Where the caption is drawn in control and the flags it is drawn with.
std::pair<QRect, int> captionPlace(QWidget* control, QString* text)
{
    if (auto* label = qobject_cast<QLabel*>(control)) {
        *text = label->text();
        const int wrap = label->wordWrap() ? int(Qt::TextWordWrap) : 0;
        return {label->contentsRect(), int(label->alignment()) | wrap | Qt::TextShowMnemonic};
    }
    if (auto* wrapping = qobject_cast<WrappingCheckBox*>(control)) {
        *text = wrapping->text();
        return {wrapping->captionRect(), WrappingCheckBox::CaptionFlags};
    }
    auto* button = qobject_cast<QAbstractButton*>(control);
    *text = button->text();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool push = qobject_cast<QPushButton*>(button);
    const auto element = push                                  ? QStyle::SE_PushButtonContents
                         : qobject_cast<QRadioButton*>(button) ? QStyle::SE_RadioButtonContents
                                                               : QStyle::SE_CheckBoxContents;
    const QRect rect = button->style()->subElementRect(element, &option, button);
    return {rect, (push ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter) | Qt::TextShowMnemonic};
}

// The ink of text laid out in the line boxes drawn: a face's line box may be taller than its
// glyphs, and only the glyphs must be whole.
QRect inkOf(const QFontMetrics& metrics, const QRect& drawn, const QString& text, bool wrapped)
{
    const QRect tight = metrics.tightBoundingRect(QString(text).remove(u'&'));
    const int lines = 1 + (drawn.height() - metrics.height()) / metrics.lineSpacing();
    const int firstBaseline = drawn.top() + metrics.ascent();
    const int lastBaseline = firstBaseline + (lines - 1) * metrics.lineSpacing();
    const int left = wrapped ? drawn.left() : drawn.left() + tight.left();
    const int right = wrapped ? drawn.right() : drawn.left() + tight.right();
    return QRect(QPoint(left, firstBaseline + tight.top()), QPoint(right, lastBaseline + tight.bottom()));
}

// The part of control's rectangle r that its ancestors up to the window leave visible.
QRect visiblePart(QWidget* control, QRect r)
{
    r &= control->rect();
    for (QWidget* w = control; !w->isWindow(); w = w->parentWidget())
        r = r.translated(w->pos()) & w->parentWidget()->rect();
    return r;
}
} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;
    const QStringList m_preferred = designFamilies();

private Q_SLOTS:
    void initTestCase()
    {
        const QStringList installed = QFontDatabase::families();
        for (const QString& face : Faces)
            MOSSVALE_REQUIRE(installed.contains(face), face.toUtf8());
        m_folder = std::make_unique<TestProgramFolder>(true, true);
        m_folder->writeServer("pop.example.jp");
    }

    void cleanup() { designFamilies() = m_preferred; }

    void captionsFit_data()
    {
        QTest::addColumn<QString>("face");
        for (const QString& face : Faces)
            QTest::newRow(qPrintable(face)) << face;
    }

    void captionsFit()
    {
        QFETCH(QString, face);
        designFamilies() = {face}; // for every window of this row, also those loaded on first use
        MainForm form;
        form.show();
        const QList<QWidget*> windows{&form,
                                      form.setForm().show(),
                                      form.optionForm().show(),
                                      form.idPassForm().show(),
                                      form.gekitaiForm().show(),
                                      form.msgForm().show(),
                                      form.helpForm().show()};
        const QString shots = QCoreApplication::applicationDirPath() + "/caption-shots/";
        QDir().mkpath(shots);
        QStringList cut;
        for (QWidget* window : windows) {
            QCOMPARE(QFontInfo(window->font()).family(), face);
            const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY(shot.save(shots + window->objectName() + u'-' + QString(face).remove(u' ') + ".png"));
            const auto* pixels = reinterpret_cast<const QRgb*>(shot.constBits()); // drawn, not one flat colour
            QVERIFY(QSet<QRgb>(pixels, pixels + shot.width() * shot.height()).size() > 20);
            for (QWidget* control : window->findChildren<QWidget*>()) {
                if (control->window() != window || !control->isVisibleTo(window) ||
                    !(qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control)))
                    continue;
                QString text;
                const auto [rect, flags] = captionPlace(control, &text);
                if (text.isEmpty())
                    continue;
                const QRect drawn = control->fontMetrics().boundingRect(rect, flags, text);
                const QRect ink = inkOf(control->fontMetrics(), drawn, text, flags & Qt::TextWordWrap);
                // The line fits its place across, the glyphs up and down, and nothing clips them.
                const bool fits = drawn.left() >= rect.left() && drawn.right() <= rect.right() &&
                                  ink.top() >= rect.top() && ink.bottom() <= rect.bottom();
                if (!fits || visiblePart(control, ink) != ink.translated(control->mapTo(window, QPoint())))
                    cut << window->objectName() + u'/' + control->objectName() + QStringLiteral(" 「%1」").arg(text);
            }
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u'\n')));
    }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
