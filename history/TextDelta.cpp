#include "history/TextDelta.h"

#include "data/UException.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {
// Pieces shorter than a block are not looked for: they cost more to name
// than to repeat.
constexpr qint64 kBlock = 32;
constexpr quint64 kPrime = 1099511628211ULL;

quint64 HashOf(const char* bytes)
{
    quint64 hash = 0;
    for (qint64 i = 0; i < kBlock; ++i)
        hash = hash * kPrime + quint8(bytes[i]);
    return hash;
}

// Appends to a delta, joining a piece to the one before where they meet.
class TDeltaBuilder
{
public:
    void Copy(qint64 from, qint64 length)
    {
        if (length <= 0)
            return;
        if (!m_delta.isEmpty() && m_delta.last().From >= 0 && m_delta.last().From + m_delta.last().Length == from)
            m_delta.last().Length += length;
        else
            m_delta.append({from, length, {}});
    }
    void Insert(const QByteArray& bytes)
    {
        if (bytes.isEmpty())
            return;
        if (!m_delta.isEmpty() && m_delta.last().From < 0) {
            m_delta.last().Bytes += bytes;
            m_delta.last().Length = m_delta.last().Bytes.size();
        } else {
            m_delta.append({-1, bytes.size(), bytes});
        }
    }
    TDelta Take() { return std::move(m_delta); }

private:
    TDelta m_delta;
};

// The blocks of the base, by their hash: where each first stands.
class TBlockIndex
{
public:
    explicit TBlockIndex(const QByteArray& base) : m_filter(1 << 14, 0)
    {
        m_starts.reserve(size_t(base.size() / kBlock));
        for (qint64 at = 0; at + kBlock <= base.size(); at += kBlock) {
            const quint64 hash = HashOf(base.constData() + at);
            m_starts.emplace(hash, at);
            m_filter[(hash >> 6) & 0x3fff] |= quint64(1) << (hash & 63);
        }
    }
    // Where a block of that hash stands in the base; -1 for none.
    qint64 Find(quint64 hash) const
    {
        if (!(m_filter[(hash >> 6) & 0x3fff] & (quint64(1) << (hash & 63))))
            return -1;
        const auto found = m_starts.find(hash);
        return found == m_starts.end() ? -1 : found->second;
    }

private:
    std::unordered_map<quint64, qint64> m_starts;
    std::vector<quint64> m_filter; // a quick no for most hashes
};

// The middle of the target, between what it shares with the base at both
// ends: pieces found in the base by their blocks, the rest as bytes.
void MatchMiddle(const QByteArray& base, const QByteArray& target, qint64 begin, qint64 end, TDeltaBuilder& out)
{
    if (end - begin < kBlock || base.size() < kBlock) {
        out.Insert(target.mid(begin, end - begin));
        return;
    }
    const TBlockIndex index(base);
    quint64 power = 1; // kPrime to the power kBlock - 1
    for (qint64 i = 1; i < kBlock; ++i)
        power *= kPrime;
    const char* t = target.constData();
    const char* b = base.constData();
    qint64 pending = begin;
    qint64 at = begin;
    quint64 hash = HashOf(t + at);
    while (at + kBlock <= end) {
        const qint64 found = index.Find(hash);
        if (found >= 0 && std::memcmp(b + found, t + at, size_t(kBlock)) == 0) {
            qint64 back = 0;
            while (at - back > pending && found - back > 0 && t[at - back - 1] == b[found - back - 1])
                ++back;
            qint64 length = kBlock;
            while (at + length < end && found + length < base.size() && t[at + length] == b[found + length])
                ++length;
            out.Insert(target.mid(pending, at - back - pending));
            out.Copy(found - back, back + length);
            at += length;
            pending = at;
            if (at + kBlock <= end)
                hash = HashOf(t + at);
            continue;
        }
        if (at + kBlock >= end)
            break;
        hash = (hash - quint8(t[at]) * power) * kPrime + quint8(t[at + kBlock]);
        ++at;
    }
    out.Insert(target.mid(pending, end - pending));
}

void PutNumber(QByteArray& out, quint64 value)
{
    do {
        const quint8 low = value & 0x7f;
        value >>= 7;
        out.append(char(value ? low | 0x80 : low));
    } while (value);
}

[[noreturn]] void Damaged()
{
    RaiseError("历史版本已损坏，无法读出。");
}

quint64 TakeNumber(const QByteArray& in, qsizetype& at)
{
    quint64 value = 0;
    for (int shift = 0; shift < 63; shift += 7) {
        if (at >= in.size())
            Damaged();
        const quint8 byte = quint8(in[at++]);
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return value;
    }
    Damaged();
}
} // namespace

TDelta MakeDelta(const QByteArray& base, const QByteArray& target)
{
    const qint64 shorter = std::min(base.size(), target.size());
    qint64 prefix = 0;
    while (prefix < shorter && base[prefix] == target[prefix])
        ++prefix;
    qint64 suffix = 0;
    while (suffix < shorter - prefix && base[base.size() - 1 - suffix] == target[target.size() - 1 - suffix])
        ++suffix;
    TDeltaBuilder out;
    out.Copy(0, prefix);
    MatchMiddle(base, target, prefix, target.size() - suffix, out);
    out.Copy(base.size() - suffix, suffix);
    return out.Take();
}

QByteArray ApplyDelta(const TDelta& delta, const QByteArray& base)
{
    QByteArray text;
    text.reserve(DeltaLength(delta));
    for (const TDeltaOp& op : delta) {
        if (op.From < 0) {
            text += op.Bytes;
            continue;
        }
        if (op.From > base.size() || op.Length > base.size() - op.From)
            Damaged();
        text.append(base.constData() + op.From, op.Length);
    }
    return text;
}

TDelta ComposeDeltas(const TDelta& first, const TDelta& second)
{
    // Where each piece of the middle text starts.
    std::vector<qint64> starts;
    starts.reserve(size_t(second.size()));
    qint64 middle = 0;
    for (const TDeltaOp& op : second) {
        starts.push_back(middle);
        middle += op.Length;
    }
    TDeltaBuilder out;
    for (const TDeltaOp& op : first) {
        if (op.From < 0) {
            out.Insert(op.Bytes);
            continue;
        }
        if (op.From > middle || op.Length > middle - op.From)
            Damaged();
        qint64 from = op.From;
        qint64 left = op.Length;
        size_t piece = size_t(std::upper_bound(starts.begin(), starts.end(), from) - starts.begin()) - 1;
        while (left > 0) {
            const TDeltaOp& under = second[qsizetype(piece)];
            const qint64 offset = from - starts[piece];
            const qint64 take = std::min(left, under.Length - offset);
            if (under.From < 0)
                out.Insert(under.Bytes.mid(offset, take));
            else
                out.Copy(under.From + offset, take);
            from += take;
            left -= take;
            ++piece;
        }
    }
    return out.Take();
}

QByteArray PackDelta(const TDelta& delta)
{
    QByteArray out;
    for (const TDeltaOp& op : delta) {
        out.append(char(op.From < 0 ? 1 : 0));
        if (op.From >= 0)
            PutNumber(out, quint64(op.From));
        PutNumber(out, quint64(op.Length));
        if (op.From < 0)
            out += op.Bytes;
    }
    return qCompress(out);
}

TDelta UnpackDelta(const QByteArray& bytes)
{
    // A kept text is never empty, nor is the delta that makes it.
    const QByteArray in = qUncompress(bytes);
    if (in.isEmpty())
        Damaged();
    TDelta delta;
    for (qsizetype at = 0; at < in.size();) {
        const char kind = in[at++];
        if (kind != 0 && kind != 1)
            Damaged();
        TDeltaOp op;
        if (kind == 0)
            op.From = qint64(TakeNumber(in, at));
        op.Length = qint64(TakeNumber(in, at));
        if (op.Length < 0 || op.From < -1)
            Damaged();
        if (kind == 1) {
            if (op.Length > in.size() - at)
                Damaged();
            op.Bytes = in.mid(at, op.Length);
            at += op.Length;
        }
        delta.append(op);
    }
    return delta;
}

qint64 DeltaLength(const TDelta& delta)
{
    qint64 length = 0;
    for (const TDeltaOp& op : delta)
        length += op.Length;
    return length;
}
