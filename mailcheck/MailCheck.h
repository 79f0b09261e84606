#pragma once

#include "mailcheck/CheckOutcome.h"
#include "mailcheck/DeletionHistory.h"
#include "mailcheck/MailScan.h"
#include "mailcheck/MessageJudge.h"
#include "mailcheck/SeenStore.h"
#include "maillib/HeaderDecoder.h"
#include "maillib/Pop3Options.h"
#include "oauth/OAuthTokens.h"
#include "settings/Accounts.h"
#include "settings/Settings.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class CopyBeforeDelete;
class Pop3Session;
class SettingsModel;

// What one mail check needs from the windows, kept narrow so that the check runs without them
// in tests. The main window implements it with its real windows. Nothing here may wait: a question
// is answered through its callback, later.
class MailCheckWindows
{
public:
    virtual ~MailCheckWindows() = default;

    // The account window's two text boxes receive the stored account.
    virtual void setAccountFields(const QString& userId, const QString& password) = 0;
    virtual void showSettingsWindow() = 0;
    // How far the scan has come: done of total messages judged.
    virtual void showProgress(int done, int total) = 0;
    // The picture and the sound: sound is a file of the account's own, or empty for the usual one.
    virtual void startEventScene(const QString& sound) = 0;
    // Sets the notice board's two texts (creating it when needed) and shows it, modeless.
    virtual void showNotice(const QString& text1, const QString& text2) = 0;
    // The board's tip: with several accounts, what each of them found.
    virtual void setNoticeTip(const QString& tip) { Q_UNUSED(tip); }
    virtual void unloadNotice() = 0;
    // Shows a message without waiting for the user to close it.
    virtual void showMessage(const QString& text, const QString& caption) = 0;
    // Starts a program without waiting; empty text on success, else the message for the user.
    virtual QString startProgram(const QString& commandLine) = 0;
    virtual void hangUp() = 0;
    // A yes/no question, window-modal; answered(true) for "はい". The answer never comes inside
    // this call. trust: the question offers to trust the certificate described in text.
    virtual void ask(const QString& text, bool trust, std::function<void(bool yes)> answered) = 0;
    // Closes an open question unanswered; its callback never runs.
    virtual void cancelQuestion() = 0;
    // Asked once a check has news (newMail of them) before anything announces it; false holds it back
    // (nothing sounds, shows or starts).
    virtual bool mayAnnounce(int newMail) { return newMail > 0; }
    // Whether a failure of the account (server and user) is told in a box: a timed check failing
    // as the one before is told by the status line alone.
    virtual bool failureToTell(const QString& accountKey, CheckOutcome::Kind kind)
    {
        Q_UNUSED(accountKey);
        Q_UNUSED(kind);
        return true;
    }
    // A browser sign-in waits for its turn: go runs when no other account's sign-in is under way.
    // endSignInTurn() gives the turn to the next.
    virtual void takeSignInTurn(std::function<void()> go) { go(); }
    virtual void endSignInTurn() {}
};

// One complete check of one account's mailbox, as a job on the window thread driven by signals:
// connect, read the account, log in, delete on the server every message whose subject or sender holds
// a keyword (unless its sender is allowed, or the account deletes nothing), close. What the check
// decides is MailScan's; keeping copies before deleting is CopyBeforeDelete's; announcing what is left
// is the run over every account's (CheckRun). It never waits in a loop: each step starts something and returns, and the answer (the
// session's signal, the keyring's, the user's) moves it on.
//
// Each deletion the server confirmed is written to the deletion history; with KeepDeleted a message
// is deleted only once its whole copy is stored; in trial mode nothing is deleted and each match is
// written to the history as a trial. Every way it can end is a CheckOutcome; a check that could not
// connect, or broke, never looks like an empty mailbox: it announces nothing and never hangs up.
// The password is sent only over TLS, to this machine, or where the user allowed plain text; a
// manual check asks about a server without TLS and about a certificate that failed verification
// before anything is sent, a timed check stops with the reason.
class MailCheck : public QObject
{
    Q_OBJECT
public:
    enum class Step {
        Idle,
        Opening,
        Asking,
        ReadingAccount,
        SigningIn,
        LoggingIn,
        Scanning,
        Copying,
        Closing,
        Leaving, // closing without a login: the outcome is already decided
        Done
    };
    Q_ENUM(Step)

    // After this many header requests refused in a row the rest are not asked for: the server's
    // count is belied by its own answers.
    static constexpr int MaxRefusedInARow = 20;
    // account: the first one's server and user are read from settings at each step, as the 1.0
    // windows may change them; every other account's come with it.
    MailCheck(MailCheckWindows& windows, SettingsModel& settings, const Account& account,
              const Pop3Options& options = Pop3Options(), QObject* parent = nullptr);
    ~MailCheck() override;

    // Starts the check; finished() follows, never inside this call. manual: the user asked for it,
    // so questions may be asked and a failure is also shown in a box.
    void start(bool manual = true);
    // Ends the check at once: the session is dropped without QUIT (unless QUIT is already out),
    // an open question is closed, and finished() follows with Cancelled.
    void abort();
    // Ends a sign-in that waits for the browser at once, with nothing more sent; finished() follows
    // with Cancelled. Ignored at any other step.
    void cancelSignIn();
    bool isRunning() const { return m_step != Step::Idle && m_step != Step::Done; }
    Step step() const { return m_step; }
    const CheckOutcome& outcome() const { return m_outcome; }
    const Account& account() const { return m_account; }
    // With several accounts, texts for the user name the account and history lines carry its name.
    void setNamed(bool named) { m_named = named; }
    // The account as the keyring, the memory and the failure count know it: server and user.
    QString accountKey() const { return server() + u'\n' + user(); }

Q_SIGNALS:
    void stepChanged(MailCheck::Step step);
    void finished(const CheckOutcome& outcome);
    // A sign-in began (true) or stopped (false) to wait for the user in the browser.
    void browserSignIn(bool waiting);

private:
    QString server() const;
    QString user() const;
    QString named(const QString& text) const;
    QString historyName() const;
    void setStep(Step step);
    void openSession();
    void onOpened();
    void onConsentNeeded();
    void onSessionFailed();
    // Asks; on "yes" decide() records the answer in the trust, which is saved, then proceed() goes on.
    void askAbout(const QString& text, bool trust, std::function<void(TlsTrust&)> decide,
                  std::function<void()> proceed);
    void readPassword();
    void onAccountRead(const QString& error);
    void onOAuthAccount(const QString& error);
    void askForToken(bool renew);
    void onToken(const TokenResult& result);
    void onTokenRejected();
    void onLoggedIn(int count);
    void scan();
    void onHeaders(int number, const std::optional<MessageHeaders>& headers);
    void judge(int number, const SeenStore::Message& texts, const QByteArray& messageId);
    void requestAll(const QList<int>& numbers);
    void loadMemory();
    void settleEarlierDeletions();
    QString keepPendingDeletions();
    void afterScan();
    void closeSession();
    void onClosed();
    void endBeforeLogin(CheckOutcome::Kind kind, const QString& reason);
    void endAfterFailure();
    std::optional<MessageJudge> loadRules();
    void remove(int number);
    void remember();
    void rememberNow();
    void record(bool confirmed);
    void dropCopiesOfMailKept(const QSet<int>& gone);
    void conclude();
    void tellNothingJudged();
    void finish();

    MailCheckWindows& m_windows;
    SettingsModel& m_settings;
    Account m_account;
    bool m_named = false;
    Pop3Options m_options;        // as given
    Pop3Options m_sessionOptions; // with the trust file and what the last check found
    std::unique_ptr<Pop3Session> m_session;
    Step m_step = Step::Idle;
    CheckOutcome m_outcome;
    bool m_manual = false;
    int m_asked = 0;                  // questions about the connection answered in this check
    bool m_declined = false;          // the user said no to one
    bool m_pipeliningOffered = false; // over TLS, as the last check found the server
    bool m_offersPipelining = false;  // over TLS, as this check finds it

    GeneralSettings m_switches; // as they were when the scan began
    std::optional<MessageJudge> m_judge;
    QDateTime m_time;
    QList<JudgedMessage> m_judged;
    std::optional<MailScan> m_scan;
    std::unique_ptr<CopyBeforeDelete> m_copies;
    SeenStore::Messages m_previous; // what earlier checks read, by unique id
    bool m_previousLoaded = false;
    QList<HistoryEntry> m_pending;  // written before QUIT as unconfirmed, confirmed once QUIT is answered
    bool m_rememberPending = false; // the stream is proved: the memory is written at the next turn
    int m_judgedCount = 0;          // messages judged so far, for the progress
    int m_headersAwaited = 0;       // header requests whose answer is still to come
    int m_refusedInARow = 0;
    // OAuth 2.0: the account signs in with a token, renewed once when the server refuses it.
    OAuthTokens m_tokens;
    bool m_oauth = false;
    bool m_tokenRenewed = false;
    bool m_signInTurn = false; // asked for the browser sign-in's turn, or holds it
    QString m_password; // an account other than the first: read from the keyring or its section
    QByteArray m_accessToken;
};
