#include "settings/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString& overrideFolder()
{
    static QString folder;
    return folder;
}

QString inProgramFolder(const QString& relative)
{
    return programFolder() + u'/' + relative;
}
} // namespace

QString programFolder()
{
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString& folder)
{
    overrideFolder() = QDir::cleanPath(folder);
}

namespace Paths {
QString dataFolder() { return inProgramFolder(QStringLiteral("★MailData")); }
QString serverSettingsFile() { return inProgramFolder(QStringLiteral("tolvex.ini")); }
QString generalSettingsFile() { return inProgramFolder(QStringLiteral("★MailData/ini.ini")); }
QString accountFile() { return inProgramFolder(QStringLiteral("★MailData/iniIdPass.ini")); }
QString keywordDataFile() { return inProgramFolder(QStringLiteral("★MailData/Tlxdata50.data")); }
QString keywordTempFile() { return inProgramFolder(QStringLiteral("★MailData/TLXDATA50.TMP")); }
QString restingPage() { return inProgramFolder(QStringLiteral("画像データ/subako.html")); }
QString eventPicture() { return inProgramFolder(QStringLiteral("画像データ/Bom.bmp")); }
QString effectSound() { return inProgramFolder(QStringLiteral("Sound/Kouka.wav")); }
QString helpPage() { return inProgramFolder(QStringLiteral("HTML/1.htm")); }
QString htmlFolder() { return inProgramFolder(QStringLiteral("HTML")); }
QString fileAddress(const QString& path) { return QStringLiteral("file://") + path; }
} // namespace Paths

QString ensureDataFolder()
{
    const QString folder = Paths::dataFolder();
    if (QDir(folder).exists())
        return {};
    if (!QDir().mkpath(folder))
        return QStringLiteral("フォルダー「%1」を作成できません。").arg(QDir::toNativeSeparators(folder));
    return {};
}
