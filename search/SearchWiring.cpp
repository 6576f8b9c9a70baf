#include "search/SearchWiring.h"

#include "bookmarks/BookmarkPage.h"
#include "groups/UntTree.h"
#include "notes/NotepadPage.h"
#include "reminders/ReminderPage.h"
#include "search/Search.h"
#include "search/SearchPanel.h"

#include <QTabWidget>

TSearchWiring::TSearchWiring(QWidget* window, TSearchTargets targets)
    : m_targets(targets), m_panel(std::make_unique<TSearchPanel>(window, targets.Tabs))
{
    m_panel->OnOpen = [this](const TSearchResult& result, const QStringList& words) {
        return OpenSearchResult(result, words);
    };
    m_panel->GroupsOf = [this](TSearchKind kind) -> const TGroupTable* {
        if (kind != TSearchKind::Note)
            m_targets.BookmarkPage.MakeControls(); // the bookmark groups are read with the page's tree
        const std::unique_ptr<TCardTree>& tree = kind == TSearchKind::Note ? m_targets.NoteTree : m_targets.IETree;
        return tree ? &tree->Groups : nullptr;
    };
}

TSearchWiring::~TSearchWiring() = default;

QLineEdit* TSearchWiring::Field() const
{
    return m_panel->Field();
}

// The result's page comes first, so that its control can take the focus;
// the page shown before comes back when the item is gone.
bool TSearchWiring::OpenSearchResult(const TSearchResult& result, const QStringList& words)
{
    QTabWidget* const tabs = m_targets.Tabs;
    QWidget* const before = tabs->currentWidget();
    bool shown = false;
    if (result.Kind == TSearchKind::Note) {
        tabs->setCurrentWidget(m_targets.NoteTab);
        shown = m_targets.NotepadPage.ShowGroupMatch(result.GroupId,
                                                     [&words](const QString& text) { return FirstMatch(text, words); });
    } else if (result.Kind == TSearchKind::Bookmark) {
        tabs->setCurrentWidget(m_targets.BookmarkTab);
        shown = m_targets.BookmarkPage.ShowBookmark(result.Id);
    } else {
        tabs->setCurrentWidget(m_targets.ReminderTab);
        shown = m_targets.ReminderPage.ShowReminder(result.Id);
    }
    if (!shown)
        tabs->setCurrentWidget(before);
    return shown;
}
