#pragma once

#include <QString>
#include <QStringList>

// Quick capture: a thought taken from outside the window (the command line,
// the session bus) into the data in one step, with the same store calls the
// dialogs use.
struct TCaptured
{
    enum TPage { Notes, Bookmarks, Reminders };
    TPage Page = Notes;
    int Group = 0; // the group it went into (0: the root)
    QString Text;  // what was added, as the user is told
    int Item = 0;  // the reminder added
};

// Appends a line to the note of the group at the path ("工作/会议"; empty:
// the root's note). Raises for an empty text or a path that names no group.
TCaptured CaptureNote(const QString& text, const QString& groupPath);
// Files a bookmark under the group at the path (empty: the root), titled by
// the address when no title is given. Raises for an empty address, a path
// that names no group, or an address already stored (naming its group).
TCaptured CaptureBookmark(const QString& url, const QString& title, const QString& groupPath);
// What fires from now on for the days, one line each ("2026-09-20 周日
// 09:00<TAB>打卡"), oldest first: `jotterel --agenda`.
QString AgendaText(int days);
// One of the above, or a reminder in plain words (see QuickTime.h), as the
// command line and the running program take it: {"note", text, group},
// {"bookmark", url, title, group}, {"remind", words}.
TCaptured Capture(const QStringList& command);
