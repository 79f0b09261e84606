#include "settings/MoreOptionsForm.h"

#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "settings/Autostart.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <tuple>

QString addedSwitchCaption(SettingKey key)
{
    switch (key) {
    case SettingKey::KeepDeleted:
        return QStringLiteral("削除する前にメールを保存する");
    case SettingKey::TrialMode:
        return QStringLiteral("試用モード（削除しない）");
    case SettingKey::LooseMatch:
        return QStringLiteral("ゆるい一致（全角半角・大文字小文字・ひらがなカタカナを区別しない）");
    case SettingKey::DesktopNotification:
        return QStringLiteral("デスクトップ通知で知らせる");
    case SettingKey::ReadWholeWithoutTop:
        return QStringLiteral("TOP非対応のサーバーでは、メール全体（256 KBまで）を読んで判定する");
    default:
        return QStringLiteral("前回のチェック以降の新着だけを知らせる");
    }
}

void bindAddedSwitch(QCheckBox* box, SettingsModel& settings, SettingKey key, QWidget* window)
{
    box->setText(addedSwitchCaption(key));
    box->setChecked(settings.addedSwitch(key));
    QObject::connect(box, &QCheckBox::toggled, window, [&settings, key, window](bool on) {
        settings.setAddedSwitch(key, on);
        if (const QString error = settings.saveAddedSwitch(key); !error.isEmpty())
            MessageBox::open(window, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
    });
    QObject::connect(&settings, &SettingsModel::generalChanged, box, [box, &settings, key](SettingKey changed) {
        if (changed != key)
            return;
        const QSignalBlocker quiet(box); // shown, not set again: the window that changed it stored it
        box->setChecked(settings.addedSwitch(key));
    });
}

MoreOptionsForm::MoreOptionsForm(SettingsModel& settings, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("MoreOptionsForm"));
    setWindowTitle(QStringLiteral("その他の設定"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(designFont(font()));

    auto* layout = new QVBoxLayout(this);
    const std::tuple<QCheckBox**, const char*, SettingKey> switches[] = {
        {&Check1, "Check1", SettingKey::KeepDeleted},
        {&Check2, "Check2", SettingKey::TrialMode},
        {&Check3, "Check3", SettingKey::LooseMatch},
        {&Check4, "Check4", SettingKey::AnnounceNewOnly},
        {&Check6, "Check6", SettingKey::DesktopNotification},
        {&Check7, "Check7", SettingKey::ReadWholeWithoutTop}};
    for (const auto& [member, name, key] : switches) {
        *member = new QCheckBox(this);
        (*member)->setObjectName(QString::fromLatin1(name));
        bindAddedSwitch(*member, settings, key, this);
        layout->addWidget(*member);
    }
    // Reading a whole message is not free of effects elsewhere: the user hears it before choosing.
    for (const auto& [name, text] : {std::pair{"Label2", "　注意: 他のメールソフトで既読になることがあります。"},
                                     std::pair{"Label3", "　Gmailでは、一度読んだメールをPOPで再び受信できません。"}}) {
        auto* warning = new QLabel(QString::fromUtf8(text), this);
        warning->setObjectName(QString::fromLatin1(name));
        warning->setMinimumHeight(warning->sizeHint().height() + 4); // some faces' glyphs stand past their line box
        layout->addWidget(warning);
    }
    m_settings = &settings;
    layout->addLayout(buildQuietHours());
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    Check5 = new QCheckBox(QStringLiteral("ログイン時に起動する"), this);
    Check5->setObjectName(QStringLiteral("Check5"));
    layout->addWidget(Check5);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    showAutostart();
    connect(Check5, &QCheckBox::toggled, this, &MoreOptionsForm::Check5_Click);
}

void MoreOptionsForm::showEvent(QShowEvent* event)
{
    showAutostart(); // the entry may have been removed or made elsewhere meanwhile
    QWidget::showEvent(event);
}

void MoreOptionsForm::showAutostart()
{
    const QSignalBlocker quiet(Check5);
    Check5->setChecked(Autostart::enabled());
}

// The tick shows whether the entry exists, whatever became of the attempt.
void MoreOptionsForm::Check5_Click(bool on)
{
    const QString error = on ? Autostart::enable(programCommand()) : Autostart::disable();
    showAutostart();
    if (!error.isEmpty())
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}

void MoreOptionsForm::showQuietHours()
{
    const QSignalBlocker quiet(Text1);
    Text1->setText(m_settings->general().quietHours.text());
}

// Text that is not a time is refused: the hours stay as they were, and the box says how to write them.
void MoreOptionsForm::Text1_Change()
{
    const std::optional<QuietHours> hours = QuietHours::parse(Text1->text());
    if (!hours) {
        showQuietHours();
        MessageBox::open(this,
                         QStringLiteral("通知しない時間帯は「22:00-07:00」のように、開始と終了の時刻を"
                                        "「-」でつないで入力してください。\n空欄にすると、時間帯はなしになります。"),
                         MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
        return;
    }
    m_settings->setQuietHours(*hours);
    showQuietHours(); // in its stored form
    if (const QString error = m_settings->saveQuietHours(); !error.isEmpty())
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}

QHBoxLayout* MoreOptionsForm::buildQuietHours()
{
    auto* quiet = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("通知しない時間帯"), this);
    label->setObjectName(QStringLiteral("Label1"));
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setPlaceholderText(QStringLiteral("22:00-07:00"));
    Text1->setMaxLength(40);
    label->setBuddy(Text1);
    auto* hint = new QLabel(QStringLiteral("（空欄: なし）"), this);
    hint->setObjectName(QStringLiteral("Label2"));
    quiet->addWidget(label);
    quiet->addWidget(Text1, 1);
    quiet->addWidget(hint);
    showQuietHours();
    connect(Text1, &QLineEdit::editingFinished, this, &MoreOptionsForm::Text1_Change);
    connect(m_settings, &SettingsModel::generalChanged, this, [this](SettingKey key) {
        if (key == SettingKey::QuietHours)
            showQuietHours();
    });
    return quiet;
}
