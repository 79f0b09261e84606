#include "mailcheck/CheckOutcome.h"

namespace {
const QString NothingDeleted = QStringLiteral("サーバー上のメールは削除していません。");

// What happened, in a few words.
QString headline(const CheckOutcome& outcome)
{
    using Kind = CheckOutcome::Kind;
    switch (outcome.kind) {
    case Kind::NotRun:
        break;
    case Kind::NotConfigured:
        return QStringLiteral("POP3サーバーが設定されていません");
    case Kind::AccountMissing:
        return QStringLiteral("IDかパスワードが設定されていません");
    case Kind::Checked:
        return QStringLiteral("新着 %1・").arg(outcome.remaining()) +
               (outcome.trialMatches > 0 ? QStringLiteral("試用で該当 %1").arg(outcome.trialMatches)
                                         : QStringLiteral("削除 %1").arg(outcome.deleted)) +
               (outcome.notice.isEmpty() ? QString() : QStringLiteral("（注意あり）"));
    case Kind::LoginRefused:
        return QStringLiteral("ログインできませんでした");
    case Kind::NoConnection:
        return QStringLiteral("接続できませんでした");
    case Kind::Broken:
        return QStringLiteral("確認が途中で止まりました（削除なし）");
    case Kind::Cancelled:
        return QStringLiteral("確認を中止しました（削除なし）");
    }
    return QString();
}
} // namespace

QString CheckOutcome::summary() const
{
    return kind == Kind::NotRun ? QString() : finished.toString(QStringLiteral("HH:mm ")) + headline(*this);
}

QString CheckOutcome::details() const
{
    QStringList lines{finished.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))};
    switch (kind) {
    case Kind::Checked:
        lines << QStringLiteral("メールチェック完了: %1 通中、新着 %2 通、削除 %3 通。")
                     .arg(messages)
                     .arg(remaining())
                     .arg(deleted);
        if (trialMatches > 0)
            lines << QStringLiteral("試用モードのため、該当した %1 通は削除していません。").arg(trialMatches);
        break;
    case Kind::NoConnection:
        lines << QStringLiteral("メールを確認できませんでした。") << reason
              << QStringLiteral("サーバー名とネットワークの接続を確認してください。");
        break;
    case Kind::Broken:
        lines << QStringLiteral("メールの確認が途中で止まりました。") << reason << NothingDeleted
              << QStringLiteral("しばらくしてからもう一度確認してください。");
        break;
    case Kind::Cancelled:
        lines << reason << NothingDeleted;
        break;
    default:
        lines << headline(*this) << reason;
        break;
    }
    if (!notice.isEmpty())
        lines << notice;
    lines.removeAll(QString());
    return lines.join(u'\n');
}
