#pragma once

#include <cerrno>

#include <QFileDevice>
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

// Appends one entry to today's log file, made owner-only when new; never
// reports anything.
void WriteLog(const QString& text);
// The log entry of a database error, as ShowDbError writes it after its box
// (nothing when there is no statement). The texts the user typed stay out of
// the log: every string literal of the statement and of the details (which
// may quote it) is replaced by its length.
void LogDbError(const QString& userMessage, const QString& details, const QString& sql);

// Why an operation on the file failed, in the system's words. Qt says
// "Unknown error" where the system set no reason it kept (a write cut short
// by a full disk); then the reason the system gave last (or the error number
// saved right after the failing call), or a plain sentence.
QString FileErrorText(const QFileDevice& file, int systemError = errno);
// The sentence for a file that could not be written, or read, with that reason.
QString CannotWrite(const QFileDevice& file);
QString CannotRead(const QFileDevice& file);

// Reads a plain file whole. Anything else is refused before a byte is read
// (a pipe would block the read, a device never end), and so is a file over
// `most` bytes; the file is opened without waiting and looked at as opened,
// so one swapped for a pipe meanwhile is refused too. `reason` gets the
// system's words where the system failed.
enum class TPlainRead { Read, NotPlain, TooLarge, Failed };
TPlainRead ReadPlainFile(const QString& path, qint64 most, QByteArray& bytes, qint64& size, QString& reason);

// Copies a file's bytes into a file opened unbuffered. Returns the reason of
// a failure (the system's own words, "no space left" among them), or empty.
QString CopyFileContents(const QString& source, QFileDevice& target);
// Writes a new file with the source's bytes, its permissions set before the
// first byte and its bytes on the disk before it is closed; an earlier file of
// that name is replaced. Returns the reason of a failure, or empty.
QString WriteFileCopy(const QString& source, const QString& target, QFileDevice::Permissions permissions);
// Renames a file over another in one step (they share a file system).
// Returns the reason of a failure, or empty.
QString ReplaceFile(const QString& from, const QString& to);
// A copy the program writes beside its target carries the target's name with
// this suffix until it is complete; one found at start is a leftover.
inline const QString PartSuffix = QStringLiteral(".part");
// Read and write for the owner alone: the files that hold the user's data
// beside the program (database, copies, log).
inline constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
