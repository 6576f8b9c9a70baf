#include "history/TrashWiring.h"

#include "bookmarks/BookmarkPage.h"
#include "controls/UiException.h"
#include "groups/DeleteKeeper.h"
#include "groups/UntTree.h"
#include "history/TrashDlg.h"
#include "reminders/ReminderPage.h"

#include <QAction>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>

TTrashWiring::TTrashWiring(QObject* owner, TTrashParts parts)
    : QObject(owner), m_parts(std::move(parts)), m_action(new QAction("回收站…", this))
{
    m_action->setObjectName("NTrash");
    for (QMenu* menu : m_parts.Menus) {
        menu->addSeparator();
        menu->addAction(m_action);
    }
    connect(m_action, &QAction::triggered, this, [this] { RunHandler([this] { Open(m_parts.Tabs->window()); }); });
}

void TTrashWiring::Open(QWidget* over)
{
    TFormTrash trash(over);
    connect(&trash, &TFormTrash::Restored, this, &TTrashWiring::ShowRestored);
    trash.ShowModal();
}

void TTrashWiring::ShowRestored(const TRestored& restored)
{
    switch (restored.kind) {
    case TRestored::NoteGroup:
        m_parts.Tabs->setCurrentWidget(m_parts.NoteTab);
        m_parts.NoteTree->ShowGroup(int(restored.Id));
        break;
    case TRestored::BookmarkGroup:
        m_parts.Tabs->setCurrentWidget(m_parts.BookmarkTab);
        m_parts.BookmarkPage.MakeControls();
        m_parts.IETree->ShowGroup(int(restored.Id));
        m_parts.BookmarkPage.ShowSelectedGroup();
        break;
    case TRestored::Bookmark:
        m_parts.Tabs->setCurrentWidget(m_parts.BookmarkTab);
        m_parts.BookmarkPage.MakeControls();
        m_parts.BookmarkPage.ShowBookmark(int(restored.Id));
        break;
    case TRestored::Reminder:
        m_parts.Tabs->setCurrentWidget(m_parts.ReminderTab);
        m_parts.ReminderPage.ShowReminder(int(restored.Id));
        break;
    }
}
