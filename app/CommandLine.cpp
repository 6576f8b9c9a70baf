#include "app/CommandLine.h"

#include "app/Backup.h"
#include "app/SingleInstance.h"
#include "bookmarks/BookmarkFile.h"
#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "groups/GroupTableStore.h"
#include "notes/NoteTransfer.h"
#include "notes/UntNote.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstring>

namespace {
const char* const kOptions[] = {"--export-notes", "--export-notes-md", "--import-notes", "--export-bookmarks",
                                "--import-bookmarks"};
const char* const kUsage = "用法：jotterel --export-notes 文件夹 | --export-notes-md 文件 | --import-notes 文件夹 | "
                           "--export-bookmarks 文件 | --import-bookmarks 文件";

bool IsOption(const char* arg)
{
    for (const char* option : kOptions)
        if (std::strcmp(arg, option) == 0)
            return true;
    return false;
}

void Print(std::FILE* to, const QString& text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
    std::fflush(to);
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
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
} // namespace

int RunCommandLine(int argc, char** argv)
{
    bool wanted = false;
    for (int i = 1; i < argc; ++i)
        wanted = wanted || IsOption(argv[i]);
    if (!wanted)
        return -1;
    // No window, so no display is needed.
    QCoreApplication app(argc, argv);
    app.setApplicationName("Jotterel");
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() != 2 || !IsOption(argv[1])) {
        Print(stderr, kUsage);
        return 1;
    }
    const QString option = arguments[0];
    const QString path = QFileInfo(arguments[1]).absoluteFilePath();
    TSingleInstance instance(AppPath());
    if (!instance.Claim()) {
        Print(stderr, instance.FailureText());
        return 2;
    }
    DbAccess = new TDbAccess;
    int status = 0;
    try {
        DbAccess->Connect();
        RemoveRestoreLeftovers();
        Print(stdout, Run(option, path));
    } catch (const EError& e) {
        const auto* db = dynamic_cast<const EDBException*>(&e);
        const QString reason = db ? db->UserMessage + "\n" + db->Message() : e.Message();
        Print(stderr, (option.startsWith("--import") ? "导入失败，没有导入任何内容。\n" : "导出失败：") + reason);
        status = 1;
    }
    delete DbAccess;
    DbAccess = nullptr;
    return status;
}
