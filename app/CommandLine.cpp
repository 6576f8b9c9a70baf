#include "app/CommandLine.h"

#include "app/Backup.h"
#include "app/SingleInstance.h"
#include "capture/CaptureCommandLine.h"
#include "data/MD.h"
#include "data/UntPublic.h"
#include "exchange/TransferCommandLine.h"
#include "links/LinkCommandLine.h"
#include "skins/SkinCommandLine.h"
#include "sync/SyncCommandLine.h"

#include <QApplication>
#include <algorithm>
#include <memory>

namespace {
const char* const kUsage =
    "用法：jotterel [选项]\n"
    "不带选项时打开程序窗口。\n"
    "\n"
    "选项：\n"
    "  --export-notes 文件夹       把全部记事导出为文件夹树（文件夹必须不存在或为空）\n"
    "  --export-notes-md 文件      把全部记事导出为一个 Markdown 文件\n"
    "  --import-notes 文件夹       把文件夹中的 .md 和 .txt 文件导入到记事的根目录下\n"
    "  --export-bookmarks 文件     把全部网址导出为浏览器书签文件\n"
    "  --import-bookmarks 文件     把浏览器书签文件导入到网址的根分组下\n"
    "  --force                     导出时覆盖已有的文件\n"
    "  --sync-folder 文件夹        通过这个文件夹与其他电脑同步（给空的文件夹名 \"\" 则停止同步）\n"
    "  --sync-passphrase           与 --sync-folder 一起用：从标准输入读一行作为同步密码\n"
    "  --sync-now                  立即同步一次（程序正在运行时由它来做）\n"
    "  --remind 文字               按文字添加提醒，例如 \"明天下午3点 交报告\"\n"
    "  --note 文字 [--group 路径]  在分组的记事末尾添加一行（默认根目录）\n"
    "  --bookmark 网址 [--title 标题] [--group 路径]  添加网址（默认放在“全部”下）\n"
    "  --agenda [天数]             列出今后几天（默认 7 天）要响的提醒，每行一个\n"
    "  --toggle                    显示程序窗口；窗口已在最前时把它收到托盘\n"
    "  --search 文字               显示程序窗口并搜索这些文字\n"
    "  --skin 名字                 选择皮肤：跟随系统、浅色、深色或自己的皮肤（程序下次启动时使用）\n"
    "  --check-links [--group 分组路径]  检查网址，列出不正常的网址（分组路径如 工作/会议）\n"
    "  --help                      显示这段说明\n"
    "  --version                   显示版本\n"
    "\n"
    "成功时退出状态为 0，失败为 1；程序正在使用同一份数据时为 2。";

bool IsHelp(const QString& argument)
{
    return argument == "--help" || argument == "-h";
}

bool IsHelpCommand(const QStringList& arguments)
{
    return std::any_of(arguments.begin(), arguments.end(),
                       [](const QString& argument) { return IsHelp(argument) || argument == "--version"; });
}

// --help and --version, wherever they stand among the arguments: the first
// of them is answered.
TCommandLineRun HelpCommandLine(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        if (IsHelp(argument))
            return TCommandLineRun::SaidOnly(kUsage);
        if (argument == "--version")
            return TCommandLineRun::SaidOnly("Jotterel " + QCoreApplication::applicationVersion());
    }
    return {};
}

// One verb of the command line: whether the arguments (without the
// program's name) ask for it, whether it draws windows (off the screen),
// its usage, and how it reads them.
struct TVerb
{
    bool (*Wanted)(const QStringList& arguments);
    bool Widgets;
    const char* Usage;
    TCommandLineRun (*Read)(const QStringList& arguments);
};

// In this order: the first verb the arguments ask for reads them all.
const TVerb kVerbs[] = {
    {[](const QStringList& a) { return ParseSyncCommand(a).Kind != TSyncCommand::TKind::None; }, false,
     "用法：jotterel --sync-folder 文件夹 [--sync-passphrase]\n"
     "      jotterel --sync-folder \"\"\n"
     "      jotterel --sync-now",
     SyncCommandLine},
    {[](const QStringList& a) { return !ParseCaptureCommand(a).isEmpty(); }, false,
     "用法：jotterel --remind \"明天 9:00 开会\"\n"
     "      jotterel --note 文字 [--group 分组/子分组]\n"
     "      jotterel --bookmark 网址 [--title 标题] [--group 分组/子分组]\n"
     "      jotterel --agenda [天数]（1 至 366，默认 7）",
     CaptureCommandLine},
    {[](const QStringList& a) { return ParseSkinCommand(a).has_value(); }, true, "用法：jotterel --skin 名字",
     SkinCommandLine},
    {IsLinkCheckCommand, false,
     "用法：jotterel --check-links [--group 分组路径]\n"
     "分组路径如 工作/会议，不给则检查全部网址。",
     LinkCheckCommandLine},
    {IsHelpCommand, false, kUsage, HelpCommandLine},
    {IsTransferCommand, false, kUsage, TransferCommandLine},
};
} // namespace

int RunCommandLine(int argc, char** argv)
{
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    for (const TVerb& verb : kVerbs) {
        if (!verb.Wanted(raw))
            continue;
        // No window on a display: what is drawn is drawn off the screen.
        std::unique_ptr<QCoreApplication> app;
        if (verb.Widgets) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            app = std::make_unique<QApplication>(argc, argv);
        } else {
            app = std::make_unique<QCoreApplication>(argc, argv);
        }
        app->setApplicationName("Jotterel");
        app->setApplicationVersion(JOTTEREL_VERSION);
        const TCommandLineRun command = verb.Read(app->arguments().mid(1));
        if (!command.Said.isEmpty()) {
            PrintLine(stdout, command.Said);
            return 0;
        }
        if (command.Wrong || !command.Refused.isEmpty()) {
            PrintLine(stderr, command.Wrong ? QString(verb.Usage) : command.Refused);
            return 1;
        }
        return RunOnData(command);
    }
    return -1;
}

int RunOnData(const TCommandLineRun& command)
{
    TSingleInstance instance(AppPath());
    if (!instance.Claim()) {
        QString answer;
        const int timeoutMs =
            command.AnswerTimeoutMs > 0 ? command.AnswerTimeoutMs : TSingleInstance::DefaultAnswerTimeoutMs;
        const auto asked = command.HandOver.isEmpty() ? TSingleInstance::TAsked::NoAnswer
                                                      : instance.AskRunning(command.HandOver, timeoutMs, &answer);
        if (asked == TSingleInstance::TAsked::NoAnswer)
            answer = command.NoAnswerPrefix + instance.FailureText();
        else if (asked == TSingleInstance::TAsked::Failed)
            answer = command.FailedPrefix + answer;
        // An empty answer (no reminder in the days asked) prints nothing.
        if (!answer.isEmpty())
            PrintLine(asked == TSingleInstance::TAsked::Done ? stdout : stderr, answer);
        return asked == TSingleInstance::TAsked::Done ? 0 : asked == TSingleInstance::TAsked::Failed ? 1 : 2;
    }
    DbAccess = new TDbAccess;
    int status = 0;
    try {
        DbAccess->Connect();
        RemoveRestoreLeftovers();
        if (const QString done = command.Run(); !done.isEmpty())
            PrintLine(stdout, done);
    } catch (const std::exception& e) {
        PrintLine(stderr, command.Failure(e));
        status = 1;
    }
    delete DbAccess;
    DbAccess = nullptr;
    return status;
}
