#include "sync/SyncText.h"

#include "data/UException.h"

#include <QStringList>

QString SyncStatusLine(const TSyncStatus& status, const QString& failure)
{
    if (status.Folder.isEmpty())
        return "同步未开启。";
    if (!failure.isEmpty())
        return "同步失败：" + failure;
    if (!status.LastRound.isValid())
        return QString("同步已开启，还没有同步过，另有 %1 台电脑。").arg(status.Computers);
    return QString("上次同步：%1，另有 %2 台电脑。")
        .arg(status.LastRound.toString("yyyy-MM-dd HH:mm:ss"))
        .arg(status.Computers);
}

QString SyncStatusText(const TSyncStatus& status, const QString& failure)
{
    QStringList lines{SyncStatusLine(status, failure)};
    if (status.Folder.isEmpty())
        return lines.first();
    for (const QString& waiting : status.Waiting)
        lines << "还在等" + waiting + "。";
    for (const QString& skipped : status.Skipped)
        lines << "未读取的文件：" + skipped;
    if (!status.Encrypted)
        lines << "同步文件未加密：能打开同步文件夹的人都能读到这些数据，能写入它的人都能改动这些数据。";
    return lines.join('\n');
}
