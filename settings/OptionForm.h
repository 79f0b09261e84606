#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class OAuthTokens;
class SettingsModel;

// "サーバー設定": the SMTP and POP3 servers, the mail address, the APOP switch and how the account
// signs in (a password, or OAuth 2.0 through the browser, "SignIn" in section "Mossvale"), and signing
// out of OAuth 2.0. Topmost
// while open. "設定" puts the values, exactly as typed, into the settings and rewrites the server
// settings file; "中止", Esc and the close box change nothing. There is no default button.
class OptionForm : public QWidget
{
    Q_OBJECT
public:
    explicit OptionForm(SettingsModel& settings, QWidget* parent = nullptr);

    QLabel* Label1;
    QLineEdit* SmtpText;
    QLabel* Label2;
    QLineEdit* Pop3Text;
    QLabel* Label3;
    QLineEdit* MailText;
    QCheckBox* ApopCheck;
    QLabel* Label4;
    QRadioButton* PasswordOption;
    QRadioButton* OAuthOption;
    QPushButton* SignInCommand;
    QPushButton* SignOutCommand; // removes the refresh token from the keyring and the file
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void Form_Load();
    void OkCommand_Click();
    void CancelCommand_Click();
    void SignInCommand_Click();
    void SignOutCommand_Click();
    QString userId() const;

    SettingsModel& m_settings;
    OAuthTokens* m_tokens = nullptr; // while a sign-in runs
};
