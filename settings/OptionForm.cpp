#include "settings/OptionForm.h"

#include "oauth/OAuthSettings.h"
#include "oauth/OAuthTokens.h"
#include "platform/Cp932Entry.h"
#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/Twips.h"
#include "platform/WindowPlacement.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {
// Client area 2955 x 4470 twips. The captions reach down to their text boxes: a face with a tall
// line, such as Noto Sans CJK, needs the room.
const Placement Label1Place{"Label1", twipRect(120, 90, 1575, 270)};
const Placement SmtpTextPlace{"SmtpText", twipRect(120, 360, 2652, 264)};
const Placement Label2Place{"Label2", twipRect(120, 690, 1635, 270)};
const Placement Pop3TextPlace{"Pop3Text", twipRect(120, 960, 2652, 264)};
const Placement Label3Place{"Label3", twipRect(120, 1290, 1635, 270)};
const Placement MailTextPlace{"MailText", twipRect(120, 1560, 2652, 264)};
const Placement ApopCheckPlace{"ApopCheck", twipRect(480, 2040, 2172, 252)};
const Placement Label4Place{"Label4", twipRect(120, 2370, 1635, 270)};
const Placement PasswordOptionPlace{"PasswordOption", twipRect(240, 2640, 1320, 252)};
const Placement OAuthOptionPlace{"OAuthOption", twipRect(1620, 2640, 1260, 252)};
const Placement SignInCommandPlace{"SignInCommand", twipRect(480, 2970, 2292, 372)};
const Placement SignOutCommandPlace{"SignOutCommand", twipRect(480, 3420, 2292, 372)};
const Placement OkCommandPlace{"OkCommand", twipRect(660, 3930, 972, 372)};
const Placement CancelCommandPlace{"CancelCommand", twipRect(1860, 3930, 912, 372)};

const QString Blue = QStringLiteral("color: blue;");

const QString Pop3Hint =
    QStringLiteral("受信(POP3)サーバーの名前です。\n"
                   "・ホスト名だけ (例: mail.example.jp): ポート110に接続し、サーバーが STLS に対応していれば"
                   "暗号化(TLS)に切り替えます。\n"
                   "・ホスト名:ポート番号 (例: mail.example.jp:1110): 別のポートに接続します。\n"
                   "・pop3s://ホスト名 (例: pop3s://mail.example.jp): 最初から TLS で接続します(ポート995)。"
                   "pop3s://ホスト名:ポート番号 で別のポートも指定できます。\n"
                   "空欄のままではメールチェックを行いません。");

QLabel* makeLabel(QWidget* parent, const Placement& placement, const QString& text, QWidget* buddy)
{
    auto* label = place(new QLabel(text, parent), placement);
    // A caption a little wider than designed grows into the free space to its right rather than
    // being cut off.
    const int room = parent->width() - placement.rect.left();
    label->resize(qBound(placement.rect.width(), label->sizeHint().width(), room), placement.rect.height());
    label->setStyleSheet(Blue);
    label->setFocusPolicy(Qt::NoFocus);
    label->setBuddy(buddy); // the access key moves to the text box
    return label;
}

QLineEdit* makeText(QWidget* parent, const Placement& placement)
{
    // No cap of its own: the box takes what is typed, as the design's box did.
    auto* text = place(new QLineEdit(parent), placement);
    refuseNonCp932(text);
    return text;
}
} // namespace

OptionForm::OptionForm(SettingsModel& settings, QWidget* parent) : QWidget(parent, Qt::Window), m_settings(settings)
{
    buildLayout();
    Form_Load();
}

void OptionForm::buildLayout()
{
    setObjectName(QStringLiteral("OptionForm"));
    setWindowTitle(QStringLiteral("サーバー設定"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(twipSize(2955, 4470));
    setFont(designFont(font()));

    SmtpText = makeText(this, SmtpTextPlace);
    Pop3Text = makeText(this, Pop3TextPlace);
    MailText = makeText(this, MailTextPlace);
    Label1 = makeLabel(this, Label1Place, QStringLiteral("SMTPサーバー名(&S)"), SmtpText);
    Label2 = makeLabel(this, Label2Place, QStringLiteral("POP3サーバー名(&P)"), Pop3Text);
    Label3 = makeLabel(this, Label3Place, QStringLiteral("メールアドレス(&M)"), MailText);
    ApopCheck = place(new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this), ApopCheckPlace);
    ApopCheck->setStyleSheet(Blue);
    PasswordOption = place(new QRadioButton(QStringLiteral("パスワード"), this), PasswordOptionPlace);
    OAuthOption = place(new QRadioButton(QStringLiteral("OAuth 2.0"), this), OAuthOptionPlace);
    PasswordOption->setStyleSheet(Blue);
    OAuthOption->setStyleSheet(Blue);
    Label4 = makeLabel(this, Label4Place, QStringLiteral("サインインの方法(&I)"), PasswordOption);
    SignInCommand = place(new QPushButton(QStringLiteral("ブラウザでサインイン"), this), SignInCommandPlace);
    SignInCommand->setAutoDefault(true);
    SignOutCommand = place(new QPushButton(QStringLiteral("サインアウト"), this), SignOutCommandPlace);
    SignOutCommand->setAutoDefault(true);
    OkCommand = place(new QPushButton(QStringLiteral("設定"), this), OkCommandPlace);
    CancelCommand = place(new QPushButton(QStringLiteral("中止"), this), CancelCommandPlace);
    // No default button: Enter in a text box does nothing, but a focused button answers it.
    OkCommand->setAutoDefault(true);
    CancelCommand->setAutoDefault(true);

    const QString smtpHint =
        QStringLiteral("送信(SMTP)サーバーの名前です。記録されるだけで、メールの送信には使いません。");
    Label1->setToolTip(smtpHint);
    SmtpText->setToolTip(smtpHint);
    Label2->setToolTip(Pop3Hint);
    Pop3Text->setToolTip(Pop3Hint);
    ApopCheck->setToolTip(QStringLiteral("パスワードをそのまま送らず、APOP でログインします。"
                                         "サーバーが APOP に対応している必要があります。"));

    OAuthOption->setToolTip(
        QStringLiteral("パスワードの代わりに、メールサービスのページ（ブラウザ）でサインインします。"
                       "Gmail や Outlook.com などで使います。"));
    SignInCommand->setToolTip(QStringLiteral("ブラウザでメールサービスのページを開き、サインインします。"));
    SignOutCommand->setToolTip(QStringLiteral("保存しているサインインの情報を、キーリングとファイルから削除します。"));
    connect(OAuthOption, &QRadioButton::toggled, SignInCommand, &QWidget::setEnabled);

    // Tab order by the design's tab index: MailText, CancelCommand, OkCommand, ApopCheck,
    // Pop3Text, SmtpText.
    setTabOrder(MailText, CancelCommand);
    setTabOrder(CancelCommand, OkCommand);
    setTabOrder(OkCommand, ApopCheck);
    setTabOrder(ApopCheck, Pop3Text);
    setTabOrder(Pop3Text, SmtpText);
    setTabOrder(SmtpText, PasswordOption);
    setTabOrder(PasswordOption, OAuthOption);
    setTabOrder(OAuthOption, SignInCommand);
    setTabOrder(SignInCommand, SignOutCommand);
    MailText->setFocus();

    connect(OkCommand, &QPushButton::clicked, this, &OptionForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &OptionForm::CancelCommand_Click);
    connect(SignInCommand, &QPushButton::clicked, this, &OptionForm::SignInCommand_Click);
    connect(SignOutCommand, &QPushButton::clicked, this, &OptionForm::SignOutCommand_Click);
}

void OptionForm::Form_Load()
{
    const AccountSettings& settings = m_settings.account();
    SmtpText->setText(settings.SmtpServer);
    Pop3Text->setText(settings.Pop3Server);
    MailText->setText(settings.MailAddress);
    ApopCheck->setChecked(settings.UseApop != 0); // every non-zero value logs in with APOP
    const bool oauth = OAuthSettings::signIn() == SignInMethod::OAuth2;
    (oauth ? OAuthOption : PasswordOption)->setChecked(true);
    SignInCommand->setEnabled(oauth);
    setTopmost(this, true);
}

void OptionForm::OkCommand_Click()
{
    m_settings.setServer(SmtpText->text(), Pop3Text->text(), MailText->text(), ApopCheck->isChecked() ? 1 : 0);
    QString error = m_settings.saveServer();
    if (error.isEmpty())
        error = OAuthSettings::saveSignIn(OAuthOption->isChecked() ? SignInMethod::OAuth2 : SignInMethod::Password);
    if (!error.isEmpty()) {
        // The values are in effect for this session; the window stays open so that the user
        // can try again once the cause is mended.
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
        return;
    }
    close();
}

// The user id in use: the one confirmed in this run, else the one saved in the account file.
QString OptionForm::userId() const
{
    return m_settings.accountConfirmed() ? m_settings.account().UserId : m_settings.accountFile().UserId;
}

// Signs in for the server as typed and the account's user id; the answer comes in a box, later.
void OptionForm::SignInCommand_Click()
{
    const QString user = userId();
    if (user.isEmpty()) {
        MessageBox::open(this, QStringLiteral("先に「ID,PASS」でユーザーIDを設定してください。"));
        return;
    }
    delete m_tokens;
    m_tokens = new OAuthTokens(this);
    SignInCommand->setEnabled(false);
    m_tokens->signIn(Pop3Text->text(), user, [this](const TokenResult& result) {
        SignInCommand->setEnabled(OAuthOption->isChecked());
        m_tokens->deleteLater();
        m_tokens = nullptr;
        const QString text = result.status == TokenResult::Status::Ok
                                 ? QStringLiteral("サインインしました。") +
                                       (result.notice.isEmpty() ? QString() : u"\n"_qs + result.notice)
                                 : result.error;
        MessageBox::open(this, text);
    });
}

// Forgets the sign-in of the server as typed and the account's user id, wherever it is kept.
void OptionForm::SignOutCommand_Click()
{
    const QString user = userId();
    if (user.isEmpty()) {
        MessageBox::open(this, QStringLiteral("ユーザーIDが設定されていないため、サインインしていません。"));
        return;
    }
    delete m_tokens; // a sign-in under way ends with it
    m_tokens = nullptr;
    SignInCommand->setEnabled(OAuthOption->isChecked());
    SignOutCommand->setEnabled(false);
    OAuthTokens::signOut(Pop3Text->text(), user, this, [this, user](const QString& error) {
        SignOutCommand->setEnabled(true);
        MessageBox::open(
            this, error.isEmpty() ? QStringLiteral("「%1」のサインインの情報を削除しました（サインアウト）。").arg(user)
                                  : QStringLiteral("サインインの情報を削除できませんでした。\n%1").arg(error));
    });
}

void OptionForm::CancelCommand_Click()
{
    close();
}

void OptionForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        CancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
