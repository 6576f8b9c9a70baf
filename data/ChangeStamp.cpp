#include "data/ChangeStamp.h"

#include "data/Clock.h"

#include <QString>
#include <algorithm>
#include <sqlite3.h>

namespace {
qint64 g_last = 0;

void StampFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    sqlite3_result_int64(context, NextChangeStamp(sqlite3_value_int64(argv[0])));
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

qint64 NextChangeStamp(qint64 floor)
{
    const qint64 now = TClock::Now().toMSecsSinceEpoch() << 16;
    g_last = std::max({g_last + 1, floor + 1, now});
    return g_last;
}

bool InstallChangeStamps(sqlite3* db)
{
    if (sqlite3_create_function_v2(db, "SyncStamp", 1, SQLITE_UTF8, nullptr, StampFunction, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
        return false;
    static const TStamped rows[] = {
        {"NoteType", 1, "rowid"}, {"IEType", 2, "rowid"}, {"IE", 3, "ID"}, {"Alam", 4, "ID"}};
    QString sql;
    for (const TStamped& row : rows) {
        for (const char* event : {"INSERT", "UPDATE"})
            sql += QString("CREATE TEMP TRIGGER SyncStamp_%1_%2 AFTER %2 ON main.%1 WHEN %3 BEGIN "
                           "INSERT OR REPLACE INTO SyncDirty(Kind, RowKey, Stamp) VALUES (%4, NEW.%5, SyncStamp(%6)); "
                           "END;\n")
                       .arg(row.Table, event, kNotApplying)
                       .arg(row.Kind)
                       .arg(row.Key, kFloor);
        sql += QString("CREATE TEMP TRIGGER SyncStamp_%1_DELETE AFTER DELETE ON main.%1 WHEN OLD.Gid IS NOT NULL AND "
                       "%2 BEGIN INSERT OR REPLACE INTO SyncGone(Gid, Kind, Stamp) VALUES (OLD.Gid, %3, "
                       "SyncStamp(%4)); END;\n")
                   .arg(row.Table, kNotApplying)
                   .arg(row.Kind)
                   .arg(kFloor);
    }
    for (const char* event : {"INSERT", "UPDATE", "DELETE"})
        sql += QString("CREATE TEMP TRIGGER SyncStamp_NoteBook_%1 AFTER %1 ON main.NoteBook WHEN %2 BEGIN "
                       "INSERT OR REPLACE INTO SyncDirty(Kind, RowKey, Stamp) VALUES (1, %3, SyncStamp(%4)); END;\n")
                   .arg(event, kNotApplying, QString(kNoteKey).arg(QString(event) == "DELETE" ? "OLD" : "NEW"), kFloor);
    return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}
