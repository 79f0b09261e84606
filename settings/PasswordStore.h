#pragma once

#include <QString>
#include <functional>

class QObject;

// The account password in the desktop's Secret Service keyring (GNOME Keyring, KWallet,
// KeePassXC), one entry per server and user. The keyring answers asynchronously and may show its
// own unlock prompt: every call returns at once, and its callback runs once, later, with the
// keyring's answer or, when none came within waitMs, a time-out. Nothing waits.
namespace PasswordStore {

// How long a caller the user is waiting on gives the keyring: time to type its password at its
// own unlock prompt.
constexpr int PromptWaitMs = 60000;

// False when the desktop has no session bus, where a keyring could live.
bool available();

struct Result
{
    bool ok = false;  // the keyring answered (read: an entry or none; write: stored)
    QString password; // read: the stored password, empty when there is none
    QString error;    // why not ok, in Japanese
    bool timedOut = false;
};
using Done = std::function<void(const Result& result)>;

// Stores password for user at server. done runs on context's thread, and not at all once context is
// gone.
void write(const QString& server, const QString& user, const QString& password, int waitMs, QObject* context,
           Done done);
// The password stored for user at server. Only a time-out fails: a desktop without a keyring, or
// one that refuses, reads as no entry, and the account file is all there is.
void read(const QString& server, const QString& user, int waitMs, QObject* context, Done done);

} // namespace PasswordStore
