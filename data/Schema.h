#pragma once

#include <QString>
#include <vector>

struct sqlite3;

// The versions of the database file. A new file is created with the base
// schema (version 1) and then taken through every step below; an older file
// is taken through the steps it lacks. `PRAGMA user_version` holds the
// version a file has.
//
// To change the schema, append a step to the list in Schema.cpp; never edit
// the base schema or a step that has been released. A new column carries a
// default that means "as before", so the existing statements keep working.

// One step: the statements that bring a file of version From to From + 1.
struct TMigration
{
    int From;
    QString Sql;
};

inline constexpr int kBaseSchemaVersion = 1;

// The statements that create an empty database of the base version.
const char* DatabaseSchema();
// The version this program writes: the base plus one per step.
int CurrentSchemaVersion();
// A file's version as stored.
int SchemaVersion(sqlite3* db);
// Empty when this program can open a file of that version, else the reason.
QString SchemaVersionProblem(int version);

// Fills a new, empty database: the base schema and every step, in one
// transaction. Throws TSqlError.
void CreateSchema(sqlite3* db);
// Brings the open file at path up to the current version: a copy of the file
// is kept beside it as "<path>.v<version>", then every missing step runs in
// one transaction. A failure leaves the file as it was and throws TSqlError.
// Nothing is written when the file is current.
void UpgradeSchema(sqlite3* db, const QString& path);

// For tests only: while it lives, the given steps follow the program's own,
// so the upgrade can be proved before the program has any step.
class TExtraMigrations
{
public:
    explicit TExtraMigrations(std::vector<TMigration> steps);
    ~TExtraMigrations();
    TExtraMigrations(const TExtraMigrations&) = delete;
    TExtraMigrations& operator=(const TExtraMigrations&) = delete;
};
