#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TGroupTable;

// What a keeper put back: the kind, and the group's new SelfIndex (for a
// group) or the row's ID (for a bookmark or reminder).
struct TRestored
{
    enum Kind { NoteGroup, BookmarkGroup, Bookmark, Reminder };
    Kind kind = NoteGroup;
    qint64 Id = 0;
};

// What becomes of what a delete takes. The group trees and the stores delete
// through the keeper installed, which may keep what goes (in the delete's own
// transaction) so that it can be put back; with none installed a delete
// simply deletes, keeps nothing, and its question adds nothing.
class TDeleteKeeper
{
public:
    virtual ~TDeleteKeeper() = default;

    // What a delete's question adds ("" or a sentence after a line break).
    virtual QString Notice() const { return QString(); }
    // Deletes a group with its branch and their items (alsoRun, run in the
    // same transaction); returns the entries kept.
    virtual QList<qint64> DeleteBranch(TGroupTable& groups, int self, const QString& alsoRun);
    // Keep the rows about to be deleted and return the entries kept; called
    // inside the transaction (DbAccess->Batch) of the delete itself.
    virtual QList<qint64> KeepBookmarks(const QList<int>&) { return {}; }
    virtual QList<qint64> KeepReminders(const QStringList&) { return {}; }
    // Puts back, in one transaction, those of the entries still kept.
    virtual QList<TRestored> RestoreAll(const QList<qint64>&) { return {}; }
};

// The keeper installed, or the one that keeps nothing.
TDeleteKeeper& DeleteKeeper();
// Installs the keeper every delete goes through from now on (null: none).
void InstallDeleteKeeper(std::unique_ptr<TDeleteKeeper> keeper);

// What takes back a delete that kept the entries (for 撤销): puts them back
// and gives `show` the first item put back; null when nothing was kept.
std::function<void()> TakeBackDelete(const QList<qint64>& entries, std::function<void(int id)> show);
