#pragma once

#include "data/CommandLineRun.h"

// `jotterel --check-links [--group PATH]`, run without a window: checks the
// addresses of every bookmark (or of a group's branch), prints one line per
// address that is not 正常 (its result, the address, the group path) and a
// closing count of each result. Not handed to a running program: it holds
// the data then.

// Whether the arguments (without the program's name) ask for it.
bool IsLinkCheckCommand(const QStringList& arguments);
TCommandLineRun LinkCheckCommandLine(const QStringList& arguments);
