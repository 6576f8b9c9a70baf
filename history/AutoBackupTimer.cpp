#include "history/AutoBackupTimer.h"

#include "controls/UiPublic.h"
#include "data/Clock.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "history/AutoBackup.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

TAutoBackupTimer::TAutoBackupTimer(QString databasePath, std::function<QString()> folder, QObject* parent)
    : QObject(parent), m_databasePath(std::move(databasePath)), m_folder(std::move(folder)), m_timer(new QTimer(this))
{
    m_timer->setInterval(60 * 60 * 1000);
    connect(m_timer, &QTimer::timeout, this, &TAutoBackupTimer::TryNow);
}

TAutoBackupTimer::~TAutoBackupTimer()
{
    // A backup under way is finished, not cut off: its file is complete
    // or not there.
    if (m_running)
        m_running->wait();
}

void TAutoBackupTimer::Start()
{
    m_timer->start();
    // A minute after the start, which is then over: the copy and its check
    // read the whole file.
    QTimer::singleShot(60 * 1000, this, &TAutoBackupTimer::TryNow);
}

void TAutoBackupTimer::TryNow()
{
    if (m_running)
        return;
    const QString folder = m_folder();
    const QDate today = TClock::Now().date();
    struct TResult
    {
        QString written, failure, damage;
    };
    auto result = std::make_shared<TResult>();
    m_running = QThread::create([this, folder, today, result] {
        try {
            result->written = RunAutoBackup(m_databasePath, folder, today);
        } catch (const ELiveFileDamaged& e) {
            result->damage = e.Message();
        } catch (const EError& e) {
            result->failure = e.Message();
        }
    });
    connect(m_running, &QThread::finished, this, [this, result] {
        m_running->deleteLater();
        m_running = nullptr;
        Done(result->written, result->failure, result->damage);
    });
    m_running->start(QThread::LowPriority);
}

void TAutoBackupTimer::Done(const QString& written, const QString& failure, const QString& damage)
{
    // Damage is the data's, not the backup's: told by whoever keeps the data.
    if (!damage.isEmpty()) {
        m_timer->stop();
        emit LiveFileDamaged(damage);
        emit Finished(written, damage);
        return;
    }
    if (!failure.isEmpty()) {
        WriteLog(failure);
        if (!m_failureShown) {
            m_failureShown = true;
            ShowInfoAside(failure);
        }
    }
    emit Finished(written, failure);
}
