#pragma once

#include <functional>

class QObject;

// The signals that end a program where it stands (SIGTERM from a kill or a
// shutdown, SIGHUP from a closed terminal, SIGINT from Ctrl+C) end it the
// way the program ends itself: each is handed to the event loop, which
// calls `end` (once the owner is gone, the system's default returns). The
// handler itself only writes a byte to a pipe, which is all a signal
// handler may safely do.
void EndOnSignals(QObject* owner, std::function<void()> end);
