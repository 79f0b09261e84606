#pragma once

#include <QWidget>

class QLineEdit;

// "新着お知らせボード": tells the user that mail is waiting and how many messages there are.
// Topmost from its creation; shown without taking the keyboard focus. The check cycle sets Text2 to the count; only one
// instance ever exists (the main window keeps it in a FormSlot), and a later announcement reuses it.
// It never hides the program's own windows (a question, the deletion history, the keywords, the
// settings; not the main window or the help, which it is meant to stay above): while one is open where
// the board would cover it, the board stands aside (above it, else below it, else at the screen's
// edge), and goes back to the centre when the last one closes. It stays above other programs' windows.
class MsgForm : public QWidget
{
    Q_OBJECT
public:
    explicit MsgForm(QWidget* parent = nullptr);

    QLineEdit* Text1; // the message, on blue
    QLineEdit* Text2; // the number of new messages

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void Form_Load();
    void keepClearLater();
    void keepClear();

    bool m_clearingQueued = false;
    bool m_standingAside = false;
};
