#include "exchange/CommandLine.h"

#include "app/Backup.h"
#include "app/SingleInstance.h"
#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "exchange/BookmarkFile.h"
#include "exchange/NoteTransfer.h"
#include "groups/GroupTableStore.h"
#include "notes/UntNote.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {
const char* const kOptions[] = {"--export-notes", "--export-notes-md", "--import-notes", "--export-bookmarks",
                                "--import-bookmarks"};
const char* const kForce = "--force";
const char* const kUsage = "用法：jotterel [选项]\n"
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

bool IsOneOf(const char* arg, std::initializer_list<const char*> options)
{
    for (const char* option : options)
        if (std::strcmp(arg, option) == 0)
            return true;
    return false;
}

bool IsOption(const char* arg)
{
    for (const char* option : kOptions)
        if (std::strcmp(arg, option) == 0)
            return true;
    return false;
}

bool IsHelp(const char* arg)
{
    return IsOneOf(arg, {"--help", "-h"});
}

bool IsVersion(const char* arg)
{
    return IsOneOf(arg, {"--version"});
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// An export on the command line replaces no file unless asked to: there is
// no dialog to ask whether it may.
void CheckReplace(const QString& option, const QString& path, bool force)
{
    RefuseOwnFile(path); // not even with --force
    if (option == "--export-notes" || option.startsWith("--import") || force)
        return;
    if (QFileInfo(path).isFile())
        RaiseError(QString("%1 已经存在。要覆盖它，请加上 --force。").arg(Native(path)));
}

// Runs one command; throws for a failure.
QString Run(const QString& option, const QString& path)
{
    if (option == "--export-notes" || option == "--export-notes-md") {
        TGroupTable notes("NoteType", "根目录");
        notes.Load();
        const bool tree = option == "--export-notes";
        const TExportCount count = tree ? ExportNotesTree(notes, 0, path) : ExportNotesMarkdown(notes, 0, path);
        return QString("已导出 %1 个分组、%2 条记事到 %3").arg(count.Groups).arg(count.Notes).arg(Native(path));
    }
    if (option == "--import-notes") {
        DbAccess->CheckWritable();
        TGroupTable notes("NoteType", "根目录");
        notes.Load();
        TNote note;
        return ImportNotesFolder(notes, note, 0, path).Text("条记事");
    }
    TGroupTable bookmarks("IEType", "全部");
    bookmarks.Load();
    if (option == "--export-bookmarks") {
        const auto [groups, links] = ExportBookmarkFile(bookmarks, path);
        return QString("已导出 %1 个分组、%2 个网址到 %3").arg(groups).arg(links).arg(Native(path));
    }
    DbAccess->CheckWritable();
    return ImportBookmarkFile(bookmarks, 0, path).Text("个网址");
}

QString FailureText(const QString& option, const std::exception& e)
{
    const QString reason = ErrorText(e);
    return (option.startsWith("--import") ? "导入失败，没有导入任何内容。\n" : "导出失败：") + reason;
}
} // namespace

void PrintLine(std::FILE* to, const QString& text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
    std::fflush(to);
}

int RunCommandLine(int argc, char** argv)
{
    bool wanted = false;
    for (int i = 1; i < argc; ++i)
        wanted =
            wanted || IsOption(argv[i]) || IsHelp(argv[i]) || IsVersion(argv[i]) || std::strcmp(argv[i], kForce) == 0;
    if (!wanted)
        return -1;
    // No window, so no display is needed.
    QCoreApplication app(argc, argv);
    app.setApplicationName("Jotterel");
    app.setApplicationVersion(JOTTEREL_VERSION);
    QStringList arguments = app.arguments().mid(1);
    for (const QString& argument : arguments) {
        if (IsHelp(argument.toLocal8Bit().constData())) {
            PrintLine(stdout, kUsage);
            return 0;
        }
        if (IsVersion(argument.toLocal8Bit().constData())) {
            PrintLine(stdout, QString("Jotterel %1").arg(app.applicationVersion()));
            return 0;
        }
    }
    const bool force = arguments.removeAll(kForce) > 0;
    if (arguments.size() != 2 || !IsOption(arguments[0].toLocal8Bit().constData())) {
        PrintLine(stderr, kUsage);
        return 1;
    }
    const QString option = arguments[0];
    const QString path = QFileInfo(arguments[1]).absoluteFilePath();
    try {
        CheckReplace(option, path, force);
    } catch (const EError& e) {
        PrintLine(stderr, FailureText(option, e));
        return 1;
    }
    return RunOnData([&] { return Run(option, path); },
                     [&](const std::exception& e) { return FailureText(option, e); });
}

int RunOnData(const std::function<QString()>& run, const std::function<QString(const std::exception&)>& failure,
              const QStringList& handOver)
{
    TSingleInstance instance(AppPath());
    if (!instance.Claim()) {
        QString answer;
        const auto asked = handOver.isEmpty()
                               ? TSingleInstance::TAsked::NoAnswer
                               : instance.AskRunning(handOver, TSingleInstance::DefaultAnswerTimeoutMs, &answer);
        if (asked == TSingleInstance::TAsked::NoAnswer)
            answer = instance.FailureText();
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
        if (const QString done = run(); !done.isEmpty())
            PrintLine(stdout, done);
    } catch (const std::exception& e) {
        PrintLine(stderr, failure(e));
        status = 1;
    }
    delete DbAccess;
    DbAccess = nullptr;
    return status;
}
