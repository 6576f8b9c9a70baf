#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
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

// The earlier texts of the notes (table NoteVersion), compressed. While a
// note is edited its text before the edit is kept at most once every ten
// minutes; leaving the group, ending the program, and replacing the text
// (import, restore, a version brought back) keep it at once. Old versions
// thin out (see Thin).
class TNoteHistory
{
public:
    static constexpr qint64 kEditingGapSecs = 10 * 60;

    // Keeps the stored text (UTF-8) of the group's note as it was before a
    // save: at once when `now` is set, else only when the group's newest
    // version is ten minutes old. An empty text, or one equal to the newest
    // version, is not kept. Returns whether a version was written. Cheap
    // when nothing is due: the moment of each group's newest version is
    // remembered.
    bool Keep(int typeId, const QByteArray& text, const QDateTime& at, bool now);
    // The group's versions, the newest first.
    QList<TNoteVersion> Versions(int typeId) const;
    QString Text(qint64 versionId) const;
    // Removes the versions no rule keeps: all of the last 30 days stay, then
    // the newest of each day up to 90 days back and of each week up to a
    // year back; older ones go.
    void Thin(const QDateTime& now);
    // Forgets the remembered moments (the data were replaced).
    void Forget() { m_newest.clear(); }

private:
    qint64 NewestSecs(int typeId);
    QHash<int, qint64> m_newest; // seconds since 1970; 0: none
};

// Of the moments given (seconds since 1970), those Thin keeps at `now`.
QList<qint64> KeptVersionMoments(QList<qint64> moments, qint64 now);

// The lines of a version against the current text: the lines both have,
// and those only one of them has, in the order of reading. Very long texts
// whose changed middle is too large to compare line by line give that
// middle as removed and added as a whole.
QList<TDiffLine> DiffLines(const QString& version, const QString& current);
