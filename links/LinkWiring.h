#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QProgressDialog;
class QWidget;
class TBookmarkPage;
class TCardTree;
class TIE;
class TLinkChecker;
struct TLinkTarget;

// What the link check works with. The tree is held through its owner's
// pointer: a restore of the data makes it again.
struct TLinkParts
{
    QWidget* Window;
    TBookmarkPage& Page;
    TIE& IE;
    const std::unique_ptr<TCardTree>& Tree;
    QMenu* GroupMenu;
    QMenu* GridMenu;
    // The widths the window keeps of the grid's columns (a hidden one's 0),
    // asked for once the grid first shows; empty when none are kept.
    std::function<QList<int>()> RememberedWidths;
};

// The link check on the bookmark page: 检查网址 in the group and grid menus
// with a progress box that can be stopped (the window stays usable: the
// requests run on its event loop), the grid's 状态 column (hidden or shown
// from its title's menu) and 只看失效的, 更新为新网址 for chosen rows or, after
// a check, for all of them; the sites' icons beside the titles, fetched for
// a new bookmark in the background unless 软件设置 turned that off. It ends
// with the page.
class TLinkWiring : public QObject
{
public:
    explicit TLinkWiring(const TLinkParts& parts);
    ~TLinkWiring() override;

private:
    void CheckGroup();
    void CheckRows();
    void Check(const QList<TLinkTarget>& targets);
    void CheckEnded(bool cancelled);
    void ShowOnlyBroken(bool on);
    void UpdateRows();
    // Offers to take the new addresses of every permanent redirect found.
    void OfferNewUrls();
    void GridReset();
    // 显示“状态”列 in the menu of the grid's column titles.
    void AddColumnItem(QMenu* menu);
    // The 状态 column as the user left it, hidden or shown.
    void ApplyColumnState();
    bool RememberedHidden() const;
    QVariant Decoration(int row, int column, int role);
    void FetchNewIcons(int lastIdBefore);
    QList<int> SelectedIds() const;

    QWidget* m_window;
    TBookmarkPage& m_page;
    TIE& m_ie;
    const std::unique_ptr<TCardTree>& m_tree;
    std::function<QList<int>()> m_rememberedWidths;
    QAction* m_checkGroup;
    QAction* m_checkRows;
    QAction* m_onlyBroken;
    QAction* m_updateRows;
    std::unique_ptr<TLinkChecker> m_checker;
    std::unique_ptr<TLinkChecker> m_iconFetcher;
    QPointer<QProgressDialog> m_progress;
    QList<qint64> m_moved; // permanent redirects the check on the way found
    QHash<qint64, QPixmap> m_icons;
    QMetaObject::Connection m_resetConnection;
    bool m_gridBound = false;
    int m_statusHidden = -1; // -1: as remembered, not read yet
};
