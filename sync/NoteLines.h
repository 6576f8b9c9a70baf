#pragma once

#include "sync/SyncItem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <functional>

// The lines of one note as sync keeps them, so that every computer merges
// every other's edits into the same text whatever order they arrive in.
// Each line keeps the line it was added after, and a removed line stays as
// a mark; the text is the lines in that order, those added after the same
// line newest first. So edits of different lines are both kept, two lines
// added at one place are both kept in the same order everywhere, and a note
// never needs the text both sides last agreed on, which with three computers
// or typing during a round is often not at hand.
//
// Only the same lines replaced differently on two computers are a conflict:
// both versions stay in the note between marker lines ("【冲突】…") that
// name the computers; removing a marker line settles it on every computer,
// and so does removing one of the versions.
class TNoteLines
{
public:
    TNoteLines() = default;
    explicit TNoteLines(const QList<TNoteLine>& lines);
    // A note met already written: its lines numbered by their text, so that
    // a computer holding the same text holds the same lines.
    static TNoteLines FromText(const QString& text);

    bool IsEmpty() const { return m_lines.isEmpty(); }
    QList<TNoteLine> All() const;
    // What one computer changed after the stamp: its lines, removals and
    // settled conflicts.
    QList<TNoteLine> ChangedBy(quint64 origin, qint64 since) const;
    // Takes another computer's lines in. Returns whether the text may have
    // changed.
    bool Merge(const QList<TNoteLine>& lines);
    // Adds the stamp of every change the lines hold, by computer.
    void AddStamps(TStamps& seen) const;
    // Takes the note's text as it is now: the lines that differ become
    // removals and new lines of this computer (named myName in a conflict),
    // numbered by stamps from next(), each later than the one before.
    // Afterwards the lines show the text. Returns whether anything changed.
    bool Take(const QString& text, quint64 me, const QString& myName, const std::function<qint64()>& next);

    // The note's text, conflicts marked.
    QString Text() const;
    // The conflicts the text shows, each by its first replaced line.
    QList<TLineId> Conflicts() const;

private:
    // A piece of the text: a line, or a marker line of conflict Conflict.
    struct TPiece
    {
        QString Text;
        TLineId Line;
        int Conflict = -1;
    };
    struct TConflict
    {
        TLineId Key;
        QList<TLineId> Replaced;
    };
    QList<TPiece> Pieces(QList<TConflict>* conflicts = nullptr) const;
    bool TakeOnce(const QString& text, quint64 me, const QString& myName, const std::function<qint64()>& next);
    QList<TLineId> Order() const;
    QList<TLineId> Run(const TLineId& first) const;

    QHash<TLineId, TNoteLine> m_lines;
};
