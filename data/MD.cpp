#include "data/MD.h"

#include "data/CleanExit.h"
#include "data/OwnFiles.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <sqlite3.h>
#include <system_error>
#include <unistd.h>

TDbAccess* DbAccess = nullptr;

namespace {
const char* const kExecError = "数据库操作失败！";
const char* const kBackupError = "数据库备份失败！";
const char* const kConnectError = "数据库连接失败！";
const char* const kReadOnlyRefusal = "数据文件只读，不能修改数据！";
// The grid reads this many records when it opens (enough to fit its columns
// and fill a screen) and the rest when asked or when idle.
constexpr int kGridPacket = 100;

bool SameFile(const QString& a, const QString& b)
{
    const QFileInfo first(a);
    const QFileInfo second(b);
    return first.exists() && second.exists() ? first.canonicalFilePath() == second.canonicalFilePath()
                                             : first.absoluteFilePath() == second.absoluteFilePath();
}

// Failures to open the data file are logged as well as shown: the program
// ends after the box, and the log is what is left to tell why.
EDBException ConnectFailure(const QString& reason, const QString& path)
{
    WriteLog(QString(kConnectError) + "\r\n" + "详细信息：" + reason + "\r\n" + path);
    return EDBException(reason, kConnectError, QString());
}

// The reason a copy of one database into another failed, with the files named.
QString CopyFailure(const QString& from, const QString& to, const QString& reason)
{
    return QString("无法把 %1 复制到 %2：%3").arg(from, to, reason);
}
} // namespace

TDbAccess::TDbAccess()
{
    GridSource = std::make_unique<TGridSource>();
    GridSet = NewDataSet();
    IntSet = NewDataSet();
    QuerySet = NewDataSet();
    QuerySet2 = NewDataSet();
    GridSet->SetPacketRecords(kGridPacket);
}

std::unique_ptr<TDataSet> TDbAccess::NewDataSet()
{
    auto set = std::make_unique<TDataSet>([this] { return Handle(); });
    TDataSet* raw = set.get();
    m_sets.push_back(raw);
    QObject::connect(raw, &TDataSet::AboutToWrite, raw, [this] { FinishReading(); });
    QObject::connect(raw, &QObject::destroyed, raw, [this, raw] { std::erase(m_sets, raw); });
    return set;
}

std::unique_ptr<TDataSet> TDbAccess::Query(const QString& sql)
{
    std::unique_ptr<TDataSet> set = NewDataSet();
    Open(*set, sql);
    return set;
}

TDbAccess::~TDbAccess()
{
    GridSource.reset();
    GridSet.reset();
    QuerySet.reset();
    QuerySet2.reset();
    IntSet.reset();
    Connection.reset();
}

QString TDbAccess::DatabasePath() const
{
    return AppPath() + kDatabaseFileName;
}

void TDbAccess::Connect()
{
    // Compared before the file is opened, and used once: from now on the
    // program may write, and a crash must leave no record that looks valid.
    const bool leftAsRecorded = LeftAsRecorded(DatabasePath());
    const bool forgotten = ForgetCleanExit(DatabasePath());
    try {
        Connection = OpenFile();
    } catch (const TSqlError& e) {
        Connection.reset();
        throw ConnectFailure(e.Message, DatabasePath());
    }
    // SQLite opens a file it may not write read-only; a folder that takes
    // no new files makes every write fail (the journal goes beside the file).
    const auto writable =
        PathWritable ? PathWritable : [](const QString& path) { return QFileInfo(path).isWritable(); };
    const QString path = DatabasePath();
    m_readOnly = sqlite3_db_readonly(Connection.get(), "main") == 1 || !writable(path) ||
                 !writable(QFileInfo(path).absolutePath());
    if (leftAsRecorded && forgotten) {
        m_checked = true;
        m_checkDeferred = true;
        m_damage.clear();
    }
}

void TDbAccess::TakeDamage(const QString& damage)
{
    m_checked = true;
    m_damage = damage;
}

void TDbAccess::RecordCleanExit()
{
    // A check still running is waited for (the destruction would wait too);
    // one never begun leaves the next start to check in full.
    if (m_checking.valid())
        TakeIntegrityVerdict();
    if (!m_checked || !m_damage.isEmpty() || m_readOnly)
        return;
    CloseConnection();
    ::RecordCleanExit(DatabasePath());
}

void TDbAccess::BeginIntegrityCheck(std::function<void()> ended)
{
    if (m_checking.valid())
        return;
    if (m_checked) { // an earlier write took the verdict
        if (ended)
            ended();
        return;
    }
    try {
        m_checking = std::async(std::launch::async, [path = DatabasePath(), ended] {
            const QString damage = QuickCheckFile(path);
            if (ended)
                ended();
            return damage;
        });
    } catch (const std::system_error&) {
        // No thread to be had: the verdict is taken, by the check run then, when asked for.
        if (ended)
            ended();
    }
}

void TDbAccess::TakeIntegrityVerdict()
{
    if (m_checked)
        return;
    m_damage = m_checking.valid() ? m_checking.get() : QuickCheckFile(DatabasePath());
    m_checked = true;
}

void TDbAccess::VerifyIntact()
{
    TakeIntegrityVerdict();
    if (m_damage.isEmpty())
        return;
    // The lists stop reading (the grid would meet the damage in idle time
    // while the box is open and say so in a second box).
    CloseConnection();
    throw ConnectFailure(m_damage, DatabasePath());
}

void TDbAccess::CheckWritable() const
{
    if (m_readOnly)
        RaiseError(kReadOnlyRefusal);
}

void TDbAccess::CheckWrite(const QString& sql)
{
    if (m_readOnly)
        throw EDBException(kReadOnlyRefusal, kExecError, sql);
    TakeIntegrityVerdict();
    if (!m_damage.isEmpty())
        throw EDBException(m_damage, kExecError, sql);
}

QString TDbAccess::StagingPath() const
{
    return DatabasePath() + PartSuffix;
}

sqlite3* TDbAccess::Handle()
{
    if (!Connection)
        Connection = OpenFile();
    return Connection.get();
}

TDbHandle TDbAccess::OpenFile()
{
    return OpenDatabaseFile(DatabasePath(), m_lockWait ? BusyTimeoutMs : 0);
}

void TDbAccess::SetLockWait(bool wait)
{
    m_lockWait = wait;
    if (Connection)
        sqlite3_busy_timeout(Connection.get(), wait ? BusyTimeoutMs : 0);
}

TNoLockWait::TNoLockWait()
{
    DbAccess->SetLockWait(false);
}

TNoLockWait::~TNoLockWait()
{
    DbAccess->SetLockWait(true);
}

namespace {
// The failure reported while any episode still fails, and how many do.
struct
{
    QString message;
    int failing = 0;
} ReportedLockFailure;
} // namespace

bool TLockEpisode::Run(bool quietRetry, const std::function<void()>& operation)
{
    const bool retry = quietRetry && (Failing() || ReportedLockFailure.failing > 0);
    try {
        std::optional<TNoLockWait> noWait;
        if (retry)
            noWait.emplace();
        operation();
    } catch (const EDBException& e) {
        const bool reported = e.Message() == m_failure || e.Message() == ReportedLockFailure.message;
        Fail(e.Message());
        if (retry && reported)
            return false;
        ReportedLockFailure.message = e.Message();
        throw;
    }
    Clear();
    return true;
}

void TLockEpisode::Fail(const QString& message)
{
    if (!Failing())
        ++ReportedLockFailure.failing;
    m_failure = message;
}

void TLockEpisode::Clear()
{
    if (Failing() && --ReportedLockFailure.failing == 0)
        ReportedLockFailure.message.clear();
    m_failure.clear();
}

void TDbAccess::FinishReading()
{
    if (AwaitOutsideReading)
        AwaitOutsideReading();
    for (TDataSet* set : m_sets)
        if (set->CanFetchMore())
            set->FetchUnasked(-1);
}

void TDbAccess::CloseConnection()
{
    for (TDataSet* set : m_sets)
        set->Close();
    Connection.reset();
}

TGridSource* TDbAccess::GetGridSource()
{
    GridSet->Close();
    GridSet->SetCommandText(QString());
    GridSource->SetDataSet(GridSet.get());
    return GridSource.get();
}

void TDbAccess::Open(TDataSet& set, const QString& sql)
{
    set.Close();
    set.SetCommandText(sql);
    try {
        set.Open();
    } catch (const std::exception& e) {
        throw EDBException(QString::fromUtf8(e.what()), kQueryErrorText, sql);
    }
}

void TDbAccess::OpenGrid(const QString& sql)
{
    GetGridSource();
    Open(*GridSet, sql);
}

void TDbAccess::OpenQuery(const QString& sql)
{
    Open(*QuerySet, sql);
}

void TDbAccess::OpenQuery2(const QString& sql)
{
    Open(*QuerySet2, sql);
}

void TDbAccess::RefreshGrid()
{
    if (GridSet->CommandText().isEmpty())
        return;
    try {
        GridSet->Requery();
    } catch (const std::exception& e) {
        throw EDBException(QString::fromUtf8(e.what()), kQueryErrorText, GridSet->CommandText());
    }
}

int TDbAccess::GetIntValue(const QString& sql)
{
    try {
        sqlite3* db = Handle();
        TStmtHandle stmt = PrepareJet(db, sql);
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_ROW)
            return sqlite3_column_int(stmt.get(), 0);
        if (rc != SQLITE_DONE)
            ThrowSqlError(db);
        return 0;
    } catch (const std::exception& e) {
        throw EDBException(QString::fromUtf8(e.what()), kQueryErrorText, sql);
    }
}

void TDbAccess::ExecSQL(const QString& text)
{
    CheckWrite(text);
    FinishReading();
    try {
        sqlite3* db = Handle();
        TTransaction transaction(db);
        for (const QString& piece : SplitStatements(text)) {
            if (TrimBlanks(piece).isEmpty())
                continue;
            TStmtHandle stmt = PrepareJet(db, piece);
            RunToEnd(db, stmt.get());
        }
        transaction.Commit();
    } catch (const std::exception& e) {
        throw EDBException(QString::fromUtf8(e.what()), kExecError, text);
    }
}

void TDbAccess::Batch(const std::function<void()>& writes)
{
    CheckWrite(QString());
    FinishReading();
    std::optional<TTransaction> transaction;
    try {
        transaction.emplace(Handle());
    } catch (const std::exception& e) {
        throw EDBException(QString::fromUtf8(e.what()), kExecError, QString());
    }
    writes();
    try {
        transaction->Commit();
    } catch (const std::exception& e) {
        throw EDBException(QString::fromUtf8(e.what()), kExecError, QString());
    }
}

void TDbAccess::Post(TDataSet& set)
{
    CheckWrite(set.CommandText());
    try {
        set.Post();
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, kExecError, set.CommandText());
    }
}

void TDbAccess::BackupTo(const QString& target, bool ownCopy)
{
    const QString database = DatabasePath();
    if (SameFile(target, database))
        throw EDBException("备份文件不能是数据库文件本身", kBackupError, QString());
    // A copy of damaged pages is no backup: a restore would refuse it.
    const QString damage = QuickCheckFile(database);
    if (!damage.isEmpty())
        throw EDBException(damage, kBackupError, QString());
    // Every copy holds the password and every note: the owner's alone,
    // whoever may read the database itself.
    if (ownCopy) {
        // The program's own copy is written under a name that the next start
        // clears away if the program dies before the copy is complete.
        const QString part = target + PartSuffix;
        QString problem = WriteFileCopy(database, part, kOwnerOnly);
        if (problem.isEmpty())
            problem = ReplaceFile(part, target);
        if (!problem.isEmpty()) {
            QFile::remove(part);
            throw EDBException(problem, kBackupError, QString());
        }
        return;
    }
    // A file the user chose: written under a temporary name in the folder
    // checked, and renamed once complete, so the chosen name never holds
    // half a database and no file of the program's is replaced.
    try {
        TCheckedWrite copy(target, kOwnerOnly);
        QFile in(database);
        if (!in.open(QIODevice::ReadOnly))
            RaiseError(CannotRead(in));
        while (!in.atEnd()) {
            const QByteArray chunk = in.read(1 << 20);
            if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
                RaiseError(CannotRead(in));
            copy.Write(chunk);
        }
        copy.Commit();
    } catch (const EError& e) {
        throw EDBException(e.Message(), kBackupError, QString());
    }
}

void TDbAccess::RestoreFrom(const QString& source)
{
    StageRestore(source);
    RestoreStaged();
}

void TDbAccess::StageRestore(const QString& source)
{
    const QString problem = CheckDatabaseFile(source);
    if (!problem.isEmpty())
        throw EDBException(problem, kRestoreErrorText, QString());
    // Read through SQLite, not byte by byte: a file in WAL mode keeps its
    // latest changes in its -wal file. Staged beside the database, not in the
    // temporary folder, which may lack the room.
    try {
        const TDbHandle from = OpenReadOnly(source, BusyTimeoutMs);
        const TDbHandle staged = OpenPlain(StagingPath(), true);
        try {
            CopyDatabase(from.get(), staged.get());
        } catch (const TSqlError& e) {
            throw TSqlError(CopyFailure(source, StagingPath(), e.Message));
        }
        // The pages bring the source's journal mode; the data file keeps DELETE.
        ExecNative(staged.get(), "PRAGMA journal_mode=DELETE");
    } catch (const TSqlError& e) {
        DiscardStaged();
        throw EDBException(e.Message, kRestoreErrorText, QString());
    }
    // An older file is brought up to date while it is still aside, so one
    // that cannot be upgraded replaces nothing. The chosen file itself is
    // the copy of its old version, so the staged one keeps none.
    try {
        TDbHandle staged = OpenDatabaseFile(StagingPath());
        DiscardOldVersionCopies();
    } catch (const TSqlError& e) {
        DiscardStaged();
        throw EDBException(e.Message, kRestoreErrorText, QString());
    }
}

void TDbAccess::RestoreStaged()
{
    // The staged pages are written into the data file through SQLite's
    // journal, not renamed over it: a crash still leaves the old data or the
    // new, and the file stays the one the user has. A symbolic link to it
    // (synced or encrypted storage) keeps pointing at it, its permissions
    // stay, and a lock the program holds on the file keeps holding.
    CloseConnection();
    try {
        // On a plain connection: the data file is not opened as the data
        // (nor upgraded) before the new pages are in.
        const TDbHandle staged = OpenReadOnly(StagingPath(), 0);
        const TDbHandle live = OpenPlain(DatabasePath());
        sqlite3_busy_timeout(live.get(), m_lockWait ? BusyTimeoutMs : 0);
        CopyDatabase(staged.get(), live.get());
    } catch (const TSqlError& e) {
        DiscardStaged();
        throw EDBException(CopyFailure(StagingPath(), DatabasePath(), e.Message), kRestoreErrorText, QString());
    }
    DiscardStaged();
    // Signs recorded of the file before are no longer its signs.
    ForgetCleanExit(DatabasePath());
    // The restored file passed the full integrity check before it was staged.
    m_checked = true;
    m_checkDeferred = false;
    m_damage.clear();
    try {
        Handle();
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, kRestoreErrorText, QString());
    }
}

void TDbAccess::DiscardStaged()
{
    RemoveDatabaseFile(StagingPath());
    DiscardOldVersionCopies();
}

void TDbAccess::DiscardOldVersionCopies()
{
    // Compared by hand: a name filter would compile a regular expression,
    // which at every start costs more than the rest of this look.
    const QFileInfo staged(StagingPath());
    const QString prefix = staged.fileName() + ".v";
    for (const QString& name : staged.dir().entryList(QDir::Files))
        if (name.startsWith(prefix))
            QFile::remove(staged.dir().filePath(name));
}

QStringList SplitStatements(const QString& text)
{
    QStringList pieces;
    QString current;
    bool inLiteral = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\'')
            inLiteral = !inLiteral; // a doubled quote toggles twice
        if (!inLiteral && text.mid(i, 3) == "@#@") {
            pieces << current;
            current.clear();
            i += 2;
            continue;
        }
        current += text[i];
    }
    pieces << current;
    return pieces;
}

void DbExecSQL(const QString& text)
{
    DbAccess->ExecSQL(text);
}

int DbGetIntValue(const QString& sql)
{
    return DbAccess->GetIntValue(sql);
}

void DbBackup(const QString& target, bool ownCopy)
{
    DbAccess->BackupTo(target, ownCopy);
}

void DbRestore(const QString& source)
{
    DbAccess->RestoreFrom(source);
}
