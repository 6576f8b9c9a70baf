#pragma once

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>

// One year's official schedule as the State Council's notice gives it: the
// weekdays that are days off and the weekend days that are worked. A day
// not listed follows the ordinary week.
struct THolidayYear
{
    int Year = 0;
    QHash<QDate, bool> OffDays; // date → a day off (false: an adjusted working day)
};

// Reads a year's schedule in the format of the bundled files
// ({"year": 2026, "days": [{"name": "元旦", "date": "2026-01-01",
// "isOffDay": true}, ...]}), strictly: returns why the text is refused,
// empty when it is sound. A year's days may begin in the December before
// (a New Year holiday that starts then).
QString ReadHolidayYear(const QByteArray& text, THolidayYear& year);

// China's official calendar: the bundled schedules, each replaced by the
// one the user imported for its year (kept in the data file).
class THolidayCalendar
{
public:
    // The calendar as the data file holds it now (cheap when nothing changed).
    static const THolidayCalendar& Current();

    // Whether the year's schedule is known; without it the year counts as
    // Monday to Friday.
    bool HasSchedule(int year) const;
    bool IsWorkDay(const QDate& day) const;

private:
    void Refresh();
    // The year's schedule: the imported one, else the bundled one.
    const THolidayYear* Schedule(int year) const;

    QHash<int, THolidayYear> m_imported;
    QHash<int, QByteArray> m_importedText; // as read, to see what changed
};

// The years the user imported, kept one row per year in the table
// HolidayYear with the file's text, so that they travel with the data.
QList<int> ImportedHolidayYears();
// The years that come with the program.
QList<int> BundledHolidayYears();
// Checks the file and keeps it for its year, replacing what was there;
// returns the year, raises the reason a file is refused.
int ImportHolidayYear(const QString& path);
void RemoveImportedHolidayYear(int year);

// "2027 年安排未导入，暂按周一至周五".
QString MissingScheduleText(int year);

// From 1 December, next year when its schedule is missing, reminders follow
// the official calendar and the user has not been told yet; 0 otherwise.
int MissingYearToTell(const QDate& today);
// Remembers that the user was told of the year (in SysSet.HolidayNotice).
void MissingYearTold(int year);
