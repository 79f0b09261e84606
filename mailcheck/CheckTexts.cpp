#include "mailcheck/CheckTexts.h"

#include "mailcheck/SavedCopies.h"

#include <QDir>

namespace CheckTexts {

QString copyProblem(CopyProblem problem, const QString& detail)
{
    switch (problem) {
    case CopyProblem::NotRequested:
        return QStringLiteral("サーバーにメールを要求できませんでした。");
    case CopyProblem::NotReceived:
        return QStringLiteral("サーバーからメールを受け取れませんでした。");
    case CopyProblem::SizeMismatch:
        return QStringLiteral("サーバーから受け取ったメールが一覧の大きさと合わないため、控えにしませんでした。");
    case CopyProblem::NotTheJudged:
        return QStringLiteral("サーバーから受け取ったメールが判定したメールと異なるため、控えにしませんでした。");
    case CopyProblem::TooLarge:
        return QStringLiteral("控えを保存できる上限（%1 MB）を超えるメールのため、保存しませんでした。")
            .arg(SavedCopies::MaxTotalBytes / (1024 * 1024));
    case CopyProblem::NotStored:
        return detail;
    }
    return detail;
}

QString copiesLeft(int count, CopyProblem first, const QString& detail)
{
    return QStringLiteral("%1 通のメールは控えを保存できなかったため、削除せずにサーバーに残しました。\n%2")
        .arg(count)
        .arg(copyProblem(first, detail));
}

QString rulesUnreadable(const QString& error)
{
    return error + QStringLiteral("\n迷惑メールの削除は行いませんでした。");
}

QString historyBlocked(const QString& error)
{
    return error + QStringLiteral("\nこのため、サーバーのメールは削除していません。");
}

QString copyNotRemoved(const QString& path)
{
    return QStringLiteral("控え「%1」を削除できませんでした。").arg(QDir::toNativeSeparators(path));
}

QString nothingJudged(const QString& server, bool noTop)
{
    const QString why = noTop ? QStringLiteral("メールのヘッダーだけを読む命令（TOP）に対応していない")
                              : QStringLiteral("メールのヘッダーを読む命令（TOP）をすべて断った");
    QString text =
        QStringLiteral("サーバー「%1」は%2ため、迷惑メールを判定できませんでした。メールは削除していません。").arg(server, why);
    if (noTop)
        text += QStringLiteral("\n「その他の設定」の「TOP非対応のサーバーでは、メール全体（256 KBまで）を読んで判定する」を"
                               "オンにすると、判定できるようになります。");
    return text;
}

QString ofAccount(const QString& name, const QString& text)
{
    return QStringLiteral("アカウント「%1」: ").arg(name) + text;
}

} // namespace CheckTexts
