#include "sync/SyncCommandLine.h"

#include "app/Backup.h"
#include "app/SingleInstance.h"
#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "exchange/CommandLine.h"
#include "sync/Sync.h"
#include "sync/SyncText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {
const QString kFolder = "--sync-folder";
const QString kPassphrase = "--sync-passphrase";
const QString kNow = "--sync-now";
const char* const kSyncUsage = "用法：jotterel --sync-folder 文件夹 [--sync-passphrase]\n"
                               "      jotterel --sync-folder \"\"\n"
                               "      jotterel --sync-now";
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

// Runs the command on the database, opened here; throws for a failure.
QString RunHere(const TSyncCommand& command, const QString& passphrase)
{
    DbAccess->Connect();
    RemoveRestoreLeftovers();
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

// The running program runs the round and shows what it brought.
int HandOver(TSingleInstance& instance)
{
    QString answer;
    switch (instance.AskRunning({"sync-now"}, kAnswerTimeoutMs, &answer)) {
    case TSingleInstance::TAsked::Done:
        PrintLine(stdout, answer);
        return 0;
    case TSingleInstance::TAsked::Failed:
        PrintLine(stderr, "同步失败：" + answer);
        return 1;
    case TSingleInstance::TAsked::NoAnswer:
        break;
    }
    PrintLine(stderr, "正在运行的程序没有回应同步的请求。\n" + instance.FailureText());
    return 2;
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

int RunSyncCommandLine(int argc, char** argv)
{
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    if (ParseSyncCommand(raw).Kind == TSyncCommand::TKind::None)
        return -1;
    // No window, so no display is needed.
    QCoreApplication app(argc, argv);
    app.setApplicationName("Jotterel");
    const TSyncCommand command = ParseSyncCommand(app.arguments().mid(1));
    if (command.Kind == TSyncCommand::TKind::Invalid) {
        PrintLine(stderr, kSyncUsage);
        return 1;
    }
    // Read before the data is claimed: nobody waits on a prompt meanwhile.
    const QString passphrase = command.ReadPassphrase ? ReadPassphraseLine() : QString();
    TSingleInstance instance(AppPath());
    if (!instance.Claim()) {
        if (command.Kind == TSyncCommand::TKind::Now)
            return HandOver(instance);
        PrintLine(stderr, instance.FailureText());
        return 2;
    }
    DbAccess = new TDbAccess;
    int status = 0;
    try {
        PrintLine(stdout, RunHere(command, passphrase));
    } catch (const std::exception& e) {
        PrintLine(stderr, "同步失败：" + ErrorText(e));
        status = 1;
    }
    delete DbAccess;
    DbAccess = nullptr;
    return status;
}
