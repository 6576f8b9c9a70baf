#pragma once

#include <QDate>

// The Chinese calendar, as ICU reckons it (its days those of China). A
// lunar year is named by the Gregorian year its 正月初一 falls in.

// The day of a date in an ordinary month (not the leap month that may
// repeat it), month 1..12 and day 1..30; a day past the month's end (三十
// in a month of 29 days) is its last day.
QDate LunarMonthDay(int year, int month, int day);
// The lunar year a day is in.
int LunarYearOf(const QDate& day);
