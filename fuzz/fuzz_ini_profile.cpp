// Reads INI content of arbitrary bytes, then sets a key and checks that the value reads back
// and that nothing else of the file changed.
#include "platform/Cp932Codec.h"
#include "platform/IniProfile.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    bool found = false;
    const QByteArray value = IniProfile::lookupValue(content, "EXEINI", "NAME", &found);
    const QByteArray cut = IniProfile::cutCp932(value, IniProfile::MaxValueBytes);
    if (cut.size() > IniProfile::MaxValueBytes)
        abort();
    Cp932Codec::decode(cut);

    const QByteArray newValue = "new value";
    const QByteArray written = IniProfile::replaceValue(content, "EXEINI", "NAME", newValue);
    bool foundAgain = false;
    if (IniProfile::lookupValue(written, "EXEINI", "NAME", &foundAgain) != newValue || !foundAgain)
        abort();
    // Everything before the first difference and after it is kept: the edit is one splice.
    qsizetype head = 0;
    while (head < content.size() && head < written.size() && content[head] == written[head])
        ++head;
    qsizetype tail = 0;
    while (tail < content.size() - head && tail < written.size() - head &&
           content[content.size() - 1 - tail] == written[written.size() - 1 - tail])
        ++tail;
    if (written.size() - head - tail > newValue.size() + 24 + 6) // key, "=", section header, line breaks
        abort();
    return 0;
}
