#pragma once

#include "settings/Settings.h"

#include <QTest>

// The account's keyring steps answer later; a test waits for them here, and only tests wait so.
namespace AccountSteps {

// saveAccount run to its end: the error, and the notice in *notice.
inline QString save(SettingsModel& settings, bool remember, QString* notice = nullptr)
{
    QObject context;
    bool done = false;
    QString error;
    settings.saveAccount(remember, &context, [&](const QString& e, const QString& n) {
        error = e;
        if (notice)
            *notice = n;
        done = true;
    });
    return QTest::qWaitFor([&done] { return done; }, 90000) ? error : QStringLiteral("not answered");
}

// loadAccount run to its end: the error.
inline QString load(SettingsModel& settings, int keyringWaitMs = 5000)
{
    QObject context;
    bool done = false;
    QString error;
    settings.loadAccount(keyringWaitMs, &context, [&](const QString& e) {
        error = e;
        done = true;
    });
    return QTest::qWaitFor([&done] { return done; }, keyringWaitMs + 5000) ? error : QStringLiteral("not answered");
}

} // namespace AccountSteps
