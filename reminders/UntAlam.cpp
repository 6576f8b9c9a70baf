#include "reminders/UntAlam.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "data/UException.h"
#include "data/UntPublic.h"

namespace {
const QString kInsertDaily = "Insert into Alam(AlamTime,ReMark)  values('%s','%s') ";
const QString kInsertOnce = "Insert into Alam(AlamTime,AlamDate,ReDay,ReMark)  values('%s','%s','%s','%s') ";
const QString kList = "select ID,IIf(ReDay,'每天  '+format(Alamtime,'HH:mm:ss'),format(Alamtime+AlamDate,"
                      "'yyyy-mm-dd HH:mm:ss')) ,  Remark,IIF(bLook,'看过的','') from Alam ";
const QString kDelete = "delete from Alam where ID=%s ";
const QString kLoad = "select * from Alam where ID=%s ";
const QString kUpdate = "update Alam set AlamTime='%s',AlamDate='%s',ReDay='%s',Remark='%s',bLook=0 where ID=%s  ";
const QString kMarkSeen = "update Alam set bLook=1 where ID=%s";

const char* const kFilterClauses[] = {
    "where AlamDate=Date() ",
    "where AlamDate=Date()+1 ",
    "where AlamDate+AlamTime<Now() and bLook=0 and ReDay = 0 ",
    "where bLook<>0 and ReDay = 0 ",
    "where ReDay <> 0 ",
    "",
};

// The ID goes into the statement without quotes, so only a whole number may
// pass: anything else would be read as part of the statement.
QString IdText(const QString& id)
{
    bool ok = false;
    const qlonglong value = id.trimmed().toLongLong(&ok);
    if (!ok)
        RaiseError("无效的提醒编号：" + id);
    return QString::number(value);
}

QString BoolText(bool value)
{
    return value ? "-1" : "0";
}

// The moment of a list text "yyyy-MM-dd HH:mm:ss"; invalid for any other
// text. Read by position: the general date parser costs more than the rest
// of filling the list.
QDateTime ListMoment(const QString& text)
{
    static const QString digitsAt = QStringLiteral("dddd-dd-dd dd:dd:dd");
    if (text.size() != digitsAt.size())
        return {};
    for (qsizetype i = 0; i < text.size(); ++i)
        if (digitsAt[i] == u'd' ? text[i] < u'0' || text[i] > u'9' : text[i] != digitsAt[i])
            return {};
    const auto number = [&text](int from, int length) { return QStringView(text).mid(from, length).toInt(); };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    return date.isValid() && time.isValid() ? QDateTime(date, time) : QDateTime();
}

// A past one-off row that nobody has seen shows as missed; a daily row's
// time text does not read as a moment and is left alone.
void MarkMissedRows(QList<QStringList>& rows)
{
    const QDateTime now = TClock::Now();
    for (QStringList& row : rows) {
        if (!row[3].isEmpty())
            continue;
        const QDateTime moment = ListMoment(row[1]);
        if (moment.isValid() && moment < now)
            row[3] = kAlamMissedText;
    }
}
} // namespace

QString TAlam::ListSQL(AlamFilter filter)
{
    const int index = qBound(0, int(filter), int(afAll));
    return kList + kFilterClauses[index];
}

void TAlam::InsertAlam()
{
    if (ReDay)
        LastSQL = FormatSQL(kInsertDaily, {TimeText(AlamTime), SqlText(ReMark)});
    else
        LastSQL = FormatSQL(kInsertOnce, {TimeText(AlamTime), DateText(AlamDate), BoolText(false), SqlText(ReMark)});
    DbExecSQL(LastSQL);
}

QList<QStringList> TAlam::LoadAlamList(AlamFilter filter)
{
    LastSQL = ListSQL(filter);
    const std::unique_ptr<TDataSet> set = DbAccess->Query(LastSQL);
    QList<QStringList> rows;
    rows.reserve(set->RecordCount());
    for (set->First(); !set->Eof(); set->Next())
        rows.append({set->AsString(0), set->AsString(1), set->AsString(2), set->AsString(3)});
    MarkMissedRows(rows);
    return rows;
}

void TAlam::DeleteAlam(const QString& id)
{
    LastSQL = FormatSQL(kDelete, {IdText(id)});
    DbExecSQL(LastSQL);
}

void TAlam::LoadAlam(const QString& id)
{
    LastSQL = FormatSQL(kLoad, {IdText(id)});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    const TDataSet& set = *query;
    // An empty result reads as zero and empty values, as the fields of a missing row.
    AlamTime = Ole::ToTime(set.AsFloat("AlamTime"));
    AlamDate = Ole::ToDate(set.AsFloat("AlamDate"));
    ReDay = set.AsBoolean("ReDay");
    ReMark = set.AsString("ReMark");
}

void TAlam::UpdateAlam(const QString& id)
{
    LastSQL =
        FormatSQL(kUpdate, {TimeText(AlamTime), DateText(AlamDate), BoolText(ReDay), SqlText(ReMark), IdText(id)});
    DbExecSQL(LastSQL);
}

void TAlam::MarkAlamSeen(const QString& id)
{
    LastSQL = FormatSQL(kMarkSeen, {IdText(id)});
    DbExecSQL(LastSQL);
}
