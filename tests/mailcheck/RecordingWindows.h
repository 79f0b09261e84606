#pragma once

#include "MailFixtures.h"
#include "mailcheck/CheckRun.h"
#include "settings/Settings.h"

#include <QStringList>
#include <QTest>
#include <QTimer>

// Stands in for the windows during a check and writes down, in order, what the check did to them.
class RecordingWindows : public MailCheckWindows
{
public:
    struct Switches
    {
        NewMailAction action = NewMailAction::NoticeBoard;
        bool autoClose = false, hangUp = true;
        QString program = QStringLiteral("未設定");
    } switches;
    QStringList calls;
    bool answer = false; // to ask() and askToTrust()

    void setAccountFields(const QString& id, const QString& pass) override { calls << "account " + id + ' ' + pass; }
    void showSettingsWindow() override { calls << QStringLiteral("settings"); }
    void showProgress(int, int) override {}
    void startEventScene(const QString& sound) override { calls << (sound.isEmpty() ? QStringLiteral("scene") : "scene " + sound); }
    void showNotice(const QString& text1, const QString& text2) override { calls << "notice " + text1 + ' ' + text2; }
    void unloadNotice() override { calls << QStringLiteral("unload notice"); }
    void showMessage(const QString& text, const QString& title) override { calls << "message [" + title + "] " + text; }
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

// Runs one check to its end, as the main window starts it, with the windows' switches in the settings,
// and returns how it ended (NotRun when it did not end in time).
inline CheckOutcome runCheck(RecordingWindows& windows, SettingsModel& settings, bool manual = true,
                             const Pop3Options& options = checkOptions())
{
    settings.setNewMailAction(windows.switches.action);
    settings.setAutoCloseNotice(windows.switches.autoClose);
    settings.setHangUpWhenEmpty(windows.switches.hangUp);
    settings.setMailProgram(windows.switches.program);
    CheckRun job(windows, settings, options);
    CheckOutcome ended;
    QObject::connect(&job, &CheckRun::finished, [&ended](const CheckOutcome& outcome) { ended = outcome; });
    job.start(manual);
    return QTest::qWaitFor([&ended] { return ended.kind != CheckOutcome::Kind::NotRun; }, 120000) ? ended
                                                                                                  : CheckOutcome();
}
