#include "mailcheck/CheckRun.h"

#include "mailcheck/CheckHelpers.h"
#include "mailcheck/CheckTexts.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <algorithm>

namespace {
void appendLine(QString& text, const QString& line)
{
    text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + line;
}

// A checked account's counts join the total; new mail is counted where some account could tell it.
void addCounts(CheckOutcome& total, const CheckOutcome& outcome, const QString& name)
{
    total.messages += outcome.messages;
    total.deleted += outcome.deleted;
    total.deletedSubjects << outcome.deletedSubjects;
    total.trialMatches += outcome.trialMatches;
    total.unread += outcome.unread;
    total.notJudged += outcome.notJudged;
    total.tooLargeToJudge += outcome.tooLargeToJudge;
    if (outcome.fresh >= 0)
        total.fresh = std::max(total.fresh, 0) + outcome.fresh;
    for (const CheckOutcome::NewMessage& message : outcome.newest) {
        if (total.newest.size() < CheckOutcome::NewestKept)
            total.newest.append(message);
    }
    if (!outcome.notice.isEmpty())
        appendLine(total.notice, name + QStringLiteral(": ") + outcome.notice);
}

// An account's own sound, when it is a file the sound device can be told of; else the usual one.
QString usableSound(const QString& sound)
{
    return !sound.contains(u'"') && QFileInfo(sound).isFile() ? sound : QString();
}
} // namespace

// One account's place in the run: its job while it runs, and its outcome once it ended.
struct CheckRun::Slot
{
    Account account;
    std::unique_ptr<JobWindows> windows;
    MailCheck* job = nullptr;
    CheckOutcome outcome;
    int done = 0; // messages judged so far, of total, for the progress
    int total = 0;
};

// What one job sees of the windows: the run's, with its questions and sign-ins taking turns with the
// other accounts', and its progress counted in with theirs.
class CheckRun::JobWindows : public MailCheckWindows
{
public:
    JobWindows(CheckRun& run, Slot& slot) : m_run(run), m_slot(slot) {}

    void setAccountFields(const QString& userId, const QString& password) override
    {
        m_run.m_windows.setAccountFields(userId, password);
    }
    void showSettingsWindow() override { m_run.m_windows.showSettingsWindow(); }
    void showProgress(int done, int total) override
    {
        m_slot.done = done;
        m_slot.total = total;
        m_run.showProgress();
    }
    void startEventScene(const QString& sound) override { m_run.m_windows.startEventScene(sound); }
    void showNotice(const QString& text1, const QString& text2) override { m_run.m_windows.showNotice(text1, text2); }
    void unloadNotice() override { m_run.m_windows.unloadNotice(); }
    void showMessage(const QString& text, const QString& caption) override { m_run.m_windows.showMessage(text, caption); }
    QString startProgram(const QString& commandLine) override { return m_run.m_windows.startProgram(commandLine); }
    void hangUp() override { m_run.m_windows.hangUp(); }
    void ask(const QString& text, bool trust, std::function<void(bool)> answered) override
    {
        m_run.ask({&m_slot, text, trust, std::move(answered)});
    }
    void cancelQuestion() override { m_run.cancelQuestion(m_slot); }
    bool failureToTell(const QString& accountKey, CheckOutcome::Kind kind) override
    {
        return m_run.m_windows.failureToTell(accountKey, kind);
    }
    void takeSignInTurn(std::function<void()> go) override { m_run.takeSignInTurn(m_slot, std::move(go)); }
    void endSignInTurn() override { m_run.endSignInTurn(m_slot); }

private:
    CheckRun& m_run;
    Slot& m_slot;
};

CheckRun::CheckRun(MailCheckWindows& windows, SettingsModel& settings, const Pop3Options& options, QObject* parent)
    : QObject(parent), m_windows(windows), m_settings(settings), m_options(options)
{
    m_noticeTimer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the board must stay past 1000 ms.
    m_noticeTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        m_windows.unloadNotice();
        finish();
    });
}

// The jobs go before the windows they were lent.
CheckRun::~CheckRun()
{
    for (const auto& slot : m_slots)
        delete slot->job;
}

void CheckRun::start(bool manual)
{
    if (m_running)
        return;
    m_running = true;
    m_manual = manual;
    m_slots.clear();
    m_next = 0;
    m_total = CheckOutcome();
    QList<Account> accounts = Accounts::load(m_settings.account(), &m_loadError);
    // The first account stands for every account while none other is set up, as it always has.
    m_several = std::any_of(accounts.begin(), accounts.end(),
                            [](const Account& a) { return !a.isFirst() && !a.server.isEmpty(); });
    const bool several = m_several;
    for (const Account& account : std::as_const(accounts)) {
        const bool serverSet = account.isFirst() ? !m_settings.account().Pop3Server.isEmpty() : !account.server.isEmpty();
        if (account.enabled && (serverSet || (account.isFirst() && !several))) {
            m_slots.push_back(std::make_unique<Slot>(Slot{account, nullptr, nullptr, {}, 0, 0}));
            m_slots.back()->windows = std::make_unique<JobWindows>(*this, *m_slots.back());
        }
    }
    if (m_slots.empty()) { // every account disabled
        m_total.kind = CheckOutcome::Kind::NotConfigured;
        m_total.reason = CheckTexts::noAccountEnabled;
        QMetaObject::invokeMethod(this, &CheckRun::conclude, Qt::QueuedConnection);
        return;
    }
    for (int k = 0; k < MaxConnections; ++k)
        startNext();
}

void CheckRun::startNext()
{
    if (m_next >= m_slots.size())
        return;
    Slot& slot = *m_slots.at(m_next++);
    slot.job = new MailCheck(*slot.windows, m_settings, slot.account, m_options, this);
    slot.job->setNamed(m_several);
    connect(slot.job, &MailCheck::finished, this, [this, &slot](const CheckOutcome& outcome) { onJobFinished(slot, outcome); });
    connect(slot.job, &MailCheck::browserSignIn, this, &CheckRun::browserSignIn);
    slot.job->start(m_manual);
}

void CheckRun::onJobFinished(Slot& slot, const CheckOutcome& outcome)
{
    slot.outcome = outcome;
    std::exchange(slot.job, nullptr)->deleteLater(); // its signal is the one being handled
    if (!m_running)
        return;
    startNext();
    if (std::all_of(m_slots.begin(), m_slots.end(), [](const auto& s) { return s->outcome.kind != CheckOutcome::Kind::NotRun; }))
        conclude();
}

void CheckRun::abort()
{
    if (!m_running)
        return;
    m_noticeTimer.stop();
    m_next = m_slots.size(); // nothing more starts
    for (const auto& slot : m_slots) {
        if (slot->job) {
            slot->job->disconnect(this);
            slot->job->abort();
            slot->outcome = slot->job->outcome();
            std::exchange(slot->job, nullptr)->deleteLater();
        } else if (slot->outcome.kind == CheckOutcome::Kind::NotRun) {
            slot->outcome.kind = CheckOutcome::Kind::Cancelled;
        }
    }
    m_questions.clear();
    m_turnQueue.clear();
    m_running = false;
    m_total = totalOf(outcomes());
    if (m_total.kind != CheckOutcome::Kind::Unconfirmed)
        m_total.kind = CheckOutcome::Kind::Cancelled;
    QMetaObject::invokeMethod(this, [this] { Q_EMIT finished(m_total); }, Qt::QueuedConnection);
}

void CheckRun::cancelSignIn()
{
    for (const auto& slot : m_slots) {
        if (slot->job)
            slot->job->cancelSignIn();
    }
}

QList<CheckRun::AccountOutcome> CheckRun::outcomes() const
{
    QList<AccountOutcome> all;
    for (const auto& slot : m_slots)
        all.append({slot->account, slot->outcome});
    return all;
}

// ---- One question, and one browser sign-in, at a time ----

void CheckRun::ask(Question question)
{
    m_questions.push_back(std::move(question));
    if (!m_asking)
        askNext();
}

void CheckRun::askNext()
{
    if (m_asking || m_questions.empty())
        return;
    Question question = std::move(m_questions.front());
    m_questions.pop_front();
    m_asking = question.slot;
    const int id = ++m_questionId;
    const QString text = m_several ? CheckTexts::ofAccount(question.slot->account.displayName(), question.text)
                                            : question.text;
    m_windows.ask(text, question.trust, [this, id, answered = question.answered](bool yes) {
        if (id != m_questionId || !m_asking)
            return; // closed unanswered meanwhile
        m_asking = nullptr;
        answered(yes);
        QMetaObject::invokeMethod(this, &CheckRun::askNext, Qt::QueuedConnection);
    });
}

void CheckRun::cancelQuestion(Slot& slot)
{
    std::erase_if(m_questions, [&slot](const Question& q) { return q.slot == &slot; });
    if (m_asking != &slot)
        return;
    m_asking = nullptr;
    ++m_questionId;
    m_windows.cancelQuestion();
    QMetaObject::invokeMethod(this, &CheckRun::askNext, Qt::QueuedConnection);
}

void CheckRun::takeSignInTurn(Slot& slot, std::function<void()> go)
{
    if (m_turn && m_turn != &slot) {
        m_turnQueue.emplace_back(&slot, std::move(go));
        return;
    }
    m_turn = &slot;
    go();
}

void CheckRun::endSignInTurn(Slot& slot)
{
    std::erase_if(m_turnQueue, [&slot](const auto& waiting) { return waiting.first == &slot; });
    if (m_turn != &slot)
        return;
    m_turn = nullptr;
    if (m_turnQueue.empty())
        return;
    auto [next, go] = std::move(m_turnQueue.front());
    m_turnQueue.pop_front();
    m_turn = next;
    QMetaObject::invokeMethod(this, go, Qt::QueuedConnection);
}

void CheckRun::showProgress()
{
    int done = 0;
    int total = 0;
    for (const auto& slot : m_slots) {
        done += slot->done;
        total += slot->total;
    }
    m_windows.showProgress(done, total);
}

// ---- What the accounts found, told once ----

QString CheckRun::accountLine(const AccountOutcome& outcome)
{
    return outcome.account.displayName() + QStringLiteral(": ") + outcome.outcome.headline();
}

CheckOutcome CheckRun::totalOf(const QList<AccountOutcome>& outcomes)
{
    if (outcomes.size() == 1)
        return outcomes.first().outcome;
    using Kind = CheckOutcome::Kind;
    CheckOutcome total;
    total.kind = Kind::NotConfigured;
    total.finished = QDateTime::currentDateTime();
    for (const AccountOutcome& each : outcomes) {
        const CheckOutcome& outcome = each.outcome;
        const QString name = each.account.displayName();
        total.accountLines << accountLine(each);
        total.loginDelaySeconds = std::max(total.loginDelaySeconds, outcome.loginDelaySeconds);
        if (outcome.failed() || outcome.kind == Kind::Cancelled) {
            total.troubled << name;
            if (total.kind == Kind::NotConfigured) // until an account is checked, the first trouble stands
                total.kind = outcome.kind;
            appendLine(total.reason, name + QStringLiteral(": ") + TrimAtNul(outcome.reason));
        }
        if (outcome.kind == Kind::Unconfirmed || (outcome.kind == Kind::Checked && total.kind != Kind::Unconfirmed))
            total.kind = outcome.kind;
        if (outcome.kind == Kind::Checked)
            addCounts(total, outcome, name);
    }
    return total;
}

void CheckRun::conclude()
{
    const QList<AccountOutcome> all = outcomes();
    if (!all.isEmpty())
        m_total = totalOf(all);
    m_total.finished = QDateTime::currentDateTime();
    if (!m_loadError.isEmpty())
        appendLine(m_total.notice, m_loadError);
    const GeneralSettings& settings = m_settings.general();
    int news = 0;
    QString sound;
    bool anyNews = false;
    bool reached = false;
    for (const AccountOutcome& each : all) {
        const CheckOutcome& outcome = each.outcome;
        const bool newOnly = settings.announceNewOnly && outcome.fresh >= 0;
        const int found = newOnly ? outcome.fresh : outcome.remaining();
        anyNews = anyNews || outcome.remaining() > 0;
        reached = reached || outcome.kind == CheckOutcome::Kind::Checked;
        if (found <= 0 || each.account.mute)
            continue;
        if (news == 0)
            sound = usableSound(each.account.sound);
        news += found;
    }
    if (news > 0 && m_windows.mayAnnounce(news))
        return announce(news, sound);
    // One account keeps the rule it always had; with several, an account that could not be reached
    // neither has news nor found the mailbox empty.
    const bool empty = all.size() == 1 ? all.first().outcome.foundNothing() : (!anyNews && reached);
    if ((all.isEmpty() ? m_total.foundNothing() : empty) && settings.hangUpWhenEmpty)
        m_windows.hangUp();
    finish();
}

void CheckRun::announce(int newMail, const QString& sound)
{
    m_windows.startEventScene(sound);
    const GeneralSettings& settings = m_settings.general();
    if (settings.newMailAction == NewMailAction::NoticeBoard) {
        m_windows.showNotice(CheckTexts::newMail, QString::number(newMail));
        if (m_several)
            m_windows.setNoticeTip(m_total.accountLines.join(u'\n'));
        if (settings.autoCloseNotice)
            return m_noticeTimer.start(NoticeAutoCloseMs); // unloads it, then finishes
    } else if (settings.newMailAction == NewMailAction::MailProgram) {
        const QString path = settings.mailProgram;
        if (path.isEmpty() || path == NotSetText) {
            m_windows.showMessage(CheckTexts::noMailProgram, CheckTexts::programTitle);
        } else if (const QString error = m_windows.startProgram(trimSpaces(path)); !error.isEmpty()) {
            m_windows.showMessage(error, CheckTexts::programTitle);
        }
    }
    finish();
}

void CheckRun::finish()
{
    m_running = false;
    Q_EMIT finished(m_total);
}
