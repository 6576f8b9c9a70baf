#pragma once

// The command line's import and export, run without a window and without a
// display: `jotterel --export-notes DIR` and the like, and `--help` and
// `--version`, which print and end before anything else (no display, no
// running copy asked). An export to a file that exists is refused unless
// `--force` is given; the program's own files are refused always. Returns the exit
// status, or -1 when the arguments hold no such command (the program then
// starts as usual). Prints what it did on the standard output, or why it
// failed on the standard error; 2 means the program is running on the same
// data.
int RunCommandLine(int argc, char** argv);

#include <QString>
#include <cstdio>

// One line of text for the terminal, flushed at once.
void PrintLine(std::FILE* to, const QString& text);
