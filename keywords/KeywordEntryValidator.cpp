#include "keywords/KeywordEntryValidator.h"

#include "keywords/KeywordFile.h"
#include "platform/Cp932Codec.h"

#include <QStringView>

QValidator::State KeywordEntryValidator::validate(QString& input, int& /*pos*/) const
{
    const int bytes = Cp932Codec::byteLength(input);
    if (bytes < 0) {
        m_rejection = NotCp932;
        m_offending = Cp932Codec::firstUnencodable(input);
        return Invalid;
    }
    if (bytes > KeywordFieldBytes) {
        m_rejection = TooLong;
        m_offending.clear();
        return Invalid;
    }
    return Acceptable;
}
