#pragma once

#include <QFileDevice>
#include <QString>

// Every key the program stores, named once. The general settings file ("★MailData/ini.ini") and
// the account file ("★MailData/iniIdPass.ini") are INI files with the one section "EXEINI"; the
// server settings file ("tolvex.ini") is four prefixed lines.
enum class SettingKey {
    MailProgram,     // general "NAME": path of the user's mail program
    HangUp,          // general "NUMBER": hang up after a check with nothing new
    Interval,        // general "NUMBER2": minutes between timed checks, as typed
    AutoClose,       // general "NUMBER4": the notice board closes itself after a second
    NewMailAction,   // general "NUMBER5": 1 notice board, 2 mail program
    UserId,          // account "NAME"
    Password,        // account "NAME2"
    AccountSaved,    // account "NAME3": "1" when saving was ticked at the last OK
    Smtp,            // server "SMTP="
    Pop3,            // server "POP3="
    Mail,            // server "MAIL="
    Apop,            // server "APOP="
    KeepDeleted,     // general, section "Mossvale": 1 keeps a copy of each message before deleting it
    TrialMode,       // general, section "Mossvale": 1 judges without deleting
    LooseMatch,      // general, section "Mossvale": 1 compares with width, case and kana folded
    AnnounceNewOnly, // general, section "Mossvale": 1 announces only mail not there at the last check
    DesktopNotification, // general, section "Mossvale": 1 also tells news through the desktop's notifications
    QuietHours,          // general, section "Mossvale": "HH:MM-HH:MM" when nothing is announced; empty for none
    ReadWholeWithoutTop, // general, section "Mossvale": 1 judges a server without TOP on whole messages
};

// The section of the general settings file that holds what the program added in version 1.1;
// the section "EXEINI" keeps exactly the keys it always had.
inline const QString AddedSection = QStringLiteral("Mossvale");

// The key's name as stored ("NAME", "NUMBER2", "SMTP", ...).
QString keyName(SettingKey key);

// The server and account values.
struct AccountSettings
{
    QString Pop3Server; // empty: no server configured
    QString SmtpServer; // stored and edited only
    QString MailAddress;
    qint16 UseApop = 0; // non-zero: APOP login
    QString UserId;
    QString Password;

    bool operator==(const AccountSettings&) const = default;
};

// Reads "tolvex.ini": lines "SMTP=", "POP3=", "MAIL=", "APOP=" (the last of each wins, values cut
// to 100 characters). A missing file, or a missing line, leaves the fields as they were.
// A file over IniProfile::MaxFileBytes is not read: the text says so, naming the file.
QString LoadServerSettings(AccountSettings& settings);
// The one section of the INI files.
inline const QString IniSection = QStringLiteral("EXEINI");

// Rewrites "tolvex.ini" with the four lines, values exactly as they are. Empty text on success,
// else a message for the user that names the file.
QString SaveServerSettings(const AccountSettings& settings);

// The value of "APOP=" as the field holds it: the leading number rounded half to even; a value
// outside the 16-bit range counts as on.
qint16 apopValue(const QString& text);

// Section "EXEINI" of an INI file; see IniProfile for the exact rules.
QString ReadIniText(const QString& file, const QString& key, const QString& defaultText);
int ReadIniNumber(const QString& file, const QString& key);
// Empty text on success, else a message for the user that names the file. The account file is
// written for its owner alone.
QString WriteIniText(const QString& file, const QString& key, const QString& text);

// The text shown when no mail program is chosen.
inline const QString NotSetText = QStringLiteral("未設定");
