#pragma once

#include "data/CommandLineRun.h"

#include <QStringList>

// The command line's quick capture, run without a window:
//   --remind "明天 9:00 开会"                     a reminder in plain words
//   --note TEXT [--group PATH]                    a line appended to a note
//   --bookmark URL [--title T] [--group PATH]     a bookmark
//   --agenda [DAYS]                               what fires in the next days (7)
// With the program running it is handed to it, otherwise done here on the
// data file. And what the window does for a later start instead of coming
// to the front:
//   --toggle          in front when hidden or behind, into the tray when in front
//   --search WORDS    the window shown with the search field filled

// The command the arguments (without the program's name) ask for, as the
// running program takes it: {"remind", words}, {"note", text, group},
// {"bookmark", url, title, group}, {"agenda", days}; empty when they hold no capture option,
// {"?"} when they hold one wrongly or with other options.
QStringList ParseCaptureCommand(const QStringList& arguments);
// {"toggle"} or {"search", words}; empty when the arguments ask neither,
// {"?"} when they hold one wrongly or with other options.
QStringList ParseWindowCommand(const QStringList& arguments);

// The capture command the arguments ask for: done on the data file, or by
// the running program.
TCommandLineRun CaptureCommandLine(const QStringList& arguments);
