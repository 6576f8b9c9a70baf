#pragma once

#include <QObject>
#include <functional>
#include <optional>

class QAction;
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

// The window's icon in the notification area (AddTrayIcon). A click on it
// (see TrayClickRestores) or the menu's 显示窗口 brings the window back; a
// minimised window hides into the tray, when there is one to come back from.
class TTrayIcon : public QObject
{
public:
    TTrayIcon(QWidget* window, QMenu* menu, QAction* showForm);

    // Runs before the window hides into the tray (its state is kept then).
    std::function<void()> OnHiding;

    void ShowProgram();
    void NShowFormClick();
    void AppMinimize();
    // At the exit: the icon leaves the tray with the window, not later.
    void Hide();
    QSystemTrayIcon* Icon() const { return m_icon; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    QSystemTrayIcon* m_icon; // the window's child, named "TrayIcon"
};
