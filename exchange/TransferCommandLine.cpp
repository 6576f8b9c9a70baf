#include "exchange/TransferCommandLine.h"

#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "exchange/BookmarkFile.h"
#include "exchange/NoteTransfer.h"
#include "groups/GroupTableStore.h"
#include "notes/UntNote.h"

#include <QDir>
#include <QFileInfo>

namespace {
const char* const kOptions[] = {"--export-notes", "--export-notes-md", "--import-notes", "--export-bookmarks",
                                "--import-bookmarks"};
const QString kForce = "--force";

bool IsOption(const QString& arg)
{
    for (const char* option : kOptions)
        if (arg == option)
            return true;
    return false;
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

bool IsTransferCommand(const QStringList& arguments)
{
    for (const QString& argument : arguments)
        if (IsOption(argument) || argument == kForce)
            return true;
    return false;
}

TCommandLineRun TransferCommandLine(const QStringList& given)
{
    QStringList arguments = given;
    const bool force = arguments.removeAll(kForce) > 0;
    if (arguments.size() != 2 || !IsOption(arguments[0]))
        return TCommandLineRun::WrongArguments();
    const QString option = arguments[0];
    const QString path = QFileInfo(arguments[1]).absoluteFilePath();
    try {
        CheckReplace(option, path, force);
    } catch (const EError& e) {
        return TCommandLineRun::RefusedWith(FailureText(option, e));
    }
    return TCommandLineRun::OnData([option, path] { return Run(option, path); },
                                   [option](const std::exception& e) { return FailureText(option, e); });
}
