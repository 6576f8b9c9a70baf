#include "groups/GroupCommands.h"

#include "controls/UiPublic.h"
#include "controls/UndoAction.h"
#include "data/MD.h"
#include "data/UException.h"
#include "groups/AddType.h"
#include "groups/DeleteKeeper.h"
#include "groups/GroupChooser.h"

#include <QScopedValueRollback>
#include <QTreeWidget>

TGroupCommands::TGroupCommands(std::unique_ptr<TCardTree>& tree, TGroupPageParts parts)
    : Tree(tree), m_parts(std::move(parts))
{
}

void TGroupCommands::Add()
{
    DbAccess->CheckWritable();
    if (!Tree->Selected())
        return;
    QString name;
    if (AskGroupName(Tree->PositionText(), name, &Tree->Groups) != mrOk)
        return;
    Tree->TreeView->setCurrentItem(Tree->AddGroup(name));
    if (m_parts.Added)
        m_parts.Added();
}

void TGroupCommands::Rename()
{
    DbAccess->CheckWritable();
    QTreeWidgetItem* node = Tree->Selected();
    if (!node || Tree->IsRoot(node))
        return;
    // The tree may be made anew after the page was wired, so the edit's end
    // is hooked up here, where the edit begins.
    Tree->OnEdited = [this](QTreeWidgetItem* edited, const QString& text) {
        if (text != edited->text(0))
            Tree->RenameGroup(text);
    };
    Tree->EditSelected();
}

// The group, its groups and their items go in one transaction, so no item
// is left behind under a number that a later group may receive again; the
// question says how many go with it.
void TGroupCommands::Delete()
{
    DbAccess->CheckWritable();
    if (!Tree->Selected())
        return;
    const int group = Tree->SelectedSelfIndex();
    const QString name = Tree->Groups.Name(group);
    QList<qint64> entries;
    {
        bool noPageFlag = false;
        QScopedValueRollback deleting(m_parts.Deleting ? *m_parts.Deleting : noPageFlag, true);
        entries =
            Tree->DeleteBranch([this](const QList<int>& branch) { return m_parts.BranchItems(SqlInList(branch)); });
    }
    Record("删除分组“" + name + "”", TakeBackDelete(entries, [this](int group) {
               Tree->ShowGroup(group);
               if (m_parts.Added)
                   m_parts.Added();
           }));
    if (m_parts.Deleted)
        m_parts.Deleted(group);
}

void TGroupCommands::Move()
{
    DbAccess->CheckWritable();
    QTreeWidgetItem* node = Tree->Selected();
    if (!node || Tree->IsRoot(node))
        return;
    const int self = TCardTree::SelfIndexOf(node);
    const int addedBefore = ChooserGroupsAdded();
    // The chooser starts where the group is now.
    int parent = Tree->Groups.ShownParent(self);
    const int result = m_parts.ChooseGroup ? m_parts.ChooseGroup("移动到", parent)
                                           : AskGroupOf(Tree->TableName, Tree->RootCaption, "移动到", parent);
    ReloadIfChooserAdded(addedBefore);
    if (result == mrOk)
        MoveGroup(self, parent);
}

void TGroupCommands::MoveGroup(int self, int parent)
{
    DbAccess->CheckWritable();
    Tree->Groups.CheckMovable(self, parent);
    if (m_parts.BeforeMove)
        m_parts.BeforeMove();
    const QString name = Tree->Groups.Name(self);
    const int from = Tree->Groups.ShownParent(self);
    const QString fromName = Tree->Groups.Name(from);
    const int moved = Tree->MoveGroup(self, parent, m_parts.ItemTable);
    Record("移动分组“" + name + "”", [=, this] { MoveBack(moved, name, from, fromName); });
    if (m_parts.Moved)
        m_parts.Moved();
}

void TGroupCommands::MoveBack(int self, const QString& name, int parent, const QString& parentName)
{
    if (!Tree->Groups.Contains(self) || Tree->Groups.Name(self) != name)
        RaiseError("分组“" + name + "”已不在，无法撤销移动。");
    const bool there = Tree->Groups.Contains(parent) && Tree->Groups.Name(parent) == parentName;
    MoveGroup(self, there ? parent : 0);
}

void TGroupCommands::Record(const QString& what, std::function<void()> takeBack)
{
    if (Undo)
        Undo->Record(what, std::move(takeBack));
}

void TGroupCommands::ReloadIfChooserAdded(int addedBefore)
{
    if (ChooserGroupsAdded() != addedBefore)
        Tree->Reload();
}
