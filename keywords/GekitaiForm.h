#pragma once

#include <QWidget>

class KeywordEntryValidator;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// "Spam/迷惑メール撃退": the spam keyword list. Lists every stored record in record order (a
// damaged record as "（読めないキーワード）" and its bytes, a blank one marked "（無効）"; each item
// holds its record number in Qt::UserRole),
// registers the entry as a new last record (its button, or Enter in the entry), removes the selected record, and
// explains its controls in a hint area while the pointer moves over them. Every change goes to the keyword data file at
// once; file failures are shown in a message box naming the file.
class GekitaiForm : public QWidget
{
    Q_OBJECT
public:
    explicit GekitaiForm(QWidget* parent = nullptr);
    // Lists the records as the file holds them now.
    void RefreshKeywordList();

    QFrame* Picture2;
    QLabel* Label2;
    QLineEdit* Text1;
    QPushButton* Command1;
    QPushButton* Command2;
    QListWidget* List1;
    QPlainTextEdit* Text2;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void buildLayout();
    void watchPointer(QWidget* control);
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command1_MouseMove();
    void Command2_MouseMove();
    void Text1_MouseMove();
    void List1_MouseMove();
    void Form_MouseMove();
    void Text1_InputRejected();
    bool SaveKeywordEntry(int n);
    void showHint(const QString& text);
    bool reportFailure(const QString& error);

    KeywordEntryValidator* m_entryValidator = nullptr;
};
