#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QAction;
class QTimer;
class QWidget;
class TBookmarkPage;
class TCardTree;
class TNote;
class TNotepadPage;

// The commands of the 软件设置 menu that import and export.
struct TTransferActions
{
    QAction* ImportNotes;
    QAction* ExportNotesTree;
    QAction* ExportNotesMd;
    QAction* ImportIE;
    QAction* ExportIE;
};

// The file dialogs, each opened in the folder the window used last; a save
// proposes "Jotterel-<what>-<date>.<suffix>". Empty: cancelled.
struct TTransferDialogs
{
    std::function<QString()> AskFolder;
    std::function<QString(const QString& filter, const QString& what, const QString& suffix)> AskSave;
    std::function<QString(const QString& filter)> AskOpen;
};

// What they work on. The trees are held through their owner's pointers: a
// restore of the data makes them again.
struct TTransferParts
{
    QWidget* Window;
    QTimer* Tick; // the reminders' tick, held while an import writes
    TTransferDialogs Dialogs;
    TNote& Note;
    const std::unique_ptr<TCardTree>& NoteTree;
    const std::unique_ptr<TCardTree>& IETree;
    TNotepadPage& NotepadPage;
    TBookmarkPage& BookmarkPage;
};

// The import and export of notes (a folder of files, a Markdown file) and of
// bookmarks (a browser's bookmark file), each under the selected group.
class TTransferMenu : public QObject
{
public:
    TTransferMenu(const TTransferActions& actions, TTransferParts parts);

    void NImportNotesClick();
    void NExportNotesTreeClick();
    void NExportNotesMdClick();
    void NImportIEClick();
    void NExportIEClick();

private:
    // Asked at each use: a bookmark tree is made with its page.
    TCardTree& NoteTree() const { return *m_parts.NoteTree; }
    TCardTree& IETree() const { return *m_parts.IETree; }

    TTransferParts m_parts;
};
