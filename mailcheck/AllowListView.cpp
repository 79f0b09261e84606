#include "mailcheck/AllowListView.h"

#include "platform/MessageBox.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString NoneYet = QStringLiteral("許可した差出人はまだありません。\n「削除履歴」で行を選んで「差出人を許可」を"
                                       "押すと、ここに加わります。");
} // namespace

AllowListView::AllowListView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("AllowListView"));
    auto* about = new QLabel(QStringLiteral("ここにある差出人のメールは、キーワードに当てはまっても削除しません。"
                                            "「@example.jp」は、そのドメインとその下のドメインです。"),
                             this);
    about->setObjectName(QStringLiteral("Label1"));
    about->setWordWrap(true);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    EmptyLabel = new QLabel(NoneYet, List1->viewport());
    EmptyLabel->setObjectName(QStringLiteral("EmptyLabel"));
    EmptyLabel->setAlignment(Qt::AlignCenter);
    EmptyLabel->setWordWrap(true);
    (new QVBoxLayout(List1->viewport()))->addWidget(EmptyLabel);
    Command1 = new QPushButton(QStringLiteral("許可を取り消す"), this);
    Command1->setObjectName(QStringLiteral("Command1"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(about);
    layout->addWidget(List1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command1);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(Command1, &QPushButton::clicked, this, &AllowListView::Command1_Click);
}

void AllowListView::refresh()
{
    QString error;
    m_entries = AllowList::entries(AllowList::defaultFile(), &error);
    List1->clear();
    for (const AllowEntry& entry : std::as_const(m_entries))
        List1->addItem(entry.text);
    EmptyLabel->setText(error.isEmpty() ? NoneYet : error);
    EmptyLabel->setVisible(m_entries.isEmpty());
    Command1->setEnabled(!m_entries.isEmpty());
}

// The answer comes later: a check may run meanwhile, and the file may change; remove() sees to that.
void AllowListView::Command1_Click()
{
    const int row = List1->currentRow();
    if (row < 0 || row >= m_entries.size() || !List1->currentItem()->isSelected()) {
        MessageBox::open(this, QStringLiteral("一覧で差出人を選んでから押してください。"));
        return;
    }
    const AllowEntry entry = m_entries.at(row);
    MessageBox::open(this,
                     QStringLiteral("「%1」の許可を取り消しますか？\n取り消すと、この差出人のメールも、キーワードに"
                                    "当てはまればサーバーから削除されます。")
                         .arg(entry.text),
                     MessageBox::programTitle(), MessageBox::YesNo, MessageBox::Question, MessageBox::No,
                     [this, entry](MessageBox::Button answer) {
                         if (answer != MessageBox::Yes)
                             return;
                         const QString error = AllowList::remove(AllowList::defaultFile(), entry);
                         refresh();
                         if (!error.isEmpty())
                             MessageBox::open(this, error);
                     });
}
