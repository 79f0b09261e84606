#include "settings/Autostart.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>

namespace {
QString failure(const QString& action, const QString& reason)
{
    return QStringLiteral("ログイン時の起動を%1できませんでした。\nファイル「%2」: %3")
        .arg(action, QDir::toNativeSeparators(Autostart::entryPath()), reason);
}
} // namespace

namespace Autostart {

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/mossvale.desktop");
}

bool enabled()
{
    return QFileInfo::exists(entryPath());
}

QString execArgument(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    const bool quote = std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); });
    QString argument;
    for (QChar c : program) {
        if (quote && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            argument += u'\\';
        argument += c;
        if (c == u'%') // a lone % would start a field code
            argument += u'%';
    }
    if (quote)
        argument = u'"' + argument + u'"';
    // The value is a string too: each backslash of the quoting is itself escaped.
    return argument.replace(u'\\', QStringLiteral("\\\\"));
}

QByteArray entryText(const QString& program)
{
    if (program.contains(u'\n') || program.contains(u'\r'))
        return {};
    QFile file(QStringLiteral(":/mossvale.desktop"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        if (line.startsWith(u"Exec="))
            line = QStringLiteral("Exec=") + execArgument(program);
    }
    lines << QStringLiteral("X-GNOME-Autostart-enabled=true") << QString();
    return lines.join(u'\n').toUtf8();
}

QString enable(const QString& program)
{
    const QByteArray text = entryText(program);
    if (text.isEmpty())
        return failure(QStringLiteral("設定"),
                       QStringLiteral("プログラムのパス「%1」は起動項目に書けません。").arg(program));
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return failure(QStringLiteral("設定"), QStringLiteral("フォルダーを作れません。"));
    const QString error = writeFileAtomically(path, text);
    return error.isEmpty() ? QString() : failure(QStringLiteral("設定"), error);
}

QString disable()
{
    QFile file(entryPath());
    if (!file.exists() || file.remove())
        return {};
    return failure(QStringLiteral("解除"), file.errorString());
}

} // namespace Autostart
