#include "keywords/KeywordEntryValidator.h"

#include "keywords/KeywordFile.h"
#include "platform/Cp932Codec.h"

#include <QStringView>

namespace {
// The first character (a surrogate pair counts as one) without a cp932 form.
QString firstUnencodable(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QString character = text.mid(i, length);
        if (!Cp932Codec::canEncode(character))
            return character;
        i += length - 1;
    }
    return {};
}
} // namespace

QValidator::State KeywordEntryValidator::validate(QString& input, int& /*pos*/) const
{
    const int bytes = Cp932Codec::byteLength(input);
    if (bytes < 0) {
        m_rejection = NotCp932;
        m_offending = firstUnencodable(input);
        return Invalid;
    }
    if (bytes > KeywordFieldBytes) {
        m_rejection = TooLong;
        m_offending.clear();
        return Invalid;
    }
    return Acceptable;
}
