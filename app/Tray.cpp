#include "app/Tray.h"

#include "controls/CardIcons.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {
std::optional<bool> trayOverride;
std::optional<bool> singleClickOverride;
} // namespace

bool TrayAvailable()
{
    return trayOverride ? *trayOverride : QSystemTrayIcon::isSystemTrayAvailable();
}

void OverrideTrayAvailable(std::optional<bool> available)
{
    trayOverride = available;
}

bool TrayClickRestores()
{
    if (singleClickOverride)
        return *singleClickOverride;
    // Qt puts its icon on the StatusNotifier tray exactly when a watcher of
    // that protocol serves the session bus; otherwise it embeds the icon in
    // an XEmbed tray.
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered("org.kde.StatusNotifierWatcher");
}

void OverrideTrayClickRestores(std::optional<bool> singleClick)
{
    singleClickOverride = singleClick;
}

QSystemTrayIcon* AddTrayIcon(QWidget* window, QMenu* menu)
{
    auto* icon = new QSystemTrayIcon(AppIcon(), window);
    icon->setObjectName("TrayIcon");
    icon->setToolTip("Jotterel");
    icon->setContextMenu(menu);
    icon->show();
    return icon;
}
