#include "oauth/RefreshTokenStore.h"

#include "platform/AtomicFile.h"
#include "settings/PasswordStore.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

namespace {

constexpr qint64 MaxFileBytes = 1024 * 1024;

QString tokenFile()
{
    return QDir(Paths::dataFolder()).filePath(QStringLiteral("oauth2.tsv"));
}

QByteArray lineKey(const QString& server, const QString& user)
{
    return (server + u'\t' + user + u'\t').toUtf8();
}

// The file's lines other than this account's, and this account's token.
QList<QByteArray> fileLines(const QString& server, const QString& user, QByteArray* token, QString* error)
{
    QFile in(tokenFile());
    if (!in.exists())
        return {};
    if (!in.open(QIODevice::ReadOnly) || in.size() > MaxFileBytes) {
        *error = QStringLiteral("「%1」を読み込めませんでした。").arg(tokenFile());
        return {};
    }
    QList<QByteArray> others;
    const QByteArray key = lineKey(server, user);
    for (const QByteArray& line : in.readAll().split('\n')) {
        if (line.startsWith(key))
            *token = line.mid(key.size()).left(RefreshTokenStore::MaxTokenBytes);
        else if (!line.isEmpty())
            others.append(line);
    }
    return others;
}

QString writeFile(const QString& server, const QString& user, const QByteArray& token)
{
    QString error;
    QByteArray old;
    QList<QByteArray> lines = fileLines(server, user, &old, &error);
    if (!error.isEmpty())
        return error;
    if (old.isEmpty() && token.isEmpty())
        return {};
    if (!token.isEmpty())
        lines.append(lineKey(server, user) + token);
    // Readable by the user only from its first byte on, and replaced in one step.
    if (const QString why =
            writeFileAtomically(tokenFile(), lines.join('\n') + '\n', QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        !why.isEmpty())
        return QStringLiteral("「%1」に保存できませんでした。%2").arg(tokenFile(), why);
    return {};
}

bool isTokenText(const QByteArray& token)
{
    return std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

} // namespace

namespace RefreshTokenStore {

void read(const QString& server, const QString& user, QObject* context, Read done)
{
    const auto fromFile = [server, user](const QString& keyringError) {
        QString error;
        QByteArray token;
        fileLines(server, user, &token, &error);
        return std::make_pair(isTokenText(token) ? token : QByteArray(), error.isEmpty() ? keyringError : error);
    };
    if (!PasswordStore::available()) {
        QMetaObject::invokeMethod(
            context,
            [fromFile, done] {
                const auto [token, error] = fromFile(QString());
                done(token, error, false);
            },
            Qt::QueuedConnection);
        return;
    }
    PasswordStore::read(
        server, user, WaitMs, context,
        [fromFile, done](const PasswordStore::Result& result) {
            const QByteArray stored = result.password.toLatin1().left(MaxTokenBytes);
            if (result.ok && !stored.isEmpty() && isTokenText(stored))
                return done(stored, QString(), false);
            const auto [token, error] = fromFile(result.error);
            done(token, token.isEmpty() ? error : QString(), result.noKeyring);
        },
        PasswordStore::Kind::RefreshToken);
}

void write(const QString& server, const QString& user, const QByteArray& token, QObject* context, Written done)
{
    const auto toFile = [server, user, token, done] {
        const QString error = writeFile(server, user, token);
        const QString notice = token.isEmpty() || !error.isEmpty()
                                   ? QString()
                                   : QStringLiteral("キーリングが使えないため、サインインの情報を「%1」に保存しました"
                                                    "（このユーザーだけが読めます）。")
                                         .arg(tokenFile());
        done(error, notice);
    };
    if (!PasswordStore::available()) {
        QMetaObject::invokeMethod(context, toFile, Qt::QueuedConnection);
        return;
    }
    const auto stored = [server, user, toFile, done](const PasswordStore::Result& result) {
        if (!result.ok)
            return toFile();
        // In the keyring now (or gone from it): no copy stays in the file.
        done(writeFile(server, user, {}), QString());
    };
    // A token forgotten leaves no entry behind, under the account's own key.
    if (token.isEmpty())
        PasswordStore::remove(server, user, WaitMs, context, stored, PasswordStore::Kind::RefreshToken);
    else
        PasswordStore::write(server, user, QString::fromLatin1(token), WaitMs, context, stored,
                             PasswordStore::Kind::RefreshToken);
}

void remove(const QString& server, const QString& user, QObject* context, std::function<void(const QString&)> done)
{
    // Both places, whatever the keyring says: a token the keyring kept is still told.
    const auto fromFile = [server, user, done](const QString& keyringError) {
        const QString error = writeFile(server, user, {});
        done(error.isEmpty() ? keyringError : error);
    };
    if (!PasswordStore::available()) {
        QMetaObject::invokeMethod(
            context, [fromFile] { fromFile(QString()); }, Qt::QueuedConnection);
        return;
    }
    PasswordStore::remove(
        server, user, WaitMs, context,
        [fromFile](const PasswordStore::Result& result) { fromFile(result.ok ? QString() : result.error); },
        PasswordStore::Kind::RefreshToken);
}

} // namespace RefreshTokenStore
