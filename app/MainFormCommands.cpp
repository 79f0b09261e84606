// The main window's buttons, menus and tray icon.
#include "app/EventScene.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "app/StatusNotifierItem.h"
#include "keywords/GekitaiForm.h"
#include "platform/Cp932Entry.h"
#include "platform/DialUpConnections.h"
#include "platform/ExternalBrowser.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/ProgramFolder.h"
#include "settings/SetForm.h"

#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <utility>

namespace {
// The locale's short date and long time, like "2026/12/06 21:44:01"; the time zone is left out.
QString generalDate(const QDateTime& when)
{
    const QLocale locale = QLocale::system();
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t')).replace(QLatin1String("  "), QLatin1String(" "));
    return locale.toString(when.date(), QLocale::ShortFormat) + u' ' +
           locale.toString(when.time(), timeFormat.trimmed());
}

void openPage(QWidget* parent, const QString& fileName)
{
    const QString path = Paths::htmlFolder() + u'/' + fileName;
    if (!openInBrowser(path)) {
        MessageBox::open(parent,
                         QStringLiteral("ブラウザーを起動できませんでした。\n次のページを直接開いて下さい。\n%1")
                             .arg(QDir::toNativeSeparators(path)),
                         MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
    }
}
} // namespace

void MainForm::Command1_Click()
{
    hangUpDialUpConnections();
}

void MainForm::Command2_Click()
{
    endAtOnce();
}

void MainForm::Command3_Click()
{
    openPage(this, QStringLiteral("mailer.htm"));
}

void MainForm::Command10_Click()
{
    openPage(this, QStringLiteral("oshibana.htm"));
}

void MainForm::Command4_Click()
{
    if (!m_sni) {
        m_sni = new StatusNotifierItem(MessageBox::programTitle(), mnuPopup, this);
        connect(m_sni, &TrayIcon::activated, this, &MainForm::TrayControl1_IconEvent);
        connect(m_sni, &StatusNotifierItem::availabilityChanged, this, &MainForm::trayAvailabilityChanged);
    }
    if (!m_sni->isKnown()) {
        m_trayAsked = true; // the bus answers in a moment
        return;
    }
    m_tray = m_sni->isAvailable() ? m_sni : qtTray();
    m_tray->setIcon(windowIcon());
    m_trayDate = generalDate(QDateTime::currentDateTime());
    updateTrayTip();
    m_trayRefused = !m_tray->isAvailable();
    if (m_trayRefused) {
        // Hiding the window without an icon to come back by would strand the user.
        MessageBox::open(this,
                         QStringLiteral("この画面にはタスクトレイがないため、常駐できません。\n"
                                        "ウィンドウはこのまま表示しておきます。\n"
                                        "GNOME では拡張機能「AppIndicator and KStatusNotifierItem Support」\n"
                                        "（Debian: gnome-shell-extension-appindicator）を入れ、\n"
                                        "ログインし直してから Mossvale を起動すると常駐できます。"),
                         MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
        return;
    }
    m_tray->show();
    hide();
}

TrayIcon* MainForm::qtTray()
{
    if (!m_qtTray) {
        m_qtTray = TrayIcon::createQtTray(mnuPopup, this);
        connect(m_qtTray, &TrayIcon::activated, this, &MainForm::TrayControl1_IconEvent);
    }
    return m_qtTray;
}

// A StatusNotifierItem host came or went (also the bus's first answer).
void MainForm::trayAvailabilityChanged(bool available)
{
    if (std::exchange(m_trayAsked, false)) {
        Command4_Click();
    } else if (available && m_trayRefused) {
        // Asked for before, when there was none: the icon goes there now; the window stays.
        m_trayRefused = false;
        m_tray = m_sni;
        m_tray->setIcon(windowIcon());
        updateTrayTip();
        m_tray->show();
    } else if (!available && m_tray == m_sni && !isVisible()) {
        mnu_Popup_Click(0); // the tray went with the window in it: the window is the only way left
    }
}

void MainForm::Command5_Click()
{
    m_scene->start();
}

void MainForm::startEventScene(const QString& sound)
{
    m_scene->start(sound);
}

void MainForm::Command12_Click()
{
    m_scene->putBack();
}

void MainForm::Timer1_Timer()
{
    m_scene->poll();
}

void MainForm::Command7_Click()
{
    // The first time in a run, start where the mail program already chosen lives. Nothing waits for
    // the dialog or the question after it: a check may run meanwhile.
    FileDialog::open(this, m_commonDialogFileName.isEmpty() ? Text1->text() : m_commonDialogFileName,
                     [this](const QString& chosen) { mailProgramChosen(chosen); });
}

void MainForm::mailProgramChosen(const QString& chosen)
{
    if (const QString refusal = cp932Refusal(chosen); !refusal.isEmpty()) {
        // A path the settings file cannot hold would fail at every exit and be lost.
        MessageBox::open(this, refusal, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
        return;
    }
    const QString previousPath = Text1->text();
    const QString previousTitle = Text2->text();
    if (!chosen.isEmpty())
        m_commonDialogFileName = chosen;
    Text1->setText(m_commonDialogFileName);
    Text2->setText(m_commonDialogFileName.isEmpty() ? QString() : QFileInfo(m_commonDialogFileName).fileName());
    const QString question = QStringLiteral("『 ") + Text2->text() + QStringLiteral("』 ") +
                             QStringLiteral("が起動するメーラーとして設定されました。これで良いですか？");
    MessageBox::open(this, question, QStringLiteral("確認"), MessageBox::YesNo, MessageBox::Question, MessageBox::Yes,
                     [this, previousPath, previousTitle](MessageBox::Button answer) {
                         if (answer == MessageBox::No) {
                             Text1->setText(previousPath);
                             Text2->setText(previousTitle);
                         }
                     });
}

void MainForm::Command8_Click()
{
    m_gekitaiForm->show();
}

void MainForm::Command9_Click()
{
    m_setForm->show();
}

void MainForm::Command11_Click()
{
    m_helpForm->show();
}

void MainForm::mzenmen_Click()
{
    setTopmost(this, true);
}

void MainForm::mkaijyo_Click()
{
    setTopmost(this, false);
}

void MainForm::TrayControl1_IconEvent(int code)
{
    if (code == 0) {
        // Never waited for: the tray's own calls, and a check, go on while it is open. One at a
        // time: any program on the session bus can ask for it, as often as it likes.
        if (!m_clickedBox)
            m_clickedBox = MessageBox::open(nullptr, QStringLiteral("Clicked!"), QStringLiteral("Mossvale"),
                                            MessageBox::OkOnly, MessageBox::Exclamation);
    } else if (code == 1) {
        mnuPopup->popup(QCursor::pos());
    }
}

void MainForm::mnu_Popup_Click(int index)
{
    if (index == 0) {
        show();
        raise();
        activateWindow();
    } else if (index == 2) {
        close(); // the shutdown steps run in closeEvent
    }
}

// The date the window went to the tray, then what the last check found.
void MainForm::updateTrayTip()
{
    if (m_tray)
        m_tray->setTip(MessageBox::programTitle(), trayTip());
}

QString MainForm::trayTip() const
{
    QString status = m_checking ? StatusLabel->text() : statusLine();
    if (!m_checking && !m_lastCheck.accountLines.isEmpty()) // several accounts: a line for each
        status += u'\n' + m_lastCheck.accountLines.join(u'\n');
    return status.isEmpty() ? m_trayDate : m_trayDate + u'\n' + status;
}

// While the browser sign-in waits, the status line gives way to the one thing the user can do about it.
void MainForm::showSignInWaiting(bool waiting)
{
    StatusLabel->setVisible(!waiting);
    CancelSignInCommand->setVisible(waiting);
    mtraycancelsignin->setVisible(waiting);
    if (waiting)
        showCheckStatus(QStringLiteral("ブラウザでサインイン中…"), QString());
}

void MainForm::cancelSignIn()
{
    if (m_check)
        m_check->cancelSignIn();
}
