#pragma once

#include "data/CommandLineRun.h"

// The command line's import and export: `jotterel --export-notes DIR` and
// the like, run on the data file without a window. An export to a file that
// exists is refused unless `--force` is given; the program's own files are
// refused always.

// Whether the arguments (without the program's name) hold such a command.
bool IsTransferCommand(const QStringList& arguments);
// The command they ask for: wrong unless it is one option, its path and
// perhaps `--force`.
TCommandLineRun TransferCommandLine(const QStringList& arguments);
