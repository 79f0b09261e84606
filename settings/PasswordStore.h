#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QObject;

// The account's secrets in the desktop's Secret Service keyring (GNOME Keyring, KWallet,
// KeePassXC), one entry per kind of secret, host and user: the host is the server text without its
// scheme, port, case and surrounding blanks, so that rewriting "pop.example.jp" as
// "pop3s://pop.example.jp:995" keeps the password. The keyring answers asynchronously and may show
// its own unlock prompt: every call returns at once, and its callback runs once, later, with the
// keyring's answer or, when none came within waitMs, a time-out. Nothing waits.
namespace PasswordStore {

// How long a caller the user is waiting on gives the keyring: time to type its password at its
// own unlock prompt.
constexpr int PromptWaitMs = 60000;

// What an entry holds. Each kind has entries of its own for the same account.
enum class Kind { Password, RefreshToken };

// False when the desktop has no session bus, where a keyring could live.
bool available();

// The entry's name in the keyring for a kind of secret of user at the server text server.
QString entryKey(const QString& server, const QString& user, Kind kind = Kind::Password);
// Names earlier versions gave the password of user at server (the exact server text), newest
// spelling first; a read moves an entry found under one of them to entryKey.
QStringList legacyKeys(const QString& server, const QString& user);

struct Result
{
    bool ok = false;  // the keyring answered (read: an entry or none; write, remove: done)
    QString password; // read: the stored secret, empty when there is none
    QString error;    // why not ok, in Japanese
    bool timedOut = false;
    bool noKeyring = false; // the session bus has no keyring, nor can it start one
};

// What a caller tells the user when the session bus has no keyring.
inline const QString noKeyringText = QStringLiteral("セッションバスにキーリング（Secret Service）がありません。");
using Done = std::function<void(const Result& result)>;

// Stores secret for user at server. done runs on context's thread, and not at all once context is
// gone. A stored password also clears the names earlier versions used.
void write(const QString& server, const QString& user, const QString& secret, int waitMs, QObject* context, Done done,
           Kind kind = Kind::Password);
// The secret stored for user at server. Only a time-out fails: a desktop without a keyring (noKeyring
// set), or one that refuses, reads as no entry, and the account file is all there is. A password found only under
// a legacy name is written under the new one and then, once that is stored, removed from the old;
// when the write fails the old entry stays, and the password is still the answer.
void read(const QString& server, const QString& user, int waitMs, QObject* context, Done done,
          Kind kind = Kind::Password);
// Removes the secret stored for user at server (for a password, under the legacy names too). ok when
// none is left; an entry that was not there is not an error.
void remove(const QString& server, const QString& user, int waitMs, QObject* context, Done done,
            Kind kind = Kind::Password);

} // namespace PasswordStore
