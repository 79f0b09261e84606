#pragma once

#include <QString>
#include <QStringList>

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
};

// One complete check of the mailbox: log in, delete on the server every message whose subject
// or sender holds a keyword, then announce what is left, or hang up when there was nothing.
class MailCheck
{
public:
    struct Result
    {
        int messages = 0; // M: the login's count, or 0 when the check never logged in (< 0: failed)
        int deleted = 0;  // D: deletions asked of the server
        QStringList deletedSubjects;
        int remaining() const { return messages - deleted; } // N
    };

    // The switches, the server and the mail program come from settings; the account is read
    // from the account file into it at every check.
    MailCheck(MailCheckWindows& windows, SettingsModel& settings) : m_windows(windows), m_settings(settings) {}

    Result run();

private:
    void scanMessages(Pop3Session& session, Result& result);
    void announce(int newMail);

    MailCheckWindows& m_windows;
    SettingsModel& m_settings;
};

// The first keyword found in subject, then in sender (both without surrounding ASCII spaces),
// by exact, case-sensitive search; an empty text when none matches. Empty keywords never match.
QString firstMatchingKeyword(const QStringList& keywords, const QString& subject, const QString& sender);
