#pragma once

#include "search/SearchWiring.h"

#include <QObject>
#include <QStringList>

class QWidget;

// What the running program does for quick capture handed to it (by a later
// start's command line or over the session bus): adds the note line,
// bookmark or reminder, shows it on its page and says it in the tray's
// message; shows, hides or searches the window.
class TCaptureWiring : public QObject
{
public:
    TCaptureWiring(QWidget* window, const TSearchTargets& pages);
    ~TCaptureWiring() override;

    // Carries out a command ({"note", text, group}, {"toggle"}, ...):
    // returns what was done; raises why not.
    QString Carry(const QStringList& command);

private:
    void Toggle();
    void Search(const QString& words);
    void Show(const struct TCaptured& captured);

    QWidget* m_window;
    TSearchTargets m_pages;
};
