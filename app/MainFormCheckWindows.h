#pragma once

#include "mailcheck/CheckRun.h"

#include <QElapsedTimer>
#include <QPointer>

class MainForm;

// The check's view of the real windows. Nothing here waits: boxes and questions are window-modal
// and answer later.
class MainFormCheckWindows : public MailCheckWindows
{
public:
    explicit MainFormCheckWindows(MainForm& form) : m_form(form) {}

    void started() { m_started.start(); }
    void setAccountFields(const QString& userId, const QString& password) override;
    void showSettingsWindow() override;
    void showProgress(int done, int total) override;
    void startEventScene(const QString& sound) override;
    void showNotice(const QString& text1, const QString& text2) override;
    void setNoticeTip(const QString& tip) override;
    void unloadNotice() override;
    void showMessage(const QString& text, const QString& caption) override;
    QString startProgram(const QString& commandLine) override;
    void hangUp() override;
    void ask(const QString& text, bool trust, std::function<void(bool)> answered) override;
    void cancelQuestion() override;
    bool mayAnnounce(int newMail) override;
    bool failureToTell(const QString& accountKey, CheckOutcome::Kind kind) override;

private:
    MainForm& m_form;
    QElapsedTimer m_started;
    QPointer<QObject> m_question;
};
