#include "capture/CaptureBus.h"

#include "capture/CaptureWiring.h"
#include "data/UException.h"

#include <QDBusConnection>
#include <QDBusError>

namespace {
QString Refusal(const QStringList& command)
{
    for (const QString& argument : command.mid(1)) {
        const qsizetype bytes = argument.toUtf8().size();
        if (bytes > TCaptureBus::kMostArgumentBytes)
            return QString("文字太长（%1 KB），最多 %2 KB，和命令行一样；长的内容请分几次添加，或者直接写在记事本里。")
                .arg((bytes + 1023) / 1024)
                .arg(TCaptureBus::kMostArgumentBytes / 1024);
    }
    return {};
}
} // namespace

TCaptureBus::TCaptureBus(TCaptureWiring* wiring) : QObject(wiring), m_wiring(wiring)
{
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    connect(&m_next, &QTimer::timeout, this, &TCaptureBus::CarryNext);
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
    if (const QString refused = Refusal(command); !refused.isEmpty()) {
        sendErrorReply(QDBusError::InvalidArgs, refused);
        return {};
    }
    if (m_waiting.size() >= kMostWaiting) {
        sendErrorReply(QDBusError::LimitsExceeded, "等待处理的请求太多，请稍后再试。");
        return {};
    }
    setDelayedReply(true);
    m_waiting.enqueue({message(), command});
    if (!m_next.isActive())
        m_next.start();
    return {};
}

void TCaptureBus::CarryNext()
{
    if (m_waiting.isEmpty())
        return;
    const auto [call, command] = m_waiting.dequeue();
    QDBusMessage answer;
    try {
        const QString done = m_wiring->Carry(command);
        const bool answersNothing = command.value(0) == "toggle" || command.value(0) == "search";
        answer = answersNothing ? call.createReply() : call.createReply(done);
    } catch (const std::exception& e) {
        answer = call.createErrorReply(QDBusError::Failed, ErrorText(e));
    }
    QDBusConnection::sessionBus().send(answer);
    emit Carried();
    if (!m_waiting.isEmpty())
        m_next.start();
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
