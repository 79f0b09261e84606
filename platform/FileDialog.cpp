#include "platform/FileDialog.h"

#include <QFileDialog>
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
    return QFileDialog::getOpenFileName(parent, QString(), startFile);
}

void FileDialog::setNextFileName(const QString& fileName)
{
    answers().enqueue(fileName);
}
