#include "settings/SetForm.h"

#include "platform/Cp932Entry.h"
#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/NumberText.h"
#include "platform/Twips.h"
#include "platform/WindowPlacement.h"
#include "platform/WrappingCheckBox.h"
#include "settings/AccountsForm.h"
#include "settings/MoreOptionsForm.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace {
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect rect, const char* colour,
                  bool bold = false)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(rect);
    // A caption wider than its design width may use the room up to the window's edge.
    const int room = parent->width() - rect.left();
    if (label->sizeHint().width() > rect.width() && room > rect.width())
        label->resize(std::min(label->sizeHint().width(), room), rect.height());
    label->setStyleSheet(
        QStringLiteral("color: %1;%2")
            .arg(QString::fromLatin1(colour), bold ? QStringLiteral(" font-weight: bold;") : QString()));
    return label;
}

// Four lines in the design's height at 11 pixels with a narrow face. A face with a taller line
// first gets the room up to the window's edge, then a smaller size, so that the explanation is
// always whole. Two pixels spare for glyphs that rise above or sink below their line.
void fitWrapped(QLabel* label, int largestPixels, int smallestPixels)
{
    const QRect design = label->geometry();
    const int widest = label->parentWidget()->width() - design.left() - 8;
    QFont font = label->font();
    for (int pixels = largestPixels; pixels >= smallestPixels; --pixels) {
        font.setPixelSize(pixels);
        for (int width : {design.width(), widest}) {
            const QRect room(0, 0, width, design.height());
            const int flags = int(label->alignment()) | Qt::TextWordWrap;
            if (QFontMetrics(font).boundingRect(room, flags, label->text()).height() + 2 <= room.height()) {
                label->setFont(font);
                label->resize(width, design.height());
                return;
            }
        }
    }
    label->setFont(font);
}
} // namespace

SetForm::SetForm(SettingsModel& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_settings(settings),
      m_moreOptionsForm([this] { return new MoreOptionsForm(m_settings, this); }), m_accountsForm([this] {
          auto* form = new AccountsForm(m_settings, this);
          // The first account's window asks for the 1.0 windows the way this window's buttons do.
          connect(form, &AccountsForm::serverRequested, this, &SetForm::serverRequested);
          connect(form, &AccountsForm::idPassRequested, this, &SetForm::idPassRequested);
          connect(form, &AccountsForm::accountsChanged, this, &SetForm::accountsChanged);
          return form;
      })
{
    buildLayout();
    Form_Load();
}

void SetForm::buildLayout()
{
    setObjectName(QStringLiteral("SetForm"));
    setWindowTitle(QStringLiteral("設定"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // The design's client area, and below it a row for the button of the further switches.
    setFixedSize(twipSize(4215, 5160));
    setFont(designFont(font()));

    Command1 = place(new QPushButton(QStringLiteral("ID/PASS"), this), {"Command1", twipRect(600, 120, 1455, 375)});
    Command1->setStyleSheet(QStringLiteral("background-color: rgb(255, 192, 128);"));
    Command2 =
        place(new QPushButton(QStringLiteral("POPサーバー"), this), {"Command2", twipRect(2040, 120, 1455, 375)});
    Command2->setStyleSheet(QStringLiteral("background-color: rgb(192, 224, 255);"));
    Check1 = place(new QCheckBox(this), {"Check1", twipRect(600, 600, 255, 255)});
    auto* label1 = makeLabel(this, "Label1", QStringLiteral("新着がなければ接続を切断する。"),
                             twipRect(960, 645, 2535, 255), "blue");
    auto* label5 = makeLabel(this, "Label5", QStringLiteral("インターバルメールチェック"),
                             twipRect(600, 1080, 2775, 375), "red", true);
    auto* label3 = makeLabel(this, "Label3",
                             QStringLiteral("０以上の数字を入力すると、その間隔で自動的にメールチェックを行います。"
                                            "チェックの都度手動で行う場合は０にしておいて下さい。（単位は分です。）"),
                             twipRect(600, 1440, 2895, 855), "blue");
    label3->setWordWrap(true);
    label3->setGeometry(twipRect(600, 1440, 2895, 855));
    label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    fitWrapped(label3, 11, 8);
    Text2 = place(new QLineEdit(this), {"Text2", twipRect(2520, 2280, 375, 270)});
    Text2->setAlignment(Qt::AlignRight);
    refuseNonCp932(Text2);
    auto* label2 = makeLabel(this, "Label2", QStringLiteral("分"), twipRect(3000, 2325, 495, 255), "red");

    Frame1 = place(new QFrame(this), {"Frame1", twipRect(120, 2880, 3855, 1095)});
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    Option1 = place(new QRadioButton(Frame1), {"Option1", twipRect(120, 240, 255, 255)});
    auto* label4 = makeLabel(Frame1, "Label4", QStringLiteral("新着メール有りでお知らせボードを表示"),
                             twipRect(480, 240, 3015, 255), "black");
    Option2 = place(new QRadioButton(Frame1), {"Option2", twipRect(120, 720, 255, 255)});
    auto* label6 = makeLabel(Frame1, "Label6", QStringLiteral("新着メール有りで設定メーラーを起動"),
                             twipRect(480, 720, 3015, 255), "black");
    Check2 = place(new WrappingCheckBox(QStringLiteral("新着お知らせボードを１秒で自動消去させる"), this),
                   {"Check2", twipRect(240, 4080, 3735, 495)});
    // Its caption is one line to the window's edge, not two in the design's width.
    Check2->resize(width() - Check2->x(), Check2->height());
    Command3 =
        place(new QPushButton(QStringLiteral("その他の設定"), this), {"Command3", twipRect(2520, 4650, 1455, 375)});
    Command4 = place(new QPushButton(QStringLiteral("アカウント"), this), {"Command4", twipRect(240, 4650, 1455, 375)});
    // The two separator lines of the design (a control array, Line1): the buttons, the hang-up
    // switch and the interval each stand apart.
    for (const Placement& line : {Placement{"Line1_0", twipRect(120, 540, 3975, 30)},
                                  Placement{"Line1_1", twipRect(120, 990, 3975, 30)}}) {
        auto* separator = place(new QFrame(this), line);
        separator->setFrameShape(QFrame::HLine);
        separator->setFrameShadow(QFrame::Sunken);
    }
    for (QLabel* label : {label1, label2, label3, label4, label5, label6})
        label->setFocusPolicy(Qt::NoFocus);

    // Tab order by the design's tab index: Check2, Text2, Check1, Command1, Command2, Option1, Option2.
    setTabOrder(Check2, Text2);
    setTabOrder(Text2, Check1);
    setTabOrder(Check1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Option1);
    setTabOrder(Option1, Option2);
    setTabOrder(Option2, Command4);
    setTabOrder(Command4, Command3);
    Check2->setFocus();

    connect(Text2, &QLineEdit::textChanged, this, &SetForm::Text2_Change);
    connect(Check1, &QCheckBox::toggled, &m_settings, &SettingsModel::setHangUpWhenEmpty);
    connect(Check2, &QCheckBox::toggled, &m_settings, &SettingsModel::setAutoCloseNotice);
    connect(Option1, &QRadioButton::toggled, this, &SetForm::Option_Click);
    connect(Option2, &QRadioButton::toggled, this, &SetForm::Option_Click);
    connect(Command1, &QPushButton::clicked, this, &SetForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &SetForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &SetForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &SetForm::Command4_Click);
}

void SetForm::Form_Load()
{
    const GeneralSettings& settings = m_settings.general();
    Check1->setChecked(settings.hangUpWhenEmpty);
    Text2->setText(settings.interval); // runs Text2_Change
    Check2->setChecked(settings.autoCloseNotice);
    Option1->setChecked(settings.newMailAction == NewMailAction::NoticeBoard);
    Option2->setChecked(settings.newMailAction == NewMailAction::MailProgram);
    centreOnScreen(this);
}

void SetForm::Text2_Change()
{
    if (Text2->text().isEmpty()) {
        Text2->setText(QStringLiteral("0")); // runs this handler again for "0"
        return;
    }
    m_settings.setInterval(Text2->text());
    // A stopped interval is stored at once, so it holds even if the program ends without this
    // window being closed.
    if (leadingNumber(Text2->text()) == 0)
        reportWrite(m_settings.saveInterval());
}

void SetForm::Option_Click()
{
    m_settings.setNewMailAction(Option1->isChecked()   ? NewMailAction::NoticeBoard
                                : Option2->isChecked() ? NewMailAction::MailProgram
                                                       : NewMailAction::Neither);
}

void SetForm::Form_Unload()
{
    reportWrite(m_settings.saveSwitches());
}

void SetForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void SetForm::Command1_Click()
{
    Q_EMIT idPassRequested();
}

void SetForm::Command2_Click()
{
    Q_EMIT serverRequested();
}

void SetForm::Command3_Click()
{
    const bool opening = !m_moreOptionsForm.isLoaded();
    MoreOptionsForm* form = m_moreOptionsForm.show();
    if (opening)
        centreOver(form, this);
}

void SetForm::Command4_Click()
{
    const bool opening = !m_accountsForm.isLoaded();
    AccountsForm* form = m_accountsForm.show();
    if (opening)
        centreOver(form, this);
}

void SetForm::reportWrite(const QString& error)
{
    if (!error.isEmpty())
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}
