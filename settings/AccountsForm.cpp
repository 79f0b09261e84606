#include "settings/AccountsForm.h"

#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/AccountForm.h"
#include "settings/Settings.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QPushButton* button(QWidget* parent, const QString& caption, const char* name)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}
} // namespace

AccountsForm::AccountsForm(SettingsModel& settings, QWidget* parent) : QWidget(parent, Qt::Window), m_settings(settings)
{
    buildLayout();
    reload();
}

void AccountsForm::buildLayout()
{
    setObjectName(QStringLiteral("AccountsForm"));
    setWindowTitle(QStringLiteral("アカウント"));
    setFont(designFont(font()));
    accountList = new QTreeWidget(this);
    accountList->setObjectName(QStringLiteral("accountList"));
    accountList->setHeaderLabels(
        {QStringLiteral("名前"), QStringLiteral("サーバー"), QStringLiteral("ユーザー"), QStringLiteral("有効")});
    accountList->setRootIsDecorated(false);
    accountList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    accountList->setMinimumSize(480, 200);
    auto* side = new QVBoxLayout;
    side->addWidget(addButton = button(this, QStringLiteral("追加"), "addButton"));
    side->addWidget(editButton = button(this, QStringLiteral("編集"), "editButton"));
    side->addWidget(removeButton = button(this, QStringLiteral("削除"), "removeButton"));
    side->addWidget(upButton = button(this, QStringLiteral("上へ"), "upButton"));
    side->addWidget(downButton = button(this, QStringLiteral("下へ"), "downButton"));
    side->addStretch();
    side->addWidget(closeButton = button(this, QStringLiteral("閉じる"), "closeButton"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(accountList, 1);
    layout->addLayout(side);
    connect(addButton, &QPushButton::clicked, this, &AccountsForm::addClicked);
    connect(editButton, &QPushButton::clicked, this, &AccountsForm::editClicked);
    connect(accountList, &QTreeWidget::itemDoubleClicked, this, &AccountsForm::editClicked);
    connect(removeButton, &QPushButton::clicked, this, &AccountsForm::removeClicked);
    connect(upButton, &QPushButton::clicked, this, [this] { move(-1); });
    connect(downButton, &QPushButton::clicked, this, [this] { move(1); });
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(accountList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        const int row = accountList->indexOfTopLevelItem(item);
        if (column != 3 || row < 0 || row >= m_accounts.size())
            return;
        const bool on = item->checkState(3) == Qt::Checked;
        if (m_accounts[row].enabled != on) {
            m_accounts[row].enabled = on;
            save();
        }
    });
}

void AccountsForm::reload()
{
    QString error;
    // Before the first check the account file has not been read into the settings: the list shows it.
    AccountSettings first = m_settings.account();
    if (first.UserId.isEmpty())
        first.UserId = m_settings.accountFile().UserId;
    m_accounts = Accounts::load(first, &error);
    fill();
    if (!error.isEmpty())
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}

void AccountsForm::fill()
{
    const int selected = std::max(current(), 0);
    const QSignalBlocker blocker(accountList);
    accountList->clear();
    for (const Account& account : m_accounts) {
        auto* item = new QTreeWidgetItem(accountList, {account.displayName(), account.server, account.user});
        item->setCheckState(3, account.enabled ? Qt::Checked : Qt::Unchecked);
    }
    if (QTreeWidgetItem* item = accountList->topLevelItem(std::min<int>(selected, m_accounts.size() - 1)))
        accountList->setCurrentItem(item);
}

int AccountsForm::current() const
{
    return accountList->indexOfTopLevelItem(accountList->currentItem());
}

void AccountsForm::addClicked()
{
    if (m_accounts.size() >= Accounts::MaxAccounts) {
        MessageBox::open(this, QStringLiteral("アカウントは16個までです。これ以上は追加できません。"),
                         MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
        return;
    }
    Account fresh;
    for (const Account& account : m_accounts)
        fresh.order = std::max(fresh.order, account.order + 1);
    openEditor(fresh);
}

void AccountsForm::editClicked()
{
    if (const int row = current(); row >= 0)
        openEditor(m_accounts[row]);
}

void AccountsForm::openEditor(const Account& account)
{
    if (m_editor) { // one account window at a time: the open one comes forward
        m_editor->raise();
        m_editor->activateWindow();
        return;
    }
    m_editor = new AccountForm(account, this, m_sessionOptions);
    m_editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_editor, &AccountForm::accepted, this, &AccountsForm::store);
    connect(m_editor, &AccountForm::serverRequested, this, &AccountsForm::serverRequested);
    connect(m_editor, &AccountForm::idPassRequested, this, &AccountsForm::idPassRequested);
    m_editor->show();
    centreOver(m_editor, this);
}

void AccountsForm::store(const Account& account)
{
    const auto same = std::find_if(m_accounts.begin(), m_accounts.end(),
                                   [&account](const Account& a) { return a.id != 0 && a.id == account.id; });
    if (same != m_accounts.end())
        *same = account;
    else
        m_accounts.append(account);
    save();
}

void AccountsForm::removeClicked()
{
    const int row = current();
    if (row < 0)
        return;
    const Account account = m_accounts[row];
    const QString question =
        account.isFirst()
            ? QStringLiteral("最初のアカウントは削除できません。サーバー設定を空にして、チェックしないようにしますか？")
            : QStringLiteral("アカウント「%1」を削除しますか？\n（削除履歴と保存したメールは残ります）")
                  .arg(account.displayName());
    MessageBox::open(this, question, MessageBox::programTitle(), MessageBox::YesNo, MessageBox::Question,
                     MessageBox::No, [this, account](MessageBox::Button answer) {
                         if (answer != MessageBox::Yes)
                             return;
                         if (account.isFirst()) {
                             const AccountSettings& server = m_settings.account();
                             m_settings.setServer(server.SmtpServer, QString(), server.MailAddress, server.UseApop);
                             if (const QString error = m_settings.saveServer(); !error.isEmpty())
                                 MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly,
                                                  MessageBox::Exclamation);
                             return reload();
                         }
                         m_accounts.removeIf([&account](const Account& a) { return a.id == account.id; });
                         save();
                     });
}

void AccountsForm::move(int step)
{
    const int row = current();
    if (row < 0 || row + step < 0 || row + step >= m_accounts.size())
        return;
    m_accounts.swapItemsAt(row, row + step);
    for (int i = 0; i < m_accounts.size(); ++i)
        m_accounts[i].order = i;
    accountList->setCurrentItem(accountList->topLevelItem(row + step));
    save();
}

void AccountsForm::save()
{
    if (const QString error = Accounts::save(m_accounts); !error.isEmpty()) {
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
        return reload(); // the list shows what is stored, not what was refused
    }
    fill();
    Q_EMIT accountsChanged();
}
