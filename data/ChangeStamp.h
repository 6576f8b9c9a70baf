#pragma once

#include <QtGlobal>

struct sqlite3;

// The moment of each change, as sync orders changes: a hybrid logical clock
// value (milliseconds of the program's clock shifted left by 16 bits, plus a
// counter), always later than every value handed out or seen before, so a
// change made after another was seen is always stamped later, whatever the
// computer's clock says.
//
// The program's own connection notes each change with its stamp when it is
// written, in the same statement: temporary triggers beside the file's own
// (which note every writer's changes, unstamped; the temporary ones fire
// first) call SyncStamp(kind, key, floor), whose floor is the latest value
// the sync has kept (SyncSet 'Clock').
// Another program writing the file leaves its changes unstamped; the sync
// stamps them when it takes them. Writes of a sync round (a row in
// SyncApplying) are not noted at all.

// Registers SyncStamp() on the connection and makes its triggers; false when
// SQLite refuses.
bool InstallChangeStamps(sqlite3* db);
// The next value of the clock: later than floor and than every value this
// process handed out.
qint64 NextChangeStamp(qint64 floor);
// The stamp of the row's latest save in this process since it was last
// taken (0: none), forgotten now. SyncDirty keeps the first save's stamp,
// which is what is left after a restart.
qint64 TakeLatestChangeStamp(int kind, qint64 key);
