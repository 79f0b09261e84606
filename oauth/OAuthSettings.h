#pragma once

#include "settings/Accounts.h"

#include <QString>
#include <QUrl>
#include <optional>

// How the account signs in, and with which OAuth 2.0 provider: keys of section "Mossvale" of the
// general settings file. "SignIn" is "password" (also when absent) or "oauth2". The provider is
// given by "OAuthAuthorizeUrl", "OAuthTokenUrl" and "OAuthScope" when set, else chosen by the POP3
// server's host; the client id is "OAuthClientId", else the one the program was built with.
enum class SignInMethod { Password, OAuth2 };

struct OAuthProvider
{
    QUrl authorizeUrl;
    QUrl tokenUrl;
    QString scope;
    QString clientId;
};

namespace OAuthSettings {

SignInMethod signIn();
// Empty text on success, else a message for the user that names the file.
QString saveSignIn(SignInMethod method);
// The provider for pop3Server, or nothing with error saying what is missing.
std::optional<OAuthProvider> provider(const QString& pop3Server, QString* error);
// The same for an account with keys of its own.
std::optional<OAuthProvider> provider(const QString& pop3Server, const OAuthKeys& keys, QString* error);

} // namespace OAuthSettings
