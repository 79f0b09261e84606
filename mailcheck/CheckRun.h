#pragma once

#include "mailcheck/CheckOutcome.h"
#include "mailcheck/MailCheck.h"
#include "settings/Accounts.h"

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class SettingsModel;

// One check of every enabled account at once: each account is its own MailCheck job, with its own
// session, memory, copies and outcome, and at most MaxConnections of them are connected at a time.
// A failing account is told with its name and changes nothing for the others. The run lets one
// question and one browser sign-in reach the user at a time, and once the last job has ended it
// announces what they found, once: the picture with the sound of the first account in order that
// has news, then the notice board or the mail program. It hangs up a dial-up line when no account
// has news and at least one reached its server.
class CheckRun : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxConnections = 4;
    // How long the notice board stays when it closes by itself.
    static constexpr int NoticeAutoCloseMs = 1001;

    struct AccountOutcome
    {
        Account account;
        CheckOutcome outcome;
    };

    CheckRun(MailCheckWindows& windows, SettingsModel& settings, const Pop3Options& options = Pop3Options(),
             QObject* parent = nullptr);
    ~CheckRun() override;

    // Starts a check of every enabled account; finished() follows, never inside this call. manual:
    // the user asked, so questions may be asked and failures are shown in boxes.
    void start(bool manual = true);
    // Ends every job at once, without QUIT; finished() follows with Cancelled.
    void abort();
    // Ends the sign-in that waits for the browser; the next account's may then begin.
    void cancelSignIn();
    bool isRunning() const { return m_running; }
    // Each account's outcome, in the accounts' order, once finished.
    QList<AccountOutcome> outcomes() const;
    const CheckOutcome& total() const { return m_total; }

    // One line for the tray's tip: the account's name, then its counts or its trouble.
    static QString accountLine(const AccountOutcome& outcome);
    // Several accounts' outcomes as one: the counts added up, the troubled accounts named.
    static CheckOutcome totalOf(const QList<AccountOutcome>& outcomes);

Q_SIGNALS:
    void finished(const CheckOutcome& total);
    // A sign-in began (true) or stopped (false) to wait for the user in the browser.
    void browserSignIn(bool waiting);

private:
    class JobWindows;
    struct Slot;
    struct Question
    {
        Slot* slot;
        QString text;
        bool trust;
        std::function<void(bool)> answered;
    };

    void startNext();
    void onJobFinished(Slot& slot, const CheckOutcome& outcome);
    void ask(Question question);
    void askNext();
    void cancelQuestion(Slot& slot);
    void takeSignInTurn(Slot& slot, std::function<void()> go);
    void endSignInTurn(Slot& slot);
    void showProgress();
    void conclude();
    void announce(int newMail, const QString& sound);
    void finish();

    MailCheckWindows& m_windows;
    SettingsModel& m_settings;
    Pop3Options m_options;
    bool m_manual = false;
    bool m_running = false;
    std::vector<std::unique_ptr<Slot>> m_slots; // in the accounts' order
    size_t m_next = 0;                          // the next slot to start
    bool m_several = false;                     // accounts besides the first are set up
    QString m_loadError;
    CheckOutcome m_total;
    std::deque<Question> m_questions;
    Slot* m_asking = nullptr; // whose question is open
    int m_questionId = 0;
    Slot* m_turn = nullptr; // whose browser sign-in runs
    std::deque<std::pair<Slot*, std::function<void()>>> m_turnQueue;
    QTimer m_noticeTimer;
};
