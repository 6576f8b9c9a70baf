#pragma once

#include <QString>
#include <optional>

// What the program can tell about the data file without reading its pages:
// which file it is, its size, when it was last changed, and SQLite's change
// counter (which every commit in the file's journal mode increments).
struct TFileSigns
{
    quint64 Device = 0;
    quint64 Inode = 0;
    qint64 Size = 0;
    qint64 ModifiedNs = 0;
    quint32 ChangeCounter = 0;

    bool operator==(const TFileSigns&) const = default;
};

// The signs of a file as it is now; none when it cannot be read.
std::optional<TFileSigns> ReadFileSigns(const QString& path);

// The signs the program left beside the data file at its last clean exit,
// in a file of their own (writing them into the data file would change them).
QString CleanExitPath(const QString& databasePath);
// Records the data file's signs, readable by the owner alone, under a
// temporary name renamed once complete; false when they could not be written.
bool RecordCleanExit(const QString& databasePath);
// Whether the data file is still as the program left it at its last clean
// exit: exactly the signs recorded then. A file changed by anything else (a
// crash, another program, a sync tool) or no record means no.
bool LeftAsRecorded(const QString& databasePath);
// Removes the record, so that a crash from now on leaves none; false when a
// record stays.
bool ForgetCleanExit(const QString& databasePath);
