#include "platform/ProgramStart.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

QString startProgramDetached(const QString& commandLine)
{
    QString program = commandLine;
    QStringList arguments;
    if (!QFileInfo(commandLine).isFile()) {
        arguments = QProcess::splitCommand(commandLine);
        program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    }
    if (!program.isEmpty() && QProcess::startDetached(program, arguments))
        return {};
    return QStringLiteral("メーラー「%1」を起動できませんでした。\n設定されたファイルが実行できるか確かめて下さい。")
        .arg(QDir::toNativeSeparators(commandLine));
}
