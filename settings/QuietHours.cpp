#include "settings/QuietHours.h"

#include <QRegularExpression>

namespace {

QString clock(int minutes)
{
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

std::optional<QuietHours> QuietHours::parse(const QString& text)
{
    // Full-width digits, colon and hyphen are what a Japanese input method types by default.
    const QString plain = text.normalized(QString::NormalizationForm_KC).trimmed();
    if (plain.isEmpty())
        return QuietHours();
    static const QRegularExpression Form(
        QStringLiteral("^([0-9]{1,2}) *: *([0-9]{2}) *[-\\x{2010}-\\x{2015}\\x{2212}] *([0-9]{1,2}) *: *([0-9]{2})$"));
    const QRegularExpressionMatch match = Form.match(plain);
    if (!match.hasMatch())
        return std::nullopt;
    const int parts[] = {match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                         match.captured(4).toInt()};
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 23 || parts[3] > 59)
        return std::nullopt;
    return QuietHours(parts[0] * 60 + parts[1], parts[2] * 60 + parts[3]);
}

QString QuietHours::text() const
{
    return isNone() ? QString() : clock(m_start) + u'-' + clock(m_end);
}

bool QuietHours::contains(const QTime& time) const
{
    if (isNone() || !time.isValid())
        return false;
    const int now = time.hour() * 60 + time.minute();
    if (m_start < m_end)
        return now >= m_start && now < m_end;
    return now >= m_start || now < m_end; // across midnight
}

QDateTime QuietHours::endOf(const QDateTime& moment) const
{
    if (!contains(moment))
        return {};
    const int now = moment.time().hour() * 60 + moment.time().minute();
    // Past the end's time of day, the end is tomorrow's (the hours cross midnight).
    const QDate day = now < m_end ? moment.date() : moment.date().addDays(1);
    return QDateTime(day, QTime(m_end / 60, m_end % 60), moment.timeSpec());
}
