#include "platform/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQueue>
#include <QTimer>

namespace {
QQueue<QString>& answers()
{
    static QQueue<QString> queue;
    return queue;
}
} // namespace

void FileDialog::open(QWidget* parent, const QString& startFile, std::function<void(const QString&)> chosen)
{
    // Answered on the next turn when a test answered ahead, or when nobody can see the dialog.
    if (!answers().isEmpty() || QGuiApplication::platformName() == u"offscreen") {
        const QString answer = answers().isEmpty() ? QString() : answers().dequeue();
        QTimer::singleShot(0, parent, [answer, chosen] { chosen(answer); });
        return;
    }
    auto* dialog = new QFileDialog(parent, QString());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    const QFileInfo start(startPath(startFile));
    dialog->setDirectory(start.isDir() ? start.filePath() : start.path());
    if (!start.isDir())
        dialog->selectFile(start.fileName());
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen](int result) {
        chosen(result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString());
    });
    dialog->open(); // nothing waits for it
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
