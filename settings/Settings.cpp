#include "settings/Settings.h"

#include "platform/IniProfile.h"

#include "platform/NumberText.h"
#include "settings/PasswordStore.h"
#include "settings/ProgramFolder.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
QString switchText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

template <class T> void SettingsModel::setGeneral(T GeneralSettings::*field, T value, SettingKey key)
{
    if (m_general.*field == value)
        return;
    m_general.*field = std::move(value);
    Q_EMIT generalChanged(key);
}

void SettingsModel::setMailProgram(const QString& path)
{
    setGeneral(&GeneralSettings::mailProgram, path, SettingKey::MailProgram);
}

void SettingsModel::setHangUpWhenEmpty(bool on)
{
    setGeneral(&GeneralSettings::hangUpWhenEmpty, on, SettingKey::HangUp);
}

void SettingsModel::setInterval(const QString& text)
{
    setGeneral(&GeneralSettings::interval, text, SettingKey::Interval);
}

void SettingsModel::setAutoCloseNotice(bool on)
{
    setGeneral(&GeneralSettings::autoCloseNotice, on, SettingKey::AutoClose);
}

void SettingsModel::setNewMailAction(NewMailAction action)
{
    setGeneral(&GeneralSettings::newMailAction, action, SettingKey::NewMailAction);
}

bool GeneralSettings::*SettingsModel::addedField(SettingKey key)
{
    switch (key) {
    case SettingKey::KeepDeleted:
        return &GeneralSettings::keepDeleted;
    case SettingKey::TrialMode:
        return &GeneralSettings::trialMode;
    case SettingKey::AnnounceNewOnly:
        return &GeneralSettings::announceNewOnly;
    case SettingKey::ReadWholeWithoutTop:
        return &GeneralSettings::readWholeWithoutTop;
    case SettingKey::DesktopNotification:
        return &GeneralSettings::desktopNotification;
    default:
        return &GeneralSettings::looseMatch;
    }
}

void SettingsModel::setQuietHours(const QuietHours& hours)
{
    setGeneral(&GeneralSettings::quietHours, hours, SettingKey::QuietHours);
}

void SettingsModel::setAddedSwitch(SettingKey key, bool on)
{
    setGeneral(addedField(key), on, key);
}

bool SettingsModel::addedSwitch(SettingKey key) const
{
    return m_general.*addedField(key);
}

void SettingsModel::setServer(const QString& smtp, const QString& pop3, const QString& mail, qint16 useApop)
{
    AccountSettings next = m_account;
    next.SmtpServer = smtp;
    next.Pop3Server = pop3;
    next.MailAddress = mail;
    next.UseApop = useApop;
    if (next == m_account)
        return;
    m_account = next;
    Q_EMIT serverChanged();
}

void SettingsModel::setAccount(const QString& userId, const QString& password)
{
    if (m_account.UserId == userId && m_account.Password == password)
        return;
    m_account.UserId = userId;
    m_account.Password = password;
    Q_EMIT accountChanged();
}

QString SettingsModel::loadGeneral()
{
    // The one reader of the general settings file: one read for all its keys.
    const IniProfile::Document file = IniProfile::Document::load(Paths::generalSettingsFile());
    const auto number = [&file](SettingKey key) { return file.number(IniSection, keyName(key)); };
    const auto text = [&file](SettingKey key, const QString& fallback) {
        return file.text(IniSection, keyName(key), fallback);
    };
    setMailProgram(text(SettingKey::MailProgram, NotSetText));
    if (const int hangUp = number(SettingKey::HangUp); hangUp == 0 || hangUp == 1)
        setHangUpWhenEmpty(hangUp == 1);
    m_storedInterval = text(SettingKey::Interval, QString());
    setInterval(QString::number(number(SettingKey::Interval)));
    if (const int autoClose = number(SettingKey::AutoClose); autoClose == 0 || autoClose == 1)
        setAutoCloseNotice(autoClose == 1);
    const int action = number(SettingKey::NewMailAction);
    setNewMailAction(action == 1 || action == 2 ? NewMailAction(action) : NewMailAction::Neither);
    for (SettingKey key : {SettingKey::KeepDeleted, SettingKey::TrialMode, SettingKey::LooseMatch,
                           SettingKey::AnnounceNewOnly, SettingKey::DesktopNotification, SettingKey::ReadWholeWithoutTop})
        setAddedSwitch(key, file.number(AddedSection, keyName(key)) == 1);
    // Hours that are not a time (edited by hand) mean none, as the window would have refused them.
    const QString quiet = file.text(AddedSection, keyName(SettingKey::QuietHours), QString());
    setQuietHours(QuietHours::parse(quiet).value_or(QuietHours()));
    return file.error();
}

QString SettingsModel::loadServer()
{
    AccountSettings next = m_account;
    const QString error = LoadServerSettings(next);
    setServer(next.SmtpServer, next.Pop3Server, next.MailAddress, next.UseApop);
    return error;
}

AccountSettings SettingsModel::accountFile() const
{
    // The one reader of the account file.
    const IniProfile::Document file = IniProfile::Document::load(Paths::accountFile());
    AccountSettings stored;
    stored.UserId = file.text(IniSection, keyName(SettingKey::UserId), QString());
    stored.Password = file.text(IniSection, keyName(SettingKey::Password), QString());
    return stored;
}

void SettingsModel::readStoredAccount(int keyringWaitMs, QObject* context, AccountRead done) const
{
    const AccountSettings stored = accountFile();
    if (!stored.Password.isEmpty() || stored.UserId.isEmpty() || !PasswordStore::available()) {
        QMetaObject::invokeMethod(
            context, [stored, done] { done(stored, QString()); }, Qt::QueuedConnection);
        return;
    }
    PasswordStore::read(m_account.Pop3Server, stored.UserId, keyringWaitMs, context,
                        [stored, done](const PasswordStore::Result& found) {
                            AccountSettings account = stored;
                            account.Password = found.password;
                            // The password was kept in a keyring the desktop no longer has: say so, not "none set".
                            const QString missing =
                                found.noKeyring && found.password.isEmpty()
                                    ? PasswordStore::noKeyringText +
                                          QStringLiteral(
                                              "キーリングに保存したパスワードを読み出せません。"
                                              "キーリングを起動するか、「ID,PASS」でパスワードを入力してください。")
                                    : QString();
                            done(account, found.error.isEmpty() ? missing : found.error);
                        });
}

void SettingsModel::confirmAccount(const QString& userId, const QString& password)
{
    m_accountConfirmed = true;
    setAccount(userId, password);
}

void SettingsModel::loadAccount(int keyringWaitMs, QObject* context, std::function<void(const QString& error)> done)
{
    if (m_accountConfirmed) {
        QMetaObject::invokeMethod(
            context, [done] { done(QString()); }, Qt::QueuedConnection);
        return;
    }
    readStoredAccount(keyringWaitMs, context, [this, done](const AccountSettings& stored, const QString& error) {
        // The user may have confirmed an account while the keyring was asked: that one stays.
        if (!m_accountConfirmed)
            setAccount(stored.UserId, stored.Password);
        done(error);
    });
}

QString SettingsModel::writeGeneral(SettingKey key, const QString& text)
{
    const QString error = WriteIniText(Paths::generalSettingsFile(), keyName(key), text);
    if (error.isEmpty() && key == SettingKey::Interval)
        m_storedInterval = text;
    return error;
}

QString SettingsModel::saveMailProgram()
{
    return writeGeneral(SettingKey::MailProgram, m_general.mailProgram);
}

QString SettingsModel::saveSwitches()
{
    const NewMailAction action = m_general.newMailAction;
    const QString errors[] = {
        writeGeneral(SettingKey::HangUp, switchText(m_general.hangUpWhenEmpty)),
        writeGeneral(SettingKey::Interval, m_general.interval),
        writeGeneral(SettingKey::AutoClose, switchText(m_general.autoCloseNotice)),
        writeGeneral(SettingKey::NewMailAction,
                     action == NewMailAction::Neither ? QString() : QString::number(int(action))),
    };
    for (const QString& error : errors) {
        if (!error.isEmpty())
            return error; // one message is enough: the four keys share one file
    }
    return {}; // the interval stays as typed ("1.5"); only the next start reads it as a number
}

QString SettingsModel::saveAddedSwitch(SettingKey key)
{
    const QString file = Paths::generalSettingsFile();
    const QString error = IniProfile::writeText(file, AddedSection, keyName(key), switchText(addedSwitch(key)));
    return error.isEmpty() ? QString() : QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(file, error);
}

QString SettingsModel::saveQuietHours()
{
    const QString file = Paths::generalSettingsFile();
    const QString error =
        IniProfile::writeText(file, AddedSection, keyName(SettingKey::QuietHours), m_general.quietHours.text());
    return error.isEmpty() ? QString() : QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(file, error);
}

QString SettingsModel::saveInterval()
{
    // Writing what is already stored would only repeat a failure.
    if (m_storedInterval == m_general.interval)
        return {};
    return writeGeneral(SettingKey::Interval, m_general.interval);
}

QString SettingsModel::saveServer()
{
    return SaveServerSettings(m_account);
}

void SettingsModel::saveAccount(bool remember, QObject* context, AccountSaved done)
{
    const QString file = Paths::accountFile();
    const auto write = [file](SettingKey key, const QString& text) { return WriteIniText(file, keyName(key), text); };
    if (!remember) {
        const QString error = write(SettingKey::AccountSaved, QStringLiteral("0")); // a stored account stays
        QMetaObject::invokeMethod(
            context, [done, error] { done(error, QString()); }, Qt::QueuedConnection);
        return;
    }
    const AccountSettings account = m_account;
    // The file is written once the keyring has answered: the password goes to one place or the other.
    const auto writeFile = [file, write, account, done](bool inKeyring) {
        QString notice;
        if (!inKeyring && !account.Password.isEmpty())
            notice = QStringLiteral("デスクトップのキーリングが使えないため、パスワードは「%1」に保存しました"
                                    "（このユーザーだけが読めるファイルです）。")
                         .arg(QDir::toNativeSeparators(file));
        for (const auto& [key, text] : {std::pair{SettingKey::UserId, account.UserId},
                                        std::pair{SettingKey::Password, inKeyring ? QString() : account.Password},
                                        std::pair{SettingKey::AccountSaved, QStringLiteral("1")}}) {
            if (QString error = write(key, text); !error.isEmpty())
                return done(error, QString());
        }
        done(QString(), notice);
    };
    if (!PasswordStore::available()) {
        QMetaObject::invokeMethod(
            context, [writeFile] { writeFile(false); }, Qt::QueuedConnection);
        return;
    }
    // An empty password takes the stored one away: the next read of the empty "NAME2" goes to the
    // keyring, which must have nothing left to give. Until it is gone, the file stays as it was.
    if (account.Password.isEmpty()) {
        PasswordStore::remove(account.Pop3Server, account.UserId, PasswordStore::PromptWaitMs, context,
                              [writeFile, done](const PasswordStore::Result& result) {
                                  if (!result.ok)
                                      return done(
                                          QStringLiteral("キーリングに保存したパスワードを削除できませんでした。"
                                                         "\n%1")
                                              .arg(result.error),
                                          QString());
                                  writeFile(false);
                              });
        return;
    }
    PasswordStore::write(account.Pop3Server, account.UserId, account.Password, PasswordStore::PromptWaitMs, context,
                         [writeFile](const PasswordStore::Result& result) { writeFile(result.ok); });
}
