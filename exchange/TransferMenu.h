#pragma once

#include <QObject>
#include <memory>

class QAction;
class QTimer;
class QWidget;
class TBookmarkPage;
class TCardTree;
class TNote;
class TNotepadPage;
class TWindowMemory;

// The commands of the 软件设置 menu that import and export.
struct TTransferActions
{
    QAction* ImportNotes;
    QAction* ExportNotesTree;
    QAction* ExportNotesMd;
    QAction* ImportIE;
    QAction* ExportIE;
};

// What they work on. The trees are held through their owner's pointers: a
// restore of the data makes them again.
struct TTransferParts
{
    QWidget* Window;
    QTimer* Tick; // the reminders' tick, held while an import writes
    TWindowMemory& Memory;
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
