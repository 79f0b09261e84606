#include "settings/ProgramFolder.h"

#include "platform/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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

QString inSettingsFolder(const QString& relative)
{
    return settingsFolder() + u'/' + relative;
}
} // namespace

QString programFolder()
{
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return QCoreApplication::applicationDirPath();
}

bool installedCopy()
{
    return QFileInfo::exists(inProgramFolder(QString::fromUtf16(InstalledMarkerName)));
}

bool settingsBesideProgram()
{
    // A copy of the program folder that cannot be written (unpacked by another user) still works.
    return !installedCopy() && QFileInfo(programFolder()).isWritable();
}

QString programCommand()
{
    const QString executable = QCoreApplication::applicationFilePath();
    QFile marker(inProgramFolder(QString::fromUtf16(InstalledMarkerName)));
    // The marker is ours, but still a file: one short line is all it may hold.
    constexpr qint64 maxLine = 4096;
    if (!marker.open(QIODevice::ReadOnly))
        return executable;
    const QString command = QString::fromUtf8(marker.readLine(maxLine)).trimmed();
    const QString target = QFileInfo(command).canonicalFilePath();
    const bool leadsHere = QFileInfo(command).isAbsolute() && !target.isEmpty() &&
                           target == QFileInfo(programFolder() + QStringLiteral("/mossvale")).canonicalFilePath();
    return leadsHere ? command : executable;
}

QString settingsFolder()
{
    if (settingsBesideProgram())
        return programFolder();
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Mossvale");
}

void setProgramFolder(const QString& folder)
{
    overrideFolder() = QDir::cleanPath(folder);
}

namespace Paths {
QString dataFolder()
{
    return inSettingsFolder(QStringLiteral("★MailData"));
}
QString serverSettingsFile()
{
    return inSettingsFolder(QStringLiteral("tolvex.ini"));
}
QString generalSettingsFile()
{
    return inSettingsFolder(QStringLiteral("★MailData/ini.ini"));
}
QString accountFile()
{
    return inSettingsFolder(QStringLiteral("★MailData/iniIdPass.ini"));
}
QString keywordDataFile()
{
    return inSettingsFolder(QStringLiteral("★MailData/Tlxdata50.data"));
}
QString keywordTempFile()
{
    return inSettingsFolder(QStringLiteral("★MailData/TLXDATA50.TMP"));
}
QString restingPage()
{
    return inProgramFolder(QStringLiteral("画像データ/subako.html"));
}
QString eventPicture()
{
    return inProgramFolder(QStringLiteral("画像データ/Bom.bmp"));
}
QString effectSound()
{
    return inProgramFolder(QStringLiteral("Sound/Kouka.wav"));
}
QString helpPage()
{
    return inProgramFolder(QStringLiteral("HTML/1.htm"));
}
QString htmlFolder()
{
    return inProgramFolder(QStringLiteral("HTML"));
}
QString fileAddress(const QString& path)
{
    return QStringLiteral("file://") + path;
}
} // namespace Paths

QString ensureDataFolder(bool* created)
{
    // Start-up makes the folder before the single-instance lock, which lives in it; the main window,
    // asking later, must still hear that this run made it.
    static QString madeByThisRun;
    const QString folder = Paths::dataFolder();
    if (created)
        *created = folder == madeByThisRun;
    const bool existed = QDir(folder).exists();
    // The user's mail data is the user's alone: the folder is made, or tightened, to 0700.
    if (!makePrivateFolder(folder) && !existed)
        return QStringLiteral("フォルダー「%1」を作成できません。").arg(QDir::toNativeSeparators(folder));
    if (existed)
        return {};
    if (created)
        *created = true;
    madeByThisRun = folder;
    return {};
}
