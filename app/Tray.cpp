#include "app/Tray.h"

#include "controls/CardIcons.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {
std::optional<bool> trayOverride;
std::optional<bool> singleClickOverride;
const char* const kWatcher = "org.kde.StatusNotifierWatcher";
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
    // that protocol on the session bus reports a host showing the items;
    // otherwise it embeds the icon in an XEmbed tray.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kWatcher))
        return false;
    const QDBusInterface watcher(kWatcher, "/StatusNotifierWatcher", kWatcher, bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
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
