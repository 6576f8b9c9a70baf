#include "data/OleDate.h"

#include <QLocale>

#include <cmath>

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;
// 0100-01-01 and 9999-12-31, the range of OLE Automation dates.
constexpr double kFirstDay = -657434;
constexpr double kLastDay = 2958465;

// Splits an OLE date into a day and the milliseconds of its time of day. The
// fraction is the time of day whatever the sign: -1.25 is 1899-12-29 06:00.
bool Split(double value, QDate& date, qint64& msOfDay)
{
    if (!std::isfinite(value))
        return false;
    double days = std::trunc(value);
    if (days < kFirstDay || days > kLastDay)
        return false;
    msOfDay = std::llround(std::fabs(value - days) * kMsPerDay);
    if (msOfDay >= kMsPerDay) { // rounded up to midnight: the next day begins
        msOfDay -= kMsPerDay;
        days += 1;
    }
    date = kEpoch.addDays(static_cast<qint64>(days));
    return true;
}

// Skips a quoted literal of a Qt date format ('...', with '' for a quote)
// starting at i; returns the index after it.
qsizetype SkipQuoted(const QString& format, qsizetype i)
{
    for (++i; i < format.size(); ++i) {
        if (format[i] != u'\'')
            continue;
        if (i + 1 < format.size() && format[i + 1] == u'\'')
            ++i;
        else
            return i + 1;
    }
    return i;
}

qsizetype RunEnd(const QString& format, qsizetype i)
{
    const QChar c = format[i];
    while (i < format.size() && format[i] == c)
        ++i;
    return i;
}

// A two-digit year would read back in the wrong century.
QString WithFourDigitYear(const QString& format)
{
    QString out;
    for (qsizetype i = 0; i < format.size();) {
        qsizetype end = format[i] == u'\'' ? SkipQuoted(format, i) : format[i] == u'y' ? RunEnd(format, i) : i + 1;
        out += format[i] == u'y' ? QStringLiteral("yyyy") : format.mid(i, end - i);
        i = end;
    }
    return out;
}

// Zone names do not read back; statements store local wall-clock times.
QString WithoutTimeZone(const QString& format)
{
    QString out;
    for (qsizetype i = 0; i < format.size();) {
        qsizetype end = format[i] == u'\'' ? SkipQuoted(format, i) : format[i] == u't' ? RunEnd(format, i) : i + 1;
        if (format[i] != u't')
            out += format.mid(i, end - i);
        i = end;
    }
    // Some locales put the zone in brackets: "H:mm:ss (t)".
    out.remove(QStringLiteral("()"));
    out.remove(QStringLiteral("[]"));
    return out.trimmed();
}
} // namespace

double Ole::FromDate(const QDate& date)
{
    return static_cast<double>(kEpoch.daysTo(date));
}

double Ole::FromTime(const QTime& time)
{
    return (time.msecsSinceStartOfDay() / 1000) / 86400.0;
}

double Ole::FromDateTime(const QDateTime& moment)
{
    const double days = FromDate(moment.date());
    const double fraction = FromTime(moment.time());
    return days < 0 ? days - fraction : days + fraction;
}

QDateTime Ole::ToDateTime(double value)
{
    QDate date;
    qint64 ms = 0;
    if (!Split(value, date, ms))
        return {};
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

QDate Ole::ToDate(double value)
{
    QDate date;
    qint64 ms = 0;
    return Split(value, date, ms) ? date : QDate();
}

QTime Ole::ToTime(double value)
{
    QDate date;
    qint64 ms = 0;
    return Split(value, date, ms) ? QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)) : QTime();
}

QString DateTextFormat()
{
    return WithFourDigitYear(QLocale().dateFormat(QLocale::ShortFormat));
}

QString TimeTextFormat()
{
    return WithoutTimeZone(QLocale().timeFormat(QLocale::LongFormat));
}

QString DateText(const QDate& date)
{
    return QLocale().toString(date, DateTextFormat());
}

QString TimeText(const QTime& time)
{
    return QLocale().toString(time, TimeTextFormat());
}

QString DateTimeText(const QDateTime& moment)
{
    return DateText(moment.date()) + u' ' + TimeText(moment.time());
}

QDate ReadDateText(const QString& text)
{
    return QLocale().toDate(text.trimmed(), DateTextFormat());
}

QTime ReadTimeText(const QString& text)
{
    return QLocale().toTime(text.trimmed(), TimeTextFormat());
}

QDateTime ReadDateTimeText(const QString& text)
{
    return QLocale().toDateTime(text.trimmed(), DateTextFormat() + u' ' + TimeTextFormat());
}
