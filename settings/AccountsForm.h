#pragma once

#include "settings/AccountForm.h"

#include <QPointer>
#include <QWidget>

class QPushButton;
class QTreeWidget;
class SettingsModel;

// 「アカウント」: every account, the first included, with its name, server, user and a box that
// enables it. Each change is saved at once through Accounts::save, and accountsChanged() follows a
// save. The first account cannot be removed: removing it, once confirmed, empties its server as
// 「サーバー設定」 would.
class AccountsForm : public QWidget
{
    Q_OBJECT
public:
    explicit AccountsForm(SettingsModel& settings, QWidget* parent = nullptr);

    QTreeWidget* accountList;
    QPushButton *addButton, *editButton, *removeButton, *upButton, *downButton, *closeButton;

    const QList<Account>& accounts() const { return m_accounts; }
    // The open account window, if any (one at a time).
    AccountForm* accountForm() const { return m_editor; }
    // For 「接続テスト」 in the account windows opened from here.
    void setSessionOptions(const Pop3Options& options) { m_sessionOptions = options; }

Q_SIGNALS:
    void accountsChanged();
    void serverRequested();
    void idPassRequested();

private:
    void buildLayout();
    void reload();
    void fill();
    int current() const;
    void addClicked();
    void editClicked();
    void removeClicked();
    void move(int step);
    void openEditor(const Account& account);
    void store(const Account& account);
    void save();

    SettingsModel& m_settings;
    QList<Account> m_accounts;
    QPointer<AccountForm> m_editor;
    Pop3Options m_sessionOptions;
};
