#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

// The kinds of what is synced; the numbers are stored.
enum TSyncKind { skNoteGroup = 1, skBookmarkGroup = 2, skBookmark = 3, skReminder = 4, skHolidayYear = 5 };

// The identity of the root's note, the same on every computer.
inline const QString kRootNoteGid = QStringLiteral("root-note");

// Computers are known by 16 hex digits (64 bits), made at random.
bool IsComputerId(const QString& text);
quint64 ComputerNumber(const QString& computer);
QString ComputerText(quint64 number);

// For each computer, the stamp of its latest change of an item that is known
// here: a version vector. One covers another when it has seen at least as
// much of every computer.
using TStamps = QMap<QString, qint64>;
bool Covers(const TStamps& one, const TStamps& other);
void Include(TStamps& into, const TStamps& other);
void Include(TStamps& into, const QString& computer, qint64 stamp);

// One field's value with its stamp: the hybrid logical clock of the change
// that set it and the computer that made it. The later stamp wins; equal
// stamps are ordered by the computer, then by the value.
struct TSyncField
{
    QVariant Value; // null, whole number, real number or text
    qint64 Stamp = 0;
    QString Origin;

    bool Beats(const TSyncField& other) const
    {
        if (Stamp != other.Stamp)
            return Stamp > other.Stamp;
        if (Origin != other.Origin)
            return Origin > other.Origin;
        return Value.toString() > other.Value.toString();
    }
};

// A line of a note and where it goes: after another line (the root for
// the first). The number of a line typed here is the stamp of its change
// and the computer; a line of a note that sync met already written has a
// number made of its text alone (Stamp 0), so two computers that hold the
// same text hold the same lines.
struct TLineId
{
    qint64 Stamp = 0;
    quint64 Origin = 0;

    bool IsRoot() const { return Stamp == 0 && Origin == 0; }
    bool operator==(const TLineId& other) const { return Stamp == other.Stamp && Origin == other.Origin; }
    bool operator!=(const TLineId& other) const { return !(*this == other); }
    bool operator<(const TLineId& other) const
    {
        return Stamp != other.Stamp ? Stamp < other.Stamp : Origin < other.Origin;
    }
};
size_t qHash(const TLineId& id, size_t seed = 0);

// A change of a line by one computer: its removal, or the marking of a
// conflict as settled. Stamp 0: none.
struct TLineMark : TLineId
{
    bool IsSet() const { return Stamp != 0; }
};

struct TNoteLine
{
    TLineId Id;
    TLineId After;
    // The line with the line break before it ("\r\n…"; the first line of a
    // note has none), so that a line added at the end changes no other.
    QString Text; // empty once removed
    TLineMark Gone;
    // The lines this one took the place of (the first line of an edit that
    // replaced lines), and the name of the computer that made the edit: two
    // edits that replaced the same line without seeing each other are a
    // conflict, shown in the note with both versions.
    QList<TLineId> Replaces;
    QString By;
    TLineMark Settled; // on a replaced line: its conflict was settled by hand
};

// A group, a bookmark or a reminder as the files carry it: the changes of
// one computer, or everything known in a state file. A note is its group's
// lines. DeletedAt: what the computers that deleted the item had seen of it;
// a change that they had not seen brings it back (an edit beats a delete).
struct TSyncItem
{
    QString Gid;
    int Kind = 0;
    qint64 Born = 0; // the stamp of its making: the older keeps a shared name
    QMap<QString, TSyncField> Fields;
    QList<TNoteLine> Lines;
    TStamps DeletedAt;
};

// What one file of one computer holds: a state (everything it knew) or its
// changes since the state numbered Base.
struct TSyncBatch
{
    QString Computer;
    QString Host; // the computer's name, as set in 同步…
    qint64 Seq = 0;
    qint64 Base = 0;
    bool State = false;
    QList<TSyncItem> Items;
};

// The writer and the reader of the exact layout of files and records: sizes
// and counts before what they count, checked against what is left, no
// nesting beyond the item's own, so no file can make the reader recurse or
// allocate more than the file itself holds.
class TSyncWriter
{
public:
    void Byte(quint8 value) { m_bytes.append(char(value)); }
    void Number(quint64 value); // 7 bits a byte
    void Signed(qint64 value) { Number(quint64(value)); }
    void Bytes(const QByteArray& value);
    void Text(const QString& value) { Bytes(value.toUtf8()); }
    void Value(const QVariant& value);
    void Stamps(const TStamps& stamps);
    void Lines(const QList<TNoteLine>& lines);
    void Item(const TSyncItem& item);
    QByteArray Take() { return std::move(m_bytes); }

private:
    QByteArray m_bytes;
};

class TSyncReader
{
public:
    explicit TSyncReader(const QByteArray& bytes) : m_bytes(bytes) {}
    quint8 Byte();
    quint64 Number();
    qint64 Signed() { return qint64(Number()); }
    QByteArray Bytes();
    QString Text() { return QString::fromUtf8(Bytes()); }
    QVariant Value();
    // How many of something follow, each taking at least one byte.
    qsizetype Count();
    // A computer's identity; a name of a field or an item (1 to 64 bytes).
    QString Computer();
    QString Name();
    TStamps Stamps();
    QList<TNoteLine> Lines();
    TSyncItem Item();
    bool AtEnd() const { return m_at == m_bytes.size(); }

private:
    [[noreturn]] void Bad() const;

    const QByteArray& m_bytes;
    qsizetype m_at = 0;
};

QByteArray EncodeBatch(const TSyncBatch& batch);
// The same of a batch whose `count` items were encoded into `items` by
// TSyncWriter::Item (the batch's own list is left out): a state is built in
// steps.
QByteArray EncodeBatchParts(const TSyncBatch& batch, qsizetype count, const QByteArray& items);
// Raises when the bytes are no batch of this format.
TSyncBatch DecodeBatch(const QByteArray& bytes);
