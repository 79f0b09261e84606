#pragma once

#include <QWidget>

class QLineEdit;

// "新着お知らせボード": tells the user that mail is waiting and how many messages there are.
// Topmost from its creation; shown without taking the keyboard focus. The check cycle sets Text2 to the count; only one
// instance ever exists (the main window keeps it in a FormSlot), and a later announcement reuses it.
class MsgForm : public QWidget
{
    Q_OBJECT
public:
    explicit MsgForm(QWidget* parent = nullptr);

    QLineEdit* Text1; // the message, on blue
    QLineEdit* Text2; // the number of new messages

private:
    void buildLayout();
    void Form_Load();
};
