#pragma once

#include "groups/DeleteKeeper.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class TGroupTable;

// What a delete's question adds: the items can still be brought back.
extern const char* const kTrashNotice;

// One deleted item in the trash.
struct TTrashEntry
{
    using Kind = TRestored::Kind;
    using enum TRestored::Kind;
    qint64 Id = 0;
    Kind kind = NoteGroup;
    QString Name;  // the group's name, the bookmark's title, the reminder's text
    QString Place; // the group path it was in
    QDateTime DeletedAt;
};

// The kind as the trash window shows it.
QString TrashKindText(TTrashEntry::Kind kind);

// The trash (table Trash), the program's delete keeper: a delete keeps what
// it removes, every row of it, in the same transaction, so that it can be put
// back where it was; entries older than kKeepDays are removed for good at the
// start.
class TTrash : public TDeleteKeeper
{
public:
    static constexpr int kKeepDays = 30;

    // kTrashNotice.
    QString Notice() const override;
    // Deletes a group with its branch, their items (alsoRun) and their
    // notes' versions, keeping them in the trash as one entry.
    QList<qint64> DeleteBranch(TGroupTable& groups, int self, const QString& alsoRun) override;
    // Keep the rows in the trash, one entry each, and return the entries'
    // IDs; to be called inside the transaction (DbAccess->Batch) of the
    // delete itself.
    QList<qint64> KeepBookmarks(const QList<int>& ids) override;
    QList<qint64> KeepReminders(const QStringList& ids) override;

    // The newest first.
    QList<TTrashEntry> Entries() const;
    // Puts the entry's rows back and removes it. A group
    // goes under its old parent if that is still there under its name, else
    // under the root; a name the tree holds meanwhile gets " (2)", " (3)"...;
    // a SelfIndex in use meanwhile, or one that would come before its new
    // parent's, is replaced by a new one, which the items follow. A bookmark
    // whose group is gone goes to the root.
    TRestored Restore(qint64 id);
    // Puts back, in one transaction, those of the entries that are still in
    // the trash (the ones a delete made, to take it back).
    QList<TRestored> RestoreAll(const QList<qint64>& ids) override;
    void Remove(qint64 id);
    void Clear();
    // Takes in the entries another data file's trash holds (the data as
    // they were before a restore) that this one does not.
    void MergeFrom(const QString& path);
    // Removes the entries deleted more than kKeepDays before now.
    void Expire(const QDateTime& now);
};
