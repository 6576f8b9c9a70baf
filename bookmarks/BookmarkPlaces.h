#pragma once

#include <QList>
#include <QString>

// Where a bookmark was before a move: its group, by number and name (a
// number freed and given again belongs to another group).
struct TBookmarkPlace
{
    int Id = 0;
    QString Name; // the bookmark's, for the 撤销 item
    int Group = 0;
    QString GroupName;
};

// Where the bookmarks are now, read before they move.
QList<TBookmarkPlace> BookmarkPlaces(const QList<int>& ids);
// "删除网址“甲”" for one bookmark, "删除 3 个网址" for several.
QString BookmarksText(const QString& verb, const QList<TBookmarkPlace>& places);
// Files the bookmarks back where they were, in one transaction. One whose
// group is gone meanwhile goes under the root, as a deleted one put back
// does; one deleted meanwhile stays deleted.
void PutBookmarksBack(const QList<TBookmarkPlace>& places);
