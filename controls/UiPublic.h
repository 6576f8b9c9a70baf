#pragma once

// The program's message boxes, file dialogs and desktop calls: the widget
// half of the public helpers (the other half, data/UntPublic.h, is storage).
#include "data/UntPublic.h"

#include <QString>
#include <QStringList>

class QTreeWidget;
class QWidget;

// Fills a report-style list from the statement's result (QuerySet): the
// first field becomes the item's caption, the others its further columns.
void FillListView(const QString& sql, QTreeWidget* view, bool rebuildColumns);

// Asks the desktop to open a path or web address; false when no program
// took it (nothing is reported here).
bool ShellOpen(QWidget* owner, const QString& target);

// Message boxes. All of them, and the file dialogs, go through here.
void ShowInfo(const QString& text);
bool AskYesNo(const QString& question);
// A message with 确定 and one more button, named `other`: true when that one
// was chosen. A test responder hears it as a question (true: `other`).
bool ShowInfoWithChoice(const QString& text, const QString& other);
void ShowDbError(const QString& userMessage, const QString& details, const QString& sql);
void ShowError(const QString& text);
// The same boxes beside the window, for what is reported while the user
// types: they take neither the keyboard nor the window's input, so the keys
// that follow still reach the memo. One such box at a time.
void ShowInfoAside(const QString& text);
void ShowDbErrorAside(const QString& userMessage, const QString& details, const QString& sql);

// The file dialogs of backup, restore, import and export; an empty result
// means cancelled. The filter is written as "description|pattern"; `start`
// is the folder the dialog opens in, or the file name a save proposes.
QString AskSaveFileName(QWidget* owner, const QString& filter, const QString& start = QString());
QString AskOpenFileName(QWidget* owner, const QString& filter, const QString& start = QString());
// The folder dialog: an existing folder, or empty when cancelled. A test
// responder is asked for a file name to open with an empty filter.
QString AskFolderName(QWidget* owner, const QString& start = QString());

// Where the file dialogs open: the folder used last while it is still
// there, else the user's documents folder (home where there is none). Never
// the program's own folder, where a dialog without a start would open.
QString StartFolder(const QString& lastFolder);
// What a save dialog proposes: "Jotterel-备份-2026-12-09.bat" in the start
// folder, dated by the program's clock.
QString ProposedFileName(const QString& lastFolder, const QString& what, const QString& suffix);

// Tests install a responder: it answers the boxes and file dialogs instead
// of the user and records what the desktop was asked to open.
class IDialogResponder
{
public:
    enum class Kind { Info, Question, Error };
    virtual ~IDialogResponder() = default;
    // Returns the answer to a question (true = Yes); ignored for the others.
    virtual bool Message(Kind kind, const QString& caption, const QString& text) = 0;
    virtual QString FileName(bool save, const QString& filter) = 0;
    // Returns whether a program took the target.
    virtual bool Opened(const QString& target) = 0;
};
void SetDialogResponder(IDialogResponder* responder);
IDialogResponder* DialogResponder();
