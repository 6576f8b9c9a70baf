#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// One kept text of a note.
struct TNoteVersion
{
    qint64 Id = 0;
    QDateTime SavedAt;
    qint64 Size = 0; // of the text, in UTF-8 bytes
};

// A line of the comparison of a version with the current text.
struct TDiffLine
{
    enum Kind { Same, OnlyInVersion, OnlyInCurrent };
    Kind kind;
    QString Text;
};

// The earlier texts of the notes (table NoteVersion), compressed. The
// notepad keeps one at most every ten minutes of editing, and when a group
// is left, the program ends or a version is brought back. Old versions thin
// out (see Thin). The newest version of a note is kept whole, each older one
// as its differences from the next newer one, and a note's versions take at
// most kBudgetFactor times its largest text (at least kBudgetFloor bytes):
// past that the oldest go.
class TNoteHistory
{
public:
    static constexpr qint64 kEditingGapSecs = 10 * 60;
    static constexpr qint64 kBudgetFactor = 3;
    static constexpr qint64 kBudgetFloor = 4 * 1024 * 1024;

    // Keeps the text (UTF-8) as a version of the group's note, unless it is
    // empty or the group's newest version already holds it. Returns whether
    // a version was written.
    bool Keep(int typeId, const QByteArray& text, const QDateTime& at);
    // The group's versions, the newest first.
    QList<TNoteVersion> Versions(int typeId) const;
    QString Text(qint64 versionId) const;
    // Removes the versions no rule keeps: all of the last 30 days stay, then
    // the newest of each day up to 90 days back and of each week up to a
    // year back; older ones go.
    void Thin(const QDateTime& now);
    // Takes in the versions another data file holds (the data as they were
    // before a restore) of the notes this one has, and each such note's text
    // there, where it differs from the note here, as a version of `now`.
    void MergeFrom(const QString& path, const QDateTime& now);
};

// Of the moments given (seconds since 1970), those Thin keeps at `now`.
QList<qint64> KeptVersionMoments(QList<qint64> moments, qint64 now);

// The lines of a version against the current text: the lines both have,
// and those only one of them has, in the order of reading. Very long texts
// whose changed middle is too large to compare line by line give that
// middle as removed and added as a whole.
QList<TDiffLine> DiffLines(const QString& version, const QString& current);
