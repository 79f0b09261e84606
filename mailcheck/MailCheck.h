#pragma once

#include "mailcheck/CheckOutcome.h"
#include "mailcheck/DeletionHistory.h"
#include "mailcheck/MessageJudge.h"
#include "mailcheck/SeenStore.h"
#include "maillib/HeaderDecoder.h"
#include "maillib/Pop3Options.h"
#include "oauth/OAuthTokens.h"
#include "settings/Settings.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

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
    virtual void startEventScene() = 0;
    // Sets the notice board's two texts (creating it when needed) and shows it, modeless.
    virtual void showNotice(const QString& text1, const QString& text2) = 0;
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
};

// One complete check of the mailbox, as a job on the window thread driven by signals: connect, read
// the account, log in, delete on the server every message whose subject or sender holds a keyword
// (unless its sender is allowed), close, then announce what is left, or hang up when there was
// nothing. It never waits in a loop: each step starts something and returns, and the answer (the
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
        Announcing,
        Done
    };
    Q_ENUM(Step)

    // After this many header requests refused in a row the rest are not asked for: the server's
    // count is belied by its own answers.
    static constexpr int MaxRefusedInARow = 20;
    // How long the notice board stays when it closes by itself.
    static constexpr int NoticeAutoCloseMs = 1001;

    MailCheck(MailCheckWindows& windows, SettingsModel& settings, const Pop3Options& options = Pop3Options(),
              QObject* parent = nullptr);
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

Q_SIGNALS:
    void stepChanged(MailCheck::Step step);
    void finished(const CheckOutcome& outcome);
    // A sign-in began (true) or stopped (false) to wait for the user in the browser.
    void browserSignIn(bool waiting);

private:
    // A message judged to go in this check, and where its copy is stored.
    struct Judged
    {
        int number;
        HistoryEntry entry;
        QString subject; // as decoded from the headers judged, to compare the copy's with
        QString sender;
        QByteArray messageId;
        QString copy;
    };

    void setStep(Step step);
    void openSession();
    void onOpened();
    void onConsentNeeded();
    void onSessionFailed();
    // Asks; on "yes" decide() records the answer in the trust, which is saved, then proceed() goes on.
    void askAbout(const QString& text, bool trust, std::function<void(TlsTrust&)> decide,
                  std::function<void()> proceed);
    void onAccountRead(const QString& error);
    void onOAuthAccount(const QString& error);
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
    void onCopy(int number, const std::optional<QByteArray>& bytes);
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
    void announce(int newMail);
    void finish();

    MailCheckWindows& m_windows;
    SettingsModel& m_settings;
    Pop3Options m_options;        // as given
    Pop3Options m_sessionOptions; // with the trust file and what the last check found
    std::unique_ptr<Pop3Session> m_session;
    Step m_step = Step::Idle;
    CheckOutcome m_outcome;
    bool m_manual = false;
    int m_asked = 0;                  // questions about the connection answered in this check
    bool m_declined = false;          // the user said no to one
    bool m_quitBeforeLogin = false;   // the session is being closed without a login
    bool m_pipeliningOffered = false; // over TLS, as the last check found the server
    bool m_offersPipelining = false;  // over TLS, as this check finds it

    GeneralSettings m_switches; // as they were when the scan began
    std::optional<MessageJudge> m_judge;
    QDateTime m_time;
    QList<Judged> m_judged;
    SeenStore::Messages m_previous; // what earlier checks read, by unique id
    QString m_previousOf;           // the server and user m_previous was read for
    QList<HistoryEntry> m_pending;  // written before QUIT as unconfirmed, confirmed once QUIT is answered
    bool m_rememberPending = false; // the stream is proved: the memory is written at the next turn
    SeenStore::Messages m_seen;     // what this check read or recalled
    QSet<int> m_fresh;              // messages new since the previous check
    int m_judgedCount = 0;          // messages judged so far, for the progress
    int m_headersAwaited = 0;       // header requests whose answer is still to come
    int m_copiesAwaited = 0;
    int m_refusedInARow = 0;
    QString m_copyError;
    QTimer m_noticeTimer;
    // OAuth 2.0: the account signs in with a token, renewed once when the server refuses it.
    OAuthTokens m_tokens;
    bool m_oauth = false;
    bool m_tokenRenewed = false;
    QByteArray m_accessToken;
};
