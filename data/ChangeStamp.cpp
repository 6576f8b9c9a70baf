#include "data/ChangeStamp.h"

#include "data/Clock.h"

#include <QHash>
#include <QString>
#include <algorithm>
#include <sqlite3.h>

namespace {
qint64 g_last = 0;
// The latest save of each row noted since it was last taken (kind, key).
QHash<QPair<int, qint64>, qint64> g_latest;

// SyncStamp(kind, key, floor): the stamp of this save, kept as the row's latest.
void StampFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    const qint64 stamp = NextChangeStamp(sqlite3_value_int64(argv[2]));
    g_latest.insert({sqlite3_value_int(argv[0]), sqlite3_value_int64(argv[1])}, stamp);
    sqlite3_result_int64(context, stamp);
}

// Which table's change is noted as which kind (sync/SyncItem's kinds) and
// under which key; the note's row is its group's.
struct TStamped
{
    const char* Table;
    int Kind;
    const char* Key;
};

const char* const kFloor = "(SELECT Value FROM SyncSet WHERE Name='Clock')";
const char* const kNotApplying = "NOT EXISTS (SELECT 1 FROM SyncApplying)";
const char* const kNoteKey = "coalesce((SELECT rowid FROM NoteType WHERE SelfIndex = %1.TypeID), 0)";
} // namespace

qint64 TakeLatestChangeStamp(int kind, qint64 key)
{
    return g_latest.take({kind, key});
}

qint64 NextChangeStamp(qint64 floor)
{
    const qint64 now = TClock::Now().toMSecsSinceEpoch() << 16;
    g_last = std::max({g_last + 1, floor + 1, now});
    return g_last;
}

bool InstallChangeStamps(sqlite3* db)
{
    if (sqlite3_create_function_v2(db, "SyncStamp", 3, SQLITE_UTF8, nullptr, StampFunction, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
        return false;
    // The stamp of a row's first save since it was taken is stored with its
    // note (OR IGNORE: a later save of the row writes nothing more); every
    // save's stamp is taken as the row's latest in memory.
    const auto note = [](const QString& table, const QString& event, const QString& kind, const QString& key) {
        return QString("CREATE TEMP TRIGGER SyncStamp_%1_%2 AFTER %2 ON main.%1 WHEN %5 BEGIN "
                       "INSERT OR IGNORE INTO SyncDirty(Kind, RowKey, Stamp) VALUES (%3, %4, SyncStamp(%3, %4, %6)); "
                       "END;\n")
            .arg(table, event, kind, key, kNotApplying, kFloor);
    };
    static const TStamped rows[] = {{"NoteType", 1, "rowid"},
                                    {"IEType", 2, "rowid"},
                                    {"IE", 3, "ID"},
                                    {"Alam", 4, "ID"},
                                    {"HolidayYear", 5, "Year"}};
    QString sql;
    for (const TStamped& row : rows) {
        for (const char* event : {"INSERT", "UPDATE"})
            sql += note(row.Table, event, QString::number(row.Kind), QString("NEW.") + row.Key);
        sql += QString("CREATE TEMP TRIGGER SyncStamp_%1_DELETE AFTER DELETE ON main.%1 WHEN OLD.Gid IS NOT NULL AND "
                       "%2 BEGIN INSERT OR IGNORE INTO SyncGone(Gid, Kind, Stamp) VALUES (OLD.Gid, %3, "
                       "SyncStamp(0, 0, %4)); END;\n")
                   .arg(row.Table, kNotApplying)
                   .arg(row.Kind)
                   .arg(kFloor);
    }
    for (const char* event : {"INSERT", "UPDATE", "DELETE"})
        sql += note("NoteBook", event, "1", QString(kNoteKey).arg(QString(event) == "DELETE" ? "OLD" : "NEW"));
    return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}
