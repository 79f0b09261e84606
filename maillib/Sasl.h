#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The client's side of the SASL mechanisms spoken in POP3's AUTH (RFC 5034): PLAIN (RFC 4616) for
// a password, OAUTHBEARER (RFC 7628) and XOAUTH2 for an OAuth 2.0 access token. Only the messages
// are made here; the exchange itself is a state of Pop3Session.
namespace Sasl {

enum class Mechanism { None, Plain, XOAuth2, OAuthBearer };

// The mechanism's name as AUTH names it.
QByteArray name(Mechanism mechanism);
// The mechanisms named on the SASL line of a CAPA reply's body, upper case; none without the line.
QList<QByteArray> offered(const QByteArray& capaBody);
// What to use with a token among offered: OAUTHBEARER before XOAUTH2; None when neither is offered.
Mechanism forToken(const QList<QByteArray>& offered);
// True when token is a bearer token as RFC 6750 writes it: nothing in it can end a field early.
bool isBearerToken(const QByteArray& token);

// The client's first message, not yet base64-encoded. host and port name the server (OAUTHBEARER
// sends them); secret is the password for PLAIN, the access token otherwise.
QByteArray initialResponse(Mechanism mechanism, const QString& user, const QByteArray& secret, const QString& host,
                           int port);
// The answer to a challenge that follows the first message. For the OAuth mechanisms such a
// challenge carries the server's error, and this answer lets it end the exchange with -ERR; for
// PLAIN there is none to give, so the exchange is cancelled ("*").
QByteArray answerAfterFirst(Mechanism mechanism);

// AUTH with its initial response must fit POP3's 255 octets; a longer one waits for the server's
// empty challenge instead.
constexpr qsizetype MaxAuthLine = 255;

} // namespace Sasl
