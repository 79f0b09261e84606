// One account's check up to its login: the connection, the questions it may raise, the password or token.
#include "mailcheck/MailCheck.h"

#include "mailcheck/CheckHelpers.h"
#include "mailcheck/CheckTexts.h"
#include "mailcheck/CopyBeforeDelete.h"
#include "maillib/Pop3Session.h"
#include "maillib/Pop3Texts.h"
#include "oauth/OAuthSettings.h"
#include "settings/PasswordStore.h"
#include "settings/ProgramFolder.h"
#include "settings/Settings.h"

#include <QDir>

namespace {
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
        m_tokens.accessToken(server(), user(), renew, m_manual,
                             [this](const TokenResult& result) { onToken(result); });
    };
    if (!m_manual)
        return go();
    // Asked for, the turn is given back however the job ends, so that no one waits on it.
    m_signInTurn = true;
    m_windows.takeSignInTurn(go);
}

// Only a manual check may have opened the browser for this token.
void MailCheck::onToken(const TokenResult& result)
{
    if (m_step != Step::SigningIn)
        return;
    if (std::exchange(m_signInTurn, false))
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
    if (std::exchange(m_signInTurn, false))
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
    if (std::exchange(m_signInTurn, false))
        m_windows.endSignInTurn();
    if (m_session)
        m_session->abort();
    m_outcome.kind = CheckOutcome::Kind::Cancelled;
    m_outcome.reason = CheckTexts::signInCancelled;
    conclude();
}
