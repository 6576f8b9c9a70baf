#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

// The program speaks Chinese whatever the system's locale (a fresh system
// often has only C.UTF-8): its own formats for what it shows, and the
// locale it makes the default at the start, so that Qt's own texts, the
// date pickers and their calendars follow too.
QLocale ProgramLocale();

// A day with its weekday: "2026-12-10 周四".
QString DayText(const QDate& day);

// A size: "73 字节", "1.5 KB", "10 MB" (units of 1024, one decimal).
QString SizeText(qint64 bytes);
