#include "sync/SyncItem.h"

#include "data/UException.h"

#include <QDataStream>
#include <QIODevice>

namespace {
constexpr qint32 kBatchFormat = 1;
} // namespace

// In the global namespace, where the stream looks for them.
QDataStream& operator<<(QDataStream& out, const TSyncField& field)
{
    return out << field.Value << field.Stamp << field.Origin;
}

QDataStream& operator>>(QDataStream& in, TSyncField& field)
{
    return in >> field.Value >> field.Stamp >> field.Origin;
}

QDataStream& operator<<(QDataStream& out, const TSyncItem& item)
{
    return out << item.Gid << qint32(item.Kind) << item.Born << item.Deleted << item.Fields << item.Versions;
}

QDataStream& operator>>(QDataStream& in, TSyncItem& item)
{
    qint32 kind = 0;
    in >> item.Gid >> kind >> item.Born >> item.Deleted >> item.Fields >> item.Versions;
    item.Kind = kind;
    return in;
}

QByteArray EncodeBatch(const TSyncBatch& batch)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << kBatchFormat << batch.Computer << batch.Host << batch.Seq << batch.State << batch.Items;
    return bytes;
}

TSyncBatch DecodeBatch(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_4);
    qint32 format = 0;
    TSyncBatch batch;
    in >> format;
    if (format != kBatchFormat)
        RaiseError("同步文件的格式无法识别。");
    in >> batch.Computer >> batch.Host >> batch.Seq >> batch.State >> batch.Items;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        RaiseError("同步文件的内容不完整。");
    for (const TSyncItem& item : batch.Items)
        if (item.Kind < skNoteGroup || item.Kind > skReminder || item.Gid.isEmpty())
            RaiseError("同步文件中有无法识别的项目。");
    return batch;
}
