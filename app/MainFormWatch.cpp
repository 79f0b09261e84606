// Watching that can be relied on: the network and sleep from the desktop, quiet hours, the failures
// of timed checks told once, and the desktop's notification of news.
#include "app/MainForm.h"
#include "mailcheck/CheckTexts.h"
#include "settings/ProgramFolder.h"
#include "app/MainFormCheckWindows.h"

#include "mailcheck/CheckHelpers.h"
#include "mailcheck/MsgForm.h"
#include "platform/DesktopNotice.h"
#include "platform/MessageBox.h"
#include "platform/ProgramStart.h"
#include "platform/SystemWatch.h"

#include <QLabel>
#include <QTimer>

namespace {
const QString OfflineText = QStringLiteral("オフライン");
// The notice board's first line, as a check writes it.

// The mail program's command line, empty when none is set.
QString mailProgramOf(const GeneralSettings& settings)
{
    const QString path = trimSpaces(settings.mailProgram);
    return path == NotSetText ? QString() : path;
}
} // namespace

void MainForm::startWatching()
{
    m_network = new NetworkWatch(this);
    m_sleep = new SleepWatch(this);
    m_notifier = new DesktopNotifier(this);
    m_notifier->setIconFile(Paths::htmlFolder() + QStringLiteral("/icon.png"));
    connect(m_network, &NetworkWatch::changed, this, &MainForm::networkChanged);
    connect(m_sleep, &SleepWatch::knownChanged, this, [this](bool known) { m_schedule.setSleepKnown(known); });
    connect(m_sleep, &SleepWatch::resumed, this, [this] { m_schedule.resumed(); });
    connect(m_notifier, &DesktopNotifier::openRequested, this, [this] { mnu_Popup_Click(0); });
    connect(m_notifier, &DesktopNotifier::mailProgramRequested, this, &MainForm::startMailProgram);
}

void MainForm::networkChanged()
{
    const bool wasOffline = m_schedule.offline();
    m_schedule.setNetworkKnown(m_network->known());
    m_schedule.setOffline(m_network->offline());
    if (wasOffline != m_schedule.offline() && !isChecking())
        showLastCheck();
}

QString MainForm::statusLine() const
{
    return m_schedule.offline() ? OfflineText : m_lastCheck.summary();
}

// Offline says so instead of the last outcome, which the tip keeps.
void MainForm::showLastCheck()
{
    if (!m_schedule.offline())
        return showCheckStatus(m_lastCheck.summary(), m_lastCheck.details());
    QString details = QStringLiteral("ネットワークに接続されていません。\n"
                                     "ネットワークが戻るまで、定期的なメールチェックは行いません。");
    if (m_lastCheck.kind != CheckOutcome::Kind::NotRun)
        details += QStringLiteral("\n\n前回のメールチェック:\n") + m_lastCheck.details();
    showCheckStatus(OfflineText, details);
}

bool MainForm::quietNow() const
{
    return m_settings.general().quietHours.contains(m_schedule.now());
}

// During quiet hours news is held for the summary at their end; so is news that comes before the
// summary of the hours just ended went out, so that the user hears once.
bool MainForm::mayAnnounce(int newMail)
{
    if (quietNow() || m_quietNews.holding()) {
        m_heldNews = newMail;
        return false;
    }
    m_announcedNews = newMail;
    return true;
}

bool MainForm::failureToTell(const QString& accountKey, CheckOutcome::Kind kind)
{
    return m_failures.tell(accountKey, kind, m_checkIsTimed);
}

void MainForm::releaseQuietNews()
{
    if (isChecking() || quietNow())
        return;
    if (const std::optional<QuietNews::Summary> summary = m_quietNews.release())
        announceQuietNews(*summary);
}

// The summary goes the way the user chose for news, as a check's announcement does.
void MainForm::announceQuietNews(const QuietNews::Summary& summary)
{
    Command5_Click();
    const GeneralSettings& settings = m_settings.general();
    if (settings.newMailAction == NewMailAction::NoticeBoard) {
        if (!m_checkWindows)
            m_checkWindows = std::make_unique<MainFormCheckWindows>(*this);
        m_checkWindows->showNotice(CheckTexts::newMail, QString::number(summary.count));
        if (settings.autoCloseNotice)
            QTimer::singleShot(CheckRun::NoticeAutoCloseMs, this, [this] { m_msgForm->unload(); });
    } else if (settings.newMailAction == NewMailAction::MailProgram) {
        startMailProgram();
    }
    tellDesktop(QStringLiteral("通知しない時間帯の新着メール %1 通").arg(summary.count), summary.newest);
}

// The notification comes with the board or the mail program when the user asked for it, and in the
// board's stead where the board cannot stay on top.
void MainForm::tellDesktop(const QString& summary, const QList<CheckOutcome::NewMessage>& newest)
{
    const GeneralSettings& settings = m_settings.general();
    const bool boardHides = settings.newMailAction == NewMailAction::NoticeBoard && noticesHide();
    if (!settings.desktopNotification && !boardHides)
        return;
    QList<NoticeLine> lines;
    for (const CheckOutcome::NewMessage& message : newest)
        lines.append({message.sender, message.subject});
    m_notifier->send(summary, lines, !mailProgramOf(settings).isEmpty());
}

void MainForm::startMailProgram()
{
    const QString path = mailProgramOf(m_settings.general());
    const QString error =
        path.isEmpty() ? QStringLiteral("起動するメーラーが設定されていません。") : startProgramDetached(path);
    if (!error.isEmpty())
        MessageBox::open(this, error, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}
