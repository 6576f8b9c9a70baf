#include "app/SingleInstance.h"

#include "data/OwnFiles.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QByteArray ShowRequest = "show\n";
const QByteArray ShownAnswer = "shown\n";
// A command: "do " and its words as a JSON array, on one line. The answer's
// first line says whether it was done, the rest is what it did or why it
// failed, up to the end of the connection.
const QByteArray CommandRequest = "do ";
const QByteArray DoneAnswer = "done\n";
const QByteArray FailedAnswer = "failed\n";

TRunningAnswer Carry(const QByteArray& request)
{
    const QJsonArray words = QJsonDocument::fromJson(request.mid(CommandRequest.size())).array();
    QStringList command;
    for (const QJsonValue& word : words)
        command << word.toString();
    const TRunningCommand run = command.isEmpty() ? TRunningCommand() : RunningCommands().value(command.first());
    if (!run)
        return {false, "程序还没有准备好做这件事，请稍后再试。"};
    return run(command.mid(1));
}

QString DirectoryKey(const QString& dataDir)
{
    const QFileInfo info(dataDir);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// What names the data: the data file by its device and inode once it is
// there, so that every path to it (a link from another folder, a bind
// mount, a renamed folder) leads to the same running program; before, the
// folder.
QString DataKey(const QString& dataDir)
{
#ifdef Q_OS_UNIX
    struct stat file = {};
    if (::stat(QFile::encodeName(QDir(dataDir).filePath(kDatabaseFileName)).constData(), &file) == 0)
        return QString("file:%1:%2").arg(quint64(file.st_dev)).arg(quint64(file.st_ino));
#endif
    return DirectoryKey(dataDir);
}

bool SameDirectory(const QString& a, const QString& b)
{
#ifdef Q_OS_UNIX
    struct stat first = {};
    struct stat second = {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
#else
    return DirectoryKey(a) == DirectoryKey(b);
#endif
}

// "（进程 123）" when the holder's process is known, else nothing.
QString ProcessNote(qint64 pid)
{
    return pid > 0 ? QString("（进程 %1）").arg(pid) : QString();
}

} // namespace

TRunningCommands& RunningCommands()
{
    static TRunningCommands commands;
    return commands;
}

TRegisteredCommands::TRegisteredCommands(const TRunningCommands& commands) : m_names(commands.keys())
{
    RunningCommands().insert(commands);
}

TRegisteredCommands::~TRegisteredCommands()
{
    for (const QString& name : std::as_const(m_names))
        RunningCommands().remove(name);
}

TSingleInstance::TSingleInstance(const QString& dataDir, QObject* parent)
    : QObject(parent), m_dataDir(dataDir), m_lockPath(LockFileName(dataDir)),
      m_dataFileLock(QDir(dataDir).filePath(kDatabaseFileName), TSystemLock::TKind::File),
      m_directoryLock(dataDir, TSystemLock::TKind::Directory),
      m_lock(m_lockPath, QDir::cleanPath(QFileInfo(dataDir).absoluteFilePath()))
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
    return QDir(dataDir).filePath(kLockFileName);
}

QString TSingleInstance::ServerName(const QString& dataDir)
{
    const QByteArray hash = QCryptographicHash::hash(DataKey(dataDir).toUtf8(), QCryptographicHash::Sha256);
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
        const TLockFile::TResult lock = TakeLocks();
        if (lock == TLockFile::TResult::Taken)
            return run();
        if (lock == TLockFile::TResult::Failed) {
            // No lock file can be made here (a copy on a read-only medium):
            // nobody can write this database, so a second reader does no harm.
            if (const TAsked asked = HandOver(deadline.remainingTime()); asked != TAsked::NoAnswer)
                return Handed(asked);
            return run();
        }
        // A holder whose folder was renamed under it cannot save any more:
        // handing over to it would hide that.
        if (m_failure = MovedText(); !m_failure.isEmpty())
            return TStart::NoAnswer;
        if (const TAsked asked = HandOver(deadline.remainingTime()); asked != TAsked::NoAnswer)
            return Handed(asked);
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
    // No lock can be had (a read-only medium): nobody can write there.
    if (TakeLocks() != TLockFile::TResult::Held)
        return true;
    m_failure = MovedText();
    if (!m_failure.isEmpty())
        return false;
    qint64 pid = 0;
    m_lock.HolderInfo(&pid, nullptr);
    m_failure = QString("Jotterel 正在运行%1，使用着同一个%2：%3\n"
                        "两个程序不能同时写入数据，请先退出它再运行这个命令。")
                    .arg(ProcessNote(pid), m_heldBy == THeldBy::DataFile ? "数据文件" : "数据目录",
                         QDir::toNativeSeparators(m_heldBy == THeldBy::DataFile ? DataFilePath() : m_dataDir));
    return false;
}

void TSingleInstance::LockDataFile()
{
    m_dataFileLock.TryLock();
}

QString TSingleInstance::DataFilePath() const
{
    return QDir(m_dataDir).filePath(kDatabaseFileName);
}

// The holder wrote down its data directory as it opened it; when that path
// no longer leads to this directory, the directory was renamed or moved
// under it.
QString TSingleInstance::MovedText() const
{
    if (m_heldBy != THeldBy::Directory)
        return QString();
    const QString before = m_lock.HolderNote();
    if (before.isEmpty() || SameDirectory(before, m_dataDir))
        return QString();
    qint64 pid = 0;
    m_lock.HolderInfo(&pid, nullptr);
    return QString("数据目录在 Jotterel 运行时被改名或移动了：原来是 %1，现在是 %2。\n"
                   "正在运行的 Jotterel%3已经无法保存修改。请把文件夹改回原来的名字，"
                   "或者先退出那个程序，再重新启动。")
        .arg(QDir::toNativeSeparators(before), QDir::toNativeSeparators(QDir::cleanPath(m_dataDir)), ProcessNote(pid));
}

// The directory first: a start that finds it held leaves the lock file
// alone. Either lock alone keeps the others out where the other cannot be
// had (a file system without the directory's lock, a lock file that cannot
// be made).
TLockFile::TResult TSingleInstance::TakeLocks()
{
    m_heldBy = THeldBy::Nobody;
    const TLockFile::TResult directory = m_directoryLock.TryLock();
    if (directory == TLockFile::TResult::Held) {
        m_heldBy = THeldBy::Directory;
        return directory;
    }
    const TLockFile::TResult file = m_lock.TryLock();
    if (file == TLockFile::TResult::Held) {
        // Held by a program that knows only the lock file.
        m_directoryLock.Unlock();
        m_heldBy = THeldBy::LockFile;
        return file;
    }
    // The same data file reached from another folder.
    if (m_dataFileLock.TryLock() == TLockFile::TResult::Held) {
        m_lock.Unlock();
        m_directoryLock.Unlock();
        m_heldBy = THeldBy::DataFile;
        return TLockFile::TResult::Held;
    }
    return directory == TLockFile::TResult::Taken ? directory : file;
}

bool TSingleInstance::IsOwner() const
{
    return m_directoryLock.IsLocked() || m_lock.IsLocked() || m_dataFileLock.IsLocked();
}

bool TSingleInstance::Listen()
{
    if (m_server)
        return m_server->isListening();
    const QString name = ServerName(m_dataDir);
    // A socket left behind by a crashed instance would refuse the name; with
    // the lock in hand no live instance can own it.
    if (IsOwner())
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
    const QByteArray request = client->readLine();
    if (request.startsWith(CommandRequest)) {
        const TRunningAnswer answer = Carry(request);
        client->write((answer.Done ? DoneAnswer : FailedAnswer) + answer.Text.toUtf8());
        client->flush();
        client->disconnectFromServer();
        return;
    }
    if (request != ShowRequest) {
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

// A running instance that answers the command at all has taken it over;
// one that could not carry it out leaves the reason in FailureText.
TSingleInstance::TAsked TSingleInstance::HandOver(int timeoutMs)
{
    if (m_handOver.isEmpty())
        return AskRunningToShow(timeoutMs) ? TAsked::Done : TAsked::NoAnswer;
    QString answer;
    const TAsked asked = AskRunning(m_handOver, timeoutMs, &answer);
    if (asked == TAsked::Failed)
        m_failure = answer;
    return asked;
}

TSingleInstance::TStart TSingleInstance::Handed(TAsked asked) const
{
    return asked == TAsked::Done ? TStart::Handed : TStart::Refused;
}

TSingleInstance::TAsked TSingleInstance::AskRunning(const QStringList& command, int answerTimeoutMs, QString* answer)
{
    const QDeadlineTimer deadline(qMax(answerTimeoutMs, 0));
    QLocalSocket socket;
    socket.connectToServer(ServerName(m_dataDir));
    if (!socket.waitForConnected(qMin<qint64>(deadline.remainingTime(), DefaultAnswerTimeoutMs)))
        return TAsked::NoAnswer;
    socket.write(CommandRequest + QJsonDocument(QJsonArray::fromStringList(command)).toJson(QJsonDocument::Compact) +
                 "\n");
    if (!socket.waitForBytesWritten(deadline.remainingTime()))
        return TAsked::NoAnswer;
    // The answer ends with the connection.
    QByteArray received;
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(deadline.remainingTime());
        received += socket.readAll();
    }
    received += socket.readAll();
    const bool done = received.startsWith(DoneAnswer);
    if (!done && !received.startsWith(FailedAnswer))
        return TAsked::NoAnswer;
    *answer = QString::fromUtf8(received.mid(done ? DoneAnswer.size() : FailedAnswer.size()));
    return done ? TAsked::Done : TAsked::Failed;
}

QString TSingleInstance::DescribeHolder() const
{
    qint64 pid = 0;
    QString host;
    // Unknown when the lock file is gone: the directory's lock still tells that the holder lives.
    if (!m_lock.HolderInfo(&pid, &host))
        pid = 0;
    QString who = !host.isEmpty() && host != QSysInfo::machineHostName()
                      ? QString("Jotterel 正在计算机 %1 上使用这个数据目录%2。").arg(host, ProcessNote(pid))
                      : QString("Jotterel 已在运行%1，但没有响应。").arg(ProcessNote(pid));
    if (m_heldBy == THeldBy::DataFile)
        who = "另一个 Jotterel 正在使用同一个数据文件（从另一个文件夹打开，例如经由链接），但没有响应。";
    // Nothing to delete by hand: the lock ends with the process that holds it.
    return who + "\n为了不损坏数据，这次没有打开数据库：" +
           QDir::toNativeSeparators(m_heldBy == THeldBy::DataFile ? DataFilePath() : m_dataDir) +
           "\n请等它响应后再试，或者先结束它；它结束后，锁会自动解除。";
}
