#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointer>
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
    TLinkWiring(QWidget* window, TBookmarkPage& page, TIE& ie, const std::unique_ptr<TCardTree>& tree,
                QMenu* groupMenu, QMenu* gridMenu);
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
