#pragma once

#include "groups/GroupTableStore.h"

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <functional>

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class TRenameDelegate;

// Binds one tree view to one group table (SelfIndex, ParentIndex, TypeName):
// shows the groups of a TGroupTable, and adds, renames and deletes groups in
// the table and in the tree together, always the table first. A node's
// children are made when the node is first expanded (or a group under it is
// selected), so a large table costs only the nodes that are shown.
// What a branch of groups holds: how many items ("3 个网址": 3 and
// "个网址"), and the statement that deletes them.
struct TBranchItems
{
    int Count = 0;
    QString Noun;
    QString DeleteStatement;
};

class TCardTree
{
public:
    TCardTree(QTreeWidget* treeView, const QString& rootCaption, const QString& tableName);
    ~TCardTree();

    QString TableName;
    QString RootCaption;
    QTreeWidget* TreeView;
    QTreeWidgetItem* RootNode;
    // The groups themselves, read once by LoadGroups.
    TGroupTable Groups;
    // Runs when an in-place edit of a label ends with a text (the rename).
    std::function<void(QTreeWidgetItem* node, const QString& text)> OnEdited;

    // Reads the table (or takes what a prefetch read of it) and shows its
    // top-level groups under the expanded root.
    void LoadGroups(TGroupPrefetch* prefetch = nullptr);
    // The two halves of LoadGroups, for a tree that is not shown yet: the
    // groups read now, the nodes made when it first shows (NodeOf makes
    // those it needs before that).
    void ReadGroups(TGroupPrefetch* prefetch = nullptr);
    void ShowTopLevel();
    // Reads the table again; the selected group and the open groups stay.
    void Reload();
    // Reads the table again and selects the group (one put back or moved by
    // another hand), showing it.
    void ShowGroup(int self);
    QTreeWidgetItem* AddGroup(const QString& name);
    // Deletes the selected group after the checks and the question; the
    // extra statements (its notes or bookmarks) run in the same transaction.
    void DeleteGroup(const QString& alsoRun = QString());
    bool RenameGroup(const QString& name);
    int SelectedSelfIndex() const;
    int MaxSelfIndex() const;
    bool NameExists(const QString& name) const;

    // The node of a group (0: the root), made together with those of its
    // ancestors, which are expanded; null for a group that does not exist.
    QTreeWidgetItem* NodeOf(int selfIndex);
    // Makes the node's children, once.
    void CreateChildren(QTreeWidgetItem* node);

    QTreeWidgetItem* Selected() const;
    bool IsRoot(QTreeWidgetItem* node) const { return node == RootNode; }
    // "根目录->A->B": the labels from the root down to the selected node.
    QString PositionText() const;
    // Starts the in-place edit of the selected node's label; the tree view
    // is editable only until that edit ends.
    void EditSelected();
    bool IsEditing() const;

    // Deletes the selected group with its whole branch after a question
    // that says what goes with it (itemsOf is given the branch's groups);
    // the group, its branch and their items go in one transaction, through
    // the delete keeper, which returns the entries it kept.
    QList<qint64> DeleteBranch(const std::function<TBranchItems(const QList<int>&)>& itemsOf);
    // The question DeleteBranch asks.
    static QString DeleteQuestion(const QString& name, int subgroups, const TBranchItems& items);
    // Files a group with its branch under another (see TGroupTable::Move)
    // and shows the tree again, the moved group selected; returns its
    // SelfIndex after the move.
    int MoveGroup(int self, int parent, const QString& itemTable);

    static int SelfIndexOf(const QTreeWidgetItem* node);
    static int ParentIndexOf(const QTreeWidgetItem* node);

private:
    QPointer<TRenameDelegate> m_delegate;
    QMetaObject::Connection m_expanded;
    QTreeWidgetItem* NewNode(int selfIndex) const;
    // Shows the groups read into Groups; again, opens the groups listed and
    // selects the given one (none: -1).
    void Rebuild(bool again, const QList<int>& open, int selected);
    QList<int> OpenGroups() const;
    void EditEnded(QTreeWidgetItem* node, const QString& text);
};

// A group tree's menu on a right-click, its keys (Ctrl+N new group, F2
// rename, Delete) and its hint while it holds no group.
void BindGroupTree(QTreeWidget* tree, QMenu* menu, QAction* add, QAction* rename, QAction* del);
