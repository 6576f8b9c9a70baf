#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <exception>
#include <functional>

// One line of text for the terminal, flushed at once.
void PrintLine(std::FILE* to, const QString& text);

// A running program's answer to a command a later start hands to it
// (`jotterel --sync-now`, `--note` ...): what it did, or why it failed.
struct TRunningAnswer
{
    bool Done = false;
    QString Text;
};
using TRunningCommand = std::function<TRunningAnswer(const QStringList& arguments)>;
// Running commands by name: the request's first word; the rest are its arguments.
using TRunningCommands = QHash<QString, TRunningCommand>;

// A command of the command line as its folder reads the arguments; the
// program's entry runs it on the data file, or hands it to the program
// running on them.
struct TCommandLineRun
{
    // Done without the data (`--help`): what is printed on the standard
    // output, status 0.
    QString Said;
    // The arguments are wrong: the command's usage, and status 1.
    bool Wrong = false;
    // Refused before the data are opened (status 1): why.
    QString Refused;
    // Runs on the data file, opened for it: what it returns is printed on
    // the standard output (nothing when empty); raises for a failure.
    std::function<QString()> Run;
    // What a failure of Run says on the standard error.
    std::function<QString(const std::exception&)> Failure;
    // The running command that carries it out when a program runs on the
    // data; empty: it is refused then.
    QStringList HandOver;
    int AnswerTimeoutMs = 0; // 0: the usual wait
    // Said before the running program's reason for a failure, and before
    // why no program answered.
    QString FailedPrefix;
    QString NoAnswerPrefix;

    static TCommandLineRun SaidOnly(const QString& text);
    static TCommandLineRun WrongArguments();
    static TCommandLineRun RefusedWith(const QString& why);
    static TCommandLineRun OnData(std::function<QString()> run, std::function<QString(const std::exception&)> failure,
                                  const QStringList& handOver = {});
};
