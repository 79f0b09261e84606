#pragma once

#include <QWidget>

class QCheckBox;
class QHBoxLayout;
class QLineEdit;
class SettingsModel;
enum class SettingKey;

// The caption of a switch of section "Mossvale" (KeepDeleted, TrialMode, LooseMatch, AnnounceNewOnly),
// the same wherever the switch is shown.
QString addedSwitchCaption(SettingKey key);
// Makes box show and set one switch of section "Mossvale": a click changes the settings and stores
// the switch at once (a failure is said over window); a change made elsewhere shows in box at once.
void bindAddedSwitch(QCheckBox* box, SettingsModel& settings, SettingKey key, QWidget* window);

// 「その他の設定」, opened from 「設定」: the switches added to the program (copies before deleting,
// trial mode, loose matching, announcing only new mail, desktop notifications), the quiet hours
// and starting at login. Each change takes
// effect and is stored at once; there is nothing to confirm.
class MoreOptionsForm : public QWidget
{
    Q_OBJECT
public:
    explicit MoreOptionsForm(SettingsModel& settings, QWidget* parent = nullptr);

    QCheckBox* Check1; // KeepDeleted
    QCheckBox* Check2; // TrialMode
    QCheckBox* Check3; // LooseMatch
    QCheckBox* Check4; // AnnounceNewOnly
    QCheckBox* Check5; // the autostart entry exists
    QCheckBox* Check6; // DesktopNotification
    QCheckBox* Check7; // ReadWholeWithoutTop
    QLineEdit* Text1;  // QuietHours

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Check5_Click(bool on);
    void Text1_Change();
    void showQuietHours();
    QHBoxLayout* buildQuietHours();
    void showAutostart();

    SettingsModel* m_settings = nullptr;
};
