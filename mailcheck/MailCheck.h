#pragma once

#include "mailcheck/CheckOutcome.h"
#include "mailcheck/DeletionHistory.h"
#include "mailcheck/MessageJudge.h"
#include "mailcheck/SeenStore.h"
#include "maillib/Pop3Options.h"
#include "settings/Settings.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class Pop3Session;
class SettingsModel;

// What one mail check needs from the windows, kept narrow so that the check runs without them
// in tests. The main window implements it with its real windows.
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
    // Waits, handling events meanwhile (the notice board's one second).
    virtual void waitMilliseconds(int ms) = 0;
    virtual void showMessage(const QString& text, const QString& caption) = 0;
    // Starts a program without waiting; empty text on success, else the message for the user.
    virtual QString startProgram(const QString& commandLine) = 0;
    virtual void hangUp() = 0;
    // A yes/no question; true for "はい".
    virtual bool ask(const QString& text) = 0;
    // Offers to trust a certificate that failed verification, described in text; true when the
    // user chose to trust it.
    virtual bool askToTrust(const QString& text) = 0;
};

// One complete check of the mailbox: log in, delete on the server every message whose subject
// or sender holds a keyword (unless its sender is allowed), then announce what is left, or hang up
// when there was nothing. Each deletion the server confirmed is written to the deletion history;
// with KeepDeleted a message is deleted only once its whole copy is stored; in trial mode nothing
// is deleted and each match is written to the history as a trial.
// Every way it can end is a CheckOutcome; a check that could not connect, or broke, never looks
// like an empty mailbox: it announces nothing and never hangs up. The password is sent only over
// TLS, to this machine, or where the user allowed plain text; a manual check asks about a server
// without TLS and about a certificate that failed verification before anything is sent, a timed
// check stops with the reason. The decisions are kept in the data folder (TlsTrust).
class MailCheck
{
public:
    // After this many header requests refused in a row the server is taken to have no more
    // messages than it showed, whatever its count said.
    static constexpr int MaxRefusedInARow = 20;

    // The switches, the server and the mail program come from settings; the account is read
    // from the account file into it at every check. options: how the session connects and how
    // long it may wait.
    MailCheck(MailCheckWindows& windows, SettingsModel& settings, const Pop3Options& options = Pop3Options())
        : m_windows(windows), m_settings(settings), m_options(options)
    {}

    // manual: the user asked for this check, so a failure to check is also shown in a box.
    CheckOutcome run(bool manual = true);

private:
    void checkMailbox(CheckOutcome& outcome, bool manual);
    std::unique_ptr<Pop3Session> openSession(CheckOutcome& outcome, bool manual);
    bool settleRefusal(const Pop3Session& session, TlsTrust& trust);
    void scanMessages(Pop3Session& session, CheckOutcome& outcome);
    QSet<int> recall(const Pop3Session& session);
    std::optional<SeenStore::Message> textsOf(Pop3Session& session, int number, bool known);
    void remember(const Pop3Session& session, CheckOutcome& outcome);
    void finish(Pop3Session& session, CheckOutcome& outcome);
    std::optional<MessageJudge> loadRules(CheckOutcome& outcome) const;
    void keepAndRemove(Pop3Session& session, CheckOutcome& outcome);
    void remove(Pop3Session& session, int number, const QString& subject, CheckOutcome& outcome);
    void record(CheckOutcome& outcome);
    void dropCopies();
    void announce(int newMail);

    MailCheckWindows& m_windows;
    SettingsModel& m_settings;
    Pop3Options m_options;

    // A message judged to go in this check, and whether its copy is stored.
    struct Judged
    {
        int number;
        HistoryEntry entry;
        bool saved = false;
    };
    QList<Judged> m_judged;
    SeenStore::Messages m_previous;   // what earlier checks read, by unique id
    SeenStore::Messages m_seen;       // what this check read or recalled
    QSet<int> m_fresh;                // messages whose id the previous check did not see
    GeneralSettings m_switches;       // as they were when the check began
    bool m_declined = false;          // the user said no to a question about the connection
    bool m_pipeliningOffered = false; // over TLS, as the last check found the server
    bool m_offersPipelining = false;  // over TLS, as this check finds it
};

// The first keyword found in subject, then in sender (both without surrounding ASCII spaces),
// by exact, case-sensitive search; an empty text when none matches. Empty keywords never match.
QString firstMatchingKeyword(const QStringList& keywords, const QString& subject, const QString& sender);
