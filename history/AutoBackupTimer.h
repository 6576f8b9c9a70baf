#pragma once

#include <QObject>
#include <functional>

class QTimer;

// Makes the day's automatic backup while the program runs: a minute after
// the start when the newest backup is of an earlier day, then whenever the day
// has changed. The copy and its check run beside the window's thread. A
// failure is logged each time and shown once per run of the program.
class TAutoBackupTimer : public QObject
{
    Q_OBJECT
public:
    // folder: where the backups go, asked anew at each try (the user may
    // change it in the settings).
    TAutoBackupTimer(QString databasePath, std::function<QString()> folder, QObject* parent = nullptr);
    ~TAutoBackupTimer() override;

    // Tries a minute from now and then once an hour.
    void Start();
    // One try: starts the backup unless one is under way.
    void TryNow();

signals:
    // A try has ended: the new backup's path (empty when none was due) or
    // what went wrong.
    void Finished(const QString& written, const QString& failure);
    // A try failed because the data file itself is damaged (the check's report).
    void LiveFileDamaged(const QString& damage);

private:
    void Done(const QString& written, const QString& failure, const QString& damage);

    QString m_databasePath;
    std::function<QString()> m_folder;
    QTimer* m_timer;
    class QThread* m_running = nullptr;
    bool m_failureShown = false;
};
