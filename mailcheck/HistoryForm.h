#pragma once

#include "mailcheck/DeletionHistory.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QPushButton;
class QTreeWidget;
class SettingsModel;
enum class SettingKey;

// 「削除履歴」: what the checks deleted (or, in trial mode, would have deleted), newest first; a
// deletion the server has not confirmed yet is marked 「（未確認）」. From here a saved copy is
// opened, a sender allowed, a keyword removed, and the three switches of section "Mossvale" set.
// Modeless; the list is read afresh each time the window is shown.
class HistoryForm : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryForm(SettingsModel& settings, QWidget* parent = nullptr);

    QTreeWidget* List1;    // time, sender, subject, keyword
    QPushButton* Command1; // 開く
    QPushButton* Command2; // 差出人を許可
    QPushButton* Command3; // キーワードを削除
    QCheckBox* Check1;     // KeepDeleted
    QCheckBox* Check2;     // TrialMode
    QCheckBox* Check3;     // LooseMatch

    // Reads the history again.
    void refresh();
    // The entry of the selected row, if one is selected.
    const HistoryEntry* selected() const;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

Q_SIGNALS:
    // A keyword was removed from the keyword file (its records renumbered).
    void keywordRemoved();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void switchToggled(SettingKey key, bool on);

    SettingsModel& m_settings;
    QList<HistoryEntry> m_entries;
};
