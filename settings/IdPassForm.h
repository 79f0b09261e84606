#pragma once

#include <QWidget>
#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SettingsModel;

// "ID,PASS": the POP3 account name and password. OK puts them into the settings and, when the
// box is ticked, stores them in the account file; Cancel, Esc and the close box change nothing.
// The mail check writes the stored account into the two text boxes of a loaded window.
class IdPassForm : public QWidget
{
    Q_OBJECT
public:
    explicit IdPassForm(SettingsModel& settings, QWidget* parent = nullptr);

    QLabel* Label1;
    QLineEdit* IdText;
    std::array<QLabel*, 2> Label2; // both named "Label2"; property "Index" tells them apart
    QLineEdit* PassText;
    QCheckBox* Check1;
    QPushButton* OKCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void Form_Load();
    void OKCommand_Click();
    void CancelCommand_Click();

    SettingsModel& m_settings;
};
