#include "settings/SettingsFiles.h"

#include "platform/AtomicFile.h"
#include "platform/Cp932Codec.h"
#include "platform/IniProfile.h"
#include "platform/NumberText.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString Section = QStringLiteral("EXEINI");
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
} // namespace

AccountSettings& accountSettings()
{
    static AccountSettings settings;
    return settings;
}

qint16 apopValue(const QString& text)
{
    const double value = roundHalfEven(leadingNumber(text));
    if (value < -32768.0 || value > 32767.0)
        return 1;
    return qint16(value);
}

void LoadServerSettings(AccountSettings& settings)
{
    QByteArray content;
    if (!readWholeFile(Paths::serverSettingsFile(), &content))
        return;
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = Cp932Codec::decode(line);
        const QString prefix = text.left(5);
        const QString value = text.mid(5, MaxServerValueLength);
        if (prefix == u"SMTP=")
            settings.SmtpServer = value;
        else if (prefix == u"POP3=")
            settings.Pop3Server = value;
        else if (prefix == u"MAIL=")
            settings.MailAddress = value;
        else if (prefix == u"APOP=")
            settings.UseApop = apopValue(value);
    }
}

QString SaveServerSettings(const AccountSettings& settings)
{
    const QString file = Paths::serverSettingsFile();
    const QString text = QStringLiteral("SMTP=") + settings.SmtpServer + QStringLiteral("\r\nPOP3=") +
                         settings.Pop3Server + QStringLiteral("\r\nMAIL=") + settings.MailAddress +
                         QStringLiteral("\r\nAPOP=") + QString::number(settings.UseApop) + QStringLiteral("\r\n");
    const auto bytes = Cp932Codec::encode(text);
    if (!bytes)
        return failedWriteMessage(file, QStringLiteral("Shift_JIS で表せない文字が含まれています。"));
    const QString error = writeFileAtomically(file, *bytes);
    return error.isEmpty() ? QString() : failedWriteMessage(file, error);
}

QString ReadIniText(const QString& file, const QString& key, const QString& defaultText)
{
    return IniProfile::readText(file, Section, key, defaultText);
}

int ReadIniNumber(const QString& file, const QString& key)
{
    return IniProfile::readNumber(file, Section, key);
}

QString WriteIniText(const QString& file, const QString& key, const QString& text)
{
    const QString error = IniProfile::writeText(file, Section, key, text, permissionsFor(file));
    return error.isEmpty() ? QString() : failedWriteMessage(file, error);
}
