#pragma once

#include "mailcheck/AllowList.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

// The allow list of 「削除履歴」: the senders never deleted, as "★MailData/allow.txt" holds them, in file
// order. An entry is taken out only after the user confirms, and only that line of the file goes.
// The list is read afresh by refresh(), which the history window calls when it is shown and after a
// sender was allowed.
class AllowListView : public QWidget
{
    Q_OBJECT
public:
    explicit AllowListView(QWidget* parent = nullptr);

    QListWidget* List1;    // one row per entry
    QPushButton* Command1; // 許可を取り消す
    QLabel* EmptyLabel;    // shown over the list while it is empty, or why the file cannot be read

    void refresh();
    void Command1_Click();

private:
    QList<AllowEntry> m_entries; // the rows of List1, in the same order
};
