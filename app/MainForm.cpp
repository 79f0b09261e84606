#include "app/MainForm.h"

#include "app/EventScene.h"
#include "app/HELPForm.h"
#include "app/MainFormCheckWindows.h"
#include "keywords/GekitaiForm.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MsgForm.h"
#include "maillib/NMail.h"
#include "platform/DesignFont.h"
#include "platform/MessageBox.h"
#include "platform/NumberText.h"
#include "platform/PageView.h"
#include "platform/SoundCommands.h"
#include "platform/Twips.h"
#include "platform/WindowPlacement.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/ProgramFolder.h"
#include "settings/SetForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

namespace {
struct ButtonPlace
{
    QPushButton* MainForm::*member;
    const char* name;
    const char* caption;
    int top;
};

// The left column: 360 twips apart, so neighbours overlap by 15; "終了" stands apart below.
const ButtonPlace LeftColumn[] = {
    {&MainForm::Command6, "Command6", "メールチェック", 0},
    {&MainForm::Command7, "Command7", "メーラー設定", 360},
    {&MainForm::Command8, "Command8", "Spam/迷惑設定", 720},
    {&MainForm::Command9, "Command9", "設定", 1080},
    {&MainForm::Command11, "Command11", "HELP", 1440},
    {&MainForm::Command4, "Command4", "タスクトレイ常駐", 1800},
    {&MainForm::Command5, "Command5", "イベント確認", 2160},
    {&MainForm::Command12, "Command12", "イベント戻す", 2520},
    {&MainForm::Command3, "Command3", "メーラー専門店", 2880},
    {&MainForm::Command10, "Command10", "押し花とアイコン", 3240},
    {&MainForm::Command2, "Command2", "終了", 3920},
};

QLineEdit* hiddenField(QWidget* parent, const char* name, QRect rect)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setGeometry(rect);
    field->hide();
    return field;
}
} // namespace

MainForm::MainForm(QWidget* parent) : QMainWindow(parent), m_sound(std::make_unique<SoundCommands>())
{
    buildLayout();
    buildMenus();

    // The windows this one opens are its own (transient for it), so that the window system keeps
    // them above it, also when it is kept on top. The notice board and the help stay on their
    // own: they are kept on top by themselves and must show while this window is in the tray.
    m_setForm = std::make_unique<FormSlot<SetForm>>([this] {
        auto* form = new SetForm(m_settings, this);
        connect(form, &SetForm::idPassRequested, this, [this] { showOverSettings(*m_idPassForm); });
        connect(form, &SetForm::serverRequested, this, [this] { showOverSettings(*m_optionForm); });
        return form;
    });
    m_idPassForm = std::make_unique<FormSlot<IdPassForm>>([this] { return new IdPassForm(m_settings, this); });
    m_optionForm = std::make_unique<FormSlot<OptionForm>>([this] { return new OptionForm(m_settings, this); });
    m_gekitaiForm = std::make_unique<FormSlot<GekitaiForm>>([this] { return new GekitaiForm(this); });
    m_msgForm = std::make_unique<FormSlot<MsgForm>>();
    m_helpForm = std::make_unique<FormSlot<HELPForm>>();
    m_historyForm = std::make_unique<FormSlot<HistoryForm>>([this] {
        auto* form = new HistoryForm(m_settings);
        // Lines without an account's name are the first account's.
        for (const Account& account : Accounts::load(m_settings.account())) {
            if (account.isFirst())
                form->setFirstAccountName(account.displayName());
        }
        connect(form, &HistoryForm::keywordRemoved, this, [this] {
            if (m_gekitaiForm->isLoaded())
                m_gekitaiForm->loaded()->RefreshKeywordList();
        });
        return form;
    });
    m_scene = std::make_unique<EventScene>(EventScene::Controls{WebBrowser1, Command5, Command12, Timer1},
                                           m_sound.get(), [this] { return Check1->isChecked(); });

    connectHandlers();
    Form_Load();
}

MainForm::~MainForm() = default;

void MainForm::buildLayout()
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Mossvale　Ver 1.0"));
    letNoticesCover(this); // the board stays above this window, as it always has
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    setFont(designFont(font()));
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipSize(6495, 4605));
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, QColor(0, 192, 0));
    client->setPalette(palette);
    setCentralWidget(client);

    Picture1 = new QFrame(client);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipRect(1440, 0, 5055, 4300));
    WebBrowser1 = new PageView(Picture1);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    // Larger than its frame, so that the frame crops its borders and scroll bars.
    WebBrowser1->setGeometry(twipRect(-360, -360, 5655, 5175));

    for (const ButtonPlace& place : LeftColumn) {
        auto* button = new QPushButton(QString::fromUtf8(place.caption), client);
        button->setObjectName(QString::fromLatin1(place.name));
        button->setGeometry(twipRect(0, place.top, 1455, 375));
        // Eight full-width characters are as wide as the button; set a hair closer, they clear
        // its border with any face.
        QFont tighter = button->font();
        tighter.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
        button->setFont(tighter);
        button->setStyleSheet(QStringLiteral("QPushButton { background-color: rgb(0, 128, 0); color: white;"
                                             " border: 1px solid rgb(0, 64, 0); }"
                                             "QPushButton:pressed { background-color: rgb(0, 96, 0); }"
                                             "QPushButton:disabled { color: rgb(128, 192, 128); }"));
        this->*place.member = button;
    }
    Command1 = new QPushButton(QStringLiteral("切断"), client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipRect(4920, 6000, 1095, 495));
    Command1->hide();

    Check1 = new QCheckBox(QStringLiteral("インターバルメールチェック"), client);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(twipRect(0, 4320, 2655, 300));
    Check1->setEnabled(false);
    Text7 = new QLineEdit(client);
    Text7->setObjectName(QStringLiteral("Text7"));
    Text7->setGeometry(twipRect(2760, 4320, 735, 270));
    Text7->setAlignment(Qt::AlignRight);
    Text7->setEnabled(false);
    Label1 = new QLabel(QStringLiteral("分"), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipRect(3660, 4395, 375, 255));
    centreInk(Label1, twipsToPixels(4605 - 4395)); // its foot reaches past the client's edge
    // By palette: a style sheet would take over the margins that place its glyphs.
    QPalette black = Label1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(black);
    // The free corner right of the interval: short enough for one line; the whole story is its tip.
    StatusLabel = new QLabel(client);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setGeometry(twipRect(4080, 4335, 2400, 255));
    StatusLabel->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    // In the status's place while a sign-in waits for the browser: the way out of that wait.
    CancelSignInCommand = new QPushButton(QStringLiteral("サインインを中止"), client);
    CancelSignInCommand->setObjectName(QStringLiteral("CancelSignInCommand"));
    CancelSignInCommand->setGeometry(twipRect(4080, 4260, 2400, 360));
    CancelSignInCommand->hide();
    TrialLabel = new QLabel(QStringLiteral("試用モード中：メールは削除しません"), client);
    TrialLabel->setObjectName(QStringLiteral("TrialLabel"));
    TrialLabel->setGeometry(twipRect(1440, 0, 5055, 300));
    TrialLabel->setAlignment(Qt::AlignCenter);
    TrialLabel->setStyleSheet(QStringLiteral("color: #a00000; background: #fff3b0; font-weight: bold;"));
    TrialLabel->hide();

    Text1 = hiddenField(client, "Text1", twipRect(0, 5520, 3975, 270));
    Text2 = hiddenField(client, "Text2", twipRect(360, 5040, 1575, 495));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer4 = new QTimer(this);
    Timer4->setObjectName(QStringLiteral("Timer4"));
    Timer4->setInterval(20);
}

void MainForm::buildMenus()
{
    mfile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    mfile->setObjectName(QStringLiteral("mfile"));
    auto item = [this](const char* name, const char* caption) {
        QAction* action = mfile->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    auto line = [this](const char* name) { mfile->addSeparator()->setObjectName(QString::fromLatin1(name)); };
    mcheck = item("mcheck", "メールチェック");
    line("mline2");
    mspam = item("mspam", "Spam/迷惑メール設定");
    mset = item("mset", "設定");
    mtask = item("mtask", "タスクトレイに常駐");
    line("mline3");
    mzenmen = item("mzenmen", "常に前面表示");
    mkaijyo = item("mkaijyo", "前面表示解除");
    line("mline");
    // What was deleted is looked up often; the way out stays the last item.
    mhistory = item("mhistory", "削除履歴");
    line("mline4");
    mend = item("mend", "終了");

    // The tray pop-up; it never appears on the menu bar. The daily work comes first, then the
    // pop-up's own two items, still answered by mnu_Popup_Click with their old indexes 0 and 2.
    mnuPopup = new QMenu(QStringLiteral("popup"), this);
    mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    mtraycheck = mnuPopup->addAction(QStringLiteral("メールチェック"));
    mtraycheck->setObjectName(QStringLiteral("mtraycheck"));
    mtraycancelsignin = mnuPopup->addAction(QStringLiteral("サインインを中止"));
    mtraycancelsignin->setObjectName(QStringLiteral("mtraycancelsignin"));
    mtraycancelsignin->setVisible(false);
    QAction* history = mnuPopup->addAction(QStringLiteral("削除履歴"));
    history->setObjectName(QStringLiteral("mtrayhistory"));
    mnuPopup->addSeparator()->setObjectName(QStringLiteral("mtrayline"));
    QAction* show = mnuPopup->addAction(QStringLiteral("メイン画面を表示"));
    show->setObjectName(QStringLiteral("mnu_Popup0"));
    mnuPopup->addSeparator()->setObjectName(QStringLiteral("mnu_Popup1"));
    QAction* end = mnuPopup->addAction(QStringLiteral("終了"));
    end->setObjectName(QStringLiteral("mnu_Popup2"));
    connect(history, &QAction::triggered, this, &MainForm::showHistory);
    connect(show, &QAction::triggered, this, [this] { mnu_Popup_Click(0); });
    connect(end, &QAction::triggered, this, [this] { mnu_Popup_Click(2); });
}

void MainForm::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &MainForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &MainForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &MainForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &MainForm::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &MainForm::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &MainForm::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &MainForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &MainForm::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &MainForm::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &MainForm::Command12_Click);
    connect(Timer3, &QTimer::timeout, this, &MainForm::Timer3_Timer);
    connect(Timer4, &QTimer::timeout, this, &MainForm::Timer4_Timer);
    connect(mcheck, &QAction::triggered, this, &MainForm::Command6_Click);
    connect(mtraycheck, &QAction::triggered, this, &MainForm::Command6_Click);
    connect(CancelSignInCommand, &QPushButton::clicked, this, &MainForm::cancelSignIn);
    connect(mtraycancelsignin, &QAction::triggered, this, &MainForm::cancelSignIn);
    connect(mspam, &QAction::triggered, this, &MainForm::Command8_Click);
    connect(mset, &QAction::triggered, this, &MainForm::Command9_Click);
    connect(mtask, &QAction::triggered, this, &MainForm::Command4_Click);
    connect(mzenmen, &QAction::triggered, this, &MainForm::mzenmen_Click);
    connect(mkaijyo, &QAction::triggered, this, &MainForm::mkaijyo_Click);
    connect(mend, &QAction::triggered, this, &MainForm::Command2_Click);
    connect(&m_settings, &SettingsModel::generalChanged, this, &MainForm::settingChanged);
    connect(mhistory, &QAction::triggered, this, &MainForm::showHistory);
    connect(StatusLabel, &QLabel::linkActivated, this, &MainForm::showHistory);
    connect(Text1, &QLineEdit::textChanged, &m_settings, &SettingsModel::setMailProgram);
}

void MainForm::Form_Load()
{
    // Without the data folder every setting would be lost silently at the end of the run.
    bool created = false;
    if (const QString error = ensureDataFolder(&created); !error.isEmpty()) {
        MessageBox::open(nullptr, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
    } else if (created && !settingsBesideProgram()) {
        MessageBox::open(
            nullptr,
            QStringLiteral("インストールされたプログラム（「%1」）のため、"
                           "設定とキーワードは「%2」に保存します。")
                .arg(QDir::toNativeSeparators(programFolder()), QDir::toNativeSeparators(settingsFolder())),
            MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Information);
    }

    reportFileProblem(m_settings.loadGeneral());
    Text1->setText(m_settings.general().mailProgram);
    m_scene->prepare();
    reportFileProblem(m_settings.loadServer());
    NMailInitializeWinSock();
    if (m_settings.account().Pop3Server.isEmpty())
        m_setForm->show();
    m_setForm->get(); // loaded hidden as ever: its load stores a zero interval at once
    applyInterval();
    Text7->setText(m_settings.general().interval);
    m_scene->silence();

    startWatching();
    Timer4->start();
    adjustSize();
    setFixedSize(size());
    centreOnScreen(this);
}

void MainForm::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    abortCheck();
    m_scene->silence();
    Timer1->stop();
    const QString error = m_settings.saveMailProgram();
    NMailEndWinSock();
    Timer3->stop();
    Timer4->stop();
    if (error.isEmpty())
        return QCoreApplication::exit(0);
    // A mail program that could not be stored is told before the end, not lost in silence: the
    // program ends once the box is answered.
    qWarning("Mossvale: %s", qPrintable(error));
    MessageBox::open(nullptr, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation,
                     MessageBox::Ok, [](MessageBox::Button) { QCoreApplication::exit(0); });
}

void MainForm::saveMailProgramChoice()
{
    reportFileProblem(m_settings.saveMailProgram());
}

void MainForm::endAtOnce()
{
    m_unloaded = true; // nothing is stored on this road
    abortCheck();
    NMailEndWinSock();
    Timer1->stop();
    Timer3->stop();
    Timer4->stop();
    QCoreApplication::exit(0);
}

void MainForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void MainForm::setTimer3Interval(int milliseconds)
{
    if (milliseconds <= 0) {
        Timer3->stop();
        Timer3->setInterval(0);
    } else if (!Timer3->isActive() || Timer3->interval() != milliseconds) {
        Timer3->start(milliseconds);
    }
}

void MainForm::settingChanged(SettingKey key)
{
    if (key == SettingKey::MailProgram && Text1->text() != m_settings.general().mailProgram)
        Text1->setText(m_settings.general().mailProgram);
    else if (key == SettingKey::Interval) {
        m_schedule.restart();
        applyInterval();
    } else if (key == SettingKey::TrialMode) {
        TrialLabel->setVisible(m_settings.general().trialMode);
    }
}

// A positive interval arms the one-second tick and a zero one stops it; a negative one changes
// nothing here.
void MainForm::applyInterval()
{
    const QString& interval = m_settings.general().interval;
    m_schedule.setInterval(interval);
    const double value = leadingNumber(interval);
    if (value < 0)
        return;
    Check1->setChecked(value > 0);
    Text7->setText(interval);
    setTimer3Interval(value > 0 ? 1000 : 0);
}

template <class Form> void MainForm::showOverSettings(FormSlot<Form>& slot)
{
    centreOver(slot.get(), m_setForm->loaded());
    slot.show();
}

void MainForm::reportFileProblem(const QString& error)
{
    if (!error.isEmpty())
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}

// Opened where the user is looking: over the main window, the first time.
void MainForm::showHistory()
{
    if (!m_historyForm->isLoaded())
        centreOver(m_historyForm->get(), this);
    m_historyForm->show();
}
