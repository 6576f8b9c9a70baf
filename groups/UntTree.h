#pragma once

#include <QPointer>
#include <QString>
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;
class TRenameDelegate;

// Binds one tree view to one group table (SelfIndex, ParentIndex, TypeName):
// builds the tree from the table, and adds, renames and deletes groups in the
// table and in the tree together, always the table first.
class TCardTree
{
public:
    TCardTree(QTreeWidget* treeView, const QString& rootCaption, const QString& tableName);
    ~TCardTree();

    QString TableName;
    QString RootCaption;
    QTreeWidget* TreeView;
    QTreeWidgetItem* RootNode;
    // Runs when an in-place edit of a label ends with a text (the rename).
    std::function<void(QTreeWidgetItem* node, const QString& text)> OnEdited;

    void LoadGroups();
    QTreeWidgetItem* AddGroup(const QString& name);
    // Deletes the selected group after the checks and the question; the
    // extra statements (its notes or bookmarks) run in the same transaction.
    void DeleteGroup(const QString& alsoRun = QString());
    bool RenameGroup(const QString& name);
    int SelectedSelfIndex() const;
    int MaxSelfIndex() const;
    bool NameExists(const QString& name) const;

    QTreeWidgetItem* Selected() const;
    bool IsRoot(QTreeWidgetItem* node) const { return node == RootNode; }
    // "根目录->A->B": the labels from the root down to the selected node.
    QString PositionText() const;
    // Starts the in-place edit of the selected node's label; the tree view
    // is editable only until that edit ends.
    void EditSelected();
    bool IsEditing() const;

    static int SelfIndexOf(const QTreeWidgetItem* node);
    static int ParentIndexOf(const QTreeWidgetItem* node);

private:
    QPointer<TRenameDelegate> m_delegate;
    static QTreeWidgetItem* NewNode(const QString& label, int selfIndex, int parentIndex);
    void EditEnded(QTreeWidgetItem* node, const QString& text);
};

// A group's name is one line: every line break of a typed or pasted name
// (CR LF counting as one) becomes a blank.
QString OneLineName(const QString& name);
