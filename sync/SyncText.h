#pragma once

#include "sync/Sync.h"

#include <QString>

// How the program words the state of sync, the same in the settings dialog,
// the tray icon's tip and the command line.

// One line: "同步未开启。" or "上次同步：2026-12-09 14:30:00，另有 2 台电脑。";
// a failure of the last round (failure not empty) is said instead.
QString SyncStatusLine(const TSyncStatus& status, const QString& failure = QString());
// The line, then the files left out and, when the files are plain, the
// warning that whoever can open the folder can read them.
QString SyncStatusText(const TSyncStatus& status, const QString& failure = QString());
