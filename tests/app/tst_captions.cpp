#include "Prerequisite.h"
#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "keywords/GekitaiForm.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MsgForm.h"
#include "platform/DesignFont.h"
#include "platform/WrappingCheckBox.h"
#include "settings/AccountsForm.h"
#include "settings/IdPassForm.h"
#include "settings/MoreOptionsForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTest>
#include <tuple>

// Every caption of every window is whole with each Japanese face the program meets: the text
// fits the rectangle it is drawn in, and that rectangle is not cut by the window or a frame.
namespace {
const QStringList Faces{QStringLiteral("VL PGothic"), QStringLiteral("Noto Sans CJK JP")};

// A control's caption, where it is drawn in the control, and the flags it is drawn with.
std::tuple<QString, QRect, int> captionOf(QWidget* control)
{
    if (auto* label = qobject_cast<QLabel*>(control))
        return {label->text(), label->contentsRect(),
                int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0) | Qt::TextShowMnemonic};
    if (auto* wrapping = qobject_cast<WrappingCheckBox*>(control)) // on one line, as a short caption should be
        return {wrapping->text(), wrapping->captionRect(), WrappingCheckBox::CaptionFlags & ~Qt::TextWordWrap};
    auto* button = qobject_cast<QAbstractButton*>(control);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool push = qobject_cast<QPushButton*>(button);
    const auto element = push                                  ? QStyle::SE_PushButtonContents
                         : qobject_cast<QRadioButton*>(button) ? QStyle::SE_RadioButtonContents
                                                               : QStyle::SE_CheckBoxContents;
    return {button->text(), button->style()->subElementRect(element, &option, button),
            int((push ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter) | Qt::TextShowMnemonic)};
}

// The ink of text laid out in the line boxes drawn: a face's line box may be taller than its
// glyphs, and only the glyphs must be whole.
QRect inkOf(const QFontMetrics& metrics, const QRect& drawn, const QString& text, bool wrapped)
{
    const QRect tight = metrics.tightBoundingRect(QString(text).remove(u'&'));
    const int lines = 1 + (drawn.height() - metrics.height()) / metrics.lineSpacing();
    const int firstBaseline = drawn.top() + metrics.ascent();
    const int lastBaseline = firstBaseline + (lines - 1) * metrics.lineSpacing();
    return QRect(QPoint(wrapped ? drawn.left() : drawn.left() + tight.left(), firstBaseline + tight.top()),
                 QPoint(wrapped ? drawn.right() : drawn.left() + tight.right(), lastBaseline + tight.bottom()));
}

} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT
    const TestProgramFolder m_folder{true, true};

private Q_SLOTS:
    void initTestCase()
    {
        for (const QString& face : Faces)
            MOSSVALE_REQUIRE(QFontDatabase::families().contains(face), face.toUtf8());
        m_folder.writeServer("pop.example.jp");
    }

    void captionsFit()
    {
        QStringList cut;
        for (const QString& face : Faces) {
            designFamilies() = {face}; // for every window of the form, also those loaded on first use
            MainForm form;
            form.show();
            QList<QWidget*> windows{&form, form.setForm().show(), form.optionForm().show(), form.idPassForm().show()};
            windows << form.gekitaiForm().show() << form.msgForm().show() << form.helpForm().show();
            windows << form.setForm().get()->moreOptionsForm().show() << form.historyForm().show();
            AccountsForm* accounts = form.setForm().get()->accountsForm().show();
            accounts->addButton->click(); // a further account's window has every row
            windows << accounts << accounts->accountForm();
            for (QWidget* window : windows) {
                QCOMPARE(QFontInfo(window->font()).family(), face);
                for (QWidget* control : window->findChildren<QWidget*>()) {
                    const bool captioned = qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control);
                    if (!captioned || control->window() != window || !control->isVisibleTo(window))
                        continue;
                    const auto [text, place, flags] = captionOf(control);
                    const QRect drawn = control->fontMetrics().boundingRect(place, flags, text);
                    const QRect ink = inkOf(control->fontMetrics(), drawn, text, flags & Qt::TextWordWrap);
                    // The line fits its place across, the glyphs up and down, and nothing clips them.
                    const bool fits = drawn.left() >= place.left() && drawn.right() <= place.right() &&
                                      ink.top() >= place.top() && ink.bottom() <= place.bottom();
                    QRect visible = ink & control->rect(); // what the ancestors up to the window leave of it
                    for (QWidget* w = control; !w->isWindow(); w = w->parentWidget())
                        visible = visible.translated(w->pos()) & w->parentWidget()->rect();
                    if (!text.isEmpty() && (!fits || visible != ink.translated(control->mapTo(window, QPoint()))))
                        cut << face + u' ' + window->objectName() + u'/' + control->objectName() +
                                   u" 「%1」"_qs.arg(text);
                }
            }
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u'\n')));
    }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
