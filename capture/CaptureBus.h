#pragma once

#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QTimer>

class TCaptureWiring;

// Quick capture on the session bus, for scripts and other programs:
// service io.github.jotterel.Jotterel, object /io/github/jotterel/Jotterel,
// interface io.github.jotterel.Capture. Each call answers with what was
// added, or fails with the reason as its error message.
// What a caller sends is held to what the command line can carry (each text
// at most kMostArgumentBytes, refused with the reason), and the calls are
// carried out one per turn of the event loop, at most kMostWaiting waiting:
// however many come, the window answers between them.
class TCaptureBus : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.jotterel.Capture")
public:
    static constexpr const char* Service = "io.github.jotterel.Jotterel";
    static constexpr const char* Path = "/io/github/jotterel/Jotterel";
    // The longest argument a command line takes on Linux (MAX_ARG_STRLEN).
    static constexpr qsizetype kMostArgumentBytes = 128 * 1024;
    static constexpr qsizetype kMostWaiting = 16;

    // Registers on the session bus when there is one; a second program
    // (another data directory) finds the name taken and goes without.
    explicit TCaptureBus(TCaptureWiring* wiring);
    ~TCaptureBus() override;

public slots:
    QString Remind(const QString& words);
    QString AddNote(const QString& text, const QString& group);
    QString AddBookmark(const QString& url, const QString& title, const QString& group);
    void Toggle();
    void Search(const QString& words);

signals:
    // A call was carried out (tests follow the pace with it).
    void Carried();

private:
    // Queues the command; the answer follows when it is carried out.
    QString Carry(const QStringList& command);
    void CarryNext();

    TCaptureWiring* m_wiring;
    bool m_registered = false;
    QQueue<QPair<QDBusMessage, QStringList>> m_waiting;
    QTimer m_next;
};
