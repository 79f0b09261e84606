// Allow lists and From fields of arbitrary bytes: reading them must never crash, and an address
// read from a field must be one plain address that reads as itself and that a list of it allows.
#include "fuzz/FuzzRequire.h"
#include "mailcheck/MessageJudge.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says where the list ends and the From field begins.
    const qsizetype split = qsizetype((size - 1) * data[0] / 255);
    const QByteArray list(reinterpret_cast<const char*>(data + 1), split);
    const QString from =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1 + split), qsizetype(size - 1 - split));

    const AllowList allow = AllowList::parse(list);
    require(!allow.allows(QString()));
    const QString address = senderAddress(from);
    if (address.isEmpty())
        return 0;
    require(address.count(u'@') == 1 && address == address.toLower() && address.size() <= 254);
    require(std::none_of(address.begin(), address.end(), [](QChar c) { return c.isSpace(); }));
    require(senderAddress(address) == address);
    require(senderAddress(QStringLiteral("\"a <b@c> (d)\" <%1> (e)").arg(address)) == address);
    // A line that starts with "#" is a comment: such an address cannot be listed, and is never added.
    require(address.startsWith(u'#') ? !AllowList::add(QString(), address).isEmpty()
                                     : AllowList::parse(address.toUtf8()).allows(address));
    const qsizetype at = address.indexOf(u'@');
    require(AllowList::parse(address.mid(at).toUtf8()).allows(address));
    // Allowing by the list is a question about the address only, whatever else the field held.
    require(allow.allows(address) == allow.allows(address.toUpper()));
    return 0;
}
