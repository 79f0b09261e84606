// Decodes arbitrary header blocks, field values and labelled bytes.
#include "maillib/CharsetDecoder.h"
#include "maillib/HeaderDecoder.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const MessageHeaders headers = HeaderDecoder::decode(bytes);
    (void)headers;
    (void)HeaderDecoder::decodeField(bytes);
    // The first line names a charset for the rest.
    const qsizetype newline = bytes.indexOf('\n');
    if (newline > 0 && newline < 40)
        (void)CharsetDecoder::decode(bytes.mid(newline + 1), bytes.left(newline));
    (void)CharsetDecoder::decodeIso2022Jp(bytes);
    return 0;
}
