#include "mailcheck/MailCheck.h"

#include "keywords/KeywordFile.h"
#include "mailcheck/CheckHelpers.h"
#include "mailcheck/SavedCopies.h"
#include "maillib/Pop3Session.h"
#include "maillib/Pop3Texts.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QSet>

namespace {
const QString NewMailText = QStringLiteral("新着メールがあります。");
const QString NoMailProgramText = QStringLiteral("起動するメーラーが設定されていません。");
const QString ErrorCaption = QStringLiteral("エラー");
const QString ProgramTitle = QStringLiteral("Mossvale");

void addNotice(CheckOutcome& outcome, const QString& text)
{
    outcome.notice += (outcome.notice.isEmpty() ? QString() : QStringLiteral("\n")) + text;
}

QString trustFile()
{
    return QDir(Paths::dataFolder()).filePath(QStringLiteral("tls.tsv"));
}

QString seenFile()
{
    return QDir(Paths::dataFolder()).filePath(QStringLiteral("seen.tsv"));
}

CheckOutcome::Kind failureKind(const Pop3Session& session, bool loggedIn)
{
    if (session.failure() == Pop3Connection::Failure::Cancelled)
        return CheckOutcome::Kind::Cancelled;
    return loggedIn ? CheckOutcome::Kind::Broken : CheckOutcome::Kind::NoConnection;
}
} // namespace

QString firstMatchingKeyword(const QStringList& keywords, const QString& subject, const QString& sender)
{
    const QString s = trimSpaces(subject);
    const QString f = trimSpaces(sender);
    for (const QString& keyword : keywords) {
        if (keyword.isEmpty())
            continue;
        if (s.contains(keyword, Qt::CaseSensitive) || f.contains(keyword, Qt::CaseSensitive))
            return keyword;
    }
    return {};
}

CheckOutcome MailCheck::run(bool manual)
{
    CheckOutcome outcome;
    m_declined = false;
    m_pipeliningOffered = false;
    checkMailbox(outcome, manual);
    // Whatever broke a session that skipped waiting for the server's word, the next one waits for
    // it: a server that changed costs one failed check, not every one.
    if (m_pipeliningOffered && outcome.failed())
        SeenStore::forgetPipelining(seenFile());
    outcome.finished = QDateTime::currentDateTime();
    if (outcome.kind == CheckOutcome::Kind::LoginRefused)
        m_windows.showMessage(TrimAtNul(outcome.reason), ErrorCaption);
    else if (outcome.failed() && manual && !m_declined) // the user who just said no needs no box
        m_windows.showMessage(outcome.details(), ProgramTitle);
    const bool newOnly = m_settings.general().announceNewOnly && outcome.fresh >= 0;
    if (const int news = newOnly ? outcome.fresh : outcome.remaining(); news > 0)
        announce(news);
    else if (outcome.foundNothing() && m_settings.general().hangUpWhenEmpty)
        m_windows.hangUp();
    return outcome;
}

void MailCheck::checkMailbox(CheckOutcome& outcome, bool manual)
{
    const AccountSettings& account = m_settings.account();
    if (account.Pop3Server.isEmpty()) {
        outcome.kind = CheckOutcome::Kind::NotConfigured;
        return;
    }
    const std::unique_ptr<Pop3Session> opened = openSession(outcome, manual);
    if (!opened)
        return;
    Pop3Session& session = *opened;
    // A keyring may show its unlock prompt to the user who asked, within half the session's time;
    // a timed check waits no longer than for a reply.
    const int keyringWaitMs = manual ? m_options.sessionTimeoutMs / 2 : m_options.replyTimeoutMs;
    if (const QString error = m_settings.loadAccount(keyringWaitMs); !error.isEmpty()) {
        session.close();
        outcome.kind = CheckOutcome::Kind::NoConnection;
        outcome.reason = error;
        return;
    }
    m_windows.setAccountFields(account.UserId, account.Password);
    if (account.UserId.isEmpty() || account.Password.isEmpty()) {
        m_windows.showSettingsWindow();
        session.close();
        outcome.kind = CheckOutcome::Kind::AccountMissing;
        return;
    }
    const int count = session.login(account.UserId, account.Password, account.UseApop != 0);
    if (count < 0) {
        outcome.kind = session.refused() ? CheckOutcome::Kind::LoginRefused : failureKind(session, false);
        outcome.reason = session.errorText();
        session.close();
        return;
    }
    outcome.messages = count;
    m_offersPipelining = session.isPipelining() && session.isEncrypted();
    if (count > 0)
        scanMessages(session, outcome);
    finish(session, outcome);
}

// Opens the session, asking on a manual check about what stopped it for the password's sake;
// each answer settles one question (plain text, then a certificate), so it asks at most twice.
std::unique_ptr<Pop3Session> MailCheck::openSession(CheckOutcome& outcome, bool manual)
{
    Pop3Options options = m_options;
    m_pipeliningOffered = SeenStore::offeredPipelining(seenFile(), m_settings.account().Pop3Server);
    options.pipeliningOffered = m_pipeliningOffered;
    if (const QString error = options.trust.load(trustFile()); !error.isEmpty()) {
        outcome.kind = CheckOutcome::Kind::NoConnection;
        outcome.reason = error;
        return nullptr;
    }
    for (int asked = 0;; ++asked) {
        auto session = std::make_unique<Pop3Session>(options);
        if (!session->open(m_settings.account().Pop3Server)) {
            outcome.kind = failureKind(*session, false);
            outcome.reason = session->errorText();
            if (!manual || asked == 2 || !settleRefusal(*session, options.trust))
                return nullptr;
            if (const QString error = options.trust.save(trustFile()); !error.isEmpty()) {
                outcome.reason = error;
                return nullptr;
            }
            if (!session->allowPlainText())
                continue; // a certificate now trusted needs a new handshake
            outcome.kind = CheckOutcome::Kind::NotRun;
            outcome.reason.clear();
        }
        if (session->isEncrypted() && !options.trust.encrypted.contains(session->serverKey())) {
            options.trust.encrypted.insert(session->serverKey());
            outcome.notice = options.trust.save(trustFile());
        }
        return session;
    }
}

// True when the user's answer lets the session be tried again; trust then holds the answer.
bool MailCheck::settleRefusal(const Pop3Session& session, TlsTrust& trust)
{
    switch (session.refusal()) {
    case Pop3Session::Refusal::PlainText:
        if (!m_windows.ask(session.errorText() + QStringLiteral("\n\n") + Pop3Texts::plainTextQuestion)) {
            m_declined = true;
            return false;
        }
        trust.plainTextAllowed.insert(session.serverKey());
        return true;
    case Pop3Session::Refusal::Certificate:
        if (!m_windows.askToTrust(session.errorText() + QStringLiteral("\n\n") +
                                  certificateDetails(session.rejectedCertificate()))) {
            m_declined = true;
            return false;
        }
        trust.pinned.insert(session.serverKey(), session.rejectedCertificate());
        return true;
    case Pop3Session::Refusal::EncryptionLost:
    case Pop3Session::Refusal::None:
        break;
    }
    return false;
}

void MailCheck::scanMessages(Pop3Session& session, CheckOutcome& outcome)
{
    m_judged.clear();
    m_switches = m_settings.general();
    const QDateTime time = QDateTime::currentDateTime();
    const std::optional<MessageJudge> judge = loadRules(outcome);
    const bool deleteNow = !m_switches.trialMode && !m_switches.keepDeleted;
    const QSet<int> known = recall(session);
    session.skipHeaders(known);
    int refusedInARow = 0;
    int found = 0;
    for (int k = 1; k <= outcome.messages && !session.isBroken(); ++k) {
        m_windows.showProgress(k, outcome.messages);
        const std::optional<SeenStore::Message> texts = textsOf(session, k, known.contains(k));
        // Without its own headers a message is never judged, least of all on another's texts.
        if (!texts) {
            if (++refusedInARow >= MaxRefusedInARow)
                break; // a count that the server's own answers belie
            continue;
        }
        refusedInARow = 0;
        found = k;
        const QString& subject = texts->subject;
        const QString& sender = texts->sender;
        const QString keyword = judge ? judge->judge(subject, sender) : QString();
        if (keyword.isEmpty())
            continue;
        m_judged.append(
            {k, {time, m_switches.trialMode, session.uniqueId(k), session.messageSize(k), keyword, sender, subject}});
        if (deleteNow)
            remove(session, k, subject, outcome);
    }
    if (refusedInARow >= MaxRefusedInARow)
        outcome.messages = found;
    if (m_switches.keepDeleted && !m_switches.trialMode)
        keepAndRemove(session, outcome);
}

// The messages this session need not ask about: their id was seen by an earlier check for the same
// account, with the same size where both are known. The others are new to it.
QSet<int> MailCheck::recall(const Pop3Session& session)
{
    const AccountSettings& account = m_settings.account();
    m_seen.clear();
    m_fresh.clear();
    m_previous = session.hasUniqueIds() ? SeenStore::load(seenFile(), account.Pop3Server, account.UserId)
                                        : SeenStore::Messages();
    QSet<int> known;
    for (int k = 1; session.hasUniqueIds() && k <= session.messageCount(); ++k) {
        const auto it = m_previous.constFind(session.uniqueId(k));
        const qint64 size = session.messageSize(k);
        if (it == m_previous.constEnd())
            m_fresh.insert(k);
        else if (it->size < 0 || size < 0 || it->size == size)
            known.insert(k);
    }
    return known;
}

// The subject and sender of message number, as the server gives them now or as an earlier check
// read them; nothing when the server refused its headers.
std::optional<SeenStore::Message> MailCheck::textsOf(Pop3Session& session, int number, bool known)
{
    const QByteArray id = session.uniqueId(number);
    std::optional<SeenStore::Message> texts;
    if (known) {
        texts = m_previous.value(id);
    } else if (const std::optional<MessageHeaders> headers = session.headers(number)) {
        texts = SeenStore::Message{session.messageSize(number), trimSpaces(TrimAtNul(headers->subject)),
                                   trimSpaces(TrimAtNul(headers->sender))};
    }
    if (texts && !id.isEmpty())
        m_seen.insert(id, *texts);
    return texts;
}

// After a close in good order: what is on the server now is remembered for the next check, and
// the mail that is new since the last one is counted.
void MailCheck::remember(const Pop3Session& session, CheckOutcome& outcome)
{
    if (!session.hasUniqueIds())
        return;
    for (int number : std::as_const(outcome.deletedNumbers)) {
        m_seen.remove(session.uniqueId(number));
        m_fresh.remove(number);
    }
    outcome.fresh = int(m_fresh.size());
    const AccountSettings& account = m_settings.account();
    if (const QString error =
            SeenStore::save(seenFile(), account.Pop3Server, account.UserId, m_seen, m_offersPipelining);
        !error.isEmpty())
        addNotice(outcome, error);
}

// Read once, at the first message: nothing can change the files while the check runs. A list that
// cannot be read deletes nothing, and the user hears why.
std::optional<MessageJudge> MailCheck::loadRules(CheckOutcome& outcome) const
{
    QStringList keywords;
    QString error = KeywordFile::LoadMatchKeywords(&keywords);
    AllowList allow;
    if (error.isEmpty())
        allow = AllowList::load(AllowList::defaultFile(), &error);
    if (!error.isEmpty()) {
        addNotice(outcome, error + QStringLiteral("\n迷惑メールの削除は行いませんでした。"));
        return std::nullopt;
    }
    return MessageJudge(keywords, m_switches.looseMatch, allow);
}

void MailCheck::remove(Pop3Session& session, int number, const QString& subject, CheckOutcome& outcome)
{
    if (session.remove(number)) {
        outcome.deletedNumbers.append(number);
        outcome.deletedSubjects.append(subject);
    }
}

// All the copies come in one pipelined stream after the scan; a message is deleted only once its
// copy is on the disk, so a full disk costs no mail.
void MailCheck::keepAndRemove(Pop3Session& session, CheckOutcome& outcome)
{
    constexpr int Ahead = 16; // requests kept in flight behind the one awaited
    QList<int> numbers;
    for (const Judged& judged : m_judged)
        numbers.append(judged.number);
    QString firstError;
    for (qsizetype i = 0; i < m_judged.size() && !session.isBroken(); ++i) {
        Judged& judged = m_judged[i];
        const std::optional<QByteArray> bytes = session.retrieve(judged.number, numbers.mid(i + 1, Ahead));
        if (session.isBroken())
            return;
        const QString error = bytes ? SavedCopies::store(judged.entry.time, judged.number, *bytes)
                                    : QStringLiteral("サーバーからメールを受け取れませんでした。");
        if (error.isEmpty()) {
            judged.saved = true;
            remove(session, judged.number, judged.entry.subject, outcome);
        } else {
            outcome.unsaved.append(judged.number);
            if (firstError.isEmpty())
                firstError = error;
        }
    }
    if (!outcome.unsaved.isEmpty())
        addNotice(outcome,
                  QStringLiteral("%1 通のメールは控えを保存できなかったため、削除せずにサーバーに残しました。\n%2")
                      .arg(outcome.unsaved.size())
                      .arg(firstError));
}

// Only what the server confirmed counts: a session that broke deleted nothing, a deletion the
// server refused leaves its message as new mail.
void MailCheck::finish(Pop3Session& session, CheckOutcome& outcome)
{
    if (!session.close()) {
        outcome.kind = failureKind(session, true);
        outcome.reason = session.errorText();
        outcome.messages = 0;
        outcome.deletedNumbers.clear();
        outcome.deletedSubjects.clear();
        dropCopies();
        return;
    }
    outcome.kind = CheckOutcome::Kind::Checked;
    outcome.deleted = session.deletionsConfirmed();
    outcome.refusedDeletions = session.refusedDeletions();
    for (int number : outcome.refusedDeletions) {
        const qsizetype at = outcome.deletedNumbers.indexOf(number);
        outcome.deletedNumbers.removeAt(at);
        outcome.deletedSubjects.removeAt(at);
    }
    if (!outcome.refusedDeletions.isEmpty())
        addNotice(outcome, session.errorText());
    remember(session, outcome);
    record(outcome);
}

// After a close in good order: the history learns what is gone, and the copies of messages still
// on the server go, as they would only mislead.
void MailCheck::record(CheckOutcome& outcome)
{
    const QSet<int> gone(outcome.deletedNumbers.begin(), outcome.deletedNumbers.end());
    QList<HistoryEntry> lines;
    for (const Judged& judged : std::as_const(m_judged)) {
        outcome.trialMatches += judged.entry.trial ? 1 : 0;
        if (judged.entry.trial || gone.contains(judged.number))
            lines.append(judged.entry);
    }
    m_judged.removeIf([&gone](const Judged& judged) { return gone.contains(judged.number); });
    dropCopies();
    if (const QString error = DeletionHistory::append(lines); !error.isEmpty())
        addNotice(outcome, error);
    if (m_switches.keepDeleted)
        SavedCopies::prune(QDateTime::currentDateTime());
}

void MailCheck::dropCopies()
{
    for (const Judged& judged : std::as_const(m_judged)) {
        if (judged.saved)
            QFile::remove(SavedCopies::path(judged.entry.time, judged.number));
    }
    m_judged.clear();
}

void MailCheck::announce(int newMail)
{
    m_windows.startEventScene();
    const GeneralSettings& settings = m_settings.general();
    if (settings.newMailAction == NewMailAction::NoticeBoard) {
        m_windows.showNotice(NewMailText, QString::number(newMail));
        if (settings.autoCloseNotice) {
            m_windows.waitMilliseconds(1000);
            m_windows.unloadNotice();
        }
    } else if (settings.newMailAction == NewMailAction::MailProgram) {
        const QString path = settings.mailProgram;
        if (path.isEmpty() || path == NotSetText) {
            m_windows.showMessage(NoMailProgramText, ProgramTitle);
            return;
        }
        const QString error = m_windows.startProgram(trimSpaces(path));
        if (!error.isEmpty())
            m_windows.showMessage(error, ProgramTitle);
    }
}
