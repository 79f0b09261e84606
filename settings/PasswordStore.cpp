#include "settings/PasswordStore.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {
const QString Service = QStringLiteral("Mossvale");

QString entryKey(const QString& server, const QString& user)
{
    return QStringLiteral("pop3://%1@%2").arg(user, server);
}

// Runs job and hands its answer to done, or a time-out at waitMs, whichever comes first; the other
// is ignored. The job deletes itself when it ends, even after a time-out left it behind.
void run(QKeychain::Job* job, int waitMs, QObject* context, PasswordStore::Done done,
         const std::function<PasswordStore::Result(PasswordStore::Result)>& adjust)
{
    struct State
    {
        bool answered = false;
        PasswordStore::Done done;
    };
    auto state = std::make_shared<State>();
    state->done = std::move(done);
    auto* timer = new QTimer(context); // goes with the answer, or with context
    timer->setSingleShot(true);
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain-text file of the library's own
    QObject::connect(job, &QKeychain::Job::finished, timer, [state, adjust, timer](QKeychain::Job* finished) {
        if (std::exchange(state->answered, true))
            return;
        timer->stop();
        timer->deleteLater();
        PasswordStore::Result result;
        const QKeychain::Error error = finished->error();
        result.ok = error == QKeychain::NoError || error == QKeychain::EntryNotFound;
        if (error == QKeychain::NoError)
            if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                result.password = reader->textData();
        if (!result.ok)
            result.error = QStringLiteral("キーリングを使えませんでした（%1）。").arg(finished->errorString());
        state->done(adjust(result));
    });
    QObject::connect(timer, &QTimer::timeout, timer, [state, waitMs, timer] {
        if (std::exchange(state->answered, true))
            return;
        timer->deleteLater();
        PasswordStore::Result result;
        result.timedOut = true;
        result.error = QStringLiteral("キーリングが%1秒以内に応答しませんでした。").arg((waitMs + 999) / 1000);
        state->done(result);
    });
    timer->start(waitMs);
    // On the next turn, so that even a keyring that answers at once never answers inside the call.
    QTimer::singleShot(0, job, [job] { job->start(); });
}

PasswordStore::Result asIs(PasswordStore::Result result)
{
    return result;
}
} // namespace

// Without a session bus address, asking would only try to start a bus of its own.
bool PasswordStore::available()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
}

void PasswordStore::write(const QString& server, const QString& user, const QString& password, int waitMs,
                          QObject* context, Done done)
{
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setKey(entryKey(server, user));
    job->setTextData(password);
    run(job, waitMs, context, std::move(done), asIs);
}

void PasswordStore::read(const QString& server, const QString& user, int waitMs, QObject* context, Done done)
{
    auto* job = new QKeychain::ReadPasswordJob(Service);
    job->setKey(entryKey(server, user));
    run(job, waitMs, context, std::move(done), [](Result result) {
        return result.ok || result.timedOut ? result : Result{true, {}, {}, false};
    });
}
