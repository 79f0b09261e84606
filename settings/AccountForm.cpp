#include "settings/AccountForm.h"

#include "maillib/Pop3Address.h"
#include "oauth/OAuthTokens.h"
#include "platform/FileDialog.h"
#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/ConnectionTest.h"
#include "settings/PasswordStore.h"
#include "settings/ProviderPresets.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
template <class W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The server text with TLS from the first byte, or without; a port of its own is kept.
QString withTls(const QString& server, bool on)
{
    const Pop3Address address = Pop3Address::parse(server);
    if (address.host.isEmpty() || address.implicitTls == on)
        return server;
    const quint16 usual = on ? Pop3Address::PlainPort : Pop3Address::TlsPort;
    const QString host = address.host.contains(u':') ? u'[' + address.host + u']' : address.host;
    const QString port = address.port == usual || address.port == 0 ? QString() : u':' + QString::number(address.port);
    return (on ? QStringLiteral("pop3s://") : QString()) + host + port;
}
} // namespace

AccountForm::AccountForm(const Account& account, QWidget* parent, const Pop3Options& sessionOptions)
    : QWidget(parent, Qt::Window), m_account(account), m_test(new ConnectionTest(sessionOptions, this))
{
    buildLayout();
    load();
    connect(m_test, &ConnectionTest::finished, this, &AccountForm::testFinished);
}

void AccountForm::buildLayout()
{
    setObjectName(QStringLiteral("AccountForm"));
    setWindowTitle(QStringLiteral("アカウント"));
    setFont(designFont(font()));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("名前"), nameEdit = named(new QLineEdit(this), "nameEdit"));
    presetCombo = named(new QComboBox(this), "presetCombo");
    serverEdit = named(new QLineEdit(this), "serverEdit");
    tlsCheck = named(new QCheckBox(QStringLiteral("SSL/TLS（POP3S）で接続する"), this), "tlsCheck");
    signInCombo = named(new QComboBox(this), "signInCombo");
    userEdit = named(new QLineEdit(this), "userEdit");
    passwordEdit = named(new QLineEdit(this), "passwordEdit");
    if (m_account.isFirst()) {
        // The first account's server and user stay in the 1.0 windows, where its users know them.
        auto* row = new QHBoxLayout;
        row->addWidget(serverButton = named(new QPushButton(QStringLiteral("サーバー設定"), this), "serverButton"));
        row->addWidget(idPassButton = named(new QPushButton(QStringLiteral("ID,PASS"), this), "idPassButton"));
        form->addRow(row);
        connect(serverButton, &QPushButton::clicked, this, &AccountForm::serverRequested);
        connect(idPassButton, &QPushButton::clicked, this, &AccountForm::idPassRequested);
        for (QWidget* w : QList<QWidget*>{presetCombo, serverEdit, tlsCheck, signInCombo, userEdit, passwordEdit})
            w->hide();
    } else {
        form->addRow(QStringLiteral("プロバイダー"), presetCombo);
        form->addRow(QStringLiteral("サーバー"), serverEdit);
        form->addRow(QString(), tlsCheck);
        form->addRow(QStringLiteral("サインイン方法"), signInCombo);
        form->addRow(QStringLiteral("ユーザーID"), userEdit);
        form->addRow(QStringLiteral("パスワード"), passwordEdit);
    }
    form->addRow(noDeleteCheck =
                     named(new QCheckBox(QStringLiteral("このアカウントでは削除しない"), this), "noDeleteCheck"));
    form->addRow(muteCheck =
                     named(new QCheckBox(QStringLiteral("通知しない（チェックと削除のみ）"), this), "muteCheck"));
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(soundEdit = named(new QLineEdit(this), "soundEdit"));
    soundRow->addWidget(soundButton = named(new QPushButton(QStringLiteral("参照..."), this), "soundButton"));
    form->addRow(QStringLiteral("サウンド"), soundRow);
    form->addRow(enabledCheck = named(new QCheckBox(QStringLiteral("有効"), this), "enabledCheck"));
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(testButton = named(new QPushButton(QStringLiteral("接続テスト"), this), "testButton"));
    testRow->addWidget(signOutButton = named(new QPushButton(QStringLiteral("サインアウト"), this), "signOutButton"));
    testRow->addStretch();
    form->addRow(testRow);
    form->addRow(testLabel = named(new QLabel(this), "testLabel"));
    testLabel->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton = named(new QPushButton(QStringLiteral("OK"), this), "okButton"));
    buttons->addWidget(cancelButton = named(new QPushButton(QStringLiteral("キャンセル"), this), "cancelButton"));
    form->addRow(buttons);
    if (m_account.isFirst())
        testButton->hide(), signOutButton->hide();

    presetCombo->addItem(QStringLiteral("（手入力）"));
    for (const ProviderPreset& preset : ProviderPresets::all())
        presetCombo->addItem(preset.name);
    signInCombo->addItems({QStringLiteral("パスワード"), QStringLiteral("APOP"), QStringLiteral("OAuth 2.0")});
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setPlaceholderText(QStringLiteral("（変更しない）"));
    connect(presetCombo, &QComboBox::activated, this, &AccountForm::presetChosen);
    connect(tlsCheck, &QCheckBox::clicked, this, &AccountForm::tlsToggled);
    connect(serverEdit, &QLineEdit::textChanged, this, &AccountForm::serverEdited);
    connect(signInCombo, &QComboBox::currentIndexChanged, this, &AccountForm::signInChosen);
    connect(testButton, &QPushButton::clicked, this, &AccountForm::testClicked);
    connect(signOutButton, &QPushButton::clicked, this, &AccountForm::signOutClicked);
    connect(soundButton, &QPushButton::clicked, this, [this] {
        FileDialog::open(this, soundEdit->text(), [this](const QString& file) {
            if (!file.isNull())
                soundEdit->setText(file);
        });
    });
    connect(okButton, &QPushButton::clicked, this, &AccountForm::okClicked);
    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);
}

void AccountForm::load()
{
    nameEdit->setText(m_account.name);
    if (m_account.id != 0) // a new account has no id yet to make a name of
        nameEdit->setPlaceholderText(m_account.displayName());
    serverEdit->setText(m_account.server); // runs serverEdited
    userEdit->setText(m_account.user);
    signInCombo->setCurrentIndex(int(m_account.signIn));
    signInChosen();
    noDeleteCheck->setChecked(m_account.noDelete);
    muteCheck->setChecked(m_account.mute);
    soundEdit->setText(m_account.sound);
    enabledCheck->setChecked(m_account.enabled);
}

Account AccountForm::edited() const
{
    Account account = m_account;
    account.name = nameEdit->text().trimmed();
    account.noDelete = noDeleteCheck->isChecked();
    account.mute = muteCheck->isChecked();
    account.sound = soundEdit->text().trimmed();
    account.enabled = enabledCheck->isChecked();
    if (account.isFirst())
        return account;
    account.server = serverEdit->text().trimmed();
    account.user = userEdit->text().trimmed();
    account.signIn = AccountSignIn(signInCombo->currentIndex());
    if (account.signIn == AccountSignIn::OAuth2)
        account.password.clear(); // a token sign-in keeps no password
    return account;
}

void AccountForm::presetChosen(int index)
{
    if (index <= 0 || index > ProviderPresets::all().size())
        return;
    const ProviderPreset& preset = ProviderPresets::all()[index - 1];
    serverEdit->setText(preset.server);
    signInCombo->setCurrentIndex(int(preset.signIn));
}

void AccountForm::tlsToggled(bool on)
{
    serverEdit->setText(withTls(serverEdit->text().trimmed(), on));
}

void AccountForm::serverEdited()
{
    tlsCheck->setChecked(Pop3Address::parse(serverEdit->text()).implicitTls);
    const ProviderPreset* preset = ProviderPresets::forServer(serverEdit->text());
    presetCombo->setCurrentIndex(preset ? int(preset - ProviderPresets::all().data()) + 1 : 0);
}

void AccountForm::signInChosen()
{
    const bool token = signInCombo->currentIndex() == int(AccountSignIn::OAuth2);
    passwordEdit->setEnabled(!token);
    signOutButton->setVisible(token && !m_account.isFirst());
}

void AccountForm::testClicked()
{
    const Account account = edited();
    const bool token = account.signIn == AccountSignIn::OAuth2;
    const QString typed = passwordEdit->text();
    testButton->setEnabled(false);
    testLabel->setText(QStringLiteral("接続しています..."));
    const auto run = [this, account, token](const QString& password) {
        m_test->start(account.server, account.user, password, account.signIn == AccountSignIn::Apop, token);
    };
    if (!typed.isEmpty() || token || !m_account.password.isEmpty() || !PasswordStore::available())
        return run(typed.isEmpty() ? m_account.password : typed);
    PasswordStore::read(account.server, account.user, PasswordStore::PromptWaitMs, this,
                        [run](const PasswordStore::Result& found) { run(found.password); });
}

void AccountForm::testFinished(bool ok, const QString& text)
{
    testButton->setEnabled(true);
    testLabel->setText((ok ? QStringLiteral("成功: ") : QStringLiteral("失敗: ")) + text);
}

void AccountForm::signOutClicked()
{
    const Account account = edited();
    OAuthTokens::signOut(account.server, account.user, this, [this](const QString& error) {
        testLabel->setText(error.isEmpty() ? QStringLiteral("サインアウトしました。") : error);
    });
}

void AccountForm::okClicked()
{
    const Account account = edited();
    if (account.isFirst() || passwordEdit->text().isEmpty() || account.signIn == AccountSignIn::OAuth2)
        return keepPassword(false);
    okButton->setEnabled(false);
    if (!PasswordStore::available())
        return keepPassword(false);
    PasswordStore::write(account.server, account.user, passwordEdit->text(), PasswordStore::PromptWaitMs, this,
                         [this](const PasswordStore::Result& result) { keepPassword(result.ok); });
}

// After the keyring answered: a password it did not take goes into the file only if the user agrees.
void AccountForm::keepPassword(bool inKeyring)
{
    Account account = edited();
    const QString typed = passwordEdit->text();
    const auto finish = [this](const Account& kept) {
        Q_EMIT accepted(kept);
        close();
    };
    if (inKeyring)
        account.password.clear();
    if (inKeyring || typed.isEmpty() || account.isFirst() || account.signIn == AccountSignIn::OAuth2)
        return finish(account);
    const QString file = QDir::toNativeSeparators(Accounts::file());
    MessageBox::open(this,
                     QStringLiteral("デスクトップのキーリングが使えないため、パスワードは「%1」に保存します"
                                    "（このユーザーだけが読めるファイルです）。よろしいですか？")
                         .arg(file),
                     MessageBox::programTitle(), MessageBox::YesNo, MessageBox::Question, MessageBox::No,
                     [this, account, typed, finish](MessageBox::Button answer) mutable {
                         okButton->setEnabled(true);
                         if (answer != MessageBox::Yes)
                             return;
                         account.password = typed;
                         finish(account);
                     });
}

void AccountForm::closeEvent(QCloseEvent* event)
{
    m_test->abort(); // closing ends the test at once, without QUIT
    event->accept();
}
