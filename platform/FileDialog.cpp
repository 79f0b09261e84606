#include "platform/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQueue>

namespace {
QQueue<QString>& answers()
{
    static QQueue<QString> queue;
    return queue;
}
} // namespace

QString FileDialog::getOpenFileName(QWidget* parent, const QString& startFile)
{
    if (!answers().isEmpty())
        return answers().dequeue();
    if (QGuiApplication::platformName() == u"offscreen")
        return {}; // nobody can answer a dialog that nobody sees
    return QFileDialog::getOpenFileName(parent, QString(), startPath(startFile));
}

QString FileDialog::startPath(const QString& startFile)
{
    // A relative name would start in whatever folder the program was started from.
    const QFileInfo file(startFile);
    if (!startFile.isEmpty() && file.isAbsolute() && file.dir().exists())
        return startFile;
    const QString programs = QStringLiteral("/usr/bin");
    return QFileInfo(programs).isDir() ? programs : QDir::homePath();
}

void FileDialog::setNextFileName(const QString& fileName)
{
    answers().enqueue(fileName);
}
