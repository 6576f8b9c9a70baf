#include "reminders/Holidays.h"

#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "reminders/AlamRepeat.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>

// Q_INIT_RESOURCE declares the registration function, which must happen at global scope.
static void LoadHolidayResources()
{
    Q_INIT_RESOURCE(holidays);
}

namespace {
constexpr int kFirstBundledYear = 2007;
constexpr int kLastBundledYear = 2026;
// A schedule is a few kilobytes; anything far larger is some other file.
constexpr qint64 kLargestFile = 256 * 1024;
constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2199;

const QSet<QString> kYearKeys{"$schema", "$id", "year", "papers", "days"};
const QSet<QString> kDayKeys{"name", "date", "isOffDay"};

QString UnknownKey(const QJsonObject& object, const QSet<QString>& known)
{
    for (const QString& key : object.keys())
        if (!known.contains(key))
            return key;
    return {};
}

// One entry of "days"; the reason it is refused, or empty.
QString ReadDay(const QJsonValue& value, int index, int year, THolidayYear& out)
{
    const QString which = QString("第 %1 个日子").arg(index + 1);
    if (!value.isObject())
        return which + "不是 {\"name\", \"date\", \"isOffDay\"} 的形式。";
    const QJsonObject day = value.toObject();
    if (const QString key = UnknownKey(day, kDayKeys); !key.isEmpty())
        return QString("%1有不认识的项“%2”。").arg(which, key);
    if (!day.value("name").isString() || day.value("name").toString().trimmed().isEmpty())
        return which + "没有名称（name）。";
    if (!day.value("isOffDay").isBool())
        return which + "没有写明是否放假（isOffDay 应为 true 或 false）。";
    const QString text = day.value("date").toString();
    const QDate date = QDate::fromString(text, "yyyy-MM-dd");
    if (text.size() != 10 || !date.isValid())
        return QString("%1的日期“%2”不是“%3-01-01”这样的日期。").arg(which, text).arg(year);
    // New Year's days off may begin in the December before.
    if (date.year() != year && !(date.year() == year - 1 && date.month() == 12))
        return QString("%1的日期 %2 不在 %3 年。").arg(which, text).arg(year);
    if (out.OffDays.contains(date))
        return QString("日期 %1 出现了两次。").arg(text);
    out.OffDays.insert(date, day.value("isOffDay").toBool());
    return {};
}

// The bundled schedules, read once.
const QHash<int, THolidayYear>& Bundled()
{
    static const QHash<int, THolidayYear> years = [] {
        LoadHolidayResources();
        QHash<int, THolidayYear> read;
        for (int year = kFirstBundledYear; year <= kLastBundledYear; ++year) {
            QFile file(QString(":/holidays/%1.json").arg(year));
            THolidayYear schedule;
            if (file.open(QIODevice::ReadOnly) && ReadHolidayYear(file.readAll(), schedule).isEmpty())
                read.insert(year, schedule);
        }
        return read;
    }();
    return years;
}
} // namespace

QString ReadHolidayYear(const QByteArray& text, THolidayYear& year)
{
    year = THolidayYear();
    if (text.size() > kLargestFile)
        return QString("文件太大（%1 字节），不是节假日安排。").arg(text.size());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return QString("文件不是节假日安排：第 %1 个字符附近不是有效的 JSON。").arg(error.offset + 1);
    if (!document.isObject())
        return "文件不是节假日安排：应为一个 {\"year\", \"days\"} 对象。";
    const QJsonObject root = document.object();
    if (const QString key = UnknownKey(root, kYearKeys); !key.isEmpty())
        return QString("文件有不认识的项“%1”。").arg(key);
    const QJsonValue yearValue = root.value("year");
    const double number = yearValue.toDouble();
    if (!yearValue.isDouble() || number != double(int(number)))
        return "文件没有写明年份（year）。";
    if (number < kFirstYear || number > kLastYear)
        return QString("年份 %1 不在 %2 至 %3 年之间。").arg(number).arg(kFirstYear).arg(kLastYear);
    year.Year = int(number);
    const QJsonArray days = root.value("days").toArray();
    if (days.isEmpty())
        return QString("%1 年的安排里没有日子（days）：安排可能还没有公布。").arg(year.Year);
    for (qsizetype i = 0; i < days.size(); ++i)
        if (const QString reason = ReadDay(days[i], int(i), year.Year, year); !reason.isEmpty())
            return reason;
    return {};
}

const THolidayCalendar& THolidayCalendar::Current()
{
    static THolidayCalendar calendar;
    calendar.Refresh();
    return calendar;
}

void THolidayCalendar::Refresh()
{
    if (!DbAccess || !DbAccess->Connected()) {
        m_imported.clear();
        m_importedText.clear();
        return;
    }
    const std::unique_ptr<TDataSet> set = DbAccess->Query("select Year, Json from HolidayYear");
    QHash<int, QByteArray> texts;
    for (set->First(); !set->Eof(); set->Next())
        texts.insert(set->AsInteger(0), set->AsString(1).toUtf8());
    if (texts == m_importedText)
        return;
    // A row that no longer reads (written by hand) leaves its year as bundled.
    m_imported.clear();
    for (auto row = texts.cbegin(); row != texts.cend(); ++row) {
        THolidayYear schedule;
        if (ReadHolidayYear(row.value(), schedule).isEmpty() && schedule.Year == row.key())
            m_imported.insert(row.key(), schedule);
    }
    m_importedText = texts;
}

bool THolidayCalendar::HasSchedule(int year) const
{
    return m_imported.contains(year) || Bundled().contains(year);
}

const THolidayYear* THolidayCalendar::Schedule(int year) const
{
    const auto imported = m_imported.find(year);
    if (imported != m_imported.end())
        return &*imported;
    const auto bundled = Bundled().find(year);
    return bundled != Bundled().end() ? &*bundled : nullptr;
}

bool THolidayCalendar::IsWorkDay(const QDate& day) const
{
    // The next year's notice may list the last days of December.
    for (const int year : {day.year(), day.year() + 1}) {
        const THolidayYear* schedule = Schedule(year);
        if (schedule && schedule->OffDays.contains(day))
            return !schedule->OffDays.value(day);
    }
    return day.dayOfWeek() <= 5;
}

QList<int> ImportedHolidayYears()
{
    QList<int> years;
    const std::unique_ptr<TDataSet> set = DbAccess->Query("select Year from HolidayYear order by Year");
    for (set->First(); !set->Eof(); set->Next())
        years << set->AsInteger(0);
    return years;
}

QList<int> BundledHolidayYears()
{
    QList<int> years = Bundled().keys();
    std::sort(years.begin(), years.end());
    return years;
}

int ImportHolidayYear(const QString& path)
{
    QFile file(path);
    if (file.size() > kLargestFile)
        RaiseError(QString("文件太大（%1 字节），不是节假日安排。").arg(file.size()));
    if (!file.open(QIODevice::ReadOnly))
        RaiseError(QString("无法读取 %1：%2").arg(path, FileErrorText(file)));
    const QByteArray text = file.readAll();
    THolidayYear schedule;
    if (const QString reason = ReadHolidayYear(text, schedule); !reason.isEmpty())
        RaiseError(reason);
    DbAccess->CheckWritable();
    DbExecSQL(FormatSQL("insert or replace into HolidayYear(Year, Json) values(%s, '%s')",
                        {QString::number(schedule.Year), SqlText(QString::fromUtf8(text))}));
    return schedule.Year;
}

void RemoveImportedHolidayYear(int year)
{
    DbAccess->CheckWritable();
    DbExecSQL(QString("delete from HolidayYear where Year=%1").arg(year));
}

QString MissingScheduleText(int year)
{
    return QString("%1 年安排未导入，暂按周一至周五").arg(year);
}

int MissingYearToTell(const QDate& today)
{
    const int next = today.year() + 1;
    if (today.month() != 12 || THolidayCalendar::Current().HasSchedule(next))
        return 0;
    const int told = DbGetIntValue("select HolidayNotice from SysSet");
    const int followers = DbGetIntValue(
        QString("select count(*) from Alam where RepeatKind in (%1,%2)").arg(int(rkWorkDays)).arg(int(rkRestDays)));
    return told < next && followers > 0 ? next : 0;
}

void MissingYearTold(int year)
{
    if (!DbAccess->ReadOnly())
        DbExecSQL(QString("update SysSet set HolidayNotice=%1").arg(year));
}
