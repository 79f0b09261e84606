#include "keywords/GekitaiForm.h"

#include "keywords/KeywordEntryValidator.h"
#include "keywords/KeywordFile.h"
#include "keywords/KeywordText.h"
#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"
#include "platform/WindowPlacement.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
// Client area 7095 x 5115 twips; Label2 is placed inside Picture2.
const Placement Picture2Place{"Picture2", twipRect(0, 120, 2415, 270)};
const Placement Label2Place{"Label2", twipRect(240, 40, 2535, 195)};
const Placement Text1Place{"Text1", twipRect(0, 405, 5535, 270)};
const Placement Command1Place{"Command1", twipRect(5640, 405, 615, 255)};
const Placement Command2Place{"Command2", twipRect(6360, 405, 615, 255)};
const Placement List1Place{"List1", twipRect(0, 765, 7095, 4350)};
const Placement Text2Place{"Text2", twipRect(720, 3525, 5655, 1215)};

const QString H1 = QStringLiteral(
    "登録は１件につき全角で１００文字（半角では２００文字）、件数は無制限に登録できます。"
    "登録した文字を送信してきたメールアドレス、件名内から検索し、あなたの目に触れることなく削除します。");
const QString H2 =
    QStringLiteral("登録は１件につき全角で１００文字（半角では２００文字）、件数は無制限に登録できます。"
                   "登録した文字を送信してきたメールアドレス、件名から検索し、あなたの目に触れることなく削除します。");
const QString H3 =
    QStringLiteral("不要になったキーワードを削除します。リストでデータを選択し、このボタンをクリックして下さい。");

void paint(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A damaged record never matches; listed by its bytes, the user can see it and remove it.
QString unreadableItemText(const KeywordRecord& record)
{
    QByteArray bytes = record.KeywordBytes;
    while (bytes.endsWith(' '))
        bytes.chop(1);
    return QStringLiteral("（読めないキーワード） ") + QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// What the list shows for a record. A blank keyword never matches: it is marked where the list
// shows it, before the filling spaces, so the user sees why and can remove it.
QString itemText(const KeywordRecord& record)
{
    if (!record.KeywordReadable)
        return unreadableItemText(record);
    if (isBlankKeyword(record.Keyword))
        return (trimSpaces(record.Keyword) + QStringLiteral("（無効）")).leftJustified(KeywordFieldBytes, u' ');
    return record.Keyword;
}

// Whether record number still holds what its item shows. The file can change behind the list
// (the deletion history removes keywords too, and a removal renumbers the records after it), and a
// stale number would remove another keyword. A file that cannot be read is left to the removal to
// report.
bool stillListed(int number, const QString& text)
{
    int n = 0;
    bool same = false;
    const QString error = KeywordFile::ReadKeywordRecords([&](const KeywordRecord& record) {
        if (++n < number)
            return true;
        same = itemText(record) == text;
        return false;
    });
    return same || !error.isEmpty();
}
} // namespace

GekitaiForm::GekitaiForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    buildLayout();
    centreOnScreen(this);
    Form_Load();
}

void GekitaiForm::buildLayout()
{
    setObjectName(QStringLiteral("GekitaiForm"));
    setWindowTitle(QStringLiteral("Spam/迷惑メール撃退"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipSize(7095, 5115));
    setFont(designFont(font()));

    Picture2 = place(new QFrame(this), Picture2Place);
    Label2 = place(new QLabel(QStringLiteral("撃退用キーワードの登録"), Picture2), Label2Place);
    paint(Label2, QPalette::Window, QColor(0xE0, 0xE0, 0xE0));
    paint(Label2, QPalette::WindowText, Qt::black);
    centreInk(Label2, Label2->height());

    Text1 = place(new QLineEdit(this), Text1Place);
    m_entryValidator = new KeywordEntryValidator(Text1);
    Text1->setValidator(m_entryValidator);
    Command1 = place(new QPushButton(QStringLiteral("登録"), this), Command1Place);
    Command2 = place(new QPushButton(QStringLiteral("削除"), this), Command2Place);
    paint(Command2, QPalette::Button, QColor(0xFF, 0x00, 0x00));

    List1 = place(new QListWidget(this), List1Place);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setUniformItemSizes(true);
    // Every item is 200 characters wide with its filling spaces; the list shows their start only.
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List1->setTextElideMode(Qt::ElideNone);
    paint(List1, QPalette::Base, Qt::white);
    paint(List1, QPalette::Text, Qt::black);

    // Created last, so it lies over the lower part of the list.
    Text2 = place(new QPlainTextEdit(this), Text2Place);
    Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text2->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

    // The pointer over these tells the hint area what to do; over the hint area or the title
    // strip nothing changes, so those keep their movements from reaching the window.
    setMouseTracking(true);
    for (QWidget* control : {static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2),
                             static_cast<QWidget*>(Text1), static_cast<QWidget*>(List1), List1->viewport()})
        watchPointer(control);
    for (QWidget* quiet : {static_cast<QWidget*>(Picture2), static_cast<QWidget*>(Text2), Text2->viewport()})
        quiet->setAttribute(Qt::WA_NoMousePropagation);

    connect(Command1, &QPushButton::clicked, this, &GekitaiForm::Command1_Click);
    // Enter registers, as the button does. An input method keeps the Enter that ends a conversion;
    // the next one arrives here.
    connect(Text1, &QLineEdit::returnPressed, this, &GekitaiForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &GekitaiForm::Command2_Click);
    connect(Text1, &QLineEdit::inputRejected, this, &GekitaiForm::Text1_InputRejected);
}

void GekitaiForm::watchPointer(QWidget* control)
{
    control->setMouseTracking(true);
    control->setAttribute(Qt::WA_NoMousePropagation);
    control->installEventFilter(this);
}

bool GekitaiForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        if (watched == Command1)
            Command1_MouseMove();
        else if (watched == Command2)
            Command2_MouseMove();
        else if (watched == Text1)
            Text1_MouseMove();
        else if (watched == List1 || watched == List1->viewport())
            List1_MouseMove();
    }
    return QWidget::eventFilter(watched, event);
}

void GekitaiForm::mouseMoveEvent(QMouseEvent* event)
{
    Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

void GekitaiForm::Form_Load()
{
    RefreshKeywordList();
}

void GekitaiForm::Command1_Click()
{
    // A keyword of white space only (full-width spaces too) would never match.
    if (isBlankKeyword(Text1->text())) {
        MessageBox::open(this, QStringLiteral("キーワードが入力されていません。"));
        return;
    }
    int n = 0;
    if (reportFailure(KeywordFile::NextRecordNumber(&n)))
        return;
    if (!SaveKeywordEntry(n))
        return;
    RefreshKeywordList();
    Text1->clear();
}

bool GekitaiForm::SaveKeywordEntry(int n)
{
    KeywordRecord record;
    record.Keyword = Text1->text().leftJustified(KeywordFieldBytes, u' ');
    record.InUse = 1;
    record.LineBreak = QStringLiteral("\r\n");
    return !reportFailure(KeywordFile::WriteKeywordRecord(n, record));
}

void GekitaiForm::Command2_Click()
{
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    if (selected.isEmpty()) {
        MessageBox::open(this, QStringLiteral("データが選択されていません。"));
        return;
    }
    const int n = selected.first()->data(Qt::UserRole).toInt();
    if (!stillListed(n, selected.first()->text())) {
        RefreshKeywordList();
        MessageBox::open(this, QStringLiteral("キーワードの一覧がほかの画面で変更されていたため、表示を更新しました。"
                                              "もう一度選んでください。"));
        return;
    }
    // The answer comes later: a check may run meanwhile, and another window may change the list.
    const QString text = selected.first()->text();
    MessageBox::open(this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"),
                     QStringLiteral("確認"), MessageBox::YesNo, MessageBox::Question, MessageBox::Yes,
                     [this, n, text](MessageBox::Button answer) {
                         if (answer == MessageBox::Yes && !stillListed(n, text)) {
                             RefreshKeywordList();
                             MessageBox::open(this, QStringLiteral("キーワードの一覧がほかの画面で変更されていたため、"
                                                                   "表示を更新しました。もう一度選んでください。"));
                             return;
                         }
                         // A mark that did not reach the file must not be followed by a rebuild that
                         // looks like success.
                         if (answer != MessageBox::Yes || !reportFailure(KeywordFile::MarkKeywordRecord(n)))
                             reportFailure(KeywordFile::CompactKeywordFile());
                         RefreshKeywordList();
                     });
}

void GekitaiForm::RefreshKeywordList()
{
    List1->clear();
    QList<QListWidgetItem*> items;
    int n = 0;
    const QString error = KeywordFile::ReadKeywordRecords([&](const KeywordRecord& record) {
        // A record left marked by an interrupted removal is listed as well, in its place: item k is
        // record k + 1, and the next removal drops it.
        ++n;
        auto* item = new QListWidgetItem(itemText(record));
        item->setData(Qt::UserRole, n);
        items.append(item);
        return true;
    });
    for (QListWidgetItem* item : items)
        List1->addItem(item);
    reportFailure(error);
}

void GekitaiForm::Command1_MouseMove()
{
    showHint(H1);
}

void GekitaiForm::Text1_MouseMove()
{
    showHint(H2);
}

void GekitaiForm::Command2_MouseMove()
{
    showHint(H3);
}

void GekitaiForm::List1_MouseMove()
{
    Text2->setVisible(false);
}

void GekitaiForm::Form_MouseMove()
{
    Text2->setVisible(false);
}

void GekitaiForm::showHint(const QString& text)
{
    Text2->setVisible(true);
    Text2->setPlainText(text);
}

void GekitaiForm::Text1_InputRejected()
{
    if (m_entryValidator->lastRejection() == KeywordEntryValidator::NotCp932) {
        MessageBox::open(this,
                         QStringLiteral("「%1」はキーワードに使えない文字です。\nShift_JIS（cp932）で表せない文字は"
                                        "登録できません。")
                             .arg(m_entryValidator->offendingCharacter()),
                         MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
        return;
    }
    // Past 200 bytes the entry just stops taking characters; the hints state the limit.
    QApplication::beep();
}

// Shows a file failure, if any; true when there was one.
bool GekitaiForm::reportFailure(const QString& error)
{
    if (error.isEmpty())
        return false;
    MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Critical);
    return true;
}
