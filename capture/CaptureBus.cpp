#include "capture/CaptureBus.h"

#include "capture/CaptureWiring.h"
#include "data/UException.h"

#include <QDBusConnection>
#include <QDBusError>

TCaptureBus::TCaptureBus(TCaptureWiring* wiring) : QObject(wiring), m_wiring(wiring)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerService(Service))
        return;
    m_registered = bus.registerObject(Path, this, QDBusConnection::ExportAllSlots);
    if (!m_registered)
        bus.unregisterService(Service);
}

TCaptureBus::~TCaptureBus()
{
    if (!m_registered)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(Path);
    bus.unregisterService(Service);
}

QString TCaptureBus::Carry(const QStringList& command)
{
    try {
        return m_wiring->Carry(command);
    } catch (const std::exception& e) {
        sendErrorReply(QDBusError::Failed, ErrorText(e));
        return {};
    }
}

QString TCaptureBus::Remind(const QString& words)
{
    return Carry({"remind", words});
}

QString TCaptureBus::AddNote(const QString& text, const QString& group)
{
    return Carry({"note", text, group});
}

QString TCaptureBus::AddBookmark(const QString& url, const QString& title, const QString& group)
{
    return Carry({"bookmark", url, title, group});
}

void TCaptureBus::Toggle()
{
    Carry({"toggle"});
}

void TCaptureBus::Search(const QString& words)
{
    Carry({"search", words});
}
