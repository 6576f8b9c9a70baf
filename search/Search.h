#pragma once

#include <QString>
#include <utility>
#include <vector>

struct sqlite3;
class TGroupTable;

// One search across the notes, the bookmarks and the reminders, read afresh
// from the database each time (a note is saved at each keystroke, so what
// was typed a moment ago is found).
//
// A query is split at blanks into words; an item is found when every word
// occurs in it as a substring: a note in its text or its group's name, a
// bookmark in its title, remark or address, a reminder in its text. Latin
// letters ignore case; every other character, Chinese among them, matches
// as it is, from one character on. Every character of a word is plain text
// (quotes, "%", "_", "@#@", NUL and the like). An empty or blank query finds
// nothing.

enum class TSearchKind { Note, Bookmark, Reminder };

// A marked range of a snippet, in characters (UTF-16 code units).
struct TSearchMark
{
    int Start = 0;
    int Length = 0;
    bool operator==(const TSearchMark&) const = default;
};

struct TSearchResult
{
    TSearchKind Kind = TSearchKind::Note;
    // Where to go: a note's group (its SelfIndex, 0 for the root); a
    // bookmark's ID and its group (0, "全部", also when its group is gone);
    // a reminder's ID.
    int Id = 0;
    int GroupId = 0;
    // The group's path as the trees show it ("根目录->工作->会议",
    // "全部->网址分组 1"); empty for a reminder. The words in the names
    // marked, as in the snippet.
    QString Path;
    std::vector<TSearchMark> PathMarks;
    // One line of the item around its first match, with every occurrence
    // of the words in it marked, in order and not overlapping. An item
    // found by its group's name alone shows its first line, unmarked.
    QString Snippet;
    std::vector<TSearchMark> Marks;
    // A reminder's time as the reminder list shows it ("每天  08:00:00",
    // "周一至周五  08:00:00", "每周一、三、五  08:00:00",
    // "2026-12-09 08:00:00").
    QString Time;
    // The first match in the note's whole text, -1 when the note matched by
    // its group's name only (for notes only).
    int TextMatch = -1;
    int TextMatchLength = 0;
};

// What a query found: at most kShownPerKind items of each kind, in order,
// and how many items of each kind match in all. Where the first items in
// order already hold kShownPerKind matches, the rest is not read: Found is
// then kShownPerKind and More says that others may follow.
inline constexpr int kShownPerKind = 200;
struct TSearchResults
{
    std::vector<TSearchResult> Items;
    int Found[3] = {0, 0, 0}; // by TSearchKind
    bool More[3] = {false, false, false};
    int FoundOf(TSearchKind kind) const { return Found[int(kind)]; }
    bool MoreOf(TSearchKind kind) const { return More[int(kind)]; }
};

// The words a query stands for: split at blanks, without duplicates (Latin
// case ignored) and without a word that another word contains.
QStringList SearchWords(const QString& query);

// Where a word first occurs in a text, the earliest of all words (any
// letter case), and its length; -1 when none occurs.
std::pair<qsizetype, qsizetype> FirstMatch(const QString& text, const QStringList& words);

// Runs a query on the database. Results come ordered by kind (notes,
// bookmarks, reminders), then by group path, then by ID; of a kind with
// more matches than are shown, the first in that order are shown. The
// groups are those the trees show (an item of a group they do not hold is
// not offered, a bookmark's shows under "全部"). Throws TSqlError only when
// the database itself fails, never for the query's text.
TSearchResults Search(sqlite3* db, const QString& query, const TGroupTable& noteGroups,
                      const TGroupTable& bookmarkGroups);
// The same, with the groups read from the database first (a failure to read
// them is an EDBException, as when a tree reads them).
TSearchResults Search(sqlite3* db, const QString& query);
