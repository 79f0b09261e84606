#include "maillib/Pop3Address.h"

namespace {

bool parsePort(const QString& text, quint16* port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

} // namespace

Pop3Address Pop3Address::parse(const QString& server)
{
    Pop3Address address;
    QString rest = server.trimmed();
    const QString scheme = QStringLiteral("pop3s://");
    if (rest.startsWith(scheme, Qt::CaseInsensitive)) {
        address.implicitTls = true;
        rest = rest.mid(scheme.size());
        if (rest.endsWith(u'/'))
            rest.chop(1);
    }
    address.port = address.implicitTls ? TlsPort : PlainPort;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return address;
        address.host = rest.mid(1, close - 1);
        const QString tail = rest.mid(close + 1);
        if (!tail.isEmpty() && (!tail.startsWith(u':') || !parsePort(tail.mid(1), &address.port)))
            return address;
    } else if (rest.count(u':') == 1) {
        const qsizetype colon = rest.indexOf(u':');
        address.host = rest.left(colon);
        if (!parsePort(rest.mid(colon + 1), &address.port))
            return address;
    } else {
        address.host = rest; // a name, an IPv4 address or a bare IPv6 address
    }
    for (const QChar c : address.host) {
        if (c.isSpace() || c == u'/' || c == u'@' || c.unicode() < 0x20)
            return address;
    }
    address.valid = !address.host.isEmpty();
    return address;
}
