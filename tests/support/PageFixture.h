#pragma once

#include "bookmarks/BookmarkPage.h"
#include "bookmarks/UntIE.h"
#include "groups/UntTree.h"
#include "notes/NotepadPage.h"
#include "notes/UntNote.h"
#include "reminders/ReminderPage.h"
#include "reminders/UntAlam.h"

#include <QWidget>
#include <memory>

class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
struct TSearchTargets;

// The three pages on their tabs (记事本, 定时提醒, 网址管理, in the window's
// order and under its controls' names), each over its own store, without
// the window around them: no login, tray, bottom strip or capabilities. A
// test adds the capability it is about over Targets(). The first show loads
// the pages in the order the window's first show does.
class TPageFixture : public QWidget
{
public:
    TPageFixture();
    ~TPageFixture() override;

    // The one-second tick's parts: due reminders fire, and the memo's text
    // that could not be saved is written once the file is free.
    void Tick();
    // The pages, their tabs and trees, as a capability over them is given them.
    TSearchTargets Targets();

    TNote Note;
    TIE IE;
    TAlam Alam;
    QTabWidget* Tabs;
    QWidget* NoteTab;
    QWidget* ReminderTab;
    QWidget* BookmarkTab;
    QTreeWidget* NoteView;
    QPlainTextEdit* Memo;
    QMenu* pmNoteType;
    QMenu* pmIEType;
    QMenu* pmIE;
    QMenu* pmAlam;
    std::unique_ptr<TCardTree> NoteTree;
    std::unique_ptr<TCardTree> IETree;
    std::unique_ptr<TNotepadPage> Notepad;
    std::unique_ptr<TBookmarkPage> Bookmarks;
    std::unique_ptr<TReminderPage> Reminders;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool m_shown = false;
};
