#pragma once

#include <QString>
#include <QStringList>

// Starting the program with the desktop session. On Linux and other XDG
// desktops this is an autostart entry "<name>.desktop" in the user's
// autostart folder; on Windows a string value under the machine-wide Run key.

// Writes (on) or removes (off) the entry; a missing entry is no error when
// turning it off. Throws EError with the reason when the entry cannot be
// written or removed.
void SetAutoRun(const QString& name, const QString& path, bool on);
// Whether the entry of that name starts exactly the given executable.
bool AutoRunStarts(const QString& name, const QString& path);

// The full path of the running executable; tests may put another in its place
// (an empty text brings the real one back).
QString ExecutablePath();
void SetExecutablePath(const QString& path);

#ifndef Q_OS_WIN
// The autostart entry's file: $XDG_CONFIG_HOME/autostart/<name>.desktop, where
// XDG_CONFIG_HOME defaults to ~/.config.
QString AutoRunEntryPath(const QString& name);
// The Exec value of a desktop entry that starts the program: quoted when the
// path holds a reserved character, written as the entry's string syntax wants.
QString DesktopExecValue(const QString& path);
// The arguments of a desktop entry's Exec value (as stored in the file), or
// an empty list when the value cannot be read.
QStringList DesktopExecArguments(const QString& value);
#endif
