#pragma once

#include "exchange/Transfer.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class TGroupTable;

// The largest bookmark file an import reads, in bytes: a browser's file
// with a hundred thousand bookmarks and their icons stays well below it.
// A larger one is refused before a byte of it is read.
inline constexpr qint64 MaxBookmarkFileBytes = 128 * 1024 * 1024;

// The browsers' bookmark file (the Netscape bookmark format, bookmarks.html),
// which Firefox, Chrome, Edge and Safari all write and read: folders (H3)
// holding links (A HREF) and separators (HR), each link or folder maybe
// followed by its description (DD).

struct TBookmarkItem
{
    int Parent = -1; // the folder's index among the items; -1 for the top
    bool Folder = false;
    bool Separator = false; // an <HR>: no title, no address
    QString Title;
    QString Url;                        // links only
    QString Remark;                     // the description
    std::optional<qint64> AddDate;      // seconds since 1970
    std::optional<qint64> LastModified; // seconds since 1970
    bool Toolbar = false;               // folders only: the browser's toolbar
    QString Tags;                       // links only: as written, "a,b"
    QString ShortcutUrl;                // links only: the keyword
    QByteArray Icon;                    // links only: the image of an ICON data address
    QString IconUri;                    // links only: ICON_URI, where the browser got the icon
};

// The items in the file's order, every folder before what it holds.
struct TBookmarkTree
{
    std::vector<TBookmarkItem> Items;
};

// Reads a file's text: entities decoded, the attributes the items above hold
// read, others (LAST_CHARSET ...) passed by. Throws, naming the file, for
// text that is no bookmark file or ends before its lists do. Any nesting
// takes time and memory in proportion to the text.
TBookmarkTree ParseBookmarkFile(const QString& text, const QString& path, TProgressPacer* pacer = nullptr);
// The file of a tree, UTF-8 with LF breaks, as the browsers write it (the
// indentation stops growing below the sixteenth level).
QByteArray WriteBookmarkFile(const TBookmarkTree& tree);

// Every bookmark group as a folder, every bookmark as a link in it (the
// root's, and those of a group that is gone, at the top) with what an import
// kept of the browser's file, in the file's order (items added since after
// it, links before folders), written to a
// temporary name and renamed into place; the program's own files are
// refused. Returns groups and bookmarks written.
std::pair<int, int> ExportBookmarkFile(const TGroupTable& groups, const QString& path);

// Imports a bookmark file under a group (0: the root) in one transaction:
// folders become groups (names already in the tree get " (2)", ...), links
// bookmarks, with their dates, tags, keywords, icons, separators and order.
// Importing the same browser's file again merges: a folder whose path is
// that of a group under the chosen one (the group's name maybe with the
// " (2)" an earlier import gave it) fills that group. A link whose address
// is already in the same group is skipped, as is a link without an address. A file that cannot be read, is not UTF-8
// or no bookmark file, one over MaxBookmarkFileBytes, a cancel or a failing
// write: nothing is imported.
TImportReport ImportBookmarkFile(TGroupTable& groups, int parent, const QString& path, const TProgress& progress = {});
