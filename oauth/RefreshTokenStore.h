#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class QObject;

// Where the OAuth 2.0 refresh token of an account is kept: like the password, in the desktop's
// keyring when it has one; else in "★MailData/oauth2.tsv", readable by its owner alone, and the
// user is told so. Calls return at once; done runs once, later, and not at all once context is gone.
// The one place that knows how the keyring names the entry.
namespace RefreshTokenStore {

// How long a check waits for the keyring.
constexpr int WaitMs = 20000;
// A token longer than this is not one a provider issued.
constexpr qsizetype MaxTokenBytes = 8192;

// keyringMissing: the session bus has no keyring, so a token kept there could not be looked for.
using Read = std::function<void(const QByteArray& token, const QString& error, bool keyringMissing)>;
using Written = std::function<void(const QString& error, const QString& notice)>;

// The stored token, empty when there is none.
void read(const QString& server, const QString& user, QObject* context, Read done);
// Stores token (empty: forgets it). notice tells where it went when that is not the keyring.
void write(const QString& server, const QString& user, const QByteArray& token, QObject* context, Written done);

// Signing out: takes the token out of the keyring and the file. error names what still holds it.
void remove(const QString& server, const QString& user, QObject* context,
            std::function<void(const QString& error)> done);

} // namespace RefreshTokenStore
