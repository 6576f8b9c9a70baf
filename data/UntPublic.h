#pragma once

#include <QString>
#include <QStringList>

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

// Appends one entry to today's log file; never reports anything.
void WriteLog(const QString& text);
// The log entry of a database error, as ShowDbError writes it after its box
// (nothing when there is no statement).
void LogDbError(const QString& userMessage, const QString& details, const QString& sql);
