// The mail check and what starts it: the "メールチェック" button and menu item, and the interval timers.
#include "app/MainForm.h"

#include "mailcheck/CheckHelpers.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MailCheck.h"
#include "mailcheck/MsgForm.h"
#include "platform/DesktopNotice.h"
#include "platform/DialUpConnections.h"
#include "platform/MessageBox.h"
#include "platform/ProgramStart.h"
#include "settings/IdPassForm.h"
#include "settings/SetForm.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace {
// A scan shorter than this shows no count: it would only flicker.
constexpr int ProgressAfterMs = 500;

// The check's view of the real windows.
class MainFormCheckWindows : public MailCheckWindows
{
public:
    explicit MainFormCheckWindows(MainForm& form) : m_form(form) { m_started.start(); }

    void setAccountFields(const QString& userId, const QString& password) override
    {
        IdPassForm* account = m_form.idPassForm().get();
        account->IdText->setText(userId);
        account->PassText->setText(password);
    }
    void showSettingsWindow() override { m_form.setForm().show(); }
    void showProgress(int done, int total) override
    {
        if (m_started.elapsed() >= ProgressAfterMs)
            m_form.showCheckStatus(QStringLiteral("確認中 %1/%2").arg(done).arg(total), QString());
    }
    void startEventScene() override { m_form.Command5_Click(); }
    void showNotice(const QString& text1, const QString& text2) override
    {
        MsgForm* notice = m_form.msgForm().get();
        notice->Text1->setText(text1);
        notice->Text2->setText(text2);
        notice->show();
        notice->raise(); // a board left open by an earlier check comes to the front again
        notifyWhereNoticesHide(notice->windowTitle(), QStringLiteral("%1（%2通）").arg(text1, text2));
    }
    void unloadNotice() override { m_form.msgForm().unload(); }
    void waitMilliseconds(int ms) override { WaitMilliseconds(ms); }
    void showMessage(const QString& text, const QString& caption) override
    {
        MessageBox::show(&m_form, text, caption, MessageBox::OkOnly, MessageBox::NoIcon);
    }
    QString startProgram(const QString& commandLine) override { return startProgramDetached(commandLine); }
    void hangUp() override { m_form.Command1_Click(); }
    bool ask(const QString& text) override
    {
        return MessageBox::show(&m_form, text, MessageBox::programTitle(), MessageBox::YesNo, MessageBox::Question,
                                MessageBox::No) == MessageBox::Yes;
    }
    bool askToTrust(const QString& text) override
    {
        return MessageBox::show(
                   &m_form, text + QStringLiteral("\n\n信頼すると、今後このサーバーではこの証明書だけを受け入れます。"),
                   MessageBox::programTitle(), MessageBox::TrustOrNo, MessageBox::Question,
                   MessageBox::No) == MessageBox::Yes;
    }

private:
    MainForm& m_form;
    QElapsedTimer m_started;
};
} // namespace

void MainForm::Command6_Click()
{
    CheckMailbox();
}

void MainForm::CheckMailbox()
{
    // A trigger that fires while a check waits or shows a message must not start another one.
    if (m_checking)
        return;
    m_checking = true;
    const bool manual = !m_timedCheck;
    showCheckStatus(QStringLiteral("確認中…"), QString());
    MainFormCheckWindows windows(*this);
    m_lastCheck = MailCheck(windows, m_settings, m_mailOptions).run(manual);
    showCheckStatus(m_lastCheck.summary(), m_lastCheck.details());
    // What went (or would have gone) is one click away, in the deletion history.
    if (m_lastCheck.deleted > 0 || m_lastCheck.trialMatches > 0) {
        StatusLabel->setText(QStringLiteral("<a href=\"history\" style=\"color: black;\">%1</a>")
                                 .arg(StatusLabel->text().toHtmlEscaped()));
        if (m_historyForm->isLoaded())
            m_historyForm->loaded()->refresh();
    }
    m_checking = false;
}

void MainForm::showCheckStatus(const QString& text, const QString& details)
{
    StatusLabel->setText(StatusLabel->fontMetrics().elidedText(text, Qt::ElideRight, StatusLabel->width()));
    StatusLabel->setToolTip(details.isEmpty() ? text : details);
    updateTrayTip();
}

void MainForm::Timer3_Timer()
{
    m_trigger.tick();
}

void MainForm::Timer4_Timer()
{
    if (m_checking || !m_trigger.isDue(m_settings.general().interval))
        return;
    m_timedCheck = true;
    Command6_Click();
    m_timedCheck = false;
    m_trigger.checkDone();
}
