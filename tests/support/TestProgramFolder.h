#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

// A fresh, temporary program folder for one test: the program's paths point into it while it
// lives. withData copies the shipped files (pages, picture, sound, help) from the build's
// program folder; withDataFolder creates the empty "★MailData".
class TestProgramFolder
{
public:
    explicit TestProgramFolder(bool withDataFolder = true, bool withData = false);

    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const { return m_dir.filePath(relative); }

    // Raw file access for fixtures and byte-for-byte checks.
    void write(const QString& relative, const QByteArray& bytes) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const { return QFileInfo::exists(file(relative)); }
    // The settings files as the program stores them.
    void writeServer(const QString& pop3, qint16 apop = 0) const;
    void writeAccount(const QString& user, const QString& password) const;
    // Permission bits of a file, 0 when it is missing.
    int mode(const QString& relative) const;

private:
    QTemporaryDir m_dir;
};

// The settings files, relative to the program folder.
inline const QString ServerFile = QStringLiteral("tolvex.ini");
inline const QString GeneralFile = QStringLiteral("★MailData/ini.ini");
inline const QString AccountFile = QStringLiteral("★MailData/iniIdPass.ini");

// cp932 bytes of a text (fails the test's expectations loudly if it has no cp932 form).
QByteArray cp932(const QString& text);
