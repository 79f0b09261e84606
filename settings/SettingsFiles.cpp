#include "settings/SettingsFiles.h"

#include "platform/AtomicFile.h"
#include "platform/Cp932Codec.h"
#include "platform/IniProfile.h"
#include "platform/NumberText.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <iterator>

namespace {
constexpr int MaxServerValueLength = 100;

QString failedWriteMessage(const QString& file, const QString& reason)
{
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(QDir::toNativeSeparators(file), reason);
}

// The account file holds a password: only its owner may read it.
QFileDevice::Permissions permissionsFor(const QString& file)
{
    if (QFileInfo(file) == QFileInfo(Paths::accountFile()))
        return QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    return {};
}

// A line of the server settings file starts with the key and "=".
QString prefixOf(SettingKey key)
{
    return keyName(key) + u'=';
}
} // namespace

QString keyName(SettingKey key)
{
    static const char* const Names[] = {"NAME",        "NUMBER",    "NUMBER2",    "NUMBER4",        "NUMBER5", "NAME",
                                        "NAME2",       "NAME3",     "SMTP",       "POP3",           "MAIL",    "APOP",
                                        "KeepDeleted", "TrialMode", "LooseMatch", "AnnounceNewOnly",
                                        "DesktopNotification", "QuietHours", "ReadWholeWithoutTop"};
    static_assert(std::size(Names) == size_t(SettingKey::ReadWholeWithoutTop) + 1);
    return QString::fromLatin1(Names[int(key)]);
}

qint16 apopValue(const QString& text)
{
    const double value = roundHalfEven(leadingNumber(text));
    if (value < -32768.0 || value > 32767.0)
        return 1;
    return qint16(value);
}

QString LoadServerSettings(AccountSettings& settings)
{
    const QString file = Paths::serverSettingsFile();
    if (QFileInfo(file).size() > IniProfile::MaxFileBytes)
        return QStringLiteral("設定ファイル「%1」が大きすぎるため（1 MB 超）、読み込みませんでした。")
            .arg(QDir::toNativeSeparators(file));
    QByteArray content;
    if (!readWholeFile(file, &content))
        return QString();
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = Cp932Codec::decode(line);
        const QString prefix = text.left(5);
        const QString value = text.mid(5, MaxServerValueLength);
        if (prefix == prefixOf(SettingKey::Smtp))
            settings.SmtpServer = value;
        else if (prefix == prefixOf(SettingKey::Pop3))
            settings.Pop3Server = value;
        else if (prefix == prefixOf(SettingKey::Mail))
            settings.MailAddress = value;
        else if (prefix == prefixOf(SettingKey::Apop))
            settings.UseApop = apopValue(value);
    }
    return QString();
}

QString SaveServerSettings(const AccountSettings& settings)
{
    const QString file = Paths::serverSettingsFile();
    const QString crlf = QStringLiteral("\r\n");
    const QString text = prefixOf(SettingKey::Smtp) + settings.SmtpServer + crlf + prefixOf(SettingKey::Pop3) +
                         settings.Pop3Server + crlf + prefixOf(SettingKey::Mail) + settings.MailAddress + crlf +
                         prefixOf(SettingKey::Apop) + QString::number(settings.UseApop) + crlf;
    const auto bytes = Cp932Codec::encode(text);
    if (!bytes)
        return failedWriteMessage(file, QStringLiteral("Shift_JIS で表せない文字が含まれています。"));
    const QString error = writeFileAtomically(file, *bytes);
    return error.isEmpty() ? QString() : failedWriteMessage(file, error);
}

QString ReadIniText(const QString& file, const QString& key, const QString& defaultText)
{
    return IniProfile::readText(file, IniSection, key, defaultText);
}

int ReadIniNumber(const QString& file, const QString& key)
{
    return IniProfile::readNumber(file, IniSection, key);
}

QString WriteIniText(const QString& file, const QString& key, const QString& text)
{
    const QString error = IniProfile::writeText(file, IniSection, key, text, permissionsFor(file));
    return error.isEmpty() ? QString() : failedWriteMessage(file, error);
}
