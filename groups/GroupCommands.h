#pragma once

#include "groups/UntTree.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class TUndoAction;

// What a page that files its items in a group tree adds to the group
// commands. Each step is optional.
struct TGroupPageParts
{
    // The table whose rows follow a moved group by their TypeID.
    QString ItemTable;
    // What a branch's groups hold, for the delete's question and statement
    // (the groups as an SqlInList text).
    std::function<TBranchItems(const QString& in)> BranchItems;
    // After a new group was added, or a deleted one put back, and selected.
    std::function<void()> Added;
    // After a branch was deleted, its top group given; the tree has
    // selected a neighbour.
    std::function<void(int group)> Deleted;
    // Before a group moves, once the move is known to be possible.
    std::function<void()> BeforeMove;
    // After a group moved; the moved group is selected.
    std::function<void()> Moved;
    // Asks for a group (移动到…), under the caption and starting at the group
    // id names, as AskGroupOf does; AskGroupOf over the tree's table when not set.
    std::function<int(const QString& caption, int& id)> ChooseGroup;
    // Set while a delete changes the tree's selection, for a page that shows
    // a group as its selection changes: Deleted shows the one left selected.
    bool* Deleting = nullptr;
};

// The group menu's commands, the same for every group tree: add a group
// under the selected one, rename it in place, delete it with its branch and
// items, and move it under another group. The tree is the page's, which the
// main window makes anew after a restore. A delete or a move can be taken
// back through the tree's 撤销.
class TGroupCommands
{
public:
    TGroupCommands(std::unique_ptr<TCardTree>& tree, TGroupPageParts parts);

    // The tree's 撤销, set by the page once it has made it.
    TUndoAction* Undo = nullptr;

    void Add();
    void Rename();
    void Delete();
    // Asks for the group to move the selected one under (移动到…).
    void Move();
    // Files a group with its branch under another group (a drop or 移动到…).
    void MoveGroup(int self, int parent);
    // Reads the groups again when the group chooser added some since the
    // count was taken, so that the tree never hands out a SelfIndex or
    // accepts a name that the table already holds. The selection and the
    // open groups stay.
    void ReloadIfChooserAdded(int addedBefore);

private:
    void Record(const QString& what, std::function<void()> takeBack);
    // Takes a move back: the group, if it is still there under its name,
    // goes back under its old parent, or under the root when that is gone.
    void MoveBack(int self, const QString& name, int parent, const QString& parentName);

    std::unique_ptr<TCardTree>& Tree;
    const TGroupPageParts m_parts;
};
