#include "mailcheck/HistoryForm.h"

#include "mailcheck/AllowListView.h"
#include "mailcheck/MessageJudge.h"
#include "mailcheck/SavedCopies.h"
#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/ProgramStart.h"
#include "settings/MoreOptionsForm.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
template <class T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Small enough for a 1366 x 768 screen at twice the scale (683 x 384 logical pixels, panels included).
constexpr QSize MinimumSize(560, 300);
constexpr QSize PreferredSize(760, 420);
constexpr int AccountColumn = 4;
} // namespace

HistoryForm::HistoryForm(SettingsModel& settings, QWidget* parent) : QWidget(parent, Qt::Window), m_settings(settings)
{
    setObjectName(QStringLiteral("HistoryForm"));
    setWindowTitle(QStringLiteral("削除履歴"));
    setFont(designFont(font()));
    List1 = named(new QTreeWidget(this), "List1");
    List1->setHeaderLabels({QStringLiteral("日時"), QStringLiteral("差出人"), QStringLiteral("件名"),
                            QStringLiteral("キーワード"), QStringLiteral("アカウント")});
    List1->setRootIsDecorated(false);
    List1->setUniformRowHeights(true);
    List1->header()->setStretchLastSection(false);
    List1->header()->setSectionResizeMode(2, QHeaderView::Stretch); // the subject takes what the others leave
    EmptyLabel = named(new QLabel(QStringLiteral("削除したメールはまだありません。\nキーワードに一致したメールを削除"
                                                 "すると、ここに表示されます。"),
                                  List1->viewport()),
                       "EmptyLabel");
    EmptyLabel->setAlignment(Qt::AlignCenter);
    EmptyLabel->setWordWrap(true);
    (new QVBoxLayout(List1->viewport()))->addWidget(EmptyLabel);
    Command1 = named(new QPushButton(QStringLiteral("開く"), this), "Command1");
    Command4 = named(new QPushButton(QStringLiteral("フォルダーを開く"), this), "Command4");
    Command2 = named(new QPushButton(QStringLiteral("差出人を許可"), this), "Command2");
    Command3 = named(new QPushButton(QStringLiteral("キーワードを削除"), this), "Command3");
    Check1 = named(new QCheckBox(this), "Check1");
    Check2 = named(new QCheckBox(this), "Check2");
    Check3 = named(new QCheckBox(this), "Check3");

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {Command1, Command4, Command2, Command3})
        buttons->addWidget(button);
    buttons->addStretch();
    auto* historyPage = new QWidget;
    auto* page = new QVBoxLayout(historyPage);
    page->addWidget(List1);
    page->addLayout(buttons);
    AllowView = new AllowListView;
    Tabs = named(new QTabWidget(this), "Tabs");
    Tabs->addTab(historyPage, QStringLiteral("削除履歴"));
    Tabs->addTab(AllowView, QStringLiteral("許可した差出人"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tabs);
    const std::pair<QCheckBox*, SettingKey> switches[] = {
        {Check1, SettingKey::KeepDeleted}, {Check2, SettingKey::TrialMode}, {Check3, SettingKey::LooseMatch}};
    for (const auto& [box, key] : switches) {
        bindAddedSwitch(box, m_settings, key, this);
        layout->addWidget(box);
    }

    setMinimumSize(MinimumSize);
    const QSize room = screen() ? screen()->availableGeometry().size() - QSize(16, 40) : PreferredSize;
    resize(PreferredSize.boundedTo(room).expandedTo(MinimumSize));
    connect(Command1, &QPushButton::clicked, this, &HistoryForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &HistoryForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &HistoryForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &HistoryForm::Command4_Click);
    connect(List1, &QTreeWidget::itemDoubleClicked, this, &HistoryForm::Command1_Click);
}

void HistoryForm::refresh()
{
    m_entries = DeletionHistory::read();
    List1->clear();
    QList<QTreeWidgetItem*> items;
    bool anyAccount = false;
    for (const HistoryEntry& entry : std::as_const(m_entries)) {
        QString time = entry.time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        if (entry.trial)
            time += QStringLiteral("（試用）");
        else if (entry.unconfirmed) // the server may still hold it: the next check tells
            time += QStringLiteral("（未確認）");
        anyAccount = anyAccount || !entry.account.isEmpty();
        const QString account = entry.account.isEmpty() ? m_firstAccountName : entry.account;
        auto* item = new QTreeWidgetItem({time, entry.sender, entry.subject, entry.keyword, account});
        if (entry.trial || entry.unconfirmed)
            item->setForeground(0, QColor(0x80, 0x60, 0x00));
        items.append(item);
    }
    List1->addTopLevelItems(items);
    List1->setColumnHidden(AccountColumn, !anyAccount);
    if (!items.isEmpty())
        List1->setCurrentItem(items.first());
    EmptyLabel->setVisible(items.isEmpty());
    fitColumns();
    AllowView->refresh();
}

void HistoryForm::setFirstAccountName(const QString& name)
{
    m_firstAccountName = name;
}

// Date, sender, keyword and account as wide as their texts. When that leaves the subject less than a
// third, sender and keyword get at most a quarter of the list each and the account a sixth, so that a
// long sender cannot push the subject out of sight. Dates are short and always whole.
void HistoryForm::fitColumns()
{
    const int room = List1->viewport()->width();
    int taken = 0;
    for (int column : {0, 1, 3, AccountColumn}) {
        List1->resizeColumnToContents(column);
        taken += List1->isColumnHidden(column) ? 0 : List1->columnWidth(column);
    }
    if (taken * 3 <= room * 2)
        return;
    for (int column : {1, 3})
        List1->setColumnWidth(column, std::min(List1->columnWidth(column), room / 4));
    List1->setColumnWidth(AccountColumn, std::min(List1->columnWidth(AccountColumn), room / 6));
}

const HistoryEntry* HistoryForm::selected() const
{
    const QList<QTreeWidgetItem*> rows = List1->selectedItems();
    const int row = rows.isEmpty() ? -1 : List1->indexOfTopLevelItem(rows.first());
    return row >= 0 && row < m_entries.size() ? &m_entries.at(row) : nullptr;
}

const HistoryEntry* HistoryForm::selectedOrSay()
{
    const HistoryEntry* entry = selected();
    if (!entry)
        MessageBox::open(this, QStringLiteral("一覧で行を選んでから押してください。"));
    return entry;
}

QString HistoryForm::selectedCopyOrSay()
{
    const HistoryEntry* entry = selectedOrSay();
    const QString path = entry ? SavedCopies::find(*entry) : QString();
    if (entry && path.isEmpty())
        MessageBox::open(this, QStringLiteral("このメールの控えはありません。\n控えは「削除する前にメールを保存する」が"
                                              "オンのときに削除したメールだけ、30日間残ります。"));
    return path;
}

void HistoryForm::showEvent(QShowEvent* event)
{
    refresh();
    QWidget::showEvent(event);
}

// The copy opens in the user's mail program when one is chosen, else with the desktop's handler.
void HistoryForm::Command1_Click()
{
    const QString path = selectedCopyOrSay();
    if (path.isEmpty())
        return;
    // Trimmed as the check trims it before starting the program on new mail.
    const QString program = trimSpaces(m_settings.general().mailProgram);
    QString error;
    if (!program.isEmpty() && program != NotSetText)
        error = startProgramWithFile(program, path);
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        error = QStringLiteral("「%1」を開けるプログラムが見つかりません。").arg(path);
    if (!error.isEmpty())
        MessageBox::open(this, error);
}

void HistoryForm::Command4_Click()
{
    const QString path = selectedCopyOrSay();
    const QString folder = QFileInfo(path).absolutePath();
    if (!path.isEmpty() && !QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        MessageBox::open(this, QStringLiteral("フォルダー「%1」を開けるプログラムが見つかりません。").arg(folder));
}

void HistoryForm::Command2_Click()
{
    const HistoryEntry* entry = selectedOrSay();
    if (!entry)
        return;
    const QString address = senderAddress(entry->sender);
    if (address.isEmpty()) {
        MessageBox::open(this, QStringLiteral("差出人のメールアドレスが見つかりません。"));
        return;
    }
    // Asked first: from then on no keyword deletes this sender's mail.
    MessageBox::open(
        this,
        QStringLiteral("「%1」からのメールを、今後はキーワードに当てはまっても削除しないようにしますか？").arg(address),
        MessageBox::programTitle(), MessageBox::YesNo, MessageBox::Question, MessageBox::No,
        [this, address](MessageBox::Button answer) {
            if (answer != MessageBox::Yes)
                return;
            const QString error = AllowList::add(AllowList::defaultFile(), address);
            AllowView->refresh();
            MessageBox::open(this, error.isEmpty()
                                       ? QStringLiteral("「%1」からのメールは、今後削除しません。").arg(address)
                                       : error);
        });
}

// The answer comes later: a check may run meanwhile, so nothing waits for it here.
void HistoryForm::Command3_Click()
{
    const HistoryEntry* entry = selectedOrSay();
    if (!entry)
        return;
    const QString keyword = entry->keyword;
    MessageBox::open(
        this, QStringLiteral("キーワード「%1」を削除しますか？").arg(keyword), MessageBox::programTitle(),
        MessageBox::YesNo, MessageBox::Question, MessageBox::No, [this, keyword](MessageBox::Button answer) {
            if (answer != MessageBox::Yes)
                return;
            const QString error = removeKeyword(keyword);
            if (error.isEmpty())
                Q_EMIT keywordRemoved();
            MessageBox::open(this,
                             error.isEmpty() ? QStringLiteral("キーワード「%1」を削除しました。").arg(keyword) : error);
        });
}
