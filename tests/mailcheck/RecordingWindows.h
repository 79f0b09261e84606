#pragma once

#include "mailcheck/MailCheck.h"
#include "settings/Settings.h"

#include <QStringList>
#include <QTest>
#include <QTimer>
#include <optional>

// Stands in for the windows during a check and writes down, in order, what the check did to them.
// The switches are put into the settings the check reads.
class RecordingWindows : public MailCheckWindows
{
public:
    bool noticeBoard = false;
    bool mailProgram = false;
    bool autoClose = false;
    bool hangUpSwitch = false;
    QString programPath = QStringLiteral("未設定");
    QStringList calls;
    bool answer = false; // to ask() and askToTrust()
    std::pair<int, int> lastProgress;

    void applySwitches(SettingsModel& settings) const
    {
        settings.setNewMailAction(noticeBoard   ? NewMailAction::NoticeBoard
                                  : mailProgram ? NewMailAction::MailProgram
                                                : NewMailAction::Neither);
        settings.setAutoCloseNotice(autoClose);
        settings.setHangUpWhenEmpty(hangUpSwitch);
        settings.setMailProgram(programPath);
    }
    void setAccountFields(const QString& userId, const QString& password) override
    {
        calls << QStringLiteral("account %1 %2").arg(userId, password);
    }
    void showSettingsWindow() override { calls << QStringLiteral("settings"); }
    void showProgress(int done, int total) override { lastProgress = {done, total}; }
    void startEventScene() override { calls << QStringLiteral("scene"); }
    void showNotice(const QString& text1, const QString& text2) override
    {
        calls << QStringLiteral("notice %1 %2").arg(text1, text2);
    }
    void unloadNotice() override { calls << QStringLiteral("unload notice"); }
    void showMessage(const QString& text, const QString& caption) override
    {
        calls << QStringLiteral("message [%1] %2").arg(caption, text);
    }
    QString startProgram(const QString& commandLine) override
    {
        calls << QStringLiteral("start [%1]").arg(commandLine);
        return {};
    }
    void hangUp() override { calls << QStringLiteral("hang up"); }
    void ask(const QString& text, bool trust, std::function<void(bool)> answered) override
    {
        calls << (trust ? QStringLiteral("ask trust? ") : QStringLiteral("ask ")) + text;
        // Answered later, as a person would.
        QTimer::singleShot(0, &m_context, [this, answered] { answered(answer); });
    }
    void cancelQuestion() override { calls << QStringLiteral("question cancelled"); }

private:
    QObject m_context; // a question still open goes with the windows
};

// Runs one check to its end, as the main window starts it, and returns how it ended.
inline CheckOutcome runCheck(RecordingWindows& windows, SettingsModel& settings, bool manual = true,
                             const Pop3Options& options = Pop3Options())
{
    MailCheck job(windows, settings, options);
    std::optional<CheckOutcome> ended;
    QObject::connect(&job, &MailCheck::finished, [&ended](const CheckOutcome& outcome) { ended = outcome; });
    job.start(manual);
    if (!QTest::qWaitFor([&ended] { return ended.has_value(); }, 120000))
        return CheckOutcome();
    return ended.value_or(CheckOutcome());
}
