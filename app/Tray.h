#pragma once

#include <optional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

// Whether the desktop shows notification-area icons right now. A window is
// only hidden into the tray when there is one, so it can always be reached.
bool TrayAvailable();
// Tests pretend either way; std::nullopt asks the desktop again.
void OverrideTrayAvailable(std::optional<bool> available);

// Whether a single click on the icon restores the window. StatusNotifier
// trays (over D-Bus) report a click only as a single one, never a double
// one; XEmbed trays report both, and there the double click restores.
bool TrayClickRestores();
// Tests pretend either way; std::nullopt asks the desktop again.
void OverrideTrayClickRestores(std::optional<bool> singleClick);

// The program's icon in the notification area, tip "Jotterel", with the
// given menu on a right click. It belongs to the window.
QSystemTrayIcon* AddTrayIcon(QWidget* window, QMenu* menu);
