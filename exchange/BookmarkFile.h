#pragma once

#include "exchange/Transfer.h"

#include <QByteArray>
#include <QString>
#include <vector>

class TGroupTable;

// The largest bookmark file an import reads, in bytes: a browser's file
// with a hundred thousand bookmarks and their icons stays well below it.
// A larger one is refused before a byte of it is read.
inline constexpr qint64 MaxBookmarkFileBytes = 128 * 1024 * 1024;

// The browsers' bookmark file (the Netscape bookmark format, bookmarks.html),
// which Firefox, Chrome, Edge and Safari all write and read: folders (H3)
// holding links (A HREF), each link maybe followed by its description (DD).

struct TBookmarkItem
{
    int Parent = -1; // the folder's index among the items; -1 for the top
    bool Folder = false;
    QString Title;
    QString Url;    // links only
    QString Remark; // links only: the description
};

// The items in the file's order, every folder before what it holds.
struct TBookmarkTree
{
    std::vector<TBookmarkItem> Items;
};

// Reads a file's text: entities decoded, attributes other than HREF (ADD_DATE,
// ICON, PERSONAL_TOOLBAR_FOLDER ...) passed by. Throws, naming the file, for
// text that is no bookmark file or ends before its lists do. Any nesting
// takes time and memory in proportion to the text.
TBookmarkTree ParseBookmarkFile(const QString& text, const QString& path, TProgressPacer* pacer = nullptr);
// The file of a tree, UTF-8 with LF breaks, as the browsers write it (the
// indentation stops growing below the sixteenth level).
QByteArray WriteBookmarkFile(const TBookmarkTree& tree);

// Every bookmark group as a folder, every bookmark as a link in it (the
// root's, and those of a group that is gone, at the top), written to a
// temporary name and renamed into place; the program's own files are
// refused. Returns groups and bookmarks written.
std::pair<int, int> ExportBookmarkFile(const TGroupTable& groups, const QString& path);

// Imports a bookmark file under a group (0: the root) in one transaction:
// folders become groups (names already in the tree get " (2)", ...), links
// bookmarks. A link whose address is already in the same group is skipped,
// as is a link without an address. A file that cannot be read, is not UTF-8
// or no bookmark file, one over MaxBookmarkFileBytes, a cancel or a failing
// write: nothing is imported.
TImportReport ImportBookmarkFile(TGroupTable& groups, int parent, const QString& path, const TProgress& progress = {});
