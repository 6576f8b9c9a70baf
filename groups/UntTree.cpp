#include "groups/UntTree.h"

#include "controls/CardIcons.h"
#include "data/MD.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"

#include <QHash>
#include <QLineEdit>
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
            (*it)->setFlags((*it)->flags() & ~Qt::ItemIsEditable);
        m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    }

    QTreeWidget* m_tree;
    TEdited m_edited;
    mutable bool m_editing = false;
};

TCardTree::TCardTree(QTreeWidget* treeView, const QString& rootCaption, const QString& tableName)
    : TableName(tableName), RootCaption(rootCaption), TreeView(treeView)
{
    TreeView->clear();
    TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_delegate =
        new TRenameDelegate(TreeView, [this](QTreeWidgetItem* node, const QString& text) { EditEnded(node, text); });
    TreeView->setItemDelegate(m_delegate);
    RootNode = new QTreeWidgetItem(TreeView, QStringList(RootCaption));
    RootNode->setIcon(0, RootImage());
    RootNode->setData(0, kSelfIndexRole, 0);
    RootNode->setData(0, kParentIndexRole, 0);
    RootNode->setFlags(RootNode->flags() & ~Qt::ItemIsEditable);
}

TCardTree::~TCardTree()
{
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

// A node not yet in any tree: adding it is the caller's part.
QTreeWidgetItem* TCardTree::NewNode(const QString& label, int selfIndex, int parentIndex)
{
    return new TGroupNode(label, selfIndex, parentIndex);
}

void TCardTree::LoadGroups()
{
    DbAccess->OpenQuery(
        QString("select SelfIndex,ParentIndex,TypeName from %1  order by SelfIndex asc").arg(TableName));
    TDataSet& set = *DbAccess->QuerySet;
    const int selfField = set.FieldIndex("SelfIndex");
    const int parentField = set.FieldIndex("ParentIndex");
    const int nameField = set.FieldIndex("TypeName");
    TreeView->setUpdatesEnabled(false);
    // Rows come in ascending SelfIndex, and a group's SelfIndex is larger
    // than its parent's, so every parent is placed before its children. The
    // first node carrying an identifier is the one a display-order walk finds.
    QHash<int, QTreeWidgetItem*> nodes;
    nodes.reserve(set.RecordCount() + 1);
    nodes.insert(0, RootNode);
    QTreeWidgetItemIterator existing(RootNode);
    for (; *existing; ++existing)
        if (!nodes.contains(SelfIndexOf(*existing)))
            nodes.insert(SelfIndexOf(*existing), *existing);
    // New nodes are put together outside the view and handed to it in one
    // batch per parent it already shows: the view then takes in a batch at
    // once, rather than every node on its own.
    QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> batches;
    for (set.First(); !set.Eof(); set.Next()) {
        const int self = set.AsInteger(selfField);
        const int parent = set.AsInteger(parentField);
        QTreeWidgetItem* parentNode = nodes.value(parent, RootNode);
        QTreeWidgetItem* node = NewNode(set.AsString(nameField), self, parent);
        if (parentNode->treeWidget())
            batches[parentNode].append(node);
        else
            parentNode->addChild(node);
        if (!nodes.contains(self))
            nodes.insert(self, node);
    }
    for (auto batch = batches.cbegin(); batch != batches.cend(); ++batch)
        batch.key()->addChildren(batch.value());
    TreeView->setUpdatesEnabled(true);
    RootNode->setExpanded(true);
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
    int largest = 0;
    for (QTreeWidgetItemIterator it(TreeView); *it; ++it)
        largest = std::max(largest, SelfIndexOf(*it));
    return largest;
}

bool TCardTree::NameExists(const QString& name) const
{
    for (QTreeWidgetItemIterator it(TreeView); *it; ++it)
        if ((*it)->text(0) == name)
            return true;
    return false;
}

QTreeWidgetItem* TCardTree::AddGroup(const QString& name)
{
    if (NameExists(name))
        RaiseError("该名称已经存在，请重新输入！");
    QTreeWidgetItem* parent = Selected() ? Selected() : RootNode;
    const int self = MaxSelfIndex() + 1;
    const int parentIndex = SelectedSelfIndex();
    DbExecSQL(FormatSQL("insert into %s(SelfIndex,ParentIndex,TypeName) values (%s,%s,'%s')",
                        {TableName, QString::number(self), QString::number(parentIndex), SqlText(name)}));
    QTreeWidgetItem* node = NewNode(name, self, parentIndex);
    parent->addChild(node);
    parent->setExpanded(true);
    return node;
}

void TCardTree::DeleteGroup(const QString& alsoRun)
{
    QTreeWidgetItem* node = Selected();
    if (!node)
        RaiseError("请选择要删除的分组！");
    if (node->childCount() > 0)
        RaiseError("还有下级分组，不能删除该分组！");
    if (node == RootNode)
        RaiseError("不能删除根分组！");
    if (!AskYesNo("确定要删除 " + node->text(0) + " 分组吗？"))
        Abort();
    const QString n = QString::number(SelectedSelfIndex());
    QString text = FormatSQL("delete from %s where selfIndex=%s ", {TableName, n}) + "@#@" +
                   FormatSQL("delete from %s where ParentIndex=%s ", {TableName, n});
    if (!alsoRun.isEmpty())
        text += "@#@" + alsoRun;
    DbExecSQL(text);
    delete node;
}

bool TCardTree::RenameGroup(const QString& name)
{
    QTreeWidgetItem* node = Selected();
    if (!node || IsRoot(node))
        return false;
    if (NameExists(name))
        RaiseError("该名称已经存在，请重新输入！");
    DbExecSQL(FormatSQL("update %s set TypeName='%s' where SelfIndex=%s ",
                        {TableName, SqlText(name), QString::number(SelectedSelfIndex())}));
    node->setText(0, name);
    return true;
}

QString TCardTree::PositionText() const
{
    QTreeWidgetItem* node = Selected();
    if (!node)
        return QString();
    QString text = node->text(0);
    for (QTreeWidgetItem* up = node->parent(); up; up = up->parent())
        text = up->text(0) + "->" + text;
    return text;
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

QString OneLineName(const QString& name)
{
    QString line = name;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& c : line)
        if (c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' || c == QChar(0x85) || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    return line;
}

void TCardTree::EditEnded(QTreeWidgetItem* node, const QString& text)
{
    // The rename acts on the selected node: make sure it is the edited one.
    if (Selected() != node)
        TreeView->setCurrentItem(node);
    if (OnEdited)
        OnEdited(node, text);
}
