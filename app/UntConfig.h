#pragma once

#include <QString>

// The program's settings: whether a password is asked at login, and that
// password. They live in the one-row table SysSet; this object holds what was
// last read or saved.
class TConfig
{
public:
    bool bPass = false;
    QString PassWord;
    QString LastSQL;

    // Reads the first row of SysSet; an empty table means no password.
    void LoadConfig();
    // Writes both fields to every row of SysSet.
    void SaveConfig();

    // The main window's state from the last run (SysSet.WindowState), as
    // the window wrote it; empty when there is none.
    QString LoadWindowState();
    void SaveWindowState(const QString& state);
};
