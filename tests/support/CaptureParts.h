#pragma once

#include "capture/CaptureWiring.h"
#include "support/PageFixture.h"

// Quick capture over the pages' fixture, which stands for the window: a
// tray icon and the search field only when given.
inline TCaptureParts CaptureParts(TPageFixture& pages, QSystemTrayIcon* tray = nullptr,
                                  QLineEdit* searchField = nullptr)
{
    return {&pages, tray, searchField, *pages.Notepad, *pages.Bookmarks, *pages.Reminders};
}
