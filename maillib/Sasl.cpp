#include "maillib/Sasl.h"

#include <algorithm>

namespace Sasl {

QByteArray name(Mechanism mechanism)
{
    switch (mechanism) {
    case Mechanism::Plain:
        return "PLAIN";
    case Mechanism::XOAuth2:
        return "XOAUTH2";
    case Mechanism::OAuthBearer:
        return "OAUTHBEARER";
    case Mechanism::None:
        break;
    }
    return {};
}

QList<QByteArray> offered(const QByteArray& capaBody)
{
    for (const QByteArray& line : capaBody.split('\n')) {
        QList<QByteArray> words = line.simplified().toUpper().split(' ');
        if (words.value(0) == "SASL") {
            words.removeFirst();
            return words;
        }
    }
    return {};
}

Mechanism forToken(const QList<QByteArray>& offered)
{
    if (offered.contains("OAUTHBEARER"))
        return Mechanism::OAuthBearer;
    if (offered.contains("XOAUTH2"))
        return Mechanism::XOAuth2;
    return Mechanism::None;
}

bool isBearerToken(const QByteArray& token)
{
    const qsizetype padding = token.size() - QByteArray(token).replace('=', "").size();
    const qsizetype body = token.size() - padding;
    if (body == 0 || !token.endsWith(QByteArray(padding, '=')))
        return false;
    return std::all_of(token.begin(), token.begin() + body, [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               QByteArrayView("-._~+/").contains(c);
    });
}

QByteArray initialResponse(Mechanism mechanism, const QString& user, const QByteArray& secret, const QString& host,
                           int port)
{
    const QByteArray id = user.toUtf8();
    switch (mechanism) {
    case Mechanism::Plain:
        return '\0' + id + '\0' + secret;
    case Mechanism::XOAuth2:
        return "user=" + id +
               "\x01"
               "auth=Bearer " +
               secret + "\x01\x01";
    case Mechanism::OAuthBearer: {
        // The GS2 header's authzid escapes its own separators (RFC 5801).
        const QByteArray authzid = QByteArray(id).replace('=', "=3D").replace(',', "=2C");
        return "n,a=" + authzid +
               ",\x01"
               "host=" +
               host.toUtf8() +
               "\x01"
               "port=" +
               QByteArray::number(port) +
               "\x01"
               "auth=Bearer " +
               secret + "\x01\x01";
    }
    case Mechanism::None:
        break;
    }
    return {};
}

QByteArray answerAfterFirst(Mechanism mechanism)
{
    switch (mechanism) {
    case Mechanism::XOAuth2:
        return ""; // an empty response
    case Mechanism::OAuthBearer:
        return QByteArray("\x01").toBase64(); // a lone separator
    default:
        return "*";
    }
}

} // namespace Sasl
