#include "sync/SyncItem.h"

#include "data/UException.h"

#include <QHashFunctions>
#include <cstring>

namespace {
// The payload's first bytes: the layout below. A file of another layout is
// no batch of ours.
const QByteArray kBatchMagic = QByteArrayLiteral("JSB2");

// What no item of ours holds more of: a longer name or identity is no file
// of ours.
constexpr qsizetype kMaxNameBytes = 64;

enum TValueTag : quint8 { vtNull = 0, vtInteger = 1, vtReal = 2, vtText = 3 };
enum TLineFlag : quint8 { lfGone = 1, lfText = 2, lfReplaces = 4, lfSettled = 8 };

void PutId(TSyncWriter& out, const TLineId& id)
{
    out.Signed(id.Stamp);
    out.Number(id.Origin);
}

TLineId TakeId(TSyncReader& in)
{
    TLineId id;
    id.Stamp = in.Signed();
    id.Origin = in.Number();
    return id;
}

TLineMark TakeMark(TSyncReader& in)
{
    return TLineMark{TakeId(in)};
}

} // namespace

bool IsComputerId(const QString& text)
{
    if (text.size() != 16)
        return false;
    for (const QChar c : text)
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    return true;
}

quint64 ComputerNumber(const QString& computer)
{
    return computer.toULongLong(nullptr, 16);
}

QString ComputerText(quint64 number)
{
    return QString("%1").arg(number, 16, 16, QChar('0'));
}

bool Covers(const TStamps& one, const TStamps& other)
{
    for (auto it = other.cbegin(); it != other.cend(); ++it)
        if (one.value(it.key()) < it.value())
            return false;
    return true;
}

void Include(TStamps& into, const QString& computer, qint64 stamp)
{
    if (stamp == 0)
        return;
    qint64& known = into[computer];
    known = std::max(known, stamp);
}

void Include(TStamps& into, const TStamps& other)
{
    for (auto it = other.cbegin(); it != other.cend(); ++it)
        Include(into, it.key(), it.value());
}

size_t qHash(const TLineId& id, size_t seed)
{
    return qHashMulti(seed, id.Stamp, id.Origin);
}

// ---- Writing

void TSyncWriter::Number(quint64 value)
{
    do {
        const quint8 low = value & 0x7f;
        value >>= 7;
        Byte(value ? low | 0x80 : low);
    } while (value);
}

void TSyncWriter::Bytes(const QByteArray& value)
{
    Number(quint64(value.size()));
    m_bytes.append(value);
}

void TSyncWriter::Value(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Bool:
        Byte(vtInteger);
        Signed(value.toLongLong());
        return;
    case QMetaType::Double: {
        Byte(vtReal);
        const double number = value.toDouble();
        quint64 bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        for (int i = 0; i < 8; ++i)
            Byte(quint8(bits >> (8 * i)));
        return;
    }
    default:
        if (value.isNull()) {
            Byte(vtNull);
            return;
        }
        Byte(vtText);
        Text(value.toString());
    }
}

void TSyncWriter::Stamps(const TStamps& stamps)
{
    Number(quint64(stamps.size()));
    for (auto it = stamps.cbegin(); it != stamps.cend(); ++it) {
        Text(it.key());
        Signed(it.value());
    }
}

void TSyncWriter::Lines(const QList<TNoteLine>& lines)
{
    Number(quint64(lines.size()));
    for (const TNoteLine& line : lines) {
        const quint8 flags = (line.Gone.IsSet() ? lfGone : 0) | (line.Text.isEmpty() ? 0 : lfText) |
                             (line.Replaces.isEmpty() ? 0 : lfReplaces) | (line.Settled.IsSet() ? lfSettled : 0);
        Byte(flags);
        PutId(*this, line.Id);
        PutId(*this, line.After);
        if (flags & lfText)
            Text(line.Text);
        if (flags & lfGone)
            PutId(*this, line.Gone);
        if (flags & lfReplaces) {
            Number(quint64(line.Replaces.size()));
            for (const TLineId& id : line.Replaces)
                PutId(*this, id);
            Text(line.By);
        }
        if (flags & lfSettled)
            PutId(*this, line.Settled);
    }
}

void TSyncWriter::Item(const TSyncItem& item)
{
    Text(item.Gid);
    Byte(quint8(item.Kind));
    Signed(item.Born);
    Number(quint64(item.Fields.size()));
    for (auto it = item.Fields.cbegin(); it != item.Fields.cend(); ++it) {
        Text(it.key());
        Value(it->Value);
        Signed(it->Stamp);
        Text(it->Origin);
    }
    Stamps(item.DeletedAt);
    Lines(item.Lines);
}

// ---- Reading

void TSyncReader::Bad() const
{
    RaiseError("同步文件的内容不完整或格式不对。");
}

quint8 TSyncReader::Byte()
{
    if (m_at >= m_bytes.size())
        Bad();
    return quint8(m_bytes[m_at++]);
}

quint64 TSyncReader::Number()
{
    quint64 value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        const quint8 byte = Byte();
        if (shift == 63 && byte > 1)
            Bad(); // more than 64 bits
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return value;
    }
    Bad();
}

qsizetype TSyncReader::Count()
{
    const quint64 count = Number();
    if (count > quint64(m_bytes.size() - m_at))
        Bad();
    return qsizetype(count);
}

QByteArray TSyncReader::Bytes()
{
    const qsizetype size = Count();
    const QByteArray bytes = m_bytes.mid(m_at, size);
    m_at += size;
    return bytes;
}

QVariant TSyncReader::Value()
{
    switch (Byte()) {
    case vtNull:
        return QVariant();
    case vtInteger:
        return QVariant(Signed());
    case vtReal: {
        quint64 bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= quint64(Byte()) << (8 * i);
        double number = 0;
        std::memcpy(&number, &bits, sizeof number);
        return QVariant(number);
    }
    case vtText:
        return QVariant(Text());
    default:
        Bad();
    }
}

QString TSyncReader::Computer()
{
    const QString text = Text();
    if (!IsComputerId(text))
        Bad();
    return text;
}

QString TSyncReader::Name()
{
    const QByteArray bytes = Bytes();
    if (bytes.isEmpty() || bytes.size() > kMaxNameBytes)
        Bad();
    return QString::fromUtf8(bytes);
}

TStamps TSyncReader::Stamps()
{
    TStamps stamps;
    for (qsizetype i = Count(); i > 0; --i) {
        const QString who = Computer();
        Include(stamps, who, Signed());
    }
    return stamps;
}

QList<TNoteLine> TSyncReader::Lines()
{
    const qsizetype count = Count();
    QList<TNoteLine> lines;
    lines.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        TNoteLine line;
        const quint8 flags = Byte();
        if (flags & ~(lfGone | lfText | lfReplaces | lfSettled))
            Bad();
        line.Id = TakeId(*this);
        line.After = TakeId(*this);
        if (line.Id.IsRoot())
            Bad();
        if (flags & lfText)
            line.Text = Text();
        if (flags & lfGone)
            line.Gone = TakeMark(*this);
        if (flags & lfReplaces) {
            for (qsizetype n = Count(); n > 0; --n)
                line.Replaces << TakeId(*this);
            line.By = Text();
        }
        if (flags & lfSettled)
            line.Settled = TakeMark(*this);
        lines << line;
    }
    return lines;
}

TSyncItem TSyncReader::Item()
{
    TSyncItem item;
    item.Gid = Name();
    item.Kind = Byte();
    if (item.Kind < skNoteGroup || item.Kind > skHolidayYear)
        Bad();
    item.Born = Signed();
    for (qsizetype i = Count(); i > 0; --i) {
        const QString field = Name();
        TSyncField value;
        value.Value = Value();
        value.Stamp = Signed();
        value.Origin = Computer();
        item.Fields.insert(field, value);
    }
    item.DeletedAt = Stamps();
    item.Lines = Lines();
    return item;
}

QByteArray EncodeBatchParts(const TSyncBatch& batch, qsizetype count, const QByteArray& items)
{
    TSyncWriter out;
    for (const char c : kBatchMagic)
        out.Byte(quint8(c));
    out.Text(batch.Computer);
    out.Text(batch.Host);
    out.Signed(batch.Seq);
    out.Signed(batch.Base);
    out.Byte(batch.State ? 1 : 0);
    out.Number(quint64(count));
    return out.Take() + items;
}

QByteArray EncodeBatch(const TSyncBatch& batch)
{
    TSyncWriter out;
    for (const TSyncItem& item : batch.Items)
        out.Item(item);
    return EncodeBatchParts(batch, batch.Items.size(), out.Take());
}

TSyncBatch DecodeBatch(const QByteArray& bytes)
{
    if (!bytes.startsWith(kBatchMagic))
        RaiseError("同步文件的格式无法识别。");
    const QByteArray body = bytes.mid(kBatchMagic.size());
    TSyncReader in(body);
    TSyncBatch batch;
    batch.Computer = in.Text();
    batch.Host = in.Text().left(kMaxNameBytes);
    batch.Seq = in.Signed();
    batch.Base = in.Signed();
    const quint8 state = in.Byte();
    if (!IsComputerId(batch.Computer) || state > 1)
        RaiseError("同步文件的内容不完整或格式不对。");
    batch.State = state == 1;
    const qsizetype count = in.Count();
    batch.Items.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        batch.Items << in.Item();
    if (!in.AtEnd())
        RaiseError("同步文件的内容不完整或格式不对。");
    return batch;
}
