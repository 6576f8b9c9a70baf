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

void TTrashWiring::SelectGroup(const std::unique_ptr<TCardTree>& tree, int group)
{
    if (!tree)
        return;
    tree->Reload();
    if (QTreeWidgetItem* node = tree->NodeOf(group)) {
        tree->TreeView->setCurrentItem(node);
        tree->TreeView->scrollToItem(node);
    }
}

void TTrashWiring::ShowRestored(const TRestored& restored)
{
    switch (restored.kind) {
    case TTrashEntry::NoteGroup:
        m_pages.Tabs->setCurrentWidget(m_pages.NoteTab);
        SelectGroup(m_pages.NoteTree, int(restored.Id));
        break;
    case TTrashEntry::BookmarkGroup:
        m_pages.Tabs->setCurrentWidget(m_pages.BookmarkTab);
        m_pages.BookmarkPage.MakeControls();
        SelectGroup(m_pages.IETree, int(restored.Id));
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
