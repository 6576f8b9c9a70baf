#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

// The kinds of what is synced; the numbers are stored.
enum TSyncKind { skNoteGroup = 1, skBookmarkGroup = 2, skBookmark = 3, skReminder = 4 };

// The identity of the root's note, the same on every computer.
inline const QString kRootNoteGid = QStringLiteral("root-note");

// One field's value with its stamp: the hybrid logical clock of the change
// that set it and the computer that made it. The later stamp wins; equal
// stamps are ordered by the computer, then by the value (two computers that
// made the same conflict copy may have named it after different names).
struct TSyncField
{
    QVariant Value;
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

// A group, a bookmark or a reminder as the files carry it: only the fields
// a change set, or all of them in a state file. A note is its group's
// "text" field. Deleted: the stamp of its deletion, after which nothing
// brings it back.
struct TSyncItem
{
    QString Gid;
    int Kind = 0;
    qint64 Born = 0; // the stamp of its making: the older keeps a shared name
    qint64 Deleted = 0;
    QMap<QString, TSyncField> Fields;
    // A note's text: how many changes of it each computer had made when it
    // was written. A text that knows of every change another knows of
    // replaces it; two that do not are both kept.
    QMap<QString, qint64> Versions;
};

// What one file of one computer holds.
struct TSyncBatch
{
    QString Computer;
    QString Host;
    qint64 Seq = 0;
    bool State = false;
    QList<TSyncItem> Items;
};

QByteArray EncodeBatch(const TSyncBatch& batch);
// Raises when the bytes are no batch of this format.
TSyncBatch DecodeBatch(const QByteArray& bytes);
