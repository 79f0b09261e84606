#pragma once

#include <QFileDevice>
#include <QString>

// The server and account values every window shares. One instance for the whole run.
struct AccountSettings
{
    QString Pop3Server; // empty: no server configured
    QString SmtpServer; // stored and edited only
    QString MailAddress;
    qint16 UseApop = 0; // non-zero: APOP login
    QString UserId;
    QString Password;
};

AccountSettings& accountSettings();

// Reads "tolvex.ini": lines "SMTP=", "POP3=", "MAIL=", "APOP=" (the last of each wins, values cut
// to 100 characters). A missing file, or a missing line, leaves the fields as they were.
void LoadServerSettings(AccountSettings& settings = accountSettings());

// Rewrites "tolvex.ini" with the four lines, values exactly as they are. Empty text on success,
// else a message for the user that names the file.
QString SaveServerSettings(const AccountSettings& settings = accountSettings());

// The value of "APOP=" as the field holds it: the leading number rounded half to even; a value
// outside the 16-bit range counts as on.
qint16 apopValue(const QString& text);

// Section "EXEINI" of an INI file; see IniProfile for the exact rules.
QString ReadIniText(const QString& file, const QString& key, const QString& defaultText);
int ReadIniNumber(const QString& file, const QString& key);
// Empty text on success, else a message for the user that names the file.
QString WriteIniText(const QString& file, const QString& key, const QString& text);

// The text shown when no mail program is chosen.
inline const QString NotSetText = QStringLiteral("未設定");
