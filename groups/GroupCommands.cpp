#include "groups/GroupCommands.h"

#include "bookmarks/ViewIEType.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "groups/AddType.h"

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
    {
        bool noPageFlag = false;
        QScopedValueRollback deleting(m_parts.Deleting ? *m_parts.Deleting : noPageFlag, true);
        Tree->DeleteBranch([this](const QList<int>& branch) { return m_parts.BranchItems(SqlInList(branch)); });
    }
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
    int parent = 0;
    const int result = AskGroupOf(Tree->TableName, Tree->RootCaption, "移动到", parent);
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
    Tree->MoveGroup(self, parent, m_parts.ItemTable);
    if (m_parts.Moved)
        m_parts.Moved();
}

void TGroupCommands::ReloadIfChooserAdded(int addedBefore)
{
    if (ChooserGroupsAdded() != addedBefore)
        Tree->Reload();
}
