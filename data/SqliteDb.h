#pragma once

#include <QString>
#include <QVariant>
#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// An SQLite failure, with SQLite's own message. The database access object
// turns it into the program's database error.
class TSqlError : public std::runtime_error
{
public:
    explicit TSqlError(const QString& message) : std::runtime_error(message.toStdString()), Message(message) {}
    QString Message;
};

struct TDbCloser
{
    void operator()(sqlite3* db) const;
};
struct TStmtFinalizer
{
    void operator()(sqlite3_stmt* stmt) const;
};
using TDbHandle = std::unique_ptr<sqlite3, TDbCloser>;
using TStmtHandle = std::unique_ptr<sqlite3_stmt, TStmtFinalizer>;

// Prepares exactly one statement, after the Jet bridge has translated it. A
// text holding a second statement is refused as a whole.
TStmtHandle PrepareJet(sqlite3* db, const QString& jetSql);
// Prepares native SQLite text (the program's own statements).
TStmtHandle PrepareNative(sqlite3* db, const QString& sql);
// Steps a statement to its end; throws on failure.
void RunToEnd(sqlite3* db, sqlite3_stmt* stmt);
void ExecNative(sqlite3* db, const QString& sql);
// Binds a value to a prepared statement (SQLite keeps its own copy).
void BindText(sqlite3_stmt* stmt, int index, const QString& text);
void BindBlob(sqlite3_stmt* stmt, int index, const QByteArray& bytes);
// A column of the current row.
QString ColumnText(sqlite3_stmt* stmt, int column);
QByteArray ColumnBytes(sqlite3_stmt* stmt, int column);
// A column as its stored type (integer, real, text, blob, null), and a value
// bound as its type, so that rows can be copied whole.
QVariant ColumnVariant(sqlite3_stmt* statement, int column);
void BindVariant(sqlite3_stmt* statement, int index, const QVariant& value);
[[noreturn]] void ThrowSqlError(sqlite3* db);

// Begins on construction, rolls back on destruction unless committed.
// Within a transaction already open on the connection it is a savepoint of
// it: its writes stay or go with that transaction.
class TTransaction
{
public:
    explicit TTransaction(sqlite3* db);
    ~TTransaction();
    void Commit();

private:
    sqlite3* m_db;
    bool m_open;
    bool m_nested;
};

// The database file of the program: opens it, creating a new one with the
// full schema when the file does not exist, and bringing an older one up to
// date (see Schema.h). An existing file that is not such a database (not
// SQLite, another application_id, a table missing) or is newer than the
// program is refused without being written to.
// busyTimeoutMs: how long the open, the upgrade and every later statement wait
// for another program holding the file.
TDbHandle OpenDatabaseFile(const QString& path, int busyTimeoutMs = 0);
// A read-only connection to an existing file, for the thread that opens it;
// statements wait that long for a program that holds the file.
TDbHandle OpenReadOnly(const QString& path, int busyTimeoutMs);
// A connection to a file that is copied or mended, not used as the data: no
// check, no upgrade. create: a new, empty file that only its owner may read,
// in place of any earlier file of that name.
TDbHandle OpenPlain(const QString& path, bool create = false);
// Removes a database file that is no longer wanted, with the files SQLite
// keeps beside it (a write cut short, by a full disk say, leaves its journal).
void RemoveDatabaseFile(const QString& path);
// Puts every page of one connection's database in place of another's, in one
// transaction of the target (SQLite's online backup, which reads what a source
// in WAL mode holds in its -wal file too). The target keeps its own file (its
// name, links to it, permissions and locks) and its journal mode.
void CopyDatabase(sqlite3* from, sqlite3* to);
// Checks a file without opening it for writing: an empty text when it is a
// sound database of the program, else the reason (a damaged file's first
// problems only, as QuickCheckFile gives them).
QString CheckDatabaseFile(const QString& path);
// SQLite's quick check of a file's pages, on a read-only connection of its
// own: empty when the file is sound, else what is wrong (or why the file
// could not be read).
QString QuickCheckFile(const QString& path);
// SQLite's full integrity check of a file's pages, on a read-only connection
// that waits for a writer as long as statements do: empty when the file is
// sound, else what is wrong. Throws TSqlError when the file could not be read
// at all (held past the wait, gone): that says nothing about its pages.
QString IntegrityCheckFile(const QString& path, int busyTimeoutMs);
