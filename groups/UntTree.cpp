#include "groups/UntTree.h"

#include "controls/CardIcons.h"
#include "controls/EmptyHint.h"
#include "controls/ItemDrag.h"
#include "controls/PopupMenu.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "groups/DeleteKeeper.h"

#include <QHash>
#include <QLineEdit>
#include <QPainter>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {
constexpr int kSelfIndexRole = Qt::UserRole;
constexpr int kParentIndexRole = Qt::UserRole + 1;

// Image 0 for the root; image 1 for a group, image 2 while it is selected.
const QIcon& RootImage()
{
    return TreeImages()[0];
}

// A group's node. Its identifiers are members and its picture the shared
// one, answered when asked, instead of item data stored per node: storing
// them is most of the cost of building a tree of thousands of groups.
class TGroupNode : public QTreeWidgetItem
{
public:
    TGroupNode(const QString& label, int selfIndex, int parentIndex)
        : QTreeWidgetItem(UserType), m_selfIndex(selfIndex), m_parentIndex(parentIndex)
    {
        setText(0, label);
        setFlags(flags() & ~Qt::ItemIsEditable);
    }

    QVariant data(int column, int role) const override
    {
        if (column == 0 && role == kSelfIndexRole)
            return m_selfIndex;
        if (column == 0 && role == kParentIndexRole)
            return m_parentIndex;
        QVariant value = QTreeWidgetItem::data(column, role);
        if (column == 0 && role == Qt::DecorationRole && !value.isValid())
            return GroupNodeIcon();
        return value;
    }

    // Whether the node's children were made.
    bool ChildrenMade = false;

    void setData(int column, int role, const QVariant& value) override
    {
        if (column == 0 && (role == kSelfIndexRole || role == kParentIndexRole)) {
            (role == kSelfIndexRole ? m_selfIndex : m_parentIndex) = value.toInt();
            emitDataChanged();
            return;
        }
        QTreeWidgetItem::setData(column, role, value);
    }

private:
    int m_selfIndex;
    int m_parentIndex;
};
} // namespace

// The in-place editor hands the typed text to the tree's owner instead of
// writing it into the node: the label changes only after the table did.
class TRenameDelegate : public QStyledItemDelegate
{
public:
    using TEdited = std::function<void(QTreeWidgetItem*, const QString&)>;

    TRenameDelegate(QTreeWidget* tree, TEdited edited)
        : QStyledItemDelegate(tree), m_tree(tree), m_edited(std::move(edited))
    {
        connect(this, &QAbstractItemDelegate::closeEditor, this, [this] { EndEditing(); });
    }

    bool Editing() const { return m_editing; }
    // The tree object is going away before its view: later edits go nowhere.
    void Detach() { m_edited = nullptr; }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        m_editing = true;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

    // A group that a drag would be dropped on shows so: tinted and framed
    // in the highlight colour, apart from the selected group.
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (index != DropTargetOf(m_tree))
            return;
        QColor colour = option.palette.color(QPalette::Active, QPalette::Highlight);
        painter->save();
        colour.setAlpha(90);
        painter->fillRect(option.rect, colour);
        colour.setAlpha(255);
        painter->setPen(colour);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* node = m_tree->itemFromIndex(index);
        if (line && node && m_edited)
            RunHandler([&] { m_edited(node, OneLineName(line->text())); });
    }

private:
    void EndEditing()
    {
        m_editing = false;
        QTreeWidgetItemIterator it(m_tree);
        for (; *it; ++it)
            if ((*it)->flags() & Qt::ItemIsEditable)
                (*it)->setFlags((*it)->flags() & ~Qt::ItemIsEditable);
        m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    }

    QTreeWidget* m_tree;
    TEdited m_edited;
    mutable bool m_editing = false;
};

TCardTree::TCardTree(QTreeWidget* treeView, const QString& rootCaption, const QString& tableName)
    : TableName(tableName), RootCaption(rootCaption), TreeView(treeView), Groups(tableName, rootCaption)
{
    TreeView->clear();
    TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every node is one line with an icon of one size: without this the view
    // measures the text of every open node above the one clicked.
    TreeView->setUniformRowHeights(true);
    m_delegate =
        new TRenameDelegate(TreeView, [this](QTreeWidgetItem* node, const QString& text) { EditEnded(node, text); });
    TreeView->setItemDelegate(m_delegate);
    // A branch that the user opens shows its groups from then on.
    m_expanded = QObject::connect(TreeView, &QTreeWidget::itemExpanded, m_delegate,
                                  [this](QTreeWidgetItem* node) { CreateChildren(node); });
    RootNode = new TGroupNode(RootCaption, 0, 0);
    RootNode->setIcon(0, RootImage());
    TreeView->addTopLevelItem(RootNode);
}

TCardTree::~TCardTree()
{
    QObject::disconnect(m_expanded);
    if (m_delegate)
        m_delegate->Detach();
}

bool TCardTree::IsEditing() const
{
    return m_delegate && m_delegate->Editing();
}

int TCardTree::SelfIndexOf(const QTreeWidgetItem* node)
{
    return node ? node->data(0, kSelfIndexRole).toInt() : 0;
}

int TCardTree::ParentIndexOf(const QTreeWidgetItem* node)
{
    return node ? node->data(0, kParentIndexRole).toInt() : 0;
}

// A node not yet in any tree: adding it is the caller's part. One whose
// group has groups under it shows that it can be opened.
QTreeWidgetItem* TCardTree::NewNode(int selfIndex) const
{
    auto* node = new TGroupNode(Groups.Name(selfIndex), selfIndex, Groups.ParentIndex(selfIndex));
    if (Groups.HasChildren(selfIndex))
        node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return node;
}

void TCardTree::CreateChildren(QTreeWidgetItem* node)
{
    auto* group = static_cast<TGroupNode*>(node);
    if (!group || group->ChildrenMade)
        return;
    group->ChildrenMade = true;
    // From now on the node's own children decide whether it can be opened.
    group->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    const QList<int> children = Groups.Children(SelfIndexOf(node));
    if (children.isEmpty())
        return;
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(children.size());
    for (int child : children)
        nodes.append(NewNode(child));
    // Handed over in one batch: the view takes them in at once.
    node->addChildren(nodes);
}

void TCardTree::LoadGroups(TGroupPrefetch* prefetch)
{
    ReadGroups(prefetch);
    Rebuild(false, {}, -1);
}

void TCardTree::ReadGroups(TGroupPrefetch* prefetch)
{
    if (!prefetch || !prefetch->Take(Groups))
        Groups.Load();
}

void TCardTree::ShowTopLevel()
{
    CreateChildren(RootNode);
    RootNode->setExpanded(true);
}

void TCardTree::Reload()
{
    QTreeWidgetItem* selected = Selected();
    const int selectedIndex = selected ? SelfIndexOf(selected) : -1;
    const QList<int> open = OpenGroups();
    Groups.Load();
    Rebuild(true, open, selectedIndex);
}

void TCardTree::ShowGroup(int self)
{
    Reload();
    if (QTreeWidgetItem* node = NodeOf(self)) {
        TreeView->setCurrentItem(node);
        TreeView->scrollToItem(node);
    }
}

QList<int> TCardTree::OpenGroups() const
{
    QList<int> open;
    for (QTreeWidgetItemIterator it(RootNode); *it; ++it)
        if ((*it)->isExpanded() && *it != RootNode)
            open.append(SelfIndexOf(*it));
    return open;
}

void TCardTree::Rebuild(bool again, const QList<int>& open, int selected)
{
    // A first reading leaves the current node to the view, which makes the
    // root current when the tree gets the focus; a later one selects again.
    if (again)
        TreeView->setCurrentItem(nullptr);
    qDeleteAll(RootNode->takeChildren());
    static_cast<TGroupNode*>(RootNode)->ChildrenMade = false;
    ShowTopLevel();
    // In display order, parents before their children: a group opens again
    // where its parent is open again.
    QHash<int, QTreeWidgetItem*> made;
    const auto madeChildren = [&made](QTreeWidgetItem* node) {
        for (int i = 0; i < node->childCount(); ++i)
            made.insert(SelfIndexOf(node->child(i)), node->child(i));
    };
    madeChildren(RootNode);
    for (int self : open) {
        QTreeWidgetItem* node = made.value(self);
        if (!node)
            continue;
        CreateChildren(node);
        node->setExpanded(true);
        madeChildren(node);
    }
    if (selected >= 0)
        if (QTreeWidgetItem* node = NodeOf(selected))
            TreeView->setCurrentItem(node);
}

QTreeWidgetItem* TCardTree::NodeOf(int selfIndex)
{
    if (!Groups.Contains(selfIndex))
        return nullptr;
    QTreeWidgetItem* node = RootNode;
    QList<int> chain = Groups.Ancestors(selfIndex);
    if (selfIndex != 0)
        chain.append(selfIndex);
    for (int step : chain) {
        CreateChildren(node);
        node->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i)
            if (SelfIndexOf(node->child(i)) == step)
                next = node->child(i);
        if (!next)
            return nullptr;
        node = next;
    }
    return node;
}

// The highlighted node, not the current one: a tree view with the keyboard
// focus always has a current node (a focus frame only), and keeps it when
// Ctrl+click takes the highlight away.
QTreeWidgetItem* TCardTree::Selected() const
{
    return TreeView->selectedItems().value(0, nullptr);
}

int TCardTree::SelectedSelfIndex() const
{
    return SelfIndexOf(Selected());
}

int TCardTree::MaxSelfIndex() const
{
    return Groups.MaxSelfIndex();
}

bool TCardTree::NameExists(const QString& name) const
{
    return Groups.NameExists(name);
}

QTreeWidgetItem* TCardTree::AddGroup(const QString& name)
{
    QTreeWidgetItem* parent = Selected() ? Selected() : RootNode;
    const bool made = static_cast<TGroupNode*>(parent)->ChildrenMade;
    const int self = Groups.Add(SelectedSelfIndex(), name);
    // Children not made yet are made now, the new one among them.
    CreateChildren(parent);
    if (made)
        parent->addChild(NewNode(self));
    parent->setExpanded(true);
    for (int i = parent->childCount() - 1; i >= 0; --i)
        if (SelfIndexOf(parent->child(i)) == self)
            return parent->child(i);
    return nullptr;
}

void TCardTree::DeleteGroup(const QString& alsoRun)
{
    QTreeWidgetItem* node = Selected();
    if (!node)
        RaiseError("请选择要删除的分组！");
    const int self = SelfIndexOf(node);
    Groups.CheckDeletable(self);
    if (!AskYesNo("确定要删除 " + node->text(0) + " 分组吗？"))
        Abort();
    const int removed = Groups.Delete(self, alsoRun);
    delete node;
    // Stray rows went with it: the tree shows what is left.
    if (removed > 1)
        Rebuild(true, OpenGroups(), Selected() ? SelectedSelfIndex() : -1);
}

QString TCardTree::DeleteQuestion(const QString& name, int subgroups, const TBranchItems& items)
{
    QString question = "确定要删除 " + name + " 分组吗？";
    QStringList parts;
    if (subgroups > 0)
        parts << QString("%1 个下级分组").arg(subgroups);
    if (items.Count > 0)
        parts << QString("%1 %2").arg(items.Count).arg(items.Noun);
    if (!parts.isEmpty())
        question += "（其中 " + parts.join("、") + "也将被删除）";
    return question;
}

QList<qint64> TCardTree::DeleteBranch(const std::function<TBranchItems(const QList<int>&)>& itemsOf)
{
    QTreeWidgetItem* node = Selected();
    if (!node)
        RaiseError("请选择要删除的分组！");
    const int self = SelfIndexOf(node);
    if (self == 0)
        RaiseError(Groups.HasChildren(0) ? "还有下级分组，不能删除该分组！" : "不能删除根分组！");
    const QList<int> branch = Groups.Branch(self);
    const TBranchItems items = itemsOf(branch);
    if (!AskYesNo(DeleteQuestion(node->text(0), int(branch.size()) - 1, items) + DeleteKeeper().Notice()))
        Abort();
    const QList<qint64> entries = DeleteKeeper().DeleteBranch(Groups, self, items.DeleteStatement);
    delete node;
    // Stray rows naming a deleted group as parent went too: the tree shows
    // what the table holds now, the neighbour the view chose selected.
    Rebuild(true, OpenGroups(), Selected() ? SelectedSelfIndex() : -1);
    return entries;
}

int TCardTree::MoveGroup(int self, int parent, const QString& itemTable)
{
    const QList<int> open = OpenGroups();
    const int moved = Groups.Move(self, parent, itemTable);
    Rebuild(true, open, moved);
    return moved;
}

bool TCardTree::RenameGroup(const QString& name)
{
    QTreeWidgetItem* node = Selected();
    if (!node || IsRoot(node))
        return false;
    const int self = SelfIndexOf(node);
    Groups.Rename(self, name);
    node->setText(0, Groups.Name(self));
    return true;
}

QString TCardTree::PositionText() const
{
    QTreeWidgetItem* node = Selected();
    if (!node)
        return QString();
    return Groups.PathText(SelfIndexOf(node));
}

void TCardTree::EditSelected()
{
    QTreeWidgetItem* node = Selected();
    if (!node || node == RootNode)
        return;
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    TreeView->setEditTriggers(QAbstractItemView::EditKeyPressed);
    TreeView->editItem(node, 0);
}

void TCardTree::EditEnded(QTreeWidgetItem* node, const QString& text)
{
    // The rename acts on the selected node: make sure it is the edited one.
    if (Selected() != node)
        TreeView->setCurrentItem(node);
    if (OnEdited)
        OnEdited(node, text);
}

void BindGroupTree(QTreeWidget* tree, QMenu* menu, QAction* add, QAction* rename, QAction* del)
{
    BindPopupMenu(tree, menu);
    BindViewKeys(tree, {{QKeySequence(Qt::CTRL | Qt::Key_N), add},
                        {QKeySequence(Qt::Key_F2), rename},
                        {QKeySequence(Qt::Key_Delete), del}});
    ShowEmptyHint(tree, "右键单击分组可新建分组（Ctrl+N）",
                  [tree] { return tree->topLevelItemCount() == 0 || tree->topLevelItem(0)->childCount() == 0; });
}
