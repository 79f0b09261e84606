// The check's work once logged in: the scan, the copies, the deletions, and what the check leaves behind.
#include "mailcheck/MailCheck.h"

#include "keywords/KeywordFile.h"
#include "mailcheck/CheckHelpers.h"
#include "mailcheck/CheckTexts.h"
#include "mailcheck/CopyBeforeDelete.h"
#include "mailcheck/SavedCopies.h"
#include "maillib/Pop3Session.h"
#include "platform/AtomicFile.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QSet>

// ---- The scan ----

void MailCheck::onLoggedIn(int count)
{
    m_outcome.messages = count;
    m_offersPipelining = m_session->isPipelining() && m_session->isEncrypted();
    if (count > 0)
        return scan();
    settleEarlierDeletions();
    closeSession();
}

// Deletions an earlier check could not confirm are settled by what the server holds now, before this
// check writes its own lines. Only this account's lines are settled.
void MailCheck::settleEarlierDeletions()
{
    QSet<QByteArray> ids;
    for (int k = 1; k <= m_outcome.messages; ++k)
        ids.insert(m_session->uniqueId(k));
    addNotice(m_outcome,
              DeletionHistory::settle(ids, m_session->hasUniqueIds(), m_account.displayName(), m_account.isFirst()));
}

// Read once, at the first message: nothing can change the files while the check runs. A list that
// cannot be read deletes nothing, and the user hears why. An account that deletes nothing needs none.
std::optional<MessageJudge> MailCheck::loadRules()
{
    if (m_account.noDelete)
        return std::nullopt;
    QStringList keywords;
    QString error = KeywordFile::LoadMatchKeywords(&keywords);
    AllowList allow;
    if (error.isEmpty())
        allow = AllowList::load(AllowList::defaultFile(), &error);
    if (!error.isEmpty()) {
        addNotice(m_outcome, CheckTexts::rulesUnreadable(error));
        return std::nullopt;
    }
    return MessageJudge(keywords, m_switches.looseMatch, allow);
}

// What an earlier check read decides what this one reads, never what it deletes.
void MailCheck::scan()
{
    setStep(Step::Scanning);
    m_judged.clear();
    m_switches = m_settings.general();
    m_time = QDateTime::currentDateTime();
    m_judgedCount = 0;
    m_headersAwaited = 0;
    m_refusedInARow = 0;
    Pop3Session& session = *m_session;
    loadMemory();
    QList<MailScan::Listed> listing;
    listing.reserve(m_outcome.messages);
    for (int k = 1; k <= m_outcome.messages; ++k)
        listing.append({session.uniqueId(k), session.messageSize(k)});
    m_scan.emplace(m_previous, listing, session.hasUniqueIds());
    m_previous.clear();
    // New mail is asked for first; the rest of the work is done while its headers are on the way.
    requestAll(m_scan->toRead());
    session.sendNow();
    if (m_step != Step::Scanning)
        return; // the connection failed on the way out, and the check has ended
    settleEarlierDeletions();
    m_judge = loadRules();
    const QList<int> again = m_scan->recall(m_judge ? &*m_judge : nullptr);
    m_judgedCount += m_scan->recalled();
    m_windows.showProgress(m_judgedCount, m_outcome.messages);
    requestAll(again);
    if (m_headersAwaited == 0)
        afterScan();
}

// A server without TOP gives no headers alone: its mail is judged only when the user let it be read
// whole, and then only up to a size; the rest stays unjudged, and the user is told.
void MailCheck::requestAll(const QList<int>& numbers)
{
    Pop3Session& session = *m_session;
    const bool whole = session.lacksTop();
    const auto onAnswer = [this](int number, const std::optional<MessageHeaders>& headers) {
        onHeaders(number, headers);
    };
    for (int k : numbers) {
        const qint64 size = session.messageSize(k);
        if (whole && (!m_switches.readWholeWithoutTop || size > Pop3Session::MaxJudgedBytes || size < 0)) {
            ++(m_switches.readWholeWithoutTop ? m_outcome.tooLargeToJudge : m_outcome.notJudged);
            m_windows.showProgress(++m_judgedCount, m_outcome.messages);
            continue;
        }
        m_headersAwaited += (whole ? session.retrieveHeaders(k, onAnswer) : session.requestHeaders(k, onAnswer)) ? 1 : 0;
    }
}

void MailCheck::onHeaders(int number, const std::optional<MessageHeaders>& headers)
{
    --m_headersAwaited;
    m_windows.showProgress(++m_judgedCount, m_outcome.messages);
    // Without its own headers a message is never judged, least of all on another's texts.
    if (!headers) {
        ++m_outcome.unread;
        if (++m_refusedInARow == MaxRefusedInARow) {
            // A count that the server's own answers belie: the rest are not asked for, and stay.
            const int dropped = m_session->dropUnsentHeaderRequests();
            m_headersAwaited -= dropped;
            m_outcome.unread += dropped;
        }
    } else {
        m_refusedInARow = 0;
        judge(number, SeenStore::Message{m_session->messageSize(number), headers->subject, headers->sender},
              headers->messageId);
    }
    if (m_headersAwaited == 0)
        afterScan();
}

void MailCheck::judge(int number, const SeenStore::Message& texts, const QByteArray& messageId)
{
    const QString keyword = m_scan->read(number, texts, m_judge ? &*m_judge : nullptr);
    if (keyword.isEmpty())
        return;
    const QString subject = trimSpaces(texts.subject);
    const QString sender = trimSpaces(texts.sender);
    m_judged.append({number,
                     {m_time, m_switches.trialMode, m_session->uniqueId(number), m_session->messageSize(number), keyword,
                      sender, subject, false, historyName()},
                     texts.subject,
                     texts.sender,
                     messageId,
                     QString()});
    if (!m_switches.trialMode && !m_switches.keepDeleted)
        remove(number);
}

void MailCheck::remove(int number)
{
    if (!m_session->remove(number))
        return;
    m_outcome.deletedNumbers.append(number);
    for (const JudgedMessage& judged : std::as_const(m_judged)) {
        if (judged.number == number)
            m_outcome.deletedSubjects.append(judged.entry.subject);
    }
}

// A message is deleted only once its whole copy is on the disk, so a full disk costs no mail.
void MailCheck::afterScan()
{
    if (!m_switches.keepDeleted || m_switches.trialMode || m_judged.isEmpty())
        return closeSession();
    setStep(Step::Copying);
    m_copies = std::make_unique<CopyBeforeDelete>(*m_session, m_account.copiesFolder(), m_time);
    m_copies->start(m_judged, [this](int number) { remove(number); },
                    [this] {
                        if (m_step != Step::Copying)
                            return;
                        m_outcome.unsaved = m_copies->unsaved();
                        m_outcome.copyProblems = m_copies->problems();
                        addNotice(m_outcome, m_copies->notice());
                        closeSession();
                    });
}

// ---- Closing, and what the check leaves behind ----

void MailCheck::closeSession()
{
    setStep(Step::Closing);
    m_session->close([this] {
        const QString error = keepPendingDeletions();
        if (error.isEmpty()) {
            // Written while QUIT travels: a turn of the event loop later, once QUIT is on its way.
            m_rememberPending = true;
            QTimer::singleShot(1, this, &MailCheck::rememberNow);
        }
        return error;
    });
}

void MailCheck::rememberNow()
{
    if (std::exchange(m_rememberPending, false) && m_session)
        remember();
}

// Every deletion is in the history, on the disk, before QUIT lets the server make it: a history that
// cannot be written stops the check here, and nothing is deleted.
QString MailCheck::keepPendingDeletions()
{
    const QList<int> refused = m_session->refusedDeletions();
    m_pending.clear();
    for (const JudgedMessage& judged : std::as_const(m_judged)) {
        if (!judged.entry.trial && m_outcome.deletedNumbers.contains(judged.number) && !refused.contains(judged.number)) {
            m_pending.append(judged.entry);
            m_pending.last().unconfirmed = true;
        }
    }
    const QString error = DeletionHistory::append(m_pending);
    if (!error.isEmpty())
        m_pending.clear();
    return error.isEmpty() ? QString() : CheckTexts::historyBlocked(error);
}

// Only what the server confirmed counts: a deletion the server refused leaves its message as mail.
void MailCheck::onClosed()
{
    rememberNow();
    if (m_step == Step::Leaving)
        return conclude();
    Pop3Session& session = *m_session;
    m_outcome.kind = CheckOutcome::Kind::Checked;
    m_outcome.deleted = session.deletionsConfirmed();
    m_outcome.refusedDeletions = session.refusedDeletions();
    for (int number : std::as_const(m_outcome.refusedDeletions)) {
        const qsizetype at = m_outcome.deletedNumbers.indexOf(number);
        m_outcome.deletedNumbers.removeAt(at);
        m_outcome.deletedSubjects.removeAt(at);
    }
    if (!m_outcome.refusedDeletions.isEmpty() || m_outcome.unread > 0)
        addNotice(m_outcome, session.errorText());
    record(true);
    conclude();
}

// Once the stream is proved, before QUIT: what is on the server after this session is remembered for the
// next check (written while QUIT travels), and the mail that is new since the last one is counted.
void MailCheck::remember()
{
    if (!m_session->hasUniqueIds() || !m_scan)
        return;
    const QList<int> refused = m_session->refusedDeletions();
    QList<int> gone;
    for (int number : std::as_const(m_outcome.deletedNumbers)) {
        if (!refused.contains(number)) // still there: it stays in memory
            gone.append(number);
    }
    m_scan->forget(gone);
    m_outcome.fresh = m_scan->freshCount();
    m_outcome.newest = m_scan->newest(CheckOutcome::NewestKept);
    addNotice(m_outcome, SeenStore::save(m_account.seenFile(), server(), user(), m_scan->seen(), m_offersPipelining));
}

// Copies of mail still on the server would only mislead: they go (gone: the numbers deleted).
void MailCheck::dropCopiesOfMailKept(const QSet<int>& gone)
{
    for (const JudgedMessage& judged : std::as_const(m_judged)) {
        if (!judged.copy.isEmpty() && !gone.contains(judged.number) && !QFile::remove(judged.copy))
            addNotice(m_outcome, CheckTexts::copyNotRemoved(judged.copy));
    }
}

// The history learns what went. confirmed is false when QUIT went out unanswered: the lines are
// marked unconfirmed and every copy stays, since the mail may be gone from the server; the next
// check settles them.
void MailCheck::record(bool confirmed)
{
    const QSet<int> gone(m_outcome.deletedNumbers.begin(), m_outcome.deletedNumbers.end());
    QList<HistoryEntry> trials;
    QSet<QString> made;
    for (const JudgedMessage& judged : std::as_const(m_judged)) {
        m_outcome.trialMatches += judged.entry.trial ? 1 : 0;
        if (judged.entry.trial)
            trials.append(judged.entry);
        if (!judged.copy.isEmpty())
            made.insert(judged.copy);
    }
    if (confirmed)
        dropCopiesOfMailKept(gone);
    m_judged.clear();
    // The deletions' lines went to the disk before QUIT; once it is answered they are certain.
    if (confirmed)
        addNotice(m_outcome, DeletionHistory::confirm(std::exchange(m_pending, {})));
    addNotice(m_outcome, DeletionHistory::append(trials));
    // The copies this check made are never pruned by it, whatever the cap.
    if (m_switches.keepDeleted)
        addNotice(m_outcome, SavedCopies::prune(QDateTime::currentDateTime(), made, m_account.copiesFolder()));
}

// A failure is told in a box once, with the account's name; what the check found is announced by the
// run over every account.
void MailCheck::conclude()
{
    using Kind = CheckOutcome::Kind;
    m_outcome.finished = QDateTime::currentDateTime();
    m_outcome.withToken = m_oauth;
    // Whatever broke a session that skipped waiting for the server's word, the next one waits for
    // it: a server that changed costs one failed check, not every one.
    if (m_pipeliningOffered && m_outcome.failed())
        addNotice(m_outcome, SeenStore::forgetPipelining(m_account.seenFile()));
    const bool tell = !m_outcome.failed() || m_windows.failureToTell(accountKey(), m_outcome.kind);
    if (m_outcome.kind == Kind::LoginRefused && tell)
        m_windows.showMessage(named(TrimAtNul(m_outcome.reason)), CheckTexts::errorCaption);
    else if (m_outcome.kind == Kind::Checked)
        tellNothingJudged();
    else if (m_outcome.failed() && m_manual && !m_declined && tell) // the user who just said no needs no box
        m_windows.showMessage(named(m_outcome.details()), CheckTexts::programTitle);
    finish();
}

// A server whose mail cannot be judged is told once, whichever check finds it: after that the status
// line says it at every check.
void MailCheck::tellNothingJudged()
{
    const bool noTop = m_outcome.notJudged > 0;
    if (!noTop && (m_outcome.messages == 0 || m_outcome.unread < m_outcome.messages))
        return;
    const QString told = QDir(Paths::dataFolder()).filePath(QStringLiteral("told.tsv"));
    QByteArray lines;
    readWholeFile(told, &lines);
    const QByteArray line = (noTop ? "no-top\t" : "top-refused\t") + server().toUtf8();
    if (lines.size() > 64 * 1024 || lines.split('\n').contains(line))
        return;
    addNotice(m_outcome, writeFileAtomically(told, lines + line + '\n'));
    m_windows.showMessage(CheckTexts::nothingJudged(server(), noTop), CheckTexts::programTitle);
}

void MailCheck::finish()
{
    if (std::exchange(m_signInTurn, false))
        m_windows.endSignInTurn();
    if (m_session)
        m_session.release()->deleteLater();
    setStep(Step::Done);
    Q_EMIT finished(m_outcome);
}
