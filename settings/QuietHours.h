#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

// The hours of the day when nothing is announced (QuietHours= of section "Mossvale"): a start and
// an end in local wall-clock time, to the minute. The end is not part of them; an end before the
// start crosses midnight; a start equal to the end, like an empty text, means there are none.
class QuietHours
{
public:
    QuietHours() = default;

    // "HH:MM-HH:MM" (hours 0-23, one or two digits, minutes two digits; blanks around the parts and
    // full-width forms are allowed). Empty or blank text gives none; anything else is nullopt.
    static std::optional<QuietHours> parse(const QString& text);
    // The stored form: "HH:MM-HH:MM", or empty for none.
    QString text() const;

    bool isNone() const { return m_start == m_end; }
    bool contains(const QTime& time) const;
    bool contains(const QDateTime& moment) const { return contains(moment.time()); }
    // When the hours that hold moment end; invalid when moment is outside them (or there are none).
    QDateTime endOf(const QDateTime& moment) const;

    bool operator==(const QuietHours&) const = default;

private:
    QuietHours(int start, int end) : m_start(start), m_end(end) {}

    int m_start = 0; // minutes after midnight
    int m_end = 0;
};
