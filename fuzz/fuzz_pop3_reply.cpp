// Feeds arbitrary server bytes, in arbitrary chunks, to the POP3 reply parser and checks that
// its bounds hold.
#include "maillib/Pop3ReplyParser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    // Byte 0: which of up to 8 expected replies are multi-line; byte 1: chunk size; byte 2:
    // small or default bounds.
    const uint8_t multiLine = data[0];
    const size_t chunk = data[1] % 64 + 1;
    const bool small = data[2] & 1;
    const qsizetype maxLine = small ? 16 : Pop3ReplyParser::DefaultMaxLineLength;
    const qsizetype maxBody = small ? 64 : Pop3ReplyParser::DefaultMaxBodyLength;
    Pop3ReplyParser parser(maxLine, maxBody);
    for (int i = 0; i < 8; ++i)
        parser.expect((multiLine >> i) & 1);
    int replies = 0;
    Pop3Reply reply;
    for (size_t offset = 3; offset < size; offset += chunk) {
        const size_t length = std::min(chunk, size - offset);
        parser.feed(QByteArray(reinterpret_cast<const char*>(data + offset), qsizetype(length)));
        while (parser.takeReply(&reply)) {
            ++replies;
            if (reply.body.size() > maxBody || (!reply.ok && !reply.body.isEmpty()) ||
                reply.statusText.size() > maxLine)
                abort();
        }
        if (parser.bufferedBytes() > maxLine + qsizetype(chunk) + maxBody + 2)
            abort();
    }
    if (replies + parser.pendingCount() != 8)
        abort();
    return 0;
}
