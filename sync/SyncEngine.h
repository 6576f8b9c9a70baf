#pragma once

#include "sync/SyncItem.h"

#include <QHash>
#include <QSet>
#include <QStringList>

struct TSyncMeta;

// What this computer knows of every synced item, kept beside the data
// (SyncMeta), and how the data's tables follow it. One engine serves one
// round, inside the round's transactions; the caller marks them as this
// program's own writes (SyncApplying).
//
// Each field keeps the stamp of the change that set it, from a hybrid
// logical clock: a change made after another was seen is always stamped
// later, however wrong the computers' clocks are. Merging keeps the later
// field; a delete is final; a note's text changed on two computers that
// had not seen each other's change is kept twice, the earlier as a
// conflict copy beside it. Whatever order the items arrive in, every
// computer ends with the same data: the group names made unique and the
// cycles of groups broken the same way everywhere.
class TSyncEngine
{
public:
    TSyncEngine(const QString& computer, const QHash<QString, QString>& hosts);
    ~TSyncEngine();

    // The rows this computer changed since the last round, as items stamped
    // now (the triggers noted them); the notes of the changes are cleared.
    QList<TSyncItem> TakeLocalChanges();
    // Every item known, the deleted ones too, for a state file.
    QList<TSyncItem> WholeState();

    // Merges another computer's item.
    void Merge(const TSyncItem& item);
    // Writes what the merges changed into the tables.
    void Materialize();

    // The clock as it is now, to keep for the next round.
    qint64 Clock() const { return m_clock; }

    int Applied = 0;
    QStringList Conflicts;          // the names of the conflict copies made
    QList<TSyncItem> Created;       // the copies themselves, for the others
    QStringList ChangedReminders;   // Alam.ID of the reminders written

private:
    qint64 Tick();
    void Observe(qint64 stamp);
    TSyncMeta& Meta(const QString& gid, int kind);
    void SaveMeta(const QString& gid);
    void FlushMetas();
    void SaveClock();
    void MergeText(TSyncMeta& meta, const TSyncItem& item);
    void KeepConflict(const TSyncMeta& meta, const QString& gid, const TSyncField& loser);
    QString CurrentText(const QString& gid);
    void RebuildGroups(int kind);
    void WriteItems(int kind);
    void TouchWaiting();
    void Rehash(int kind, qint64 key, const QString& gid);

    QString m_computer;
    QHash<QString, QString> m_hosts;
    qint64 m_clock = 0;
    QHash<QString, TSyncMeta*> m_metas; // read and changed in this round
    QSet<QString> m_touched;            // merged items not yet written
    QHash<QString, QString> m_texts;    // notes' texts to write
    QSet<QString> m_unsaved;            // metas changed since the last flush
};
