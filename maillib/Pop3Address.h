#pragma once

#include <QString>

// Where and how to reach a POP3 server, from the server name the user typed:
//   "host" or "host:port"             plain connection, port 110, upgraded with STLS when offered
//   "pop3s://host" or "pop3s://host:port"  TLS from the first byte, port 995
// IPv6 addresses are written in brackets when a port follows ("[::1]:110"); a bare "::1" is
// taken as an address without a port. Surrounding blanks are ignored.
struct Pop3Address
{
    QString host;
    quint16 port = 0;
    bool implicitTls = false;
    bool valid = false;

    static constexpr quint16 PlainPort = 110;
    static constexpr quint16 TlsPort = 995;

    static Pop3Address parse(const QString& server);
};
