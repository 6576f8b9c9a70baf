#include "app/Tray.h"

#include "controls/CardIcons.h"
#include "controls/UiException.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QEvent>
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

TTrayIcon::TTrayIcon(QWidget* window, QMenu* menu, QAction* showForm)
    : m_window(window), m_icon(AddTrayIcon(window, menu))
{
    // Asked once, as Qt chooses its kind of tray once; at the first click on
    // the icon, as the question goes over the session bus, which the start
    // need not wait for.
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this, singleClick = std::optional<bool>()](QSystemTrayIcon::ActivationReason reason) mutable {
                if (reason == QSystemTrayIcon::Trigger && !singleClick)
                    singleClick = TrayClickRestores();
                if (reason == QSystemTrayIcon::DoubleClick || (reason == QSystemTrayIcon::Trigger && *singleClick))
                    RunHandler([this] { ShowProgram(); });
            });
    ConnectHandler(showForm, &QAction::triggered, this, &TTrayIcon::NShowFormClick);
    window->installEventFilter(this);
}

void TTrayIcon::ShowProgram()
{
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

void TTrayIcon::NShowFormClick()
{
    ShowProgram();
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    // Hidden once the minimising is over: hiding in the middle of the state
    // change confuses some window managers.
    if (watched == m_window && event->type() == QEvent::WindowStateChange && m_window->isMinimized())
        QMetaObject::invokeMethod(
            this, [this] { RunHandler([this] { AppMinimize(); }); }, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void TTrayIcon::AppMinimize()
{
    // Without a notification area a hidden window could never come back, so
    // it then stays minimised on the taskbar.
    if (m_window->isMinimized() && TrayAvailable() && m_icon->isVisible()) {
        if (OnHiding)
            OnHiding();
        m_window->hide();
    }
}

void TTrayIcon::Hide()
{
    m_icon->hide();
}
