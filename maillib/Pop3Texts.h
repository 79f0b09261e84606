#pragma once

#include <QString>

// The Japanese failure texts of the mail library.
namespace Pop3Texts {

inline QString badServerName(const QString& name)
{
    return QStringLiteral("POP3サーバー名「%1」が正しくありません。").arg(name);
}
inline QString hostNotFound(const QString& host)
{
    return QStringLiteral("POP3サーバー「%1」が見つかりません。サーバー名を確認してください。").arg(host);
}
inline QString connectFailed(const QString& reason)
{
    return QStringLiteral("POP3サーバーに接続できませんでした。（%1）").arg(reason);
}
inline QString connectionRefused(const QString& host)
{
    return QStringLiteral("POP3サーバー「%1」が接続を拒否しました。サーバー名とポート番号を確認してください。")
        .arg(host);
}
inline QString connectTimeout(int seconds)
{
    return QStringLiteral("POP3サーバーへの接続が%1秒以内に完了しませんでした。").arg(seconds);
}
inline QString replyTimeout(int seconds)
{
    return QStringLiteral("POP3サーバーから%1秒以内に応答がありませんでした。").arg(seconds);
}
inline const QString disconnected = QStringLiteral("POP3サーバーとの接続が途中で切れました。");
inline const QString lineTooLong = QStringLiteral("POP3サーバーの応答行が長すぎるため、中止しました。");
inline const QString badReply = QStringLiteral("POP3サーバーの応答を解釈できませんでした。");
inline const QString greetingRefused = QStringLiteral("POP3サーバーが接続を受け付けませんでした。");
inline QString certificateRejected(const QString& host)
{
    return QStringLiteral("サーバー「%1」の証明書を確認できなかったため、パスワードを送らずに中止しました。").arg(host);
}
inline QString certificateChanged(const QString& host)
{
    return QStringLiteral("サーバー「%1」の証明書が、信頼すると決めた証明書から変わっています。"
                          "パスワードを送らずに中止しました。")
        .arg(host);
}
inline QString plainTextRefused(const QString& host)
{
    return QStringLiteral("サーバー「%1」は暗号化通信（STLS）に対応していないため、パスワードを送らずに中止しました。"
                          "暗号化せずに送ることを許可するまで、ログインしません。")
        .arg(host);
}
inline QString encryptionLost(const QString& host)
{
    return QStringLiteral("以前は暗号化通信で接続できたサーバー「%1」で、暗号化通信（STLS）が使えなくなりました。"
                          "途中の経路で暗号化が取り除かれたおそれがあるため、パスワードを送らずに中止しました。")
        .arg(host);
}
inline const QString plainTextQuestion =
    QStringLiteral("パスワードは暗号化されずに送られ、途中の経路で読み取られるおそれがあります。"
                   "今回から、このサーバーには暗号化せずに送りますか？");
inline const QString tlsFailed = QStringLiteral("暗号化通信（TLS）を開始できませんでした。");
inline const QString stlsRefused = QStringLiteral("サーバーが暗号化通信（STLS）の開始を拒否しました。");
inline const QString stlsInjection =
    QStringLiteral("暗号化通信の開始前に余分なデータが届いたため、パスワードを送らずに中止しました。");
inline const QString apopUnsupported =
    QStringLiteral("サーバーの挨拶にタイムスタンプがないため、APOPでログインできません。"
                   "APOPを使わない設定にしてください。");
inline const QString lineBreakInAccount =
    QStringLiteral("ユーザーIDまたはパスワードに改行文字が含まれているため、送信しませんでした。");
inline QString tokenNeedsTls(const QString& host)
{
    return QStringLiteral("サーバー「%1」とは暗号化通信ができないため、アクセストークンを送らずに中止しました。")
        .arg(host);
}
inline const QString badToken =
    QStringLiteral("ユーザーIDまたはアクセストークンに使えない文字が含まれているため、送信しませんでした。");
inline const QString noTokenMechanism =
    QStringLiteral("サーバーがOAuth 2.0でのログイン（OAUTHBEARER、XOAUTH2）に対応していません。"
                   "サインインの方法を「パスワード」にしてください。");
inline const QString tokenRefused = QStringLiteral("サーバーがアクセストークンを受け付けませんでした。");
inline QString saslEndless(int challenges)
{
    return QStringLiteral("サーバーとの認証のやり取りが%1往復を超えても終わらないため、中止しました。").arg(challenges);
}
inline const QString loginFailed = QStringLiteral("ログインに失敗しました。ユーザーIDとパスワードを確認してください。");
// Refusals that carry a response code (RFC 2449, RFC 3206) say what the code says, not the password.
inline const QString loginInUse =
    QStringLiteral("メールボックスが使用中のため、ログインできませんでした。ほかのメールソフトがメールを受信中か、"
                   "サーバーがメールボックスをロックできなかった可能性があります。しばらくしてから確認してください。");
inline const QString loginDelay =
    QStringLiteral("サーバーが短い間隔でのログインを断りました。次の定期チェックは、サーバーが求める間隔をあけて行います。");
inline const QString loginSysTemp =
    QStringLiteral("サーバー側の一時的な障害のため、ログインできませんでした。しばらくしてから確認してください。");
inline const QString loginSysPerm =
    QStringLiteral("サーバー側の障害のため、ログインできませんでした。解決しない場合はメールの提供元に問い合わせてください。");
inline const QString silentAfterLogin =
    QStringLiteral("ログインの後、POP3サーバーからの応答が途絶えました。サーバー側の問題の可能性があります。");
inline QString headerTooLarge(int number)
{
    return QStringLiteral("メール%1のヘッダーが一覧で示された大きさを超えていたため、判定せずに残しました。").arg(number);
}
inline const QString statFailed = QStringLiteral("メールの件数を取得できませんでした。");
inline const QString notLoggedIn = QStringLiteral("POP3サーバーにログインしていません。");
inline QString numberOutOfRange(int number)
{
    return QStringLiteral("メール番号%1はありません。").arg(number);
}
inline QString topFailed(int number)
{
    return QStringLiteral("メール%1のヘッダーを取得できませんでした。").arg(number);
}
inline QString retrFailed(int number)
{
    return QStringLiteral("メール%1の本文を取得できませんでした。").arg(number);
}
inline QString deleteFailed(int number)
{
    return QStringLiteral("メール%1を削除できませんでした。").arg(number);
}
inline const QString quitFailed =
    QStringLiteral("POP3セッションを正しく終了できませんでした。削除が反映されていない可能性があります。");
inline QString checkTimeout(int seconds)
{
    return QStringLiteral("メールチェックが%1秒以内に終わらなかったため、中止しました。").arg(seconds);
}
inline const QString cancelled = QStringLiteral("プログラムの終了のため、メールチェックを中止しました。");
inline const QString outOfStep = QStringLiteral("POP3サーバーの応答が要求と食い違ったため、安全のため中止しました。");
inline const QString listInconsistent =
    QStringLiteral("POP3サーバーが示したメールの件数と一覧が食い違ったため、安全のため中止しました。");
inline const QString headerNotOwn =
    QStringLiteral("POP3サーバーから届いたヘッダーが要求したメールのものと考えられないため、安全のため中止しました。");
inline const QString serverSaid = QStringLiteral("サーバーの応答: ");
inline const QString reasonSaid = QStringLiteral("理由: ");
inline const QString notThePinnedCertificate = QStringLiteral("信頼すると決めた証明書ではありません。");

} // namespace Pop3Texts
