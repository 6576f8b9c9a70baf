#include "bookmarks/BookmarkPlaces.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "groups/GroupTableStore.h"

#include <sqlite3.h>

namespace {
TGroupTable BookmarkGroups()
{
    TGroupTable groups("IEType", "全部");
    groups.Load();
    return groups;
}
} // namespace

QList<TBookmarkPlace> BookmarkPlaces(const QList<int>& ids)
{
    const TGroupTable groups = BookmarkGroups();
    TStmtHandle statement = PrepareNative(DbAccess->Handle(), "select ID, TypeID, IEName from IE where ID in " +
                                                                  SqlInList(ids) + " order by ID");
    QList<TBookmarkPlace> places;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const int group = sqlite3_column_int(statement.get(), 1);
        places << TBookmarkPlace{sqlite3_column_int(statement.get(), 0), ColumnText(statement.get(), 2), group,
                                 groups.Name(group)};
    }
    return places;
}

QString BookmarksText(const QString& verb, const QList<TBookmarkPlace>& places)
{
    return places.size() == 1 ? verb + "网址“" + places[0].Name + "”"
                              : QString("%1 %2 个网址").arg(verb).arg(places.size());
}

void PutBookmarksBack(const QList<TBookmarkPlace>& places)
{
    const TGroupTable groups = BookmarkGroups();
    DbAccess->Batch([&] {
        TStmtHandle statement = PrepareNative(DbAccess->Handle(), "update IE set TypeID=? where ID=?");
        for (const TBookmarkPlace& place : places) {
            const bool there = groups.Contains(place.Group) && groups.Name(place.Group) == place.GroupName;
            sqlite3_bind_int(statement.get(), 1, there ? place.Group : 0);
            sqlite3_bind_int(statement.get(), 2, place.Id);
            RunToEnd(DbAccess->Handle(), statement.get());
            sqlite3_reset(statement.get());
        }
    });
}
