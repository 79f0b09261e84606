#pragma once

#include "settings/Settings.h"

#include <QTest>
#include <optional>

// The account's keyring steps answer later; a test waits for them here, and only tests wait so.
namespace AccountSteps {

// Runs step (given a context and the callback for the error) until it answers within limitMs.
template <class Step> QString run(int limitMs, Step step)
{
    QObject context;
    std::optional<QString> error;
    step(&context, [&error](const QString& e) { error = e; });
    return QTest::qWaitFor([&error] { return error.has_value(); }, limitMs) ? *error : QStringLiteral("not answered");
}

// saveAccount run to its end: the error, and the notice in *notice.
inline QString save(SettingsModel& settings, bool remember, QString* notice = nullptr)
{
    return run(90000, [&](QObject* context, auto done) {
        settings.saveAccount(remember, context, [=](const QString& e, const QString& n) {
            if (notice)
                *notice = n;
            done(e);
        });
    });
}

// loadAccount run to its end: the error.
inline QString load(SettingsModel& settings, int keyringWaitMs = 5000)
{
    return run(keyringWaitMs + 5000,
               [&](QObject* context, auto done) { settings.loadAccount(keyringWaitMs, context, done); });
}

} // namespace AccountSteps
