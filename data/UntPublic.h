#pragma once

#include <QString>
#include <QStringList>

class QTreeWidget;
class QWidget;

// The directory of the running executable with a trailing separator; the
// per-user data directory instead when the executable's directory holds no
// database and is installed (../share/jotterel beside it) or cannot be written.
QString AppPath();
// The choice behind AppPath, for a given executable directory.
QString ChooseDataDirectory(const QString& executableDir);
// Points AppPath at another directory (tests, and the program entry's choice).
void SetAppPath(const QString& dir);

// The pieces of text between the separators; one more piece than separators.
QStringList SplitString(const QString& text, const QString& separator);

// Puts a text value between the single quotes of a statement: embedded
// quotes are doubled, so a value can never end its literal early.
QString SqlText(const QString& value);

// Substitutes the values, in order, for the "%s" placeholders of a statement.
QString FormatSQL(const QString& pattern, const QStringList& values);

// Removes blanks and control characters (codes up to 32) from both ends.
QString TrimBlanks(const QString& text);

// Fills a report-style list from the statement's result (QuerySet): the
// first field becomes the item's caption, the others its further columns.
void FillListView(const QString& sql, QTreeWidget* view, bool rebuildColumns);

// Asks the desktop to open a path or web address; nothing is reported.
void ShellOpen(QWidget* owner, const QString& target);

// Message boxes. All of them, and the file dialogs, go through here.
void ShowInfo(const QString& text);
bool AskYesNo(const QString& question);
void ShowDbError(const QString& userMessage, const QString& details, const QString& sql);
void ShowError(const QString& text);

// Appends one entry to today's log file; never reports anything.
void WriteLog(const QString& text);
// The log entry of a database error, as ShowDbError writes it after its box
// (nothing when there is no statement).
void LogDbError(const QString& userMessage, const QString& details, const QString& sql);

// The file dialogs of backup and restore; an empty result means cancelled.
// The filter is written as "description|pattern".
QString AskSaveFileName(QWidget* owner, const QString& filter);
QString AskOpenFileName(QWidget* owner, const QString& filter);

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
    virtual void Opened(const QString& target) = 0;
};
void SetDialogResponder(IDialogResponder* responder);
IDialogResponder* DialogResponder();
