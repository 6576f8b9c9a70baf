#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <memory>

class QJsonObject;
class QTabWidget;
class QTreeWidget;
class QWidget;
class TBookmarkPage;
class TCardTree;
class TConfig;
class TKeepOnScreen;
class TReminderPage;

// What the window's memory reads and writes. The trees are held through
// their owner's pointers: a restore of the data makes them again.
struct TWindowMemoryParts
{
    QWidget* Window;
    QTabWidget* Pages;
    QTreeWidget* NoteView;
    TConfig& Config;
    const std::unique_ptr<TCardTree>& NoteTree;
    const std::unique_ptr<TCardTree>& IETree;
    TBookmarkPage& BookmarkPage;
    TReminderPage& ReminderPage;
};

// The main window as the user left it: its place, size and maximised state
// before the first show, then its page, groups, open branches and column
// widths once the pages are loaded; written when the window is closed or
// hidden. The window is kept on its screen from the start.
class TWindowMemory
{
public:
    explicit TWindowMemory(TWindowMemoryParts parts);
    ~TWindowMemory();

    // Places the window where it was left, or in the middle of its screen.
    void RestoreFrame();
    // Once the pages are loaded: the page, groups and branches left.
    void RestorePlaces();
    void Save();
    // The bookmark grid's column widths kept at the last exit (a hidden
    // column's 0); empty when none are kept.
    QList<int> ColumnWidths() const;

    // The file dialogs open in the folder used last, kept with the window's
    // state; a save proposes "Jotterel-<what>-<date>.<suffix>".
    QString AskSaveIn(const QString& filter, const QString& what, const QString& suffix);
    QString AskOpenIn(const QString& filter);
    QString AskFolderIn();

private:
    void SaveBookmarkPlaces(QJsonObject& state);
    void FocusShownPage();
    QString LastFolder() const;
    void RestoreSavedFrame();
    void RememberFolder(const QString& folder);

    TWindowMemoryParts m_parts;
    std::unique_ptr<TKeepOnScreen> m_keepOnScreen;
    bool m_pagesLoaded = false; // the first show loaded the pages: their state may be kept
    QString m_windowState;      // as read at the start
    // The size the window had before the screen made it smaller, and the
    // size it got: while it keeps that one, the remembered size is the
    // user's, so a larger screen gets it back.
    QSize m_chosenSize;
    QSize m_fittedSize;
};
