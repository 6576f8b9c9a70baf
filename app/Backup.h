#pragma once

#include <QString>

// The filter of the backup and restore file dialogs.
inline const QString kDataFileFilter = QStringLiteral("数据文件 (*.bat)|*.bat");

// Where a restore keeps the data as they were before it.
QString SafetyCopyPath();

// The file a backup is written to: a chosen name that ends in ".bat" (in any
// letter case) as it is, so replacing it is what the save dialog asked;
// any other name with ".bat" appended. The program's own files (the database,
// the safety copy ...) are refused with the user's message.
QString BackupFileName(const QString& chosen);

// Puts the chosen file in place of the database. The file is checked first
// and a refused one changes nothing; then the current data go to the safety
// copy (a failure there stops everything, reported as the restore's); then
// the database is replaced.
// Choosing the safety copy itself brings back the data from before the last
// restore, and the safety copy then holds the data it replaced. Either way,
// the restored data take in the trash and the notes' versions of the data
// they replace (see TTrash::MergeFrom and TNoteHistory::MergeFrom).
void RestoreWithSafetyCopy(const QString& source);

// The one question before a restore: the chosen file's day (an automatic
// backup's, else the time the file was last written) and what it holds
// against the data now. Throws the restore's error, before anything is
// asked, for a file that holds no data of the program.
QString RestoreQuestion(const QString& source);
// What a restore says when it is done, offering to take it back.
QString RestoredText(const QString& source);

// Removes what a restore killed before its end left: the staged copy of the
// chosen file (with its copies from before upgrades) and the safety copy's
// part; and an upgrade's unfinished copy of the file. Needs the database
// connected; no restore may be under way.
void RemoveRestoreLeftovers();
