#pragma once

#include "mailcheck/MailCheck.h"

// The check's windows, silent: a benchmark measures the check, not the windows.
class NoWindows : public MailCheckWindows
{
public:
    void setAccountFields(const QString&, const QString&) override {}
    void showSettingsWindow() override {}
    void showProgress(int, int) override {}
    void startEventScene(const QString&) override {}
    void showNotice(const QString&, const QString&) override {}
    void unloadNotice() override {}
    void showMessage(const QString&, const QString&) override {}
    QString startProgram(const QString&) override { return {}; }
    void hangUp() override {}
    void ask(const QString&, bool, std::function<void(bool)> answered) override { answered(false); }
    void cancelQuestion() override {}
};
