#include "app/Tray.h"

#include "controls/CardIcons.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {
std::optional<bool> trayOverride;
} // namespace

bool TrayAvailable()
{
    return trayOverride ? *trayOverride : QSystemTrayIcon::isSystemTrayAvailable();
}

void OverrideTrayAvailable(std::optional<bool> available)
{
    trayOverride = available;
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
