#include "TestProgramFolder.h"

#include "platform/Cp932Codec.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <sys/stat.h>

TestProgramFolder::TestProgramFolder(bool withDataFolder, bool withData)
{
    Q_ASSERT(m_dir.isValid());
    setProgramFolder(m_dir.path());
    if (withDataFolder)
        QDir(m_dir.path()).mkpath("★MailData");
    const QString source = QStringLiteral(MOSSVALE_PROGRAM_FOLDER);
    for (const QString& sub : withData ? QStringList{"画像データ", "Sound", "HTML"} : QStringList()) {
        for (QDirIterator it(source + '/' + sub, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString to = file(it.next().mid(source.size() + 1));
            QDir().mkpath(QFileInfo(to).path());
            QFile::copy(it.filePath(), to);
        }
    }
}

void TestProgramFolder::write(const QString& relative, const QByteArray& bytes) const
{
    QDir().mkpath(QFileInfo(file(relative)).path());
    if (QFile f(file(relative)); f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray TestProgramFolder::read(const QString& relative) const
{
    QFile f(file(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestProgramFolder::writeServer(const QString& pop3, qint16 apop) const
{
    write(ServerFile, "SMTP=\r\nPOP3=" + cp932(pop3) + "\r\nMAIL=\r\nAPOP=" + QByteArray::number(apop) + "\r\n");
}

void TestProgramFolder::writeAccount(const QString& user, const QString& password) const
{
    write(AccountFile, "[EXEINI]\r\nNAME=" + cp932(user) + "\r\nNAME2=" + cp932(password) + "\r\nNAME3=1\r\n");
}

int TestProgramFolder::mode(const QString& relative) const
{
    struct stat info = {};
    return ::stat(QFile::encodeName(file(relative)).constData(), &info) == 0 ? int(info.st_mode & 07777) : 0;
}

QByteArray cp932(const QString& text)
{
    const auto bytes = Cp932Codec::encode(text);
    Q_ASSERT_X(bytes.has_value(), "cp932", "text has no cp932 form");
    return bytes.value_or(QByteArray());
}
