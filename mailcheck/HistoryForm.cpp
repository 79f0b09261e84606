#include "mailcheck/HistoryForm.h"

#include "mailcheck/MessageJudge.h"
#include "mailcheck/SavedCopies.h"
#include "platform/MessageBox.h"
#include "platform/ProgramStart.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
template <class T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}
} // namespace

HistoryForm::HistoryForm(SettingsModel& settings, QWidget* parent) : QWidget(parent, Qt::Window), m_settings(settings)
{
    setObjectName(QStringLiteral("HistoryForm"));
    setWindowTitle(QStringLiteral("削除履歴"));
    resize(720, 420);
    List1 = named(new QTreeWidget(this), "List1");
    List1->setHeaderLabels(
        {QStringLiteral("日時"), QStringLiteral("差出人"), QStringLiteral("件名"), QStringLiteral("キーワード")});
    List1->setRootIsDecorated(false);
    List1->setUniformRowHeights(true);
    List1->header()->resizeSection(0, 215);
    List1->header()->resizeSection(1, 180);
    List1->header()->resizeSection(2, 210);
    Command1 = named(new QPushButton(QStringLiteral("開く"), this), "Command1");
    Command2 = named(new QPushButton(QStringLiteral("差出人を許可"), this), "Command2");
    Command3 = named(new QPushButton(QStringLiteral("キーワードを削除"), this), "Command3");
    Check1 = named(new QCheckBox(QStringLiteral("削除する前にメールを保存する"), this), "Check1");
    Check2 = named(new QCheckBox(QStringLiteral("試用モード（削除しない）"), this), "Check2");
    Check3 =
        named(new QCheckBox(QStringLiteral("ゆるい一致（全角半角・大文字小文字・ひらがなカタカナを区別しない）"), this),
              "Check3");

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {Command1, Command2, Command3})
        buttons->addWidget(button);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(List1);
    layout->addLayout(buttons);
    for (QCheckBox* box : {Check1, Check2, Check3})
        layout->addWidget(box);

    const std::pair<QCheckBox*, SettingKey> switches[] = {
        {Check1, SettingKey::KeepDeleted}, {Check2, SettingKey::TrialMode}, {Check3, SettingKey::LooseMatch}};
    for (const auto& [box, key] : switches) {
        box->setChecked(m_settings.addedSwitch(key));
        connect(box, &QCheckBox::toggled, this, [this, key = key](bool on) { switchToggled(key, on); });
    }
    connect(Command1, &QPushButton::clicked, this, &HistoryForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &HistoryForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &HistoryForm::Command3_Click);
    connect(List1, &QTreeWidget::itemDoubleClicked, this, &HistoryForm::Command1_Click);
}

void HistoryForm::refresh()
{
    m_entries = DeletionHistory::read();
    List1->clear();
    QList<QTreeWidgetItem*> items;
    for (const HistoryEntry& entry : std::as_const(m_entries)) {
        QString time = entry.time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        if (entry.trial)
            time += QStringLiteral("（試用）");
        else if (entry.unconfirmed) // the server may still hold it: the next check tells
            time += QStringLiteral("（未確認）");
        auto* item = new QTreeWidgetItem({time, entry.sender, entry.subject, entry.keyword});
        if (entry.trial || entry.unconfirmed)
            item->setForeground(0, QColor(0x80, 0x60, 0x00));
        items.append(item);
    }
    List1->addTopLevelItems(items);
    if (!items.isEmpty())
        List1->setCurrentItem(items.first());
}

const HistoryEntry* HistoryForm::selected() const
{
    const int row = List1->indexOfTopLevelItem(List1->currentItem());
    return row >= 0 && row < m_entries.size() ? &m_entries.at(row) : nullptr;
}

void HistoryForm::showEvent(QShowEvent* event)
{
    refresh();
    QWidget::showEvent(event);
}

// The copy opens in the user's mail program when one is chosen, else with the desktop's handler.
void HistoryForm::Command1_Click()
{
    const HistoryEntry* entry = selected();
    const QString path = entry ? SavedCopies::find(*entry) : QString();
    if (path.isEmpty()) {
        MessageBox::show(this, QStringLiteral("このメールの控えはありません。\n控えは「削除する前にメールを保存する」が"
                                              "オンのときに削除したメールだけ、30日間残ります。"));
        return;
    }
    const QString program = m_settings.general().mailProgram.trimmed();
    QString error;
    if (!program.isEmpty() && program != NotSetText)
        error = startProgramDetached(QStringLiteral("\"%1\" \"%2\"").arg(program, path));
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        error = QStringLiteral("「%1」を開けるプログラムが見つかりません。").arg(path);
    if (!error.isEmpty())
        MessageBox::show(this, error);
}

void HistoryForm::Command2_Click()
{
    const HistoryEntry* entry = selected();
    const QString address = entry ? senderAddress(entry->sender) : QString();
    if (address.isEmpty()) {
        MessageBox::show(this, QStringLiteral("差出人のメールアドレスが見つかりません。"));
        return;
    }
    const QString error = AllowList::add(AllowList::defaultFile(), address);
    MessageBox::show(this,
                     error.isEmpty() ? QStringLiteral("「%1」からのメールは、今後削除しません。").arg(address) : error);
}

void HistoryForm::Command3_Click()
{
    const HistoryEntry* entry = selected();
    if (!entry)
        return;
    const QString keyword = entry->keyword;
    if (MessageBox::show(this, QStringLiteral("キーワード「%1」を削除しますか？").arg(keyword),
                         MessageBox::programTitle(), MessageBox::YesNo, MessageBox::Question,
                         MessageBox::No) != MessageBox::Yes)
        return;
    const QString error = removeKeyword(keyword);
    if (error.isEmpty())
        Q_EMIT keywordRemoved();
    MessageBox::show(this, error.isEmpty() ? QStringLiteral("キーワード「%1」を削除しました。").arg(keyword) : error);
}

void HistoryForm::switchToggled(SettingKey key, bool on)
{
    m_settings.setAddedSwitch(key, on);
    if (const QString error = m_settings.saveAddedSwitch(key); !error.isEmpty())
        MessageBox::show(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}
