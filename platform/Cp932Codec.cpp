#include "platform/Cp932Codec.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

// iconv descriptors are costly to open and not thread-safe to share; keep one per thread.
class IconvHandle
{
public:
    IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvHandle()
    {
        if (valid())
            iconv_close(m_cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get()
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // reset shift state
        return m_cd;
    }

private:
    iconv_t m_cd;
};

IconvHandle& encoder()
{
    thread_local IconvHandle handle("CP932", "UTF-8");
    return handle;
}

IconvHandle& decoder()
{
    thread_local IconvHandle handle("UTF-8", "CP932");
    return handle;
}

} // namespace

std::optional<QByteArray> Cp932Codec::encode(const QString& text)
{
    IconvHandle& handle = encoder();
    if (!handle.valid())
        return std::nullopt;
    QByteArray in = text.toUtf8();
    if (QString::fromUtf8(in) != text)
        return std::nullopt; // lone surrogates cannot be represented
    QByteArray out(in.size() * 2 + 16, Qt::Uninitialized);
    char* inPtr = in.data();
    size_t inLeft = size_t(in.size());
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());
    iconv_t cd = handle.get();
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1))
        return std::nullopt;
    out.truncate(int(out.size() - qsizetype(outLeft)));
    return out;
}

namespace {
// cp932 bytes to text. A byte that does not start a valid character is replaced by U+FFFD when
// lenient, and makes the whole conversion fail otherwise.
std::optional<QString> decodeWith(iconv_t cd, const QByteArray& bytes, bool lenient)
{
    QByteArray in = bytes;
    QByteArray out(in.size() * 3 + 16, Qt::Uninitialized); // three UTF-8 bytes an input byte suffice
    char* inPtr = in.data();
    size_t inLeft = size_t(in.size());
    char* outPtr = out.data();
    size_t outLeft = size_t(out.size());
    static const char replacement[] = "\xEF\xBF\xBD";
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1))
            break;
        // EILSEQ or EINVAL (truncated double-byte character): replace one byte and go on.
        if (!lenient || errno == E2BIG || outLeft < 3)
            return lenient ? std::optional<QString>(QString::fromUtf8(out.left(out.size() - qsizetype(outLeft))))
                           : std::nullopt;
        memcpy(outPtr, replacement, 3);
        outPtr += 3;
        outLeft -= 3;
        ++inPtr;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.truncate(out.size() - qsizetype(outLeft));
    return QString::fromUtf8(out);
}
} // namespace

QString Cp932Codec::decode(const QByteArray& bytes)
{
    IconvHandle& handle = decoder();
    if (!handle.valid())
        return QString::fromLatin1(bytes);
    return *decodeWith(handle.get(), bytes, true);
}

std::optional<QString> Cp932Codec::decodeStrict(const QByteArray& bytes)
{
    IconvHandle& handle = decoder();
    if (!handle.valid())
        return std::nullopt;
    return decodeWith(handle.get(), bytes, false);
}

int Cp932Codec::byteLength(const QString& text)
{
    const auto bytes = encode(text);
    return bytes ? int(bytes->size()) : -1;
}

QString Cp932Codec::firstUnencodable(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString character = text.mid(i, length);
        if (!canEncode(character))
            return character;
        i += length - 1;
    }
    return {};
}
