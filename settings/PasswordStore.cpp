#include "settings/PasswordStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {
const QString Service = QStringLiteral("Mossvale");

QString entryKey(const QString& server, const QString& user)
{
    return QStringLiteral("pop3://%1@%2").arg(user, server);
}

// Runs job to its end or to the deadline. The job deletes itself when it ends, even after a
// deadline that left it behind; what it reports goes to state, which outlives this call.
PasswordStore::Result run(QKeychain::Job* job, int waitMs)
{
    struct State
    {
        bool done = false;
        PasswordStore::Result result;
    };
    auto state = std::make_shared<State>();
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain-text file of the library's own
    QObject::connect(job, &QKeychain::Job::finished, job, [state](QKeychain::Job* finished) {
        state->done = true;
        const QKeychain::Error error = finished->error();
        state->result.ok = error == QKeychain::NoError || error == QKeychain::EntryNotFound;
        if (error == QKeychain::NoError)
            if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                state->result.password = reader->textData();
        if (!state->result.ok)
            state->result.error = QStringLiteral("キーリングを使えませんでした（%1）。").arg(finished->errorString());
    });
    job->start();
    const QDeadlineTimer deadline(waitMs);
    QTimer wake; // bounds each sleep, so the deadline is seen as it passes
    while (!state->done && !deadline.hasExpired()) {
        wake.start(int(std::clamp<qint64>(deadline.remainingTime(), 1, 200)));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
    state->result.timedOut = !state->done;
    if (!state->done)
        state->result.error = QStringLiteral("キーリングが%1秒以内に応答しませんでした。").arg((waitMs + 999) / 1000);
    return state->result;
}
} // namespace

// Without a session bus address, asking would only try to start a bus of its own.
bool PasswordStore::available()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
}

PasswordStore::Result PasswordStore::write(const QString& server, const QString& user, const QString& password,
                                           int waitMs)
{
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setKey(entryKey(server, user));
    job->setTextData(password);
    return run(job, waitMs);
}

PasswordStore::Result PasswordStore::read(const QString& server, const QString& user, int waitMs)
{
    auto* job = new QKeychain::ReadPasswordJob(Service);
    job->setKey(entryKey(server, user));
    const Result result = run(job, waitMs);
    return result.ok || result.timedOut ? result : Result{true, {}, {}, false};
}
