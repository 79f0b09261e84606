#include "settings/MoreOptionsForm.h"

#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "settings/Autostart.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QFrame>
#include <QSignalBlocker>
#include <QVBoxLayout>

QString addedSwitchCaption(SettingKey key)
{
    switch (key) {
    case SettingKey::KeepDeleted:
        return QStringLiteral("削除する前にメールを保存する");
    case SettingKey::TrialMode:
        return QStringLiteral("試用モード（削除しない）");
    case SettingKey::LooseMatch:
        return QStringLiteral("ゆるい一致（全角半角・大文字小文字・ひらがなカタカナを区別しない）");
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
    const std::pair<QCheckBox**, SettingKey> switches[] = {{&Check1, SettingKey::KeepDeleted},
                                                           {&Check2, SettingKey::TrialMode},
                                                           {&Check3, SettingKey::LooseMatch},
                                                           {&Check4, SettingKey::AnnounceNewOnly}};
    int number = 0;
    for (const auto& [member, key] : switches) {
        *member = new QCheckBox(this);
        (*member)->setObjectName(QStringLiteral("Check%1").arg(++number));
        bindAddedSwitch(*member, settings, key, this);
        layout->addWidget(*member);
    }
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
