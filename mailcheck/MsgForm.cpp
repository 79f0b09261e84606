#include "mailcheck/MsgForm.h"

#include "platform/DesignFont.h"
#include "platform/Twips.h"
#include "platform/WindowPlacement.h"

#include <QLineEdit>

namespace {
// Client area 3585 x 255 twips; both boxes are a little taller than it, as designed.
const Placement Text1Place{"Text1", twipRect(0, 0, 3135, 270)};
const Placement Text2Place{"Text2", twipRect(3120, 0, 495, 270)};

QLineEdit* makeText(QWidget* parent, const Placement& placement, Qt::Alignment alignment)
{
    auto* text = new QLineEdit(parent);
    text->setObjectName(QString::fromLatin1(placement.name));
    text->setGeometry(placement.rect);
    text->setAlignment(alignment);
    // A notice, not an input: the user reads it and closes the window. The thin frame leaves
    // room for the text in a box only 18 pixels high.
    text->setReadOnly(true);
    text->setFocusPolicy(Qt::NoFocus);
    return text;
}
} // namespace

MsgForm::MsgForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    buildLayout();
    Form_Load();
}

void MsgForm::buildLayout()
{
    setObjectName(QStringLiteral("MsgForm"));
    setWindowTitle(QStringLiteral("新着お知らせボード"));
    // A timed check shows it while the user may be typing elsewhere: it must not take the keys.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(twipSize(3585, 255));
    setFont(designFont(font()));

    Text1 = makeText(this, Text1Place, Qt::AlignCenter);
    Text1->setStyleSheet(QStringLiteral("QLineEdit { background-color: rgb(0, 0, 255); color: white; "
                                        "border: 1px solid gray; padding: 0px; }"));
    Text1->setText(QStringLiteral("新着メールがあります。"));
    Text2 = makeText(this, Text2Place, Qt::AlignRight | Qt::AlignVCenter);
    Text2->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid gray; padding: 0px; }"));
}

void MsgForm::Form_Load()
{
    setTopmost(this, true);
    // After the stacking change, which re-creates the native window.
    centreOnScreen(this);
}
