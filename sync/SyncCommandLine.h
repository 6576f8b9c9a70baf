#pragma once

#include "data/CommandLineRun.h"

#include <QString>
#include <QStringList>

// The command line's sync, run without a window:
//   --sync-folder DIR [--sync-passphrase]  joins the folder (the passphrase
//                                          read from the standard input)
//   --sync-folder ""                       stops sync
//   --sync-now                             one round: by the running program
//                                          when there is one, else here
struct TSyncCommand
{
    enum class TKind { None, Join, Stop, Now, Invalid };
    TKind Kind = TKind::None;
    QString Folder;              // for Join, as given
    bool ReadPassphrase = false; // for Join
};

// What the arguments (without the program's name) ask; None when they hold
// no sync option, Invalid when they hold one wrongly or with other options.
TSyncCommand ParseSyncCommand(const QStringList& arguments);

// The sync command the arguments ask for: the passphrase, when asked for,
// is read from the standard input here, before the data are claimed.
TCommandLineRun SyncCommandLine(const QStringList& arguments);
