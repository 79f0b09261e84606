#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsModel;

// "サーバー設定": the SMTP and POP3 servers, the mail address and the APOP switch. Topmost while
// open. "設定" puts the values, exactly as typed, into the settings and rewrites the server
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
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void Form_Load();
    void OkCommand_Click();
    void CancelCommand_Click();

    SettingsModel& m_settings;
};
