#pragma once

#include "sync/SyncItem.h"

#include <QHash>
#include <QSet>
#include <QStringList>

struct TSyncMeta;

// Each kind's table and the key of its rows in the change notes (SyncDirty).
// A new kind of item gets a row here, its columns in SyncEngine.cpp's table,
// a Gid column and change triggers in a schema step, and its triggers in
// data/ChangeStamp.
struct TSyncTable
{
    int Kind;
    const char* Table;
    const char* Key;
};
const QList<TSyncTable>& SyncTables();

// The order of a file's items: groups not deleted first (an item's group is
// there before it), then bookmarks and reminders, then deleted groups (what
// a delete took from a group is gone before the group is).
void ItemsInOrder(QList<TSyncItem>& items);

// What an incoming file would delete or empty here, counted before it is
// applied: a round asks before it lets another computer take away much.
struct TSyncLoss
{
    int Items = 0;            // items deleted, notes emptied
    bool MostOfATree = false; // more than half of one tree's groups
    QString Detail;           // "3 个记事分组、40 个网址"
};

// What this computer knows of every synced item, kept beside the data
// (SyncMeta), and how the data's tables follow it. One engine serves one
// step of a round, inside that step's transaction; the caller marks the
// transaction as this program's own writes (SyncApplying).
//
// Each field keeps the stamp of the change that set it, taken when it was
// saved (data/ChangeStamp): a change made after another was seen is always
// stamped later, however wrong the computers' clocks are, and the later
// field wins. A note merges line by line (TNoteLines). Each item keeps what
// it has seen of every computer's changes; a delete keeps what its computer
// had seen, and loses to any change it had not (an edit beats a delete): the
// item stays or comes back everywhere, and so does a deleted group that a
// group or item not deleted is filed under. A delete that reaches this
// computer takes the rows through its 回收站. Whatever order the items
// arrive in, every computer ends with the same data: names made unique and
// cycles of groups broken the same way everywhere.
class TSyncEngine
{
public:
    TSyncEngine(const QString& computer, const QString& name, const QHash<QString, QString>& hosts);
    ~TSyncEngine();
    TSyncEngine(const TSyncEngine&) = delete;
    TSyncEngine& operator=(const TSyncEngine&) = delete;

    // Takes up to `most` (all: -1) of the rows this computer changed into the
    // records, each change with the stamp of its save; their notes are
    // cleared. Returns how many items changed; more says whether rows remain.
    int TakeLocalChanges(qsizetype most = -1, bool* more = nullptr);
    // Every item known, the deleted ones too, for a state file, in the
    // order of ItemsInOrder: part 0 the groups not deleted, 1 the items, 2
    // the deleted groups; of a part those after the given one (kind and
    // identity; none: from the first), at most `most` of them.
    QList<TSyncItem> State(int part, int afterKind, const QString& afterGid, qsizetype most);
    // This computer's changes after the stamp, for a file of changes.
    QList<TSyncItem> ChangesSince(qint64 base);
    // The latest of this computer's changes (0: none).
    qint64 LatestOwnChange();

    // What merging the items would delete or empty here.
    TSyncLoss Loss(const QList<TSyncItem>& items);
    // Merges another computer's item.
    void Merge(const TSyncItem& item);
    // Writes what the merges changed into the tables.
    void Materialize();

    qint64 Clock() const { return m_clock; }

    int Applied = 0;
    QStringList Conflicts;        // notes that now show a conflict
    QStringList Notices;          // deletes that lost to an edit
    QStringList ChangedReminders; // Alam.ID of the reminders written

private:
    qint64 Tick();
    void Observe(qint64 stamp);
    TSyncMeta& Meta(const QString& gid, int kind);
    void SaveMeta(const QString& gid);
    void FlushMetas();
    void SaveClock();
    void TakeRow(int kind, qint64 key, qint64 stamp);
    void TakeGone(const QString& gid, int kind, qint64 stamp);
    void Restore(const QString& gid, int kind, const QString& notice);
    static bool KeepsGroup(const TSyncMeta& child);
    TSyncItem Whole(const QString& gid, int kind);
    void KeepGroupsOfLiving();
    void RebuildGroups(int kind);
    void DeleteDeadGroups(int kind);
    void WriteItems(int kind);
    void WriteTexts();
    void TouchWaiting();
    void Rehash(int kind, qint64 key, const QString& gid);
    QString NameOf(const QString& gid, int kind);

    QString m_computer;
    QString m_name;
    QHash<QString, QString> m_hosts;
    qint64 m_clock = 0;
    QHash<QString, TSyncMeta*> m_metas; // read and changed in this step
    QSet<QString> m_touched;            // merged items not yet written
    QSet<QString> m_unsaved;            // metas changed since the last flush
    QSet<int> m_dyingGroups[3];         // SelfIndex of dead groups' rows, by kind
};
