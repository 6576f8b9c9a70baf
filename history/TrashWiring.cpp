#include "history/TrashWiring.h"

#include "bookmarks/BookmarkPage.h"
#include "controls/UiException.h"
#include "groups/UntTree.h"
#include "history/TrashDlg.h"
#include "reminders/ReminderPage.h"

#include <QAction>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>

TTrashWiring::TTrashWiring(QObject* owner, const TSearchTargets& pages, const QList<QMenu*>& menus)
    : QObject(owner), m_pages(pages), m_action(new QAction("回收站…", this))
{
    m_action->setObjectName("NTrash");
    for (QMenu* menu : menus) {
        menu->addSeparator();
        menu->addAction(m_action);
    }
    connect(m_action, &QAction::triggered, this, [this] { RunHandler([this] { ShowTrash(m_pages.Tabs->window()); }); });
    TrashRestored = [this](const TRestored& restored) { ShowRestored(restored); };
}

// The pages go with the window: a trash opened later shows nothing on them.
TTrashWiring::~TTrashWiring()
{
    TrashRestored = nullptr;
}

void TTrashWiring::ShowRestored(const TRestored& restored)
{
    switch (restored.kind) {
    case TTrashEntry::NoteGroup:
        m_pages.Tabs->setCurrentWidget(m_pages.NoteTab);
        m_pages.NoteTree->ShowGroup(int(restored.Id));
        break;
    case TTrashEntry::BookmarkGroup:
        m_pages.Tabs->setCurrentWidget(m_pages.BookmarkTab);
        m_pages.BookmarkPage.MakeControls();
        m_pages.IETree->ShowGroup(int(restored.Id));
        m_pages.BookmarkPage.ShowSelectedGroup();
        break;
    case TTrashEntry::Bookmark:
        m_pages.Tabs->setCurrentWidget(m_pages.BookmarkTab);
        m_pages.BookmarkPage.MakeControls();
        m_pages.BookmarkPage.ShowBookmark(int(restored.Id));
        break;
    case TTrashEntry::Reminder:
        m_pages.Tabs->setCurrentWidget(m_pages.ReminderTab);
        m_pages.ReminderPage.ShowReminder(int(restored.Id));
        break;
    }
}
