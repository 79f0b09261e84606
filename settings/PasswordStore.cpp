#include "settings/PasswordStore.h"

#include "maillib/Pop3Address.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {
const QString Service = QStringLiteral("Mossvale");

// What one keyring job found: an entry (read, stored or removed), none, a refusal, or silence.
enum class Answer { Entry, NoEntry, Failed, TimedOut };
struct Reply
{
    Answer answer = Answer::NoEntry;
    QString secret;
    QString error;
};
using Step = std::function<void(const Reply& reply)>;

// The bound of one call, shared by every keyring job it takes.
struct Budget
{
    explicit Budget(int waitMs) : waitMs(waitMs), deadline(waitMs) {}
    int left() const { return int(qMax<qint64>(0, deadline.remainingTime())); }
    QString timeOut() const
    {
        return QStringLiteral("キーリングが%1秒以内に応答しませんでした。").arg((waitMs + 999) / 1000);
    }

    int waitMs;
    QDeadlineTimer deadline;
};

// Runs job and hands its answer to step, or a time-out when the budget runs out, whichever comes
// first; the other is ignored. The job deletes itself when it ends, even after a time-out left it
// behind. Nothing runs once context is gone.
void run(QKeychain::Job* job, const Budget& budget, QObject* context, Step step)
{
    auto answered = std::make_shared<bool>(false);
    auto* timer = new QTimer(context); // goes with the answer, or with context
    timer->setSingleShot(true);
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // never a plain-text file of the library's own
    QObject::connect(job, &QKeychain::Job::finished, timer, [answered, step, timer](QKeychain::Job* finished) {
        if (std::exchange(*answered, true))
            return;
        timer->stop();
        timer->deleteLater();
        Reply reply;
        if (finished->error() == QKeychain::NoError) {
            reply.answer = Answer::Entry;
            if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                reply.secret = reader->textData();
        } else if (finished->error() != QKeychain::EntryNotFound) {
            reply.answer = Answer::Failed;
            reply.error = QStringLiteral("キーリングを使えませんでした（%1）。").arg(finished->errorString());
        }
        step(reply);
    });
    QObject::connect(timer, &QTimer::timeout, timer, [answered, step, timer, text = budget.timeOut()] {
        if (std::exchange(*answered, true))
            return;
        timer->deleteLater();
        step(Reply{Answer::TimedOut, {}, text});
    });
    timer->start(budget.left());
    // On the next turn, so that even a keyring that answers at once never answers inside the call.
    QTimer::singleShot(0, job, [job] { job->start(); });
}

void readKey(const QString& key, const Budget& budget, QObject* context, Step step)
{
    auto* job = new QKeychain::ReadPasswordJob(Service);
    job->setKey(key);
    run(job, budget, context, std::move(step));
}

void writeKey(const QString& key, const QString& secret, const Budget& budget, QObject* context, Step step)
{
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setKey(key);
    job->setTextData(secret);
    run(job, budget, context, std::move(step));
}

// Removes keys one after the other: step gets the first failure, or NoEntry once none is left. A
// refused removal counts as one only when the entry can still be read: a keyring that cannot be
// reached holds nothing the program would ever get back.
void removeKeys(QStringList keys, const Budget& budget, QObject* context, Step step)
{
    if (keys.isEmpty())
        return step(Reply{});
    const QString key = keys.takeFirst();
    auto* job = new QKeychain::DeletePasswordJob(Service);
    job->setKey(key);
    run(job, budget, context, [key, keys, budget, context, step](const Reply& removed) {
        if (removed.answer == Answer::TimedOut)
            return step(removed);
        if (removed.answer != Answer::Failed)
            return removeKeys(keys, budget, context, step);
        readKey(key, budget, context, [removed, keys, budget, context, step](const Reply& left) {
            if (left.answer == Answer::Entry || left.answer == Answer::TimedOut)
                return step(left.answer == Answer::Entry ? removed : left);
            removeKeys(keys, budget, context, step);
        });
    });
}

// Whether a keyring owns its name on the session bus, or the bus can start one. Asked first, so that a
// desktop without one is told so at once, rather than after libsecret's own long wait.
void findKeyring(const Budget& budget, QObject* context, std::function<void(bool found)> found)
{
    static const QStringList names = {QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd5"),
                                      QStringLiteral("org.kde.kwalletd6")};
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(
            context, [found] { found(false); }, Qt::QueuedConnection);
        return;
    }
    const auto ask = [bus, budget](const QString& method) {
        const auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"), method);
        return QDBusPendingReply<QStringList>(bus.asyncCall(message, qMax(1, budget.left())));
    };
    auto* owned = new QDBusPendingCallWatcher(ask(QStringLiteral("ListNames")), context);
    QObject::connect(owned, &QDBusPendingCallWatcher::finished, context, [=](QDBusPendingCallWatcher* call) mutable {
        call->deleteLater();
        const auto any = [](const QStringList& listed) {
            return std::any_of(names.begin(), names.end(), [&listed](const QString& n) { return listed.contains(n); });
        };
        if (any(QDBusPendingReply<QStringList>(*call).value()))
            return found(true);
        auto* startable = new QDBusPendingCallWatcher(ask(QStringLiteral("ListActivatableNames")), context);
        QObject::connect(startable, &QDBusPendingCallWatcher::finished, context, [=](QDBusPendingCallWatcher* next) {
            next->deleteLater();
            found(any(QDBusPendingReply<QStringList>(*next).value()));
        });
    });
}

PasswordStore::Result noKeyring(bool ok)
{
    return {ok, {}, ok ? QString() : PasswordStore::noKeyringText, false, true};
}

PasswordStore::Result failure(const Reply& reply)
{
    return {false, {}, reply.error, reply.answer == Answer::TimedOut};
}

// A keyring that refuses, or is not there, reads as no entry; only silence is an error.
PasswordStore::Result readResult(const Reply& reply)
{
    return reply.answer == Answer::TimedOut ? failure(reply) : PasswordStore::Result{true, reply.secret, {}, false};
}

// Looks for the password under the legacy names in turn; the first one found is written under key,
// and only once it is stored there is the old entry removed. done gets the password either way.
void moveLegacy(const QString& key, QStringList legacy, const Budget& budget, QObject* context,
                PasswordStore::Done done)
{
    const QString old = legacy.takeFirst();
    readKey(old, budget, context, [=](const Reply& found) {
        if (found.answer == Answer::NoEntry && !legacy.isEmpty())
            return moveLegacy(key, legacy, budget, context, done);
        if (found.answer != Answer::Entry)
            return done(readResult(found));
        writeKey(key, found.secret, budget, context, [=](const Reply& written) {
            if (written.answer != Answer::Entry)
                return done(readResult(found));
            removeKeys({old}, budget, context, [done, found](const Reply&) { done(readResult(found)); });
        });
    });
}

QString kindName(PasswordStore::Kind kind)
{
    return kind == PasswordStore::Kind::RefreshToken ? QStringLiteral("refresh-token") : QStringLiteral("password");
}
} // namespace

// Without a session bus address, asking would only try to start a bus of its own.
bool PasswordStore::available()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
}

QString PasswordStore::entryKey(const QString& server, const QString& user, Kind kind)
{
    const Pop3Address address = Pop3Address::parse(server);
    // A text that names no server still gets an entry of its own, as typed.
    const QString host = address.valid ? address.host : server.trimmed();
    return QStringLiteral("%1/%2@%3").arg(kindName(kind), user, host.toLower());
}

QStringList PasswordStore::legacyKeys(const QString& server, const QString& user)
{
    // Version 1.1 named the entry after the exact server text; before an edit that was most often
    // the bare host name.
    QStringList keys{QStringLiteral("pop3://%1@%2").arg(user, server)};
    const Pop3Address address = Pop3Address::parse(server);
    if (address.valid && address.host != server)
        keys << QStringLiteral("pop3://%1@%2").arg(user, address.host);
    return keys;
}

void PasswordStore::write(const QString& server, const QString& user, const QString& secret, int waitMs,
                          QObject* context, Done done, Kind kind)
{
    const Budget budget(waitMs);
    const QStringList legacy = kind == Kind::Password ? legacyKeys(server, user) : QStringList();
    findKeyring(budget, context, [=](bool found) {
        if (!found)
            return done(noKeyring(false));
        writeKey(entryKey(server, user, kind), secret, budget, context, [=](const Reply& written) {
            if (written.answer != Answer::Entry)
                return done(failure(written));
            // An old copy under a legacy name would outlive every later change of the password.
            removeKeys(legacy, budget, context, [done](const Reply&) { done(Result{true, {}, {}, false}); });
        });
    });
}

void PasswordStore::read(const QString& server, const QString& user, int waitMs, QObject* context, Done done, Kind kind)
{
    const Budget budget(waitMs);
    const QString key = entryKey(server, user, kind);
    const QStringList legacy = kind == Kind::Password ? legacyKeys(server, user) : QStringList();
    findKeyring(budget, context, [=](bool found) {
        if (!found)
            return done(noKeyring(true));
        readKey(key, budget, context, [=](const Reply& reply) {
            if (reply.answer == Answer::NoEntry && !legacy.isEmpty())
                return moveLegacy(key, legacy, budget, context, done);
            done(readResult(reply));
        });
    });
}

void PasswordStore::remove(const QString& server, const QString& user, int waitMs, QObject* context, Done done,
                           Kind kind)
{
    QStringList keys{entryKey(server, user, kind)};
    if (kind == Kind::Password)
        keys += legacyKeys(server, user); // or the next read would bring the old password back
    const Budget budget(waitMs);
    findKeyring(budget, context, [=](bool found) {
        if (!found) // no keyring holds anything the program would ever get back
            return done(noKeyring(true));
        removeKeys(keys, budget, context, [done](const Reply& reply) {
            done(reply.answer == Answer::NoEntry ? Result{true, {}, {}, false} : failure(reply));
        });
    });
}
