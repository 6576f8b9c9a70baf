#pragma once

#include "app/LockFile.h"
#include "data/CommandLineRun.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QLocalServer;
class QLocalSocket;

// The commands the running program carries out for a later start (see
// TRunningCommands), registered by the program's entry for the parts of the
// main window while they stand. One that is not registered is refused.
TRunningCommands& RunningCommands();

// Registers running commands for as long as it lives.
class TRegisteredCommands
{
public:
    explicit TRegisteredCommands(const TRunningCommands& commands);
    ~TRegisteredCommands();
    TRegisteredCommands(const TRegisteredCommands&) = delete;
    TRegisteredCommands& operator=(const TRegisteredCommands&) = delete;

private:
    QStringList m_names;
};

// One running program per data directory and per data file. The first start
// holds a system lock on the directory itself, on the data file (by
// whatever path: another folder whose bookkeep.dat links to it meets the
// same lock) and a lock file beside the database for its whole run, and
// listens on a local socket named after the data file; a later start asks
// that one to come to the front and ends without ever opening the database.
// The directory's lock keeps a second program out whatever becomes of the
// lock file (deleted, renamed) or of the database (another file put in its
// place); the lock file says who holds the directory and where it found it,
// so that a later start can tell that the directory was renamed under it.

class TSingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class TStart {
        Run,     // this process owns the data directory: go on and open the database
        Handed,  // a running instance answered and shows its window: end with success
        Refused, // a running instance could not carry out the handed-over command: FailureText says why
        NoAnswer // the directory is locked by a live process that did not answer: end without the database
    };

    // How long a later start waits for the running one before it gives up.
    static constexpr int DefaultAnswerTimeoutMs = 5000;

    explicit TSingleInstance(const QString& dataDir, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Listening for later starts may wait until the window stands or the
    // login asks for the password (Listen): a later start in between asks
    // again until its time is up.
    enum class TListening { AtOnce, Later };
    TStart Start(int answerTimeoutMs = DefaultAnswerTimeoutMs, TListening listening = TListening::AtOnce);
    // Opens the socket on which later starts ask this one to show itself.
    bool Listen();
    // Takes the data directory for a run without a window (a command of the
    // command line), never asking a running instance for anything: false,
    // with FailureText set, when a live process holds it.
    bool Claim();
    // Locks the data file once the start has made it (a first start).
    void LockDataFile();
    // Asks the running instance to carry out a command (see
    // RunningCommands) and waits for its answer; nothing when none answers.
    enum class TAsked { Done, Failed, NoAnswer };
    TAsked AskRunning(const QStringList& command, int answerTimeoutMs, QString* answer);
    // What a later start asks of the running instance instead of showing its
    // window (`--toggle`, `--search`); empty: show it.
    void HandOverInstead(const QStringList& command) { m_handOver = command; }

    // Set by Start when it returns Refused or NoAnswer: what to tell the user.
    QString FailureText() const { return m_failure; }
    QString LockPath() const { return m_lockPath; }
    static QString LockFileName(const QString& dataDir);
    // The local socket of the instance that owns dataDir: the same for every
    // path to its data file, or before the file is made, for every spelling
    // of the directory (trailing separator, symbolic links).
    static QString ServerName(const QString& dataDir);

signals:
    // Another start asked this running instance to show itself.
    void ShowRequested();

private:
    // Which lock a live process holds.
    enum class THeldBy { Nobody, Directory, LockFile, DataFile };

    TLockFile::TResult TakeLocks();
    bool IsOwner() const;
    QString DataFilePath() const;
    QString MovedText() const;
    bool AskRunningToShow(int timeoutMs);
    TAsked HandOver(int timeoutMs);
    TStart Handed(TAsked asked) const;
    void Answer(QLocalSocket* client);
    QString DescribeHolder() const;

    QString m_dataDir;
    QString m_lockPath;
    // Declared first, so they are released last: the lock file goes while
    // the directory and the data file are still held.
    TSystemLock m_dataFileLock;
    TSystemLock m_directoryLock;
    TLockFile m_lock;
    THeldBy m_heldBy = THeldBy::Nobody;
    QLocalServer* m_server = nullptr;
    QString m_failure;
    QStringList m_handOver;
};
