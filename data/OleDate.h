#pragma once

#include <QDateTime>
#include <QString>

// Dates and times as the database stores them: OLE Automation dates, that is
// days since 1899-12-30 as a REAL with the time of day as the fraction.
namespace Ole {
// Whole days since 1899-12-30 (1981-02-14 is 29631).
double FromDate(const QDate& date);
// Exactly seconds_since_midnight / 86400.0; milliseconds are dropped.
double FromTime(const QTime& time);
// FromDate + FromTime (for days before 1899-12-30 the fraction counts away
// from zero, as OLE dates do).
double FromDateTime(const QDateTime& moment);
// Back to local date and time, rounded to the nearest millisecond. Invalid
// for values that are not finite or lie outside the years 100 to 9999.
QDateTime ToDateTime(double value);
QDate ToDate(double value);
QTime ToTime(double value);
} // namespace Ole

// The one pair of helpers for date and time texts in statements and on
// screen: the locale's short date with a four-digit year, and the locale's
// time with seconds and without time zone. Reading uses the same formats, so
// every value round-trips in every locale. All of them follow the default
// QLocale at the time of the call.
QString DateText(const QDate& date);
QString TimeText(const QTime& time);
QString DateTimeText(const QDateTime& moment); // DateText, a blank, TimeText
QDate ReadDateText(const QString& text);       // invalid when it does not read
QTime ReadTimeText(const QString& text);
QDateTime ReadDateTimeText(const QString& text);

// The QDateTime format strings behind DateText and TimeText, for widgets
// (date and time pickers) that must show the same texts.
QString DateTextFormat();
QString TimeTextFormat();
