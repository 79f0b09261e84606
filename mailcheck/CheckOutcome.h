#pragma once

#include "mailcheck/CheckTexts.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// How one mail check ended: a value the window shows, so that "could not check" never looks like
// "no mail".
struct CheckOutcome
{
    enum class Kind {
        NotRun,         // no check yet
        NotConfigured,  // no POP3 server set
        AccountMissing, // user id or password empty: the settings window was opened
        Checked,        // the mailbox was scanned and the session closed in good order
        LoginRefused,   // the server refused the account, or the login could not be made
        SignInNeeded,   // OAuth 2.0: no usable token, and a timed check never opens the browser
        NoConnection,   // the server could not be reached (name, refused, time-out)
        Insecure,       // stopped before the password for its sake: a certificate, plain text
        LocalTrouble,   // this machine's part failed: the keyring, a file of the data folder
        Broken,         // the session broke after the login: nothing was deleted
        Unconfirmed,    // QUIT went out and its answer did not come: the deletions may have been made
        Cancelled,      // the program is ending
    };

    Kind kind = Kind::NotRun;
    QDateTime finished;
    int messages = 0;          // M: the login's count (Checked only)
    int deleted = 0;           // D: deletions the server confirmed
    QList<int> deletedNumbers; // the messages deleted, and their subjects, in the same order
    QStringList deletedSubjects;
    QList<int> refusedDeletions; // messages whose deletion the server refused
    // Messages that were not on the server at the previous check and are still there; -1 when the
    // server gives no unique ids to tell.
    int fresh = -1;
    int trialMatches = 0; // trial mode: messages that would have been deleted (and were not)
    QList<int> unsaved;   // matching messages left on the server: their copy could not be stored
    QList<CopyProblem> copyProblems; // why, for each of them
    int unread = 0;       // messages whose headers could not be read: never judged, never deleted
    // The server cannot give headers alone (no TOP): messages left unjudged for want of it, and, when
    // they are read whole instead, those too large for that.
    int notJudged = 0;
    int tooLargeToJudge = 0;
    // The server asked for fewer logins ([LOGIN-DELAY]): timed checks wait the seconds its CAPA named, or
    // one interval when it named none (0); -1 when it asked nothing of the kind.
    int loginDelaySeconds = -1;
    // The newest new messages (at most NewestKept), newest first, as decoded from their headers; filled
    // only where the server gives unique ids to tell new mail by.
    struct NewMessage
    {
        QString sender;
        QString subject;
    };
    static constexpr int NewestKept = 3;
    QList<NewMessage> newest;
    QString reason;       // why it failed, or what went wrong on the way (Japanese)
    QString notice;       // something the user should know even though the check went through
    bool withToken = false; // the account signs in with an OAuth 2.0 token: no plain-text consent applies
    // Several accounts checked together: the names of those in trouble, and one line for each account.
    QStringList troubled;
    QStringList accountLines;

    int remaining() const { return kind == Kind::Checked ? messages - deleted : 0; } // N
    // Nothing came: what the hang-up after an empty check waits for. A check that could not
    // connect, was refused or broke has not learnt that nothing came.
    bool foundNothing() const
    {
        return kind == Kind::NotConfigured || kind == Kind::AccountMissing || (kind == Kind::Checked && messages == 0);
    }
    bool failed() const
    {
        return kind == Kind::LoginRefused || kind == Kind::SignInNeeded || kind == Kind::NoConnection ||
               kind == Kind::Insecure || kind == Kind::LocalTrouble || kind == Kind::Broken ||
               kind == Kind::Unconfirmed;
    }

    // What happened, in a few words, without the time.
    QString headline() const;
    // One line for the window: when, how many left (「残り」), new since the last check (「新着」) and
    // deleted, or why it failed.
    QString summary() const;
    // The whole story, for a tool tip or a message box.
    QString details() const;
};
