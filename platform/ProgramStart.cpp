#include "platform/ProgramStart.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {
QString start(const QString& commandLine, const QStringList& more)
{
    QString program = commandLine;
    QStringList arguments;
    if (!QFileInfo(commandLine).isFile()) {
        arguments = QProcess::splitCommand(commandLine);
        program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    }
    arguments += more;
    if (!program.isEmpty() && QProcess::startDetached(program, arguments))
        return {};
    return QStringLiteral("メーラー「%1」を起動できませんでした。\n設定されたファイルが実行できるか確かめて下さい。")
        .arg(QDir::toNativeSeparators(commandLine));
}
} // namespace

QString startProgramDetached(const QString& commandLine)
{
    return start(commandLine, {});
}

QString startProgramWithFile(const QString& commandLine, const QString& file)
{
    return start(commandLine, {file});
}
