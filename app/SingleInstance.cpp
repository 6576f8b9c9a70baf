#include "app/SingleInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <QWidget>

namespace {

const QByteArray ShowRequest = "show\n";
const QByteArray ShownAnswer = "shown\n";

QString DirectoryKey(const QString& dataDir)
{
    const QFileInfo info(dataDir);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

TSingleInstance::TSingleInstance(const QString& dataDir, QObject* parent)
    : QObject(parent), m_dataDir(dataDir), m_lockPath(LockFileName(dataDir)), m_lock(m_lockPath)
{
}

TSingleInstance::~TSingleInstance()
{
    // Close the socket before the lock goes: a start in between then waits
    // for the lock instead of asking an instance that is on its way out.
    delete m_server;
    m_server = nullptr;
}

QString TSingleInstance::LockFileName(const QString& dataDir)
{
    return QDir(dataDir).filePath("bookkeep.lock");
}

QString TSingleInstance::ServerName(const QString& dataDir)
{
    const QByteArray hash = QCryptographicHash::hash(DirectoryKey(dataDir).toUtf8(), QCryptographicHash::Sha256);
    const QString name = "jotterel-" + QString::fromLatin1(hash.toHex().left(24));
#ifdef Q_OS_UNIX
    // The user's private runtime directory keeps other users off the socket.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime + '/' + name;
#endif
    return name;
}

TSingleInstance::TStart TSingleInstance::Start(int answerTimeoutMs, TListening listening)
{
    const QDeadlineTimer deadline(answerTimeoutMs);
    const auto run = [this, listening] {
        if (listening == TListening::AtOnce)
            Listen();
        return TStart::Run;
    };
    for (;;) {
        // A dead process (crash, kill -9) holds no lock.
        const TLockFile::TResult lock = m_lock.TryLock();
        if (lock == TLockFile::TResult::Taken)
            return run();
        if (lock == TLockFile::TResult::Failed) {
            // No lock file can be made here (a copy on a read-only medium):
            // nobody can write this database, so a second reader does no harm.
            if (AskRunningToShow(deadline.remainingTime()))
                return TStart::Handed;
            return run();
        }
        if (AskRunningToShow(deadline.remainingTime()))
            return TStart::Handed;
        if (deadline.hasExpired())
            break;
        // The holder may be between taking the lock and listening, or about to end.
        QThread::msleep(100);
    }
    m_failure = DescribeHolder();
    return TStart::NoAnswer;
}

bool TSingleInstance::Claim()
{
    // No lock file can be made (a read-only medium): nobody can write there.
    if (m_lock.TryLock() != TLockFile::TResult::Held)
        return true;
    qint64 pid = 0;
    m_lock.HolderInfo(&pid, nullptr);
    m_failure = QString("Jotterel 正在运行（进程 %1），使用着同一个数据目录：%2\n"
                        "两个程序不能同时写入数据，请先退出它再运行这个命令。")
                    .arg(pid)
                    .arg(QDir::toNativeSeparators(m_dataDir));
    return false;
}

bool TSingleInstance::Listen()
{
    if (m_server)
        return m_server->isListening();
    const QString name = ServerName(m_dataDir);
    // A socket left behind by a crashed instance would refuse the name; with
    // the lock in hand no live instance can own it.
    if (m_lock.IsLocked())
        QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        // Later starts then report that this one does not answer; the data stays safe either way.
        qWarning("jotterel: cannot listen on %s: %s", qPrintable(name), qPrintable(m_server->errorString()));
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] { Answer(client); });
            Answer(client); // the request may already be waiting
        }
    });
    return true;
}

void TSingleInstance::Answer(QLocalSocket* client)
{
    if (!client->canReadLine())
        return;
    if (client->readLine() != ShowRequest) {
        client->disconnectFromServer();
        return;
    }
    emit ShowRequested();
    client->write(ShownAnswer);
    client->flush();
    client->disconnectFromServer();
}

bool TSingleInstance::AskRunningToShow(int timeoutMs)
{
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    QLocalSocket socket;
    socket.connectToServer(ServerName(m_dataDir));
    if (!socket.waitForConnected(deadline.remainingTime()))
        return false;
    socket.write(ShowRequest);
    if (!socket.waitForBytesWritten(deadline.remainingTime()))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(deadline.remainingTime()))
            return false;
    }
    return socket.readLine() == ShownAnswer;
}

QString TSingleInstance::DescribeHolder() const
{
    qint64 pid = 0;
    QString host;
    const bool known = m_lock.HolderInfo(&pid, &host);
    QString who;
    if (known && !host.isEmpty() && host != QSysInfo::machineHostName())
        who = QString("Jotterel 正在计算机 %1 上使用这个数据目录（进程 %2）。").arg(host).arg(pid);
    else if (known)
        who = QString("Jotterel 已在运行（进程 %1），但没有响应。").arg(pid);
    else
        who = "Jotterel 已在运行，但没有响应。";
    return who + "\n为了不损坏数据，这次没有打开数据库：" + QDir::toNativeSeparators(m_dataDir) +
           "\n请等它响应后再试，或者先结束它。如果确定它已不在运行，删除 " + QDir::toNativeSeparators(m_lockPath) +
           " 后再启动。";
}

void BringToFront(QWidget* window)
{
    if (window) {
        // Unlike showNormal(), this keeps a maximised window maximised.
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}
