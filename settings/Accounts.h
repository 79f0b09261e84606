#pragma once

#include "settings/SettingsFiles.h"

#include <QList>
#include <QString>

// How an account logs in: "SignIn=" of its section.
enum class AccountSignIn { Password, Apop, OAuth2 };

// The OAuth 2.0 provider keys an account may set for itself; empty ones are chosen by the server's
// host, as for the first account.
struct OAuthKeys
{
    QString clientId;     // "OAuthClientId="
    QString authorizeUrl; // "OAuthAuthorizeUrl="
    QString tokenUrl;     // "OAuthTokenUrl="
    QString scope;        // "OAuthScope="
    bool operator==(const OAuthKeys&) const = default;
};

// One mailbox the program watches. The first (id 1) is the one 1.0 keeps: its server in "tolvex.ini",
// its user in "iniIdPass.ini", its sign-in in section "Mossvale", and the rest there as
// "Account1Name=" and so on. Every further one is a section "[Account<id>]" of "★MailData/accounts.ini".
// The id is given once and never reused: it names the account's own files.
struct Account
{
    int id = 0; // 0: not stored yet, an id is given when it is
    QString name;   // "Name=": shown to the user; unique among the accounts
    QString server; // "Server=": host, host:port or pop3s://host[:port]
    QString user;   // "User="
    AccountSignIn signIn = AccountSignIn::Password;
    OAuthKeys oauth;
    bool enabled = true;  // "Enabled="
    int order = 0;        // "Order=": its place in the list
    bool mute = false;    // "Mute=1": checked and cleaned, not announced
    bool noDelete = false; // "NoDelete=1": judged and told, nothing deleted
    QString sound;        // "Sound=": its own sound file; empty for the usual one
    // "Password=": only where no keyring took it and the user chose to keep it in the file; the first
    // account keeps its password in "iniIdPass.ini" as it always has.
    QString password;

    bool isFirst() const { return id == 1; }
    // The name, or for an account without one a name made of its id.
    QString displayName() const;
    // Where the account's own data goes: "seen.tsv" and "Deleted" for the first, "seen-<id>.tsv" and
    // "Deleted/<id>" for every other.
    QString seenFile() const;
    QString copiesFolder() const;
    bool operator==(const Account&) const = default;
};

namespace Accounts {
// The first account and at most 15 more; a 17th is refused.
inline constexpr int MaxAccounts = 16;
inline constexpr int FirstId = 1;

// "★MailData/accounts.ini".
QString file();
// Every account, the first included, in their order (by "Order=", then by id). first gives the
// first account's server, user and APOP switch as the 1.0 files hold them; its sign-in and the
// rest are read from section "Mossvale". A section past the 15th or with a damaged id is left out,
// a name already taken is shown with the id after it, and *error (when given) says what, naming the
// file; a missing file is no error. An account without a server is listed (the user is setting it
// up); the check passes it by.
QList<Account> load(const AccountSettings& first, QString* error = nullptr);
// Stores the accounts: the first's "Account1…" keys in section "Mossvale" (its server and user go
// through the 1.0 windows, never here), every other one as a section of accounts.ini, written
// whole, atomically and owner-only. An account with id 0 gets the next id never given before.
// More than MaxAccounts, or two with one name, is refused with the reason and nothing written.
// Empty text on success, else the reason for the user, naming the file.
QString save(QList<Account>& accounts);
} // namespace Accounts
