#pragma once

#include "settings/PasswordStore.h"
#include "settings/QuietHours.h"
#include "settings/SettingsFiles.h"

#include <QObject>
#include <QString>
#include <functional>

// What a check does when it finds new mail ("NUMBER5").
enum class NewMailAction { Neither = 0, NoticeBoard = 1, MailProgram = 2 };

// The values of the general settings file.
struct GeneralSettings
{
    QString mailProgram = NotSetText;       // "NAME": a path, or NotSetText
    bool hangUpWhenEmpty = false;           // "NUMBER"
    QString interval = QStringLiteral("0"); // "NUMBER2": minutes as typed; at most 0 means no timed checks
    bool autoCloseNotice = false;           // "NUMBER4"
    NewMailAction newMailAction = NewMailAction::Neither; // "NUMBER5"
    bool keepDeleted = false;                             // "KeepDeleted": a copy of each message before it is deleted
    bool trialMode = false;                               // "TrialMode": judge and record, delete nothing
    bool looseMatch = false;                              // "LooseMatch": width, case and kana folded on both sides
    bool announceNewOnly = false; // "AnnounceNewOnly": announce only mail that was not there at the last check
    bool desktopNotification = false; // "DesktopNotification": news also as a desktop notification
    QuietHours quietHours;            // "QuietHours": when nothing is announced
    bool readWholeWithoutTop = false; // "ReadWholeWithoutTop": a server without TOP is judged through RETR

    bool operator==(const GeneralSettings&) const = default;
};

// The program's live settings: the general switches, the server and the account. The main window
// owns the one instance and lends it to the windows that edit it; the mail check reads it.
// Setters take effect at once and signal a change; the files are written only by the save
// functions, at the moments each window chooses. Every save returns an empty text on success,
// else a message for the user that names the file; the values in memory stay as they are.
class SettingsModel : public QObject
{
    Q_OBJECT
public:
    explicit SettingsModel(QObject* parent = nullptr) : QObject(parent) {}

    const GeneralSettings& general() const { return m_general; }
    // The server values and the account in use (UserId, Password).
    const AccountSettings& account() const { return m_account; }

    void setMailProgram(const QString& path);
    void setHangUpWhenEmpty(bool on);
    void setInterval(const QString& text);
    void setAutoCloseNotice(bool on);
    void setNewMailAction(NewMailAction action);
    void setQuietHours(const QuietHours& hours);
    // KeepDeleted, TrialMode, LooseMatch, AnnounceNewOnly or DesktopNotification.
    void setAddedSwitch(SettingKey key, bool on);
    bool addedSwitch(SettingKey key) const;
    void setServer(const QString& smtp, const QString& pop3, const QString& mail, qint16 useApop);
    void setAccount(const QString& userId, const QString& password);

    // Reads the five keys of the general settings file, and the switches of section "Mossvale"
    // (1 is on, anything else off). A key that is missing keeps its value,
    // except the interval, which reads as its leading whole number; "NUMBER" and "NUMBER4" other
    // than 0 or 1, and "NUMBER5" other than 1 or 2, leave (or select neither) as stored.
    // Empty text, or why the file could not be read (its values then stay as they were).
    QString loadGeneral();
    // Reads the server settings file (see LoadServerSettings).
    QString loadServer();
    // The account file's "NAME" and "NAME2" in UserId and Password (empty when absent), read
    // afresh; the other fields are empty.
    AccountSettings accountFile() const;
    using AccountRead = std::function<void(const AccountSettings& account, const QString& error)>;
    // The stored account: the account file, and when "NAME2" is empty the password from the keyring
    // entry of the server's host and user, waiting at most keyringWaitMs. done runs once, later (never
    // inside this call), and not at all once context is gone; error says why a keyring that did not
    // answer gave none.
    void readStoredAccount(int keyringWaitMs, QObject* context, AccountRead done) const;
    // Puts the stored account in use, as every check does before it logs in, unless the user
    // confirmed one in this run: that one stays in use, saved or not. done gets an empty text on
    // success, else why the password could not be read.
    void loadAccount(int keyringWaitMs, QObject* context, std::function<void(const QString& error)> done);
    // The account the user confirmed: in use at once and for every later check of the run.
    void confirmAccount(const QString& userId, const QString& password);
    bool accountConfirmed() const { return m_accountConfirmed; }

    // "NAME" of the general settings file.
    QString saveMailProgram();
    // "NUMBER", "NUMBER2", "NUMBER4", "NUMBER5", in this order ("NUMBER5" empty for neither). The
    // interval is stored and kept as typed.
    QString saveSwitches();
    // One of those alone, in section "Mossvale".
    QString saveAddedSwitch(SettingKey key);
    // "QuietHours" of section "Mossvale", in its stored form.
    QString saveQuietHours();
    // "NUMBER2" alone, unless the file already holds that text.
    QString saveInterval();
    // The whole server settings file.
    QString saveServer();
    // Remembered: "NAME", "NAME2", "NAME3" = "1"; else "NAME3" = "0" alone, keeping a stored account.
    // A remembered password goes to the desktop's keyring when it takes it, and "NAME2" is left
    // empty; otherwise it goes to the file as it always has, and notice tells the user where it is
    // kept. A remembered empty password removes the keyring's entry first; when that fails, the error
    // says so and the file is left alone. done runs once, later, with the error (empty on success)
    // and the notice.
    using AccountSaved = std::function<void(const QString& error, const QString& notice)>;
    void saveAccount(bool remember, QObject* context, AccountSaved done);

Q_SIGNALS:
    void generalChanged(SettingKey key);
    void serverChanged();
    void accountChanged();

private:
    template <class T> void setGeneral(T GeneralSettings::*field, T value, SettingKey key);
    QString writeGeneral(SettingKey key, const QString& text);
    static bool GeneralSettings::*addedField(SettingKey key);

    GeneralSettings m_general;
    AccountSettings m_account;
    bool m_accountConfirmed = false;
    QString m_storedInterval; // "NUMBER2" as the file holds it, so that a repeat write is skipped
};
