#pragma once

#include <QString>

// The files the program keeps in its data folder: the database, SQLite's
// journal files beside it, its copies from before upgrades ("bookkeep.dat.v3"),
// the staged copy of a restore, the restore's safety copy ("tmpData.bat"), the
// record of the last clean exit ("bookkeep.dat.verified") and the single
// instance's lock. Whatever the user chooses to export or back up
// to, none of them is ever written over: the database would be gone.

// Their names in the data folder, here once so that the check below cannot
// miss a file the program keeps.
inline const QString kDatabaseFileName = QStringLiteral("bookkeep.dat");
inline const QString kLockFileName = QStringLiteral("bookkeep.lock");
inline const QString kSafetyCopyFileName = QStringLiteral("tmpData.bat");
// The database's name with this suffix: the signs of the file at the last clean exit.
inline const QString kCleanExitSuffix = QStringLiteral(".verified");

// Whether writing to the path, after following its symbolic links, would
// write one of them (or, where the database is itself a link, the file it
// points to or SQLite's files beside that one).
bool IsOwnFile(const QString& path);

// Throws the user's message naming the path when it is one of them.
void RefuseOwnFile(const QString& path);
