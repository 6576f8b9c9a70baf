#pragma once

#include "exchange/Transfer.h"

#include <QHash>
#include <QString>

class TGroupTable;
class TNote;

// Notes out of the program and into it, as Markdown and plain text.
//
// The folder tree: the exported folder stands for the exported group. A
// group with subgroups is a folder named after it, holding its note as
// "<folder name>.md" (left out when empty) beside what is below it; a group
// without is the file "<name>.md" in its parent's folder. The whole tree is
// the root's folder, its note "根目录.md"; a hidden mark beside it lets an
// import tell the tree from a group's branch also when that note is empty.

// The largest note file an import reads, in bytes; a larger one is passed
// by and named in the closing report, before a byte of it is read.
inline constexpr qint64 MaxNoteBytes = 10 * 1024 * 1024;

struct TExportCount
{
    int Groups = 0; // the groups written, the root not counted
    int Notes = 0;  // the notes with text
};

// Every group's note, read at once.
QHash<int, QString> ReadAllNotes();

// Writes the branch of a group (0: every note) as a folder tree at the
// target, which must not exist or be an empty folder. The tree is made
// beside it under another name and renamed into place when it is complete.
TExportCount ExportNotesTree(const TGroupTable& groups, int top, const QString& target);
// Writes the branch as one Markdown file: each group a heading of its depth
// ("#" for the exported group; below the sixth level the path from there
// down, cut to its last names), its note below with the note's own headings
// moved below the group's (to the sixth level at most). UTF-8, LF breaks.
TExportCount ExportNotesMarkdown(const TGroupTable& groups, int top, const QString& file);

// Imports a folder of .md and .txt files as a new branch under a group: the
// folder and each subfolder become a group, each file a group with the
// file's text as its note, except a folder's own note "<folder name>.md" (or
// .txt), which becomes that folder's group's note; without one inside, the
// same file beside the folder is its note. A file that is not UTF-8 is read
// as GB18030 when it decodes as such, and named in the report. A whole tree
// (its folder holds "根目录.md" or the export's mark) goes under the group
// itself, and its root's note becomes the group's note when the group has
// none. Files of other kinds are passed by; hidden entries, symbolic links,
// pipes and devices, paths too long, entries that cannot be read and files
// over MaxNoteBytes are passed by and listed in the report. Everything is read before the first write; one
// transaction writes it all, or nothing when a file is neither encoding, the
// progress cancels or a write fails. Any depth and any number of entries
// take time and memory in proportion to them.
TImportReport ImportNotesFolder(TGroupTable& groups, TNote& note, int parent, const QString& folder,
                                const TProgress& progress = {});
