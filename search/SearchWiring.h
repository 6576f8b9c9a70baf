#pragma once

#include <QStringList>
#include <memory>

class QLineEdit;
class QTabWidget;
class QWidget;
class TBookmarkPage;
class TCardTree;
class TNotepadPage;
class TReminderPage;
class TSearchPanel;
struct TSearchResult;

// The pages a search result goes to, each on its tab of the window. The
// trees are held through their owner's pointers: a restore of the data
// makes them again.
struct TSearchTargets
{
    QTabWidget* Tabs;
    QWidget* NoteTab;
    QWidget* BookmarkTab;
    QWidget* ReminderTab;
    TNotepadPage& NotepadPage;
    TBookmarkPage& BookmarkPage;
    TReminderPage& ReminderPage;
    const std::unique_ptr<TCardTree>& NoteTree;
    const std::unique_ptr<TCardTree>& IETree;
};

// The main window's search panel, over the pages it searches: it reads the
// groups the pages' trees show, and goes to the result chosen.
class TSearchWiring
{
public:
    TSearchWiring(QWidget* window, TSearchTargets targets);
    ~TSearchWiring();

    // The field the words are typed in.
    QLineEdit* Field() const;

private:
    // Goes to a result of the search; false when its item is gone.
    bool OpenSearchResult(const TSearchResult& result, const QStringList& words);

    TSearchTargets m_targets;
    std::unique_ptr<TSearchPanel> m_panel;
};
