#pragma once

#include <QList>
#include <QObject>
#include <memory>

class QAction;
class QMenu;
class QTabWidget;
class QWidget;
class TBookmarkPage;
class TCardTree;
class TReminderPage;
struct TRestored;

// What the trash needs of the window: the pages, each on its tab, that show
// what it puts back, and the menus that offer 回收站…. The trees are held
// through their owner's pointers: a restore of the data makes them again.
struct TTrashParts
{
    QTabWidget* Tabs;
    QWidget* NoteTab;
    QWidget* BookmarkTab;
    QWidget* ReminderTab;
    TBookmarkPage& BookmarkPage;
    TReminderPage& ReminderPage;
    const std::unique_ptr<TCardTree>& NoteTree;
    const std::unique_ptr<TCardTree>& IETree;
    QList<QMenu*> Menus;
};

// Offers 回收站… in the pages' menus, and shows each restored item on its
// page: the group selected in its tree read again, the bookmark or the
// reminder selected in its list.
class TTrashWiring : public QObject
{
public:
    TTrashWiring(QObject* owner, TTrashParts parts);

    QAction* Action() const { return m_action; }
    // Opens 回收站 over the given window (a dialog of the main window's).
    void Open(QWidget* over);

private:
    void ShowRestored(const TRestored& restored);

    TTrashParts m_parts;
    QAction* m_action;
};
