#pragma once

#include "data/CommandLineRun.h"

// The commands of the command line, run without a window and without a
// display: `jotterel --export-notes DIR`, `--sync-now`, `--remind TEXT` and
// the like, and `--help` and `--version`, which print and end before
// anything else (no display, no running copy asked). Each folder reads its
// own commands; this runs them. Returns the exit status (0 done, 1 failed
// with the reason on the standard error, 2 the program running on the same
// data holds them and does not answer or take the command), or -1 when the
// arguments hold no such command (the program then starts as usual).
int RunCommandLine(int argc, char** argv);

// Runs a command on the data file, opened for it here: prints what it
// returns, or what its failure says. When a running program holds the data,
// a command that names one of its running commands goes to it and its
// answer is printed; any other is refused. Returns the exit status.
int RunOnData(const TCommandLineRun& command);
