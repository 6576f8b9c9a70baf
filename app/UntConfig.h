#pragma once

#include <QDateTime>
#include <QString>

// Wrong login passwords typed in a row and the moment of the last one, kept
// in the data file (SysSet), so that ending and starting the program again
// does not start the count anew. A right password clears them.
struct TPasswordTries
{
    // Five wrong passwords in a row, then every further try waits this long
    // after the last wrong one.
    static constexpr int FreeTries = 5;
    static constexpr qint64 WaitMsecs = 5000;

    int Count = 0;
    QDateTime Last; // invalid: no wrong try yet

    // The moment from which the next try is taken; invalid: at once. A last
    // wrong try after now (the clock was turned back) holds up nothing,
    // instead of locking the user out until the clock gets there again.
    QDateTime NextTryAt(const QDateTime& now) const;
};

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

    TPasswordTries LoadPasswordTries();
    void SavePasswordTries(const TPasswordTries& tries);
};
