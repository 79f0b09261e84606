#include "settings/IdPassForm.h"

#include "platform/Cp932Entry.h"
#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
// Client area 2865 x 1860 twips.
const Placement Label1Place{"Label1", twipRect(120, 180, 675, 255)};
const Placement IdTextPlace{"IdText", twipRect(960, 120, 1632, 264)};
const Placement Label2Place0{"Label2", twipRect(120, 600, 795, 255)};
const Placement PassTextPlace{"PassText", twipRect(960, 600, 1632, 264)};
const Placement Check1Place{"Check1", twipRect(420, 1020, 255, 255)};
const Placement Label2Place1{"Label2", twipRect(780, 1020, 1875, 255)};
const Placement OKCommandPlace{"OKCommand", twipRect(900, 1380, 852, 312)};
const Placement CancelCommandPlace{"CancelCommand", twipRect(1860, 1380, 852, 312)};

QLabel* makeLabel(QWidget* parent, const Placement& placement, const QString& text)
{
    auto* label = place(new QLabel(text, parent), placement);
    // A caption a little wider than designed grows into the free space to its right rather than
    // being cut off.
    const int room = parent->width() - placement.rect.left();
    label->resize(qBound(placement.rect.width(), label->sizeHint().width(), room), placement.rect.height());
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}
} // namespace

IdPassForm::IdPassForm(SettingsModel& settings, QWidget* parent) : QWidget(parent, Qt::Window), m_settings(settings)
{
    buildLayout();
    Form_Load();
}

void IdPassForm::buildLayout()
{
    setObjectName(QStringLiteral("IdPassForm"));
    setWindowTitle(QStringLiteral("ID,PASS"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipSize(2865, 1860));
    setFont(designFont(font()));

    Label1 = makeLabel(this, Label1Place, QStringLiteral("ID"));
    IdText = place(new QLineEdit(this), IdTextPlace);
    Label2[0] = makeLabel(this, Label2Place0, QStringLiteral("Password"));
    PassText = place(new QLineEdit(this), PassTextPlace);
    refuseNonCp932(IdText);
    refuseNonCp932(PassText);
    PassText->setEchoMode(QLineEdit::Password);
    PassText->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    Check1 = place(new QCheckBox(this), Check1Place);
    Label2[1] = makeLabel(this, Label2Place1, QStringLiteral("IDパスワードを保存する"));
    Label2[1]->setStyleSheet(QStringLiteral("color: blue;"));
    Label2[0]->setProperty("Index", 0);
    Label2[1]->setProperty("Index", 1);
    OKCommand = place(new QPushButton(QStringLiteral("OK"), this), OKCommandPlace);
    CancelCommand = place(new QPushButton(QStringLiteral("Cancel"), this), CancelCommandPlace);
    // OK is the default button; a focused button still answers Enter itself, as on the old
    // platform.
    OKCommand->setDefault(true);
    OKCommand->setAutoDefault(true);
    CancelCommand->setAutoDefault(true);

    // Tab order by the design's tab index: Check1, CancelCommand, OKCommand, PassText, IdText.
    setTabOrder(Check1, CancelCommand);
    setTabOrder(CancelCommand, OKCommand);
    setTabOrder(OKCommand, PassText);
    setTabOrder(PassText, IdText);
    Check1->setFocus();

    connect(OKCommand, &QPushButton::clicked, this, &IdPassForm::OKCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &IdPassForm::CancelCommand_Click);
}

void IdPassForm::Form_Load()
{
    // The account confirmed in this run is the one in use; the file's only until then.
    if (m_settings.accountConfirmed()) {
        IdText->setText(m_settings.account().UserId);
        PassText->setText(m_settings.account().Password);
        return;
    }
    const AccountSettings file = m_settings.accountFile();
    IdText->setText(file.UserId);
    PassText->setText(file.Password);
    // The window is there at once; a password kept in the keyring fills in when the keyring answers,
    // unless the user has typed one meanwhile.
    if (file.Password.isEmpty() && !file.UserId.isEmpty()) {
        m_settings.readStoredAccount(PasswordStore::PromptWaitMs, this,
                                     [this, file](const AccountSettings& stored, const QString&) {
                                         if (PassText->text().isEmpty() && IdText->text() == file.UserId)
                                             PassText->setText(stored.Password);
                                     });
    }
    // Check1 keeps its unticked design state: saving is asked for anew every time.
}

void IdPassForm::OKCommand_Click()
{
    m_settings.confirmAccount(IdText->text(), PassText->text());
    // The keyring may take its time: the window stays until the account is stored, without a second save.
    OKCommand->setEnabled(false);
    m_settings.saveAccount(Check1->isChecked(), this, [this](const QString& error, const QString& notice) {
        OKCommand->setEnabled(true);
        if (!error.isEmpty()) {
            // The window stays open, so the user can try again or cancel; the values are already in
            // effect for this session.
            MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
            return;
        }
        if (!notice.isEmpty())
            MessageBox::open(parentWidget(), notice, MessageBox::programTitle(), MessageBox::OkOnly,
                             MessageBox::Information);
        close();
    });
}

void IdPassForm::CancelCommand_Click()
{
    close();
}

void IdPassForm::keyPressEvent(QKeyEvent* event)
{
    // Keys the focused control leaves alone: Enter presses the default button, Esc the cancel
    // button. A focused push button takes Enter before it gets here.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OKCommand->click();
        return;
    case Qt::Key_Escape:
        CancelCommand->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
