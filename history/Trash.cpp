#include "history/Trash.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "groups/GroupTableStore.h"

#include <QDataStream>
#include <QHash>
#include <QIODevice>
#include <QSet>
#include <QVariantMap>
#include <algorithm>
#include <sqlite3.h>

const char* const kTrashNotice = "\r\n删除的内容可在回收站中恢复（保留 30 天）。";

namespace {
// The stored kinds; the table keeps the text so that a later kind never
// changes the meaning of an earlier one.
const char* const kKindNames[] = {"NoteGroup", "BookmarkGroup", "Bookmark", "Reminder"};

sqlite3* Db()
{
    return DbAccess->Handle();
}

QString KindName(TTrashEntry::Kind kind)
{
    return kKindNames[kind];
}

TTrashEntry::Kind KindOf(const QString& name)
{
    for (int kind = TTrashEntry::NoteGroup; kind <= TTrashEntry::Reminder; ++kind)
        if (name == kKindNames[kind])
            return TTrashEntry::Kind(kind);
    RaiseError("回收站中的记录无法识别：" + name);
}

// The group table of a kind of group, with the caption its tree gives the root.
TGroupTable GroupTableOf(const QString& tableName)
{
    TGroupTable table(tableName, tableName == "IEType" ? "全部" : "根目录");
    table.Load();
    return table;
}

// Every column of the rows of a table that a condition selects, by name,
// so that the columns later steps of the schema add are kept as well.
QVariantList ReadRows(const QString& table, const QString& condition)
{
    TStmtHandle statement = PrepareNative(Db(), QString("select * from %1 where %2").arg(table, condition));
    QVariantList rows;
    for (;;) {
        const int step = sqlite3_step(statement.get());
        if (step == SQLITE_DONE)
            break;
        if (step != SQLITE_ROW)
            ThrowSqlError(Db());
        QVariantMap row;
        for (int column = 0; column < sqlite3_column_count(statement.get()); ++column)
            row.insert(QString::fromUtf8(sqlite3_column_name(statement.get(), column)),
                       ColumnVariant(statement.get(), column));
        rows << row;
    }
    return rows;
}

qint64 InsertRow(const QString& table, const QVariantMap& row)
{
    const QStringList columns = row.keys();
    const QStringList marks(columns.size(), "?");
    TStmtHandle statement =
        PrepareNative(Db(), QString("insert into %1(%2) values (%3)").arg(table, columns.join(','), marks.join(',')));
    for (int i = 0; i < columns.size(); ++i)
        BindVariant(statement.get(), i + 1, row.value(columns[i]));
    RunToEnd(Db(), statement.get());
    return sqlite3_last_insert_rowid(Db());
}

bool RowExists(const QString& table, const QString& column, qint64 value)
{
    TStmtHandle statement = PrepareNative(Db(), QString("select 1 from %1 where %2=?").arg(table, column));
    sqlite3_bind_int64(statement.get(), 1, value);
    return sqlite3_step(statement.get()) == SQLITE_ROW;
}

QByteArray Pack(const QVariantMap& payload)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << payload;
    return qCompress(bytes);
}

QVariantMap Unpack(const QByteArray& packed)
{
    QVariantMap payload;
    QDataStream in(qUncompress(packed));
    in.setVersion(QDataStream::Qt_6_4);
    in >> payload;
    if (in.status() != QDataStream::Ok)
        RaiseError("回收站中的记录已损坏，无法恢复。");
    return payload;
}

qint64 AddEntry(TTrashEntry::Kind kind, const QString& name, const QString& place, const QVariantMap& payload)
{
    TStmtHandle statement =
        PrepareNative(Db(), "insert into Trash(Kind, Name, Place, DeletedAt, Payload) values (?, ?, ?, ?, ?)");
    BindVariant(statement.get(), 1, KindName(kind));
    BindVariant(statement.get(), 2, name);
    BindVariant(statement.get(), 3, place);
    sqlite3_bind_int64(statement.get(), 4, TClock::Now().toSecsSinceEpoch());
    BindVariant(statement.get(), 5, Pack(payload));
    RunToEnd(Db(), statement.get());
    return sqlite3_last_insert_rowid(Db());
}

// Where a group or bookmark goes back to: its old parent group while that
// is still there under the same name (a number freed and given again
// belongs to another group), else the root.
int ParentToRestore(const TGroupTable& groups, const QVariantMap& payload)
{
    const int parent = payload.value("parent").toInt();
    return groups.Contains(parent) && groups.Name(parent) == payload.value("parentName").toString() ? parent : 0;
}

// Puts the groups back, parents first, and returns the SelfIndex each old
// one now has. A group keeps its number while that is free and after its
// parent's (the table is read in SelfIndex order, parents first).
QHash<int, int> RestoreGroups(const QString& tableName, const QVariantMap& payload)
{
    const TGroupTable groups = GroupTableOf(tableName);
    QHash<int, int> renumbered;
    QSet<QString> added;
    QSet<int> given;
    int largest = groups.MaxSelfIndex();
    for (const QVariant& value : payload.value("groups").toList()) {
        QVariantMap row = value.toMap();
        const int old = row.value("SelfIndex").toInt();
        const int parent = renumbered.isEmpty() ? ParentToRestore(groups, payload)
                                                : renumbered.value(row.value("ParentIndex").toInt());
        const int self = groups.Contains(old) || given.contains(old) || old <= parent ? largest + 1 : old;
        largest = std::max(largest, self);
        renumbered.insert(old, self);
        given.insert(self);
        const QString name = FreeName(row.value("TypeName").toString(), [&](const QString& candidate) {
            return groups.NameExists(candidate) || added.contains(candidate);
        });
        added.insert(name);
        row["SelfIndex"] = self;
        row["ParentIndex"] = parent;
        row["TypeName"] = name;
        InsertRow(tableName, row);
    }
    return renumbered;
}

// Puts rows back; their TypeID follows the groups' new numbers, and a
// number the table gave out meanwhile (it never does with AUTOINCREMENT,
// but a restore of a backup may) is left for the table to choose. Returns
// the ID each row had and has now.
QHash<qint64, qint64> RestoreRows(const QString& table, const QVariantList& rows, const QHash<int, int>& renumbered)
{
    QHash<qint64, qint64> ids;
    for (const QVariant& value : rows) {
        QVariantMap row = value.toMap();
        if (row.contains("TypeID"))
            row["TypeID"] = renumbered.value(row.value("TypeID").toInt(), 0);
        const qint64 old = row.value("ID").toLongLong();
        if (row.contains("ID") && RowExists(table, "ID", old))
            row.remove("ID");
        ids.insert(old, InsertRow(table, row));
    }
    return ids;
}

// The rows that hang on bookmarks (their last check, their site's icon),
// which a trigger deletes with them: kept beside them in the payload.
const char* const kBookmarkDependents[] = {"LinkCheck", "SiteIcon"};

void KeepBookmarkDependents(QVariantMap& payload, const QString& bookmarks)
{
    for (const char* table : kBookmarkDependents)
        payload.insert(table, ReadRows(table, "IEID in " + bookmarks));
}

void RestoreBookmarkDependents(const QVariantMap& payload, const QHash<qint64, qint64>& ids)
{
    for (const char* table : kBookmarkDependents) {
        for (const QVariant& value : payload.value(table).toList()) {
            QVariantMap row = value.toMap();
            row["IEID"] = ids.value(row.value("IEID").toLongLong());
            InsertRow(table, row);
        }
    }
}

// The rows of a group table that a branch's delete removes, every column,
// parents first (in the branch's order), so a restore can give them their
// numbers anew from the top down.
QVariantList ReadGroupRows(const TGroupTable& groups, const QList<int>& branch)
{
    const QString in = SqlInList(branch);
    QVariantList rows = ReadRows(groups.TableName(), QString("SelfIndex in %1 or ParentIndex in %1").arg(in));
    const auto place = [&branch](const QVariant& row) {
        const qsizetype at = branch.indexOf(row.toMap().value("SelfIndex").toInt());
        return at < 0 ? branch.size() : at;
    };
    std::stable_sort(rows.begin(), rows.end(),
                     [&place](const QVariant& a, const QVariant& b) { return place(a) < place(b); });
    return rows;
}
} // namespace

QString TrashKindText(TTrashEntry::Kind kind)
{
    switch (kind) {
    case TTrashEntry::NoteGroup:
        return "记事分组";
    case TTrashEntry::BookmarkGroup:
        return "网址分组";
    case TTrashEntry::Bookmark:
        return "网址";
    case TTrashEntry::Reminder:
        return "提醒";
    }
    return QString();
}

QString TTrash::Notice() const
{
    return kTrashNotice;
}

QList<qint64> TTrash::DeleteBranch(TGroupTable& groups, int self, const QString& alsoRun)
{
    if (self == 0)
        RaiseError("不能删除根分组！");
    const bool notes = groups.TableName() == "NoteType";
    const QString in = SqlInList(groups.Branch(self));
    QVariantMap payload;
    const int parent = groups.ShownParent(self);
    payload.insert("parent", parent);
    payload.insert("parentName", groups.Name(parent));
    qint64 entry = 0;
    try {
        DbAccess->Batch([&] {
            payload.insert("groups", ReadGroupRows(groups, groups.Branch(self)));
            payload.insert("items", ReadRows(notes ? "NoteBook" : "IE", "TypeID in " + in));
            if (notes) {
                // A group's earlier texts go with it, and come back with it.
                payload.insert("versions", ReadRows("NoteVersion", "TypeID in " + in));
                ExecNative(Db(), "delete from NoteVersion where TypeID in " + in);
            } else {
                KeepBookmarkDependents(payload, "(select ID from IE where TypeID in " + in + ")");
            }
            entry = AddEntry(notes ? TTrashEntry::NoteGroup : TTrashEntry::BookmarkGroup, groups.Name(self),
                             groups.PathText(parent), payload);
            groups.DeleteBranch(self, alsoRun);
        });
    } catch (...) {
        // The table in memory follows the file, which kept the branch.
        groups.Load();
        throw;
    }
    return {entry};
}

QList<qint64> TTrash::KeepBookmarks(const QList<int>& ids)
{
    const TGroupTable groups = GroupTableOf("IEType");
    QList<qint64> entries;
    for (const QVariant& value : ReadRows("IE", "ID in " + SqlInList(ids))) {
        const QVariantMap row = value.toMap();
        const int group = row.value("TypeID").toInt();
        const int parent = groups.Contains(group) ? group : 0;
        QVariantMap payload;
        payload.insert("parent", parent);
        payload.insert("parentName", groups.Name(parent));
        payload.insert("items", QVariantList{row});
        KeepBookmarkDependents(payload, "(" + row.value("ID").toString() + ")");
        entries << AddEntry(TTrashEntry::Bookmark, row.value("IEName").toString(), groups.PathText(parent), payload);
    }
    return entries;
}

QList<qint64> TTrash::KeepReminders(const QStringList& ids)
{
    QList<qint64> entries;
    QList<int> numbers;
    for (const QString& id : ids)
        numbers << id.toInt();
    for (const QVariant& value : ReadRows("Alam", "ID in " + SqlInList(numbers))) {
        QVariantMap payload;
        payload.insert("items", QVariantList{value});
        entries << AddEntry(TTrashEntry::Reminder, value.toMap().value("ReMark").toString(), "提醒", payload);
    }
    return entries;
}

QList<TTrashEntry> TTrash::Entries() const
{
    TStmtHandle statement =
        PrepareNative(Db(), "select ID, Kind, Name, Place, DeletedAt from Trash order by DeletedAt desc, ID desc");
    QList<TTrashEntry> entries;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        TTrashEntry entry;
        entry.Id = sqlite3_column_int64(statement.get(), 0);
        entry.kind = KindOf(ColumnVariant(statement.get(), 1).toString());
        entry.Name = ColumnVariant(statement.get(), 2).toString();
        entry.Place = ColumnVariant(statement.get(), 3).toString();
        entry.DeletedAt = QDateTime::fromSecsSinceEpoch(sqlite3_column_int64(statement.get(), 4));
        entries << entry;
    }
    return entries;
}

TRestored TTrash::Restore(qint64 id)
{
    const QVariantList found = ReadRows("Trash", "ID=" + QString::number(id));
    if (found.isEmpty())
        RaiseError("回收站中已没有这一项。");
    const QVariantMap entry = found.first().toMap();
    TRestored restored;
    restored.kind = KindOf(entry.value("Kind").toString());
    const QVariantMap payload = Unpack(entry.value("Payload").toByteArray());
    DbAccess->Batch([&] {
        const int top = payload.value("groups").toList().value(0).toMap().value("SelfIndex").toInt();
        switch (restored.kind) {
        case TTrashEntry::NoteGroup: {
            const QHash<int, int> renumbered = RestoreGroups("NoteType", payload);
            restored.Id = renumbered.value(top);
            RestoreRows("NoteBook", payload.value("items").toList(), renumbered);
            RestoreRows("NoteVersion", payload.value("versions").toList(), renumbered);
            break;
        }
        case TTrashEntry::BookmarkGroup: {
            const QHash<int, int> renumbered = RestoreGroups("IEType", payload);
            restored.Id = renumbered.value(top);
            RestoreBookmarkDependents(payload, RestoreRows("IE", payload.value("items").toList(), renumbered));
            break;
        }
        case TTrashEntry::Bookmark: {
            const int group = payload.value("items").toList().value(0).toMap().value("TypeID").toInt();
            const int parent = ParentToRestore(GroupTableOf("IEType"), payload);
            const QHash<qint64, qint64> ids = RestoreRows("IE", payload.value("items").toList(), {{group, parent}});
            RestoreBookmarkDependents(payload, ids);
            restored.Id = ids.isEmpty() ? 0 : *ids.cbegin();
            break;
        }
        case TTrashEntry::Reminder: {
            const QHash<qint64, qint64> ids = RestoreRows("Alam", payload.value("items").toList(), {});
            restored.Id = ids.isEmpty() ? 0 : *ids.cbegin();
            break;
        }
        }
        ExecNative(Db(), "delete from Trash where ID=" + QString::number(id));
    });
    return restored;
}

QList<TRestored> TTrash::RestoreAll(const QList<qint64>& ids)
{
    QList<TRestored> restored;
    DbAccess->Batch([&] {
        for (qint64 id : ids)
            if (RowExists("Trash", "ID", id))
                restored << Restore(id);
    });
    if (restored.isEmpty())
        RaiseError("回收站中已没有这一项。");
    return restored;
}

void TTrash::MergeFrom(const QString& path)
{
    TDbHandle other;
    try {
        other = OpenReadOnly(path, 2000);
    } catch (const TSqlError& e) {
        RaiseError("回收站未能合并：" + e.Message);
    }
    TStmtHandle read =
        PrepareNative(other.get(), "select Kind, Name, Place, DeletedAt, Payload from Trash order by ID");
    DbAccess->Batch([&] {
        TStmtHandle known = PrepareNative(
            Db(), "select 1 from Trash where Kind=? and Name=? and Place=? and DeletedAt=? and Payload=?");
        TStmtHandle insert =
            PrepareNative(Db(), "insert into Trash(Kind, Name, Place, DeletedAt, Payload) values (?, ?, ?, ?, ?)");
        while (sqlite3_step(read.get()) == SQLITE_ROW) {
            for (sqlite3_stmt* statement : {known.get(), insert.get()}) {
                sqlite3_reset(statement);
                for (int column = 0; column < 5; ++column)
                    BindVariant(statement, column + 1, ColumnVariant(read.get(), column));
            }
            if (sqlite3_step(known.get()) != SQLITE_ROW)
                RunToEnd(Db(), insert.get());
        }
    });
}

void TTrash::Remove(qint64 id)
{
    DbAccess->Batch([&] { ExecNative(Db(), "delete from Trash where ID=" + QString::number(id)); });
}

void TTrash::Clear()
{
    DbAccess->Batch([] { ExecNative(Db(), "delete from Trash"); });
}

void TTrash::Expire(const QDateTime& now)
{
    const qint64 limit = now.addDays(-kKeepDays).toSecsSinceEpoch();
    if (DbGetIntValue(QString("select count(*) from Trash where DeletedAt < %1").arg(limit)) == 0)
        return;
    DbAccess->Batch([&] { ExecNative(Db(), QString("delete from Trash where DeletedAt < %1").arg(limit)); });
}
