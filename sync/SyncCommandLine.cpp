#include "sync/SyncCommandLine.h"

#include "data/UException.h"
#include "sync/Sync.h"
#include "sync/SyncText.h"

#include <QDir>
#include <QFileInfo>
#include <iostream>
#include <string>

namespace {
const QString kFolder = "--sync-folder";
const QString kPassphrase = "--sync-passphrase";
const QString kNow = "--sync-now";
// A round of the running program may wait for its folder a while.
constexpr int kAnswerTimeoutMs = 120 * 1000;

QString ReadPassphraseLine()
{
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

// Runs the command on the database; throws for a failure.
QString RunHere(const TSyncCommand& command, const QString& passphrase)
{
    switch (command.Kind) {
    case TSyncCommand::TKind::Join:
        TSync::Setup(QDir::cleanPath(QFileInfo(command.Folder).absoluteFilePath()), passphrase);
        return SyncStatusText(TSync::Status());
    case TSyncCommand::TKind::Stop:
        TSync::Stop();
        return SyncStatusText(TSync::Status());
    default: {
        const TSyncReport report = TSync::Round();
        // Without a window nobody can say yes to another computer's deleting much.
        if (!report.Refused.isEmpty())
            RaiseError(TSync::ReportText(report) +
                       "\n没有照做的删除要在程序窗口中确认（软件设置 → 同步… → 立即同步）。");
        return TSync::ReportText(report);
    }
    }
}
} // namespace

TSyncCommand ParseSyncCommand(const QStringList& arguments)
{
    const TSyncCommand invalid{TSyncCommand::TKind::Invalid, {}, false};
    if (!arguments.contains(kFolder) && !arguments.contains(kPassphrase) && !arguments.contains(kNow))
        return {};
    bool folderGiven = false;
    bool now = false;
    TSyncCommand command;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == kFolder && !folderGiven && i + 1 < arguments.size()) {
            folderGiven = true;
            command.Folder = arguments[++i];
        } else if (argument == kPassphrase && !command.ReadPassphrase) {
            command.ReadPassphrase = true;
        } else if (argument == kNow && !now) {
            now = true;
        } else {
            return invalid;
        }
    }
    if (now)
        return folderGiven || command.ReadPassphrase ? invalid : TSyncCommand{TSyncCommand::TKind::Now, {}, false};
    if (!folderGiven || (command.Folder.isEmpty() && command.ReadPassphrase))
        return invalid;
    command.Kind = command.Folder.isEmpty() ? TSyncCommand::TKind::Stop : TSyncCommand::TKind::Join;
    return command;
}

TCommandLineRun SyncCommandLine(const QStringList& arguments)
{
    const TSyncCommand command = ParseSyncCommand(arguments);
    if (command.Kind == TSyncCommand::TKind::Invalid)
        return TCommandLineRun::WrongArguments();
    // Read before the data is claimed: nobody waits on a prompt meanwhile.
    const QString passphrase = command.ReadPassphrase ? ReadPassphraseLine() : QString();
    TCommandLineRun run = TCommandLineRun::OnData([command, passphrase] { return RunHere(command, passphrase); },
                                                  [](const std::exception& e) { return "同步失败：" + ErrorText(e); });
    // The running program runs the round and shows what it brought.
    if (command.Kind == TSyncCommand::TKind::Now) {
        run.HandOver = {"sync-now"};
        run.AnswerTimeoutMs = kAnswerTimeoutMs;
        run.FailedPrefix = "同步失败：";
        run.NoAnswerPrefix = "正在运行的程序没有回应同步的请求。\n";
    }
    return run;
}
