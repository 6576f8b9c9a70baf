#include "data/CommandLineRun.h"

void PrintLine(std::FILE* to, const QString& text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
    std::fflush(to);
}

TCommandLineRun TCommandLineRun::SaidOnly(const QString& text)
{
    TCommandLineRun command;
    command.Said = text;
    return command;
}

TCommandLineRun TCommandLineRun::WrongArguments()
{
    TCommandLineRun command;
    command.Wrong = true;
    return command;
}

TCommandLineRun TCommandLineRun::RefusedWith(const QString& why)
{
    TCommandLineRun command;
    command.Refused = why;
    return command;
}

TCommandLineRun TCommandLineRun::OnData(std::function<QString()> run,
                                        std::function<QString(const std::exception&)> failure,
                                        const QStringList& handOver)
{
    TCommandLineRun command;
    command.Run = std::move(run);
    command.Failure = std::move(failure);
    command.HandOver = handOver;
    return command;
}
