#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <future>
#include <vector>

struct sqlite3;
class TDbAccess;

// One group table (NoteType or IEType: SelfIndex, ParentIndex, TypeName) as
// a hierarchy, without any widget: it reads the rows once, answers questions
// about the groups from memory, and adds, renames and deletes groups in the
// table first and in memory after. The root is not a row: it has the
// identifier 0 and the caption given by the owner.
class TGroupTable
{
public:
    TGroupTable(const QString& tableName, const QString& rootCaption);

    const QString& TableName() const { return m_tableName; }
    const QString& RootCaption() const { return m_rootCaption; }

    // Reads every row through its own statement, replacing what was read
    // before. Rows come in ascending SelfIndex; a row whose parent is not
    // among the rows before it is placed under the root.
    void Load();
    // The same, on the given connection (which may belong to another thread).
    void LoadFrom(sqlite3* db);
    int Count() const { return int(m_groups.size()); }

    bool Contains(int self) const { return self == 0 || m_groups.contains(self); }
    // The groups shown under a group (0: the root), in the tree's order:
    // their creation order, which is ascending SelfIndex.
    QList<int> Children(int parent) const { return m_children.value(parent); }
    bool HasChildren(int parent) const { return !m_children.value(parent).isEmpty(); }
    // The caption for the root; empty for a group that does not exist.
    QString Name(int self) const;
    // The ParentIndex as stored.
    int ParentIndex(int self) const { return m_groups.value(self).parent; }
    // The group it is shown under: the stored parent, or the root for a row
    // whose parent was missing.
    int ShownParent(int self) const { return m_groups.value(self).shownParent; }
    // The groups from the top level down to this one (the root left out).
    QList<int> Ancestors(int self) const;
    // "根目录->工作->会议": the names from the root down to the group.
    QString PathText(int self) const;
    // The group a path of names from the top level down names ("工作/会议";
    // empty or "/": the root); -1 when there is none.
    int FindPath(const QString& path) const;

    // The groups in the order of their path texts (then of SelfIndex), the
    // root first, at most `most` of them; and a group's place in that order
    // (the root's, 0, for a group not in the table). Worked out once after
    // each change, without making every path.
    std::vector<int> InPathOrder(size_t most) const;
    int PathRank(int self) const;

    // Whether the root or any group has exactly this name.
    bool NameExists(const QString& name) const;
    // Refuses, with the user's message, a one-line name that is blank or
    // that the tree already has: what Add and Rename check first, for a
    // dialog that checks before it closes.
    void CheckName(const QString& name) const;
    int MaxSelfIndex() const { return m_maxSelfIndex; }
    int NextSelfIndex() const { return m_maxSelfIndex + 1; }

    // Adds a group under a parent (0: the root) and returns its SelfIndex.
    // The name becomes one line; a blank one, or one that the tree already
    // has, is refused with the user's message and nothing changes.
    int Add(int parent, const QString& name);
    // Gives a group a new name, with the same checks as Add.
    void Rename(int self, const QString& name);
    // Refuses, with the user's message, to delete the root or a group that
    // still has groups under it.
    void CheckDeletable(int self) const;
    // Deletes the group's row, the rows naming it as parent, and whatever
    // the extra statements delete (its notes or bookmarks), in one
    // transaction. Returns how many groups it removed: more than one only
    // where the table held rows naming the group as parent.
    int Delete(int self, const QString& alsoRun = QString());

    // The group and every group shown under it, parents before their children.
    QList<int> Branch(int self) const;
    // Refuses, with the user's message, to move the root, a group that is
    // not there, or a group into itself or its own branch.
    void CheckMovable(int self, int parent) const;
    // Files a group, with its branch, under another parent (0: the root),
    // in one transaction. Groups are read in SelfIndex order, parents first:
    // under a parent numbered after it, the branch is numbered anew after
    // the largest SelfIndex, and the items of itemTable filed under it
    // (their TypeID) follow. Reads the table again; returns the group's
    // SelfIndex after the move.
    int Move(int self, int parent, const QString& itemTable);
    // Deletes the group with its whole branch, and whatever the extra
    // statements delete (the branch's notes or bookmarks), in one
    // transaction; the root is refused. Reads the table again.
    void DeleteBranch(int self, const QString& alsoRun = QString());

private:
    friend class TGroupPrefetch;
    struct TGroup
    {
        int parent = 0;
        int shownParent = 0;
        QString name;
    };

    void Insert(int self, int parent, const QString& name);
    void OrderByPaths() const;
    void PlaceBranches(const QList<int>& children) const;
    void PlaceByPaths(const QList<int>& children) const;

    QString m_tableName;
    QString m_rootCaption;
    QHash<int, TGroup> m_groups;
    QHash<int, QList<int>> m_children;
    int m_maxSelfIndex = 0;
    // The groups in the order of their paths, the root left out; empty
    // until asked for after a change.
    mutable std::vector<int> m_pathOrder;
    mutable QHash<int, int> m_pathRanks; // from 1
    mutable bool m_pathOrdered = false;
};

// "(1,2,3)": the identifiers for an "in" clause of a statement.
QString SqlInList(const QList<int>& ids);

// Reads group tables on a read-only connection of its own, in a thread of
// its own, while the window is being built: on a large profile that reading
// is the longest part of a start. What it read is handed over only when no
// write has reached the database since it began; otherwise (and after any
// failure) the owner reads the table itself, which reports what is wrong.
class TGroupPrefetch
{
public:
    TGroupPrefetch(TDbAccess* db, const QStringList& tableNames);
    ~TGroupPrefetch();
    TGroupPrefetch(const TGroupPrefetch&) = delete;
    TGroupPrefetch& operator=(const TGroupPrefetch&) = delete;

    // Moves the rows read for the table's name into it; false when there
    // are none to be trusted, and the table is left as it was.
    bool Take(TGroupTable& table);

private:
    TDbAccess* m_db = nullptr;
    long long m_changes = 0;
    long long m_dataVersion = 0;
    std::future<std::vector<TGroupTable>> m_reading;
    std::vector<TGroupTable> m_read;
};

// A group's name is one line: every line break of a typed or pasted name
// (CR LF counting as one) becomes a blank.
QString OneLineName(const QString& name);
// The name itself, or else the first of "name (2)", "name (3)"... that is
// not taken: how a name that is in use is told apart everywhere.
QString FreeName(const QString& name, const std::function<bool(const QString&)>& taken);
