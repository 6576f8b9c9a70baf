#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

class TCaptureWiring;

// Quick capture on the session bus, for scripts and other programs:
// service io.github.jotterel.Jotterel, object /io/github/jotterel/Jotterel,
// interface io.github.jotterel.Capture. Each call answers with what was
// added, or fails with the reason as its error message.
class TCaptureBus : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.jotterel.Capture")
public:
    static constexpr const char* Service = "io.github.jotterel.Jotterel";
    static constexpr const char* Path = "/io/github/jotterel/Jotterel";

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

private:
    QString Carry(const QStringList& command);

    TCaptureWiring* m_wiring;
    bool m_registered = false;
};
