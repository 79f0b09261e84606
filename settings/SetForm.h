#pragma once

#include <QWidget>
#include <functional>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "設定": the switches and the interval of automatic checks. While the program runs, its
// controls are the live store of these settings; other windows read them from here. It writes
// them to the general settings file when the user closes it.
class SetForm : public QWidget
{
    Q_OBJECT
public:
    // What this window drives in the main window, and the two windows its buttons open.
    struct MainWindowLink
    {
        QCheckBox* Check1 = nullptr; // "インターバルメールチェック", ticked while checks are timed
        QLineEdit* Text7 = nullptr;  // the interval shown beside it
        std::function<void(int)> setTimer3Interval; // 0 stops the one-second tick
        std::function<void()> showIdPassForm;
        std::function<void()> showOptionForm;
    };

    explicit SetForm(MainWindowLink link, QWidget* parent = nullptr);

    QCheckBox* Check1;
    QCheckBox* Check2;
    QLineEdit* Text2;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QPushButton* Command1;
    QPushButton* Command2;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void Form_Load();
    void Form_Unload();
    void Text2_Change();
    void Command1_Click();
    void Command2_Click();
    void reportWrite(const QString& error);

    MainWindowLink m_link;
    QFrame* Frame1;
};
