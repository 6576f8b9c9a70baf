#pragma once

#include "search/SearchWiring.h"

#include <QList>
#include <QObject>

class QAction;
class QMenu;
struct TRestored;

// Offers 回收站… in the pages' menus, and shows each restored item on its
// page: the group selected in its tree read again, the bookmark or the
// reminder selected in its list.
class TTrashWiring : public QObject
{
public:
    TTrashWiring(QObject* owner, const TSearchTargets& pages, const QList<QMenu*>& menus);
    ~TTrashWiring() override;

    QAction* Action() const { return m_action; }

private:
    void ShowRestored(const TRestored& restored);

    TSearchTargets m_pages;
    QAction* m_action;
};
