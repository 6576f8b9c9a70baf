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
#include <QStringList>
#include <cstdio>
#include <exception>
#include <functional>

// One line of text for the terminal, flushed at once.
void PrintLine(std::FILE* to, const QString& text);

// Runs a command of the command line on the data file, opened for it here:
// prints what `run` returns, or the text `failure` gives for what it
// raised. When a running program holds the data, a command that names one
// of its RunningCommands (`handOver`) goes to it and its answer is printed;
// any other is refused. Returns the exit status: 0 done, 1 failed, 2 a
// program holds the data and does not answer or take the command.
int RunOnData(const std::function<QString()>& run, const std::function<QString(const std::exception&)>& failure,
              const QStringList& handOver = {});
