#include "mailcheck/CheckOutcome.h"

namespace {
const QString NothingDeleted = QStringLiteral("サーバー上のメールは削除していません。");

// What happened, in a few words: short enough for the line under the picture.
QString headlineOf(const CheckOutcome& outcome)
{
    using Kind = CheckOutcome::Kind;
    switch (outcome.kind) {
    case Kind::NotRun:
        break;
    case Kind::NotConfigured:
        return QStringLiteral("POP3サーバー未設定");
    case Kind::AccountMissing:
        return QStringLiteral("ID・パスワード未設定");
    case Kind::Checked: {
        // 「残り」 is what stays on the server, 「新着」 only what was not there at the last check; without
        // unique ids that cannot be told, and old mail is never counted as new.
        QString text = QStringLiteral("残り%1").arg(outcome.remaining());
        if (outcome.fresh >= 0)
            text += QStringLiteral("（新着%1）").arg(outcome.fresh);
        text += outcome.trialMatches > 0 ? QStringLiteral("・試用%1").arg(outcome.trialMatches)
                                         : QStringLiteral("・削除%1").arg(outcome.deleted);
        if (outcome.notJudged + outcome.tooLargeToJudge > 0)
            text += QStringLiteral("・未判定%1").arg(outcome.notJudged + outcome.tooLargeToJudge);
        return text + (outcome.notice.isEmpty() ? QString() : QStringLiteral("※"));
    }
    case Kind::LoginRefused:
        return QStringLiteral("ログインできません");
    case Kind::SignInNeeded:
        return QStringLiteral("サインインが必要です");
    case Kind::NoConnection:
        return QStringLiteral("接続できません");
    case Kind::Insecure:
        return QStringLiteral("安全のため中止");
    case Kind::LocalTrouble:
        return QStringLiteral("このPCの問題で中止");
    case Kind::Broken:
        return QStringLiteral("中断（削除なし）");
    case Kind::Unconfirmed:
        return QStringLiteral("削除の結果が不明");
    case Kind::Cancelled:
        return QStringLiteral("中止（削除なし）");
    }
    return QString();
}

// The reason, and the advice for its kind once: a reason that already says what to check needs no more.
QStringList reasonWithAdvice(const QString& reason, const QString& advice)
{
    return {reason, reason.contains(QStringLiteral("確認してください")) ? QString() : advice};
}
} // namespace

QString CheckOutcome::headline() const
{
    return headlineOf(*this);
}

QString CheckOutcome::summary() const
{
    if (kind == Kind::NotRun)
        return QString();
    // The account in trouble comes first: the line is short, and the counts are also in the tip.
    const QString trouble = troubled.isEmpty() ? QString() : QStringLiteral("要確認: ") + troubled.join(u'、') + u'・';
    return finished.toString(QStringLiteral("HH:mm ")) + trouble + headline();
}

QString CheckOutcome::details() const
{
    QStringList lines{finished.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))};
    switch (kind) {
    case Kind::Checked:
        // A check that could judge nothing is not "done": its main work never happened.
        lines << QStringLiteral("%1: %2 通中、残り %3 通%4、削除 %5 通。")
                     .arg(messages > 0 && notJudged + tooLargeToJudge + unread >= messages
                              ? QStringLiteral("メールを確認（判定なし）")
                              : QStringLiteral("メールチェック完了"))
                     .arg(messages)
                     .arg(remaining())
                     .arg(fresh >= 0 ? QStringLiteral("（うち前回のチェック以降の新着 %1 通）").arg(fresh) : QString())
                     .arg(deleted);
        if (unread > 0)
            lines << QStringLiteral("%1 通はヘッダーを読み取れなかったため、判定も削除もせずにサーバーに残しました。")
                         .arg(unread);
        if (notJudged > 0)
            lines << QStringLiteral("%1 通は、サーバーがヘッダーだけの取得（TOP）に対応していないため、"
                                    "迷惑メールかどうか判定していません。")
                         .arg(notJudged);
        if (tooLargeToJudge > 0)
            lines << QStringLiteral("%1 通は、本文ごと読むには大きすぎる（256 KB 超）ため、判定せずにサーバーに残しました。")
                         .arg(tooLargeToJudge);
        if (trialMatches > 0)
            lines << QStringLiteral("試用モードのため、該当した %1 通は削除していません。").arg(trialMatches);
        break;
    case Kind::NoConnection:
        lines << QStringLiteral("メールを確認できませんでした。")
              << reasonWithAdvice(reason, QStringLiteral("サーバー名とネットワークの接続を確認してください。"));
        break;
    case Kind::Insecure:
        if (withToken) { // a token never goes in plain text: there is nothing to allow
            lines << reason
                  << QStringLiteral("アクセストークンは暗号化通信（TLS）でだけ送ります。サーバーの設定（pop3s:// "
                                    "または STLS に対応したサーバー）を確認してください。");
            break;
        }
        lines << QStringLiteral("安全のため、パスワードを送らずに中止しました。") << reason
              << QStringLiteral(
                     "「メールチェック」ボタンで確認すると、このサーバーへの接続を許可するかどうかを選べます。");
        break;
    case Kind::LocalTrouble:
        lines << QStringLiteral("このパソコン側の問題で、メールを確認できませんでした。")
              << reasonWithAdvice(
                     reason,
                     QStringLiteral("キーリング（パスワードの保管場所）とデータフォルダーを確認してください。"));
        break;
    case Kind::Broken:
        lines << QStringLiteral("メールの確認が途中で止まりました。") << reason << NothingDeleted
              << QStringLiteral("しばらくしてからもう一度確認してください。");
        break;
    case Kind::Unconfirmed:
        lines << QStringLiteral("終了の応答が届かず、サーバー上のメールが削除されたかどうか分かりません。") << reason
              << QStringLiteral("削除するはずだったメールの控えと履歴は「未確認」として残しました。"
                                "次のメールチェックで確かめます。");
        break;
    case Kind::Cancelled:
    case Kind::SignInNeeded:
        lines << headline() << reason << NothingDeleted;
        break;
    default:
        lines << headline() << reason;
        break;
    }
    if (!notice.isEmpty())
        lines << notice;
    lines << accountLines;
    lines.removeAll(QString());
    return lines.join(u'\n');
}
