#pragma once

#include "platform/FormSlot.h"

#include <QWidget>

class AccountsForm;
class MoreOptionsForm;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class SettingsModel;

// "設定": the switches and the interval of automatic checks. Every change of a control goes to
// the settings at once; the window writes them to the general settings file when the user
// closes it, and a zero interval at once. Its buttons ask for the account and server windows, and
// open the window of the further switches.
class SetForm : public QWidget
{
    Q_OBJECT
public:
    explicit SetForm(SettingsModel& settings, QWidget* parent = nullptr);

    QCheckBox* Check1;
    QCheckBox* Check2;
    QLineEdit* Text2;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3; // その他の設定
    QPushButton* Command4; // アカウント

    FormSlot<MoreOptionsForm>& moreOptionsForm() { return m_moreOptionsForm; }
    FormSlot<AccountsForm>& accountsForm() { return m_accountsForm; }

Q_SIGNALS:
    void idPassRequested(); // "ID/PASS"
    void serverRequested(); // "POPサーバー"
    void accountsChanged(); // 「アカウント」 stored a change

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void Form_Load();
    void Form_Unload();
    void Text2_Change();
    void Option_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void reportWrite(const QString& error);

    SettingsModel& m_settings;
    QFrame* Frame1;
    FormSlot<MoreOptionsForm> m_moreOptionsForm;
    FormSlot<AccountsForm> m_accountsForm;
};
