#include "TestProgramFolder.h"

#include "platform/Cp932Codec.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

TestProgramFolder::TestProgramFolder(bool withDataFolder, bool withData)
{
    Q_ASSERT(m_dir.isValid());
    setProgramFolder(m_dir.path());
    if (withDataFolder)
        QDir(m_dir.path()).mkpath(QStringLiteral("★MailData"));
    if (withData) {
        const QString source = QStringLiteral(MOSSVALE_PROGRAM_FOLDER);
        for (const QString& sub : {QStringLiteral("画像データ"), QStringLiteral("Sound"), QStringLiteral("HTML")}) {
            QDirIterator it(source + u'/' + sub, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString from = it.next();
                const QString to = m_dir.path() + from.mid(source.size());
                QDir().mkpath(QFileInfo(to).path());
                QFile::copy(from, to);
            }
        }
    }
}

TestProgramFolder::~TestProgramFolder()
{
    // Make everything removable again, in case a test took permissions away.
    QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QFile(m_dir.path()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    while (it.hasNext())
        QFile(it.next()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestProgramFolder::write(const QString& relative, const QByteArray& bytes) const
{
    const QString path = file(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray TestProgramFolder::read(const QString& relative) const
{
    QFile f(file(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TestProgramFolder::exists(const QString& relative) const
{
    return QFileInfo::exists(file(relative));
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
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(file(relative)).constData(), &info) != 0)
        return 0;
    return int(info.st_mode & 07777);
}

QByteArray cp932(const QString& text)
{
    const auto bytes = Cp932Codec::encode(text);
    Q_ASSERT_X(bytes.has_value(), "cp932", "text has no cp932 form");
    return bytes.value_or(QByteArray());
}
