#pragma once

#include "mailcheck/DeletionHistory.h"

#include <QList>
#include <QWidget>

class AllowListView;
class QCheckBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class SettingsModel;
enum class SettingKey;

// 「削除履歴」: what the checks deleted (or, in trial mode, would have deleted), newest first; a
// deletion the server has not confirmed yet is marked 「（未確認）」. From here a saved copy is
// opened or shown in its folder, a sender allowed (after a question), a keyword removed, and three
// switches of section "Mossvale" set (the same switches as in 「その他の設定」). The account column shows
// only when some entry names an account, so a user of one mailbox sees none. A second tab lists the
// allowed senders. Modeless and resizable, never larger than the screen; both lists are read afresh
// each time the window is shown.
class HistoryForm : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryForm(SettingsModel& settings, QWidget* parent = nullptr);

    QTabWidget* Tabs;         // the history, the allowed senders
    AllowListView* AllowView; // the second tab
    QTreeWidget* List1;       // time, sender, subject, keyword, account
    QPushButton* Command1;    // 開く
    QPushButton* Command2;    // 差出人を許可
    QPushButton* Command3;    // キーワードを削除
    QPushButton* Command4;    // フォルダーを開く
    QLabel* EmptyLabel;       // shown over the list while it is empty
    QCheckBox* Check1;        // KeepDeleted
    QCheckBox* Check2;        // TrialMode
    QCheckBox* Check3;        // LooseMatch

    // Reads the history and the allow list again.
    void refresh();
    // The name shown for the entries that name no account: those of the first account.
    void setFirstAccountName(const QString& name);
    // The entry of the selected row, if a row is selected.
    const HistoryEntry* selected() const;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

Q_SIGNALS:
    // A keyword was removed from the keyword file (its records renumbered).
    void keywordRemoved();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fitColumns();
    const HistoryEntry* selectedOrSay();
    QString selectedCopyOrSay();

    SettingsModel& m_settings;
    QList<HistoryEntry> m_entries;
    QString m_firstAccountName;
};
