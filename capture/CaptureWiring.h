#pragma once

#include "data/CommandLineRun.h"

#include <QObject>
#include <QStringList>

class QLineEdit;
class QSystemTrayIcon;
class QWidget;
class TBookmarkPage;
class TNotepadPage;
class TReminderPage;

// What quick capture works with.
struct TCaptureParts
{
    QWidget* Window;
    QSystemTrayIcon* Tray;  // says what was added; may be null
    QLineEdit* SearchField; // `--search` fills it; may be null
    TNotepadPage& NotepadPage;
    TBookmarkPage& BookmarkPage;
    TReminderPage& ReminderPage;
};

// What the running program does for quick capture handed to it (by a later
// start's command line or over the session bus): adds the note line,
// bookmark or reminder, shows it on its page and says it in the tray's
// message; shows, hides or searches the window.
class TCaptureWiring : public QObject
{
public:
    explicit TCaptureWiring(const TCaptureParts& parts);

    // The commands a later start hands to the running program: each is
    // carried out as Carry does, its failure the answer.
    TRunningCommands Commands();

    // Carries out a command ({"note", text, group}, {"toggle"}, ...):
    // returns what was done; raises why not.
    QString Carry(const QStringList& command);

private:
    void Toggle();
    void Search(const QString& words);
    void Show(const struct TCaptured& captured);

    TCaptureParts m_parts;
};
