// The mail check and what starts it: the "メールチェック" button and menu item, and the interval timers.
#include "app/MainForm.h"
#include "app/MainFormCheckWindows.h"

#include "mailcheck/HistoryForm.h"
#include "mailcheck/CheckRun.h"
#include "mailcheck/MsgForm.h"
#include "platform/DesktopNotice.h"
#include "platform/DialUpConnections.h"
#include "platform/MessageBox.h"
#include "platform/ProgramStart.h"
#include "settings/IdPassForm.h"
#include "settings/SetForm.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {
// A scan shorter than this shows no count: it would only flicker.
constexpr int ProgressAfterMs = 500;
} // namespace

void MainFormCheckWindows::setAccountFields(const QString& userId, const QString& password)
{
    IdPassForm* account = m_form.idPassForm().get();
    account->IdText->setText(userId);
    account->PassText->setText(password);
}

void MainFormCheckWindows::showSettingsWindow()
{
    m_form.setForm().show();
}

void MainFormCheckWindows::showProgress(int done, int total)
{
    if (m_started.elapsed() >= ProgressAfterMs)
        m_form.showCheckStatus(QStringLiteral("確認中 %1/%2").arg(done).arg(total), QString());
}

void MainFormCheckWindows::startEventScene(const QString& sound)
{
    m_form.startEventScene(sound);
}

void MainFormCheckWindows::showNotice(const QString& text1, const QString& text2)
{
    MsgForm* notice = m_form.msgForm().get();
    notice->Text1->setText(text1);
    notice->Text2->setText(text2);
    notice->show();
    notice->raise(); // a board left open by an earlier check comes to the front again
}

void MainFormCheckWindows::setNoticeTip(const QString& tip)
{
    MsgForm* notice = m_form.msgForm().get();
    notice->setToolTip(tip);
    notice->Text2->setToolTip(tip);
}

void MainFormCheckWindows::unloadNotice()
{
    m_form.msgForm().unload();
}

void MainFormCheckWindows::showMessage(const QString& text, const QString& caption)
{
    MessageBox::open(&m_form, text, caption, MessageBox::OkOnly, MessageBox::NoIcon);
}

QString MainFormCheckWindows::startProgram(const QString& commandLine)
{
    return startProgramDetached(commandLine);
}

void MainFormCheckWindows::hangUp()
{
    m_form.Command1_Click();
}

void MainFormCheckWindows::ask(const QString& text, bool trust, std::function<void(bool)> answered)
{
    const QString question =
        trust ? text + QStringLiteral("\n\n信頼すると、今後このサーバーではこの証明書だけを受け入れます。") : text;
    m_question =
        MessageBox::open(&m_form, question, MessageBox::programTitle(),
                         trust ? MessageBox::TrustOrNo : MessageBox::YesNo, MessageBox::Question, MessageBox::No,
                         [answered](MessageBox::Button button) { answered(button == MessageBox::Yes); });
}

void MainFormCheckWindows::cancelQuestion()
{
    delete m_question.data();
}

bool MainFormCheckWindows::mayAnnounce(int newMail)
{
    return m_form.mayAnnounce(newMail);
}

bool MainFormCheckWindows::failureToTell(const QString& accountKey, CheckOutcome::Kind kind)
{
    return m_form.failureToTell(accountKey, kind);
}

void MainForm::Command6_Click()
{
    CheckMailbox();
}

// Presses made while a check runs are dropped, never queued: the buttons are off meanwhile, and a
// trigger that still gets here is ignored.
void MainForm::CheckMailbox()
{
    if (isChecking() || m_unloaded)
        return;
    m_checkIsTimed = m_timedCheck;
    if (!m_checkIsTimed)
        m_failures = RepeatedFailures(); // the user asks: every failure is told again
    m_heldNews = m_announcedNews = 0;
    setChecking(true);
    showCheckStatus(QStringLiteral("確認中…"), QString());
    if (!m_checkWindows)
        m_checkWindows = std::make_unique<MainFormCheckWindows>(*this);
    m_checkWindows->started();
    m_check = std::make_unique<CheckRun>(*m_checkWindows, m_settings, m_mailOptions);
    connect(m_check.get(), &CheckRun::finished, this, &MainForm::checkFinished);
    connect(m_check.get(), &CheckRun::browserSignIn, this, &MainForm::showSignInWaiting);
    m_check->start(!m_checkIsTimed);
}

void MainForm::checkFinished(const CheckOutcome& outcome)
{
    m_lastCheck = outcome;
    m_lastAccounts = m_check->outcomes();
    m_check.release()->deleteLater(); // its signal is the one being handled
    setChecking(false);
    m_schedule.checkEnded(m_checkIsTimed);
    if (outcome.loginDelaySeconds >= 0)
        m_schedule.holdOff(outcome.loginDelaySeconds);
    for (const CheckRun::AccountOutcome& each : std::as_const(m_lastAccounts)) {
        if (each.outcome.kind == CheckOutcome::Kind::Checked)
            m_failures.forget(each.account.isFirst() ? m_settings.account().Pop3Server + u'\n' + m_settings.account().UserId
                                                     : each.account.server + u'\n' + each.account.user);
    }
    if (m_heldNews > 0)
        m_quietNews.hold(m_heldNews, outcome);
    else if (m_announcedNews > 0)
        tellDesktop(QStringLiteral("新着メール %1 通").arg(m_announcedNews), outcome.newest);
    showLastCheck();
    // What went (or would have gone) is one click away, in the deletion history.
    if (m_lastCheck.deleted > 0 || m_lastCheck.trialMatches > 0 ||
        m_lastCheck.kind == CheckOutcome::Kind::Unconfirmed) {
        StatusLabel->setText(QStringLiteral("<a href=\"history\" style=\"color: black;\">%1</a>")
                                 .arg(StatusLabel->text().toHtmlEscaped()));
        if (m_historyForm->isLoaded())
            m_historyForm->loaded()->refresh();
    }
    releaseQuietNews(); // the hours may have ended while it ran
    Q_EMIT checkEnded();
}

void MainForm::setChecking(bool checking)
{
    m_checking = checking;
    Command6->setEnabled(!checking);
    mcheck->setEnabled(!checking);
    mtraycheck->setEnabled(!checking);
}

// A check in progress ends at once, without QUIT: the program is going.
void MainForm::abortCheck()
{
    if (m_check)
        m_check->abort();
}

void MainForm::showCheckStatus(const QString& text, const QString& details)
{
    // The line is short: a text that does not fit gives up its time first (the tip keeps it).
    const QFontMetrics metrics = StatusLabel->fontMetrics();
    const bool timed = text.size() > 6 && text.at(2) == u':' && text.at(5) == u' ';
    const QString shown = metrics.horizontalAdvance(text) > StatusLabel->width() && timed ? text.mid(6) : text;
    StatusLabel->setText(metrics.elidedText(shown, Qt::ElideRight, StatusLabel->width()));
    StatusLabel->setToolTip(details.isEmpty() ? text : details);
    updateTrayTip();
}

void MainForm::Timer3_Timer()
{
    m_schedule.tick();
}

// A check that is due while there is no network waits for it: the status line already says
// 「オフライン」, and the network's return brings the check.
void MainForm::Timer4_Timer()
{
    if (m_quietNews.holding())
        releaseQuietNews(); // when the hours are over: this timer runs also without timed checks
    if (m_schedule.poll(isChecking()) != CheckSchedule::Decision::Check)
        return;
    m_timedCheck = true;
    Command6_Click();
    m_timedCheck = false;
}
