#include "capture/Capture.h"

#include "bookmarks/UntIE.h"
#include "capture/QuickTime.h"
#include "data/Clock.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "groups/GroupTableStore.h"
#include "notes/UntNote.h"
#include "reminders/UntAlam.h"

namespace {
int GroupAt(const QString& table, const QString& rootCaption, const QString& path)
{
    TGroupTable groups(table, rootCaption);
    groups.Load();
    const int group = groups.FindPath(path);
    if (group < 0)
        RaiseError(QString("找不到分组“%1”。分组的路径从第一层写起，用 / 隔开，例如“工作/会议”。").arg(path));
    return group;
}

QString GroupCaption(const QString& table, const QString& rootCaption, int group)
{
    TGroupTable groups(table, rootCaption);
    groups.Load();
    return groups.PathText(group);
}
} // namespace

TCaptured Capture(const QStringList& command)
{
    const QString kind = command.value(0);
    if (kind == "note")
        return CaptureNote(command.value(1), command.value(2));
    if (kind == "bookmark")
        return CaptureBookmark(command.value(1), command.value(2), command.value(3));
    if (kind == "remind") {
        TCaptured captured;
        captured.Page = TCaptured::Reminders;
        captured.Text = AddReminderFromWords(command.value(1), &captured.Item);
        return captured;
    }
    RaiseError(QString("不认识的命令“%1”。").arg(kind));
}

QString AgendaText(int days)
{
    return TAlam().Agenda(TClock::Now(), days).join('\n');
}

TCaptured CaptureNote(const QString& text, const QString& groupPath)
{
    const QString line = text.trimmed();
    if (line.isEmpty())
        RaiseError("记事内容不能为空！");
    const int group = GroupAt("NoteType", "根目录", groupPath);
    TNote note;
    const QString id = QString::number(group);
    TNoteBase base{note.NoteExists(id), {}};
    note.LoadNote(id);
    base.Text = note.ReMark.toUtf8();
    QString stored = note.ReMark;
    if (!stored.isEmpty() && !stored.endsWith('\n'))
        stored += "\r\n";
    note.TypeID = group;
    note.SaveNote(stored + line, base);
    return {TCaptured::Notes, group,
            QString("已添加到记事“%1”：%2").arg(GroupCaption("NoteType", "根目录", group), line)};
}

TCaptured CaptureBookmark(const QString& url, const QString& title, const QString& groupPath)
{
    const QString address = TrimBlanks(url);
    if (address.isEmpty())
        RaiseError("网址不能为空！");
    const int group = GroupAt("IEType", "全部", groupPath);
    TIE ie;
    const int holder = ie.FindAddress(address);
    if (holder >= 0)
        RaiseError(QString("这个网址已经保存在分组“%1”中，没有再添加。").arg(GroupCaption("IEType", "全部", holder)));
    ie.TypeID = group;
    ie.IEUrl = address;
    ie.IEName = TrimBlanks(title).isEmpty() ? address : TrimBlanks(title);
    ie.InsertIE();
    return {TCaptured::Bookmarks, group,
            QString("已添加网址到“%1”：%2").arg(GroupCaption("IEType", "全部", group), ie.IEName)};
}
