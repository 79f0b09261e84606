// Decodes arbitrary header blocks, field values and labelled bytes, and checks the caps: every
// decoded field within MaxFieldChars, the raw header within MaxHeaderBlockBytes. Run with inputs
// up to 1 MB and a per-input time limit (fuzz/run), so that a super-linear path shows as a timeout.
#include "maillib/CharsetDecoder.h"
#include "maillib/HeaderDecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const MessageHeaders headers = HeaderDecoder::decode(bytes);
    for (const QString* field : {&headers.subject, &headers.date, &headers.sender}) {
        if (field->size() > HeaderDecoder::MaxFieldChars)
            abort();
    }
    if (headers.rawHeader.size() > HeaderDecoder::MaxHeaderBlockBytes)
        abort();
    if (HeaderDecoder::decodeField(bytes).size() > HeaderDecoder::MaxFieldChars)
        abort();
    // The first line names a charset for the rest.
    const qsizetype newline = bytes.indexOf('\n');
    if (newline > 0 && newline < 40)
        (void)CharsetDecoder::decode(bytes.mid(newline + 1), bytes.left(newline));
    (void)CharsetDecoder::decodeIso2022Jp(bytes);
    return 0;
}
