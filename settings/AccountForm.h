#pragma once

#include "maillib/Pop3Options.h"
#include "settings/Accounts.h"

#include <QWidget>

class ConnectionTest;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// One account's window. For the first account only its own switches are here, and two buttons ask
// for the 1.0 windows that hold its server and user. On 「OK」 a new password goes to the keyring, or,
// where there is none and the user agrees, into the account itself; then accepted() hands the account
// over and the window closes. Nothing is stored here: the caller saves the list.
class AccountForm : public QWidget
{
    Q_OBJECT
public:
    // sessionOptions: for 「接続テスト」 (tests trust their own server's certificate through it).
    AccountForm(const Account& account, QWidget* parent = nullptr, const Pop3Options& sessionOptions = {});

    QLineEdit *nameEdit, *serverEdit, *userEdit, *passwordEdit, *soundEdit;
    QComboBox *presetCombo, *signInCombo;
    QCheckBox *tlsCheck, *noDeleteCheck, *muteCheck, *enabledCheck;
    QPushButton *testButton, *signOutButton, *soundButton, *okButton, *cancelButton;
    QPushButton *serverButton = nullptr, *idPassButton = nullptr; // the first account's
    QLabel* testLabel;

    // The account as the controls now give it (the password as stored, not as typed).
    Account edited() const;

Q_SIGNALS:
    void accepted(const Account& account);
    void serverRequested();
    void idPassRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void load();
    void presetChosen(int index);
    void tlsToggled(bool on);
    void serverEdited();
    void signInChosen();
    void testClicked();
    void testFinished(bool ok, const QString& text);
    void signOutClicked();
    void okClicked();
    void keepPassword(bool inKeyring);

    Account m_account;
    ConnectionTest* m_test;
};
