#include "mailcheck/MailCheck.h"

#include "keywords/KeywordFile.h"
#include "mailcheck/CheckHelpers.h"
#include "mailcheck/CheckTexts.h"
#include "mailcheck/CopyBeforeDelete.h"
#include "mailcheck/SavedCopies.h"
#include "maillib/Pop3Session.h"
#include "maillib/Pop3Texts.h"
#include "oauth/OAuthSettings.h"
#include "platform/AtomicFile.h"
#include "settings/PasswordStore.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <algorithm>

namespace {
void addNotice(CheckOutcome& outcome, const QString& text)
{
    if (!text.isEmpty())
        outcome.notice += (outcome.notice.isEmpty() ? QString() : QStringLiteral("\n")) + text;
}

QString trustFile()
{
    return QDir(Paths::dataFolder()).filePath(QStringLiteral("tls.tsv"));
}
} // namespace

MailCheck::MailCheck(MailCheckWindows& windows, SettingsModel& settings, const Account& account,
                     const Pop3Options& options, QObject* parent)
    : QObject(parent), m_windows(windows), m_settings(settings), m_account(account), m_options(options)
{
    connect(&m_tokens, &OAuthTokens::browserWaitingChanged, this, &MailCheck::browserSignIn);
    if (!m_account.isFirst())
        m_tokens.setKeys(m_account.oauth);
}

MailCheck::~MailCheck()
{
    if (isRunning())
        abort();
}

QString MailCheck::server() const
{
    return m_account.isFirst() ? m_settings.account().Pop3Server : m_account.server;
}

QString MailCheck::user() const
{
    return m_account.isFirst() ? m_settings.account().UserId : m_account.user;
}

// A history line names its account, but a lone first account's lines stay as they always were.
QString MailCheck::historyName() const
{
    return m_account.isFirst() && !m_named ? QString() : m_account.displayName();
}

// With several accounts each text says whose it is.
QString MailCheck::named(const QString& text) const
{
    return m_named && !text.isEmpty() ? CheckTexts::ofAccount(m_account.displayName(), text) : text;
}

void MailCheck::setStep(Step step)
{
    if (m_step == step)
        return;
    m_step = step;
    Q_EMIT stepChanged(step);
}

// ---- Opening the session, and the questions it may raise ----

void MailCheck::start(bool manual)
{
    if (isRunning())
        return;
    m_manual = manual;
    m_outcome = CheckOutcome();
    m_asked = 0;
    m_declined = false;
    m_offersPipelining = false;
    m_rememberPending = false;
    m_previousLoaded = false;
    setStep(Step::Opening);
    if (server().isEmpty()) {
        m_outcome.kind = CheckOutcome::Kind::NotConfigured;
        QMetaObject::invokeMethod(this, &MailCheck::conclude, Qt::QueuedConnection);
        return;
    }
    m_sessionOptions = m_options;
    m_pipeliningOffered = SeenStore::offeredPipelining(m_account.seenFile(), server());
    m_sessionOptions.pipeliningOffered = m_pipeliningOffered;
    if (const QString error = m_sessionOptions.trust.load(trustFile()); !error.isEmpty()) {
        m_outcome.kind = CheckOutcome::Kind::LocalTrouble;
        m_outcome.reason = error;
        QMetaObject::invokeMethod(this, &MailCheck::conclude, Qt::QueuedConnection);
        return;
    }
    m_oauth = m_account.signIn == AccountSignIn::OAuth2;
    m_tokenRenewed = false;
    m_accessToken.clear();
    if (!m_oauth)
        return openSession();
    // The token comes first: a sign-in in the browser may take longer than a server waits.
    setStep(Step::ReadingAccount);
    const int keyringWaitMs = m_manual ? m_options.sessionTimeoutMs / 2 : m_options.replyTimeoutMs;
    if (m_account.isFirst())
        m_settings.loadAccount(keyringWaitMs, this, [this](const QString& error) { onOAuthAccount(error); });
    else
        QMetaObject::invokeMethod(this, [this] { onOAuthAccount(QString()); }, Qt::QueuedConnection);
}

// The user id names the account to the provider's token and to the server; no password is needed.
void MailCheck::onOAuthAccount(const QString& error)
{
    if (m_step != Step::ReadingAccount)
        return;
    // Only the user id counts: a password the keyring could not give is not needed for a token.
    if (user().isEmpty()) {
        if (error.isEmpty() && m_account.isFirst())
            m_windows.showSettingsWindow();
        m_outcome.kind = error.isEmpty() ? CheckOutcome::Kind::AccountMissing : CheckOutcome::Kind::LocalTrouble;
        m_outcome.reason = error;
        return conclude();
    }
    askForToken(false);
}

// One browser sign-in at a time: a manual check that may open the browser waits for its turn.
void MailCheck::askForToken(bool renew)
{
    setStep(Step::SigningIn);
    const auto go = [this, renew] {
        if (m_step != Step::SigningIn)
            return;
        m_hasSignInTurn = m_manual;
        m_tokens.accessToken(server(), user(), renew, m_manual,
                             [this](const TokenResult& result) { onToken(result); });
    };
    if (m_manual)
        return m_windows.takeSignInTurn(go);
    go();
}

// Only a manual check may have opened the browser for this token.
void MailCheck::onToken(const TokenResult& result)
{
    if (m_step != Step::SigningIn)
        return;
    if (std::exchange(m_hasSignInTurn, false))
        m_windows.endSignInTurn();
    addNotice(m_outcome, result.notice);
    const bool open = m_session && m_session->state() == Pop3Session::State::Ready;
    if (result.status == TokenResult::Status::Ok) {
        m_accessToken = result.accessToken;
        if (!open)
            return openSession();
        setStep(Step::LoggingIn);
        m_session->loginWithToken(user(), m_accessToken);
        return loadMemory();
    }
    const auto kind = result.status == TokenResult::Status::SignInNeeded ? CheckOutcome::Kind::SignInNeeded
                                                                         : CheckOutcome::Kind::LoginRefused;
    if (open)
        return endBeforeLogin(kind, result.error);
    m_outcome.kind = kind;
    m_outcome.reason = result.error;
    conclude();
}

// A token the server refused may have been revoked early or expired on the way: it is renewed once
// and tried on the same connection.
void MailCheck::onTokenRejected()
{
    if (m_step != Step::LoggingIn)
        return;
    if (m_tokenRenewed)
        return endBeforeLogin(CheckOutcome::Kind::LoginRefused, m_session->errorText());
    m_tokenRenewed = true;
    askForToken(true);
}

void MailCheck::openSession()
{
    if (m_session)
        m_session.release()->deleteLater(); // its signal may be the one being handled
    m_session = std::make_unique<Pop3Session>(m_sessionOptions);
    connect(m_session.get(), &Pop3Session::opened, this, &MailCheck::onOpened);
    connect(m_session.get(), &Pop3Session::consentNeeded, this, &MailCheck::onConsentNeeded);
    connect(m_session.get(), &Pop3Session::failed, this, &MailCheck::onSessionFailed);
    connect(m_session.get(), &Pop3Session::loggedIn, this, &MailCheck::onLoggedIn);
    connect(m_session.get(), &Pop3Session::tokenRejected, this, &MailCheck::onTokenRejected);
    connect(m_session.get(), &Pop3Session::closed, this, &MailCheck::onClosed);
    setStep(Step::Opening);
    m_session->open(server());
}

// Each account has its memory in a file of its own, which names the server and user it was written
// for: a changed account starts afresh.
void MailCheck::loadMemory()
{
    if (std::exchange(m_previousLoaded, true))
        return;
    m_previous = SeenStore::load(m_account.seenFile(), server(), user());
}

// A manual check asks the user about what stopped the session for the password's sake; each answer
// settles one question (plain text, then a certificate), so it asks at most twice.
void MailCheck::askAbout(const QString& text, bool trust, std::function<void(TlsTrust&)> decide,
                         std::function<void()> proceed)
{
    ++m_asked;
    setStep(Step::Asking);
    m_windows.ask(text, trust, [this, decide, proceed](bool yes) {
        if (m_step != Step::Asking)
            return;
        if (!yes) {
            m_declined = true;
            m_session->abort();
            return endAfterFailure();
        }
        decide(m_sessionOptions.trust);
        if (const QString error = m_sessionOptions.trust.save(trustFile()); !error.isEmpty()) {
            m_session->abort();
            m_outcome.kind = CheckOutcome::Kind::LocalTrouble;
            m_outcome.reason = error;
            return conclude();
        }
        proceed();
    });
}

void MailCheck::onConsentNeeded()
{
    if (m_oauth) { // no consent lets a token go in plain text
        m_session->abort();
        m_outcome.kind = CheckOutcome::Kind::Insecure;
        m_outcome.reason = Pop3Texts::tokenNeedsTls(m_session->serverKey());
        return conclude();
    }
    m_outcome.kind = CheckOutcome::Kind::Insecure;
    m_outcome.reason = m_session->errorText();
    if (!m_manual || m_asked >= 2) {
        m_session->abort();
        return conclude();
    }
    askAbout(
        m_session->errorText() + QStringLiteral("\n\n") + Pop3Texts::plainTextQuestion, false,
        [this](TlsTrust& trust) { trust.plainTextAllowed.insert(m_session->serverKey()); },
        [this] {
            if (m_session->state() != Pop3Session::State::AwaitingConsent)
                return endAfterFailure(); // the server went while the user thought
            m_outcome = CheckOutcome();
            setStep(Step::Opening);
            m_session->allowPlainText();
        });
}

void MailCheck::onOpened()
{
    if (m_session->isEncrypted() && !m_sessionOptions.trust.encrypted.contains(m_session->serverKey())) {
        m_sessionOptions.trust.encrypted.insert(m_session->serverKey());
        addNotice(m_outcome, m_sessionOptions.trust.save(trustFile()));
    }
    if (m_oauth) {
        setStep(Step::LoggingIn);
        m_session->loginWithToken(user(), m_accessToken);
        return loadMemory();
    }
    readPassword();
}

// A keyring may show its unlock prompt to the user who asked, within half the session's time; a
// timed check waits no longer than for a reply.
void MailCheck::readPassword()
{
    setStep(Step::ReadingAccount);
    const int keyringWaitMs = m_manual ? m_options.sessionTimeoutMs / 2 : m_options.replyTimeoutMs;
    if (m_account.isFirst())
        return m_settings.loadAccount(keyringWaitMs, this, [this](const QString& error) { onAccountRead(error); });
    if (!m_account.password.isEmpty()) {
        m_password = m_account.password;
        QMetaObject::invokeMethod(this, [this] { onAccountRead(QString()); }, Qt::QueuedConnection);
        return;
    }
    PasswordStore::read(m_account.server, m_account.user, keyringWaitMs, this,
                        [this](const PasswordStore::Result& result) {
                            m_password = result.password;
                            onAccountRead(result.ok ? QString() : result.error);
                        });
}

void MailCheck::onAccountRead(const QString& error)
{
    if (m_step != Step::ReadingAccount)
        return; // the session ended meanwhile
    if (!error.isEmpty())
        return endBeforeLogin(CheckOutcome::Kind::LocalTrouble, error);
    const AccountSettings& first = m_settings.account();
    if (m_account.isFirst()) {
        m_password = first.Password;
        m_windows.setAccountFields(first.UserId, first.Password);
    }
    if (user().isEmpty() || m_password.isEmpty()) {
        if (m_account.isFirst())
            m_windows.showSettingsWindow();
        return endBeforeLogin(CheckOutcome::Kind::AccountMissing, QString());
    }
    const bool apop = m_account.isFirst() ? first.UseApop != 0 : m_account.signIn == AccountSignIn::Apop;
    setStep(Step::LoggingIn);
    m_session->login(user(), m_password, apop);
    // Read while the login and the listing travel, not between the listing and the first request.
    loadMemory();
}

// The session says goodbye without a login; the outcome is already decided.
void MailCheck::endBeforeLogin(CheckOutcome::Kind kind, const QString& reason)
{
    m_outcome.kind = kind;
    m_outcome.reason = reason;
    setStep(Step::Leaving);
    m_session->close();
}

void MailCheck::onSessionFailed()
{
    if (!isRunning() || m_step == Step::Asking)
        return;
    if (m_step == Step::Leaving)
        return conclude();
    if (m_step == Step::Opening && m_manual && m_asked < 2 &&
        m_session->refusal() == Pop3Session::Refusal::Certificate) {
        m_outcome.kind = CheckOutcome::Kind::Insecure;
        m_outcome.reason = m_session->errorText();
        return askAbout(
            m_session->errorText() + QStringLiteral("\n\n") + certificateDetails(m_session->rejectedCertificate()),
            true,
            [this](TlsTrust& trust) { trust.pinned.insert(m_session->serverKey(), m_session->rejectedCertificate()); },
            [this] {
                m_outcome = CheckOutcome();
                openSession(); // a certificate now trusted needs a new handshake
            });
    }
    endAfterFailure();
}

// The session ended without QUIT, or QUIT went unanswered: what it means depends on how far it came.
void MailCheck::endAfterFailure()
{
    rememberNow();
    using Kind = CheckOutcome::Kind;
    const Pop3Session& session = *m_session;
    const bool loggedIn = m_step >= Step::Scanning || session.loginAccepted();
    m_outcome.reason = session.errorText();
    if (session.quitSent()) {
        m_outcome.kind = Kind::Unconfirmed;
        record(false);
    } else if (session.commitRefused()) {
        m_outcome.kind = Kind::LocalTrouble;
    } else if (session.failure() == Pop3Session::Failure::Cancelled) {
        m_outcome.kind = Kind::Cancelled;
    } else if (session.refusal() != Pop3Session::Refusal::None) {
        m_outcome.kind = Kind::Insecure;
    } else if (m_step == Step::LoggingIn && session.refused()) {
        m_outcome.kind = Kind::LoginRefused;
        if (session.responseCode() == Pop3Session::ResponseCode::LoginDelay)
            m_outcome.loginDelaySeconds = session.loginDelaySeconds();
    } else {
        m_outcome.kind = loggedIn ? Kind::Broken : Kind::NoConnection;
    }
    m_outcome.fresh = -1; // only a check that ended in good order tells what is new
    m_outcome.newest.clear();
    if (m_outcome.kind != Kind::Unconfirmed) {
        m_outcome.messages = 0;
        m_outcome.deletedNumbers.clear();
        m_outcome.deletedSubjects.clear();
        dropCopiesOfMailKept({});
        m_judged.clear();
    }
    conclude();
}

void MailCheck::abort()
{
    if (!isRunning())
        return;
    rememberNow();
    m_tokens.cancel();
    m_windows.cancelQuestion();
    if (std::exchange(m_hasSignInTurn, false))
        m_windows.endSignInTurn();
    if (m_session || m_oauth) {
        const bool quitSent = m_session && m_session->quitSent() && m_session->state() == Pop3Session::State::Quitting;
        if (m_session)
            m_session->abort();
        if (!m_outcome.failed() || quitSent) {
            if (quitSent) {
                m_outcome.kind = CheckOutcome::Kind::Unconfirmed;
                record(false);
            } else {
                m_outcome.kind = CheckOutcome::Kind::Cancelled;
                m_outcome.reason = Pop3Texts::cancelled;
            }
        }
    }
    m_outcome.finished = QDateTime::currentDateTime();
    setStep(Step::Done);
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(m_outcome); }, Qt::QueuedConnection);
}

// The user stopped the browser step: nothing more goes to the provider or the server.
void MailCheck::cancelSignIn()
{
    if (m_step != Step::SigningIn || !m_tokens.isBrowserWaiting())
        return;
    m_tokens.cancel();
    if (std::exchange(m_hasSignInTurn, false))
        m_windows.endSignInTurn();
    if (m_session)
        m_session->abort();
    m_outcome.kind = CheckOutcome::Kind::Cancelled;
    m_outcome.reason = CheckTexts::signInCancelled;
    conclude();
}

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
    if (std::exchange(m_hasSignInTurn, false))
        m_windows.endSignInTurn();
    if (m_session)
        m_session.release()->deleteLater();
    setStep(Step::Done);
    Q_EMIT finished(m_outcome);
}
