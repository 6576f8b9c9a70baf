#pragma once

#include "groups/GroupCommands.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace Ui {
class TBookmarkPageForm;
}
class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TCardDBGrid;
class TCardTree;
class TIE;

// What the main window gives the bookmark page: the tab the page's
// controls are made on, the menus of the tree and the grid, their items.
struct TBookmarkWidgets
{
    QWidget* window; // the window that opens web pages
    QWidget* page;
    QMenu* pmIEType;
    QMenu* pmIE;
    QAction* N1;
    QAction* N5;
    QAction* N2;
    QAction* N3;
    QAction* N8;
    QAction* NAddIEType;
    QAction* NModIeType;
    QAction* NDelIEType;
    QAction* NMoveIEType;
    QAction* NMoveIE;
};

// The bookmark page of the main window: the bookmark tree with its group
// menu, and the grid of the selected group's bookmarks with its menu. The
// controls are made when the page is first shown (most starts never show
// it), or when their groups are needed sooner.
class TBookmarkPage : public QObject
{
    Q_OBJECT
public:
    // The tree is the main window's, which makes it anew after a restore;
    // it is there once the controls are made.
    TBookmarkPage(const TBookmarkWidgets& widgets, std::unique_ptr<TCardTree>& ieTree, TIE& ie);
    ~TBookmarkPage() override;

    // Makes the page's controls and its tree, the groups read, now if they
    // are not there yet.
    void MakeControls();
    // The tree and the grid; null until the controls are made.
    QTreeWidget* Tree() const;
    TCardDBGrid* Grid() const;

    // Every bookmark, as at the start and after a restore. The tree's top
    // level and the list are made when the page is first shown (at once
    // when it is shown now): on a large profile they are the largest part
    // of the start, on a page the start does not show.
    void ShowStartupBookmarks();
    // Runs the step once the tree and the list are there (at once when they
    // are): the window memory's part of the page.
    void WhenShown(std::function<void()> step);
    // Makes the controls, the tree's top level and the list now if they
    // still wait for the page, for whoever reads them from elsewhere.
    void FillIfWaiting();
    // The bookmarks of the group selected in the tree, as a click on it shows them.
    void ShowSelectedGroup() { tvIEClick(); }
    // Shows a bookmark's group (the root when its group is gone) with the
    // bookmark's row current; false when the bookmark is gone.
    bool ShowBookmark(int id);
    // After an import: the tree read again, the selected group's list shown anew.
    void ShowImported();
signals:
    // After bookmarks were stored (新建, a capture): every bookmark numbered
    // above the given identifier is new.
    void BookmarksAdded(int lastIdBefore);
    // The grid's column titles were right-clicked: a listener adds its items
    // to their menu (a column of its own shown or hidden).
    void ColumnMenu(QMenu* menu);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void EnableDragAndDrop();
    void tvIEClick();
    void N1Click();
    void N5Click();
    void N2Click();
    void N3Click();
    void N8Click();
    void DBGrid1DblClick();
    TGroupPageParts GroupParts();
    void NAddIETypeClick() { m_groupCommands.Add(); }
    void NModIeTypeClick() { m_groupCommands.Rename(); }
    void NDelIETypeClick() { m_groupCommands.Delete(); }
    void NMoveIETypeClick() { m_groupCommands.Move(); }
    void NMoveIEClick();
    // Bookmarks filed under another group (a drop or 移动到…).
    void MoveBookmarks(const QList<int>& ids, int typeId, int firstRow);
    // Whether a drop of what is carried on the group changes anything.
    bool CanDrop(int group, const QString& format, const QString& text);
    // The grid after rows from firstRow on went from it: the row that took
    // the first one's place is current.
    void ShowRowsGone(int firstRow, bool fit);
    // The bookmarks the grid's commands act on (see SelectedRows).
    QList<int> SelectedIds() const;
    void NewBookmark();
    void OpenCurrentBookmark();
    void RefreshBookmarks();

    const TBookmarkWidgets m_widgets;
    std::unique_ptr<Ui::TBookmarkPageForm> ui;
    std::unique_ptr<TCardTree>& IETree;
    TIE& IE;
    bool m_waiting = false;
    std::function<void()> m_whenShown;
    TGroupCommands m_groupCommands;
    // The grid's 撤销: its last delete or move of bookmarks.
    TUndoAction* m_gridUndo;
};
