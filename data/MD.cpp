#include "data/MD.h"

#include "data/UException.h"
#include "data/UntPublic.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <sqlite3.h>

TDbAccess* DbAccess = nullptr;

namespace {
const char* const kQueryError = "数据库查询错误，请检查！";
const char* const kExecError = "数据库操作失败！";
const char* const kBackupError = "数据库备份失败！";
const char* const kRestoreError = "数据库恢复失败！";
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

// Copies a file into a save file and, unless told to wait, commits it (flushed
// to the disk, then renamed over the target). Returns the reason of a failure.
QString CopyFileInto(const QString& source, QSaveFile& target, bool commit = true)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return QString("无法读取 %1：%2").arg(source, in.errorString());
    if (!target.open(QIODevice::WriteOnly))
        return QString("无法写入 %1：%2").arg(target.fileName(), target.errorString());
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            return QString("无法读取 %1：%2").arg(source, in.errorString());
        if (target.write(chunk) != chunk.size())
            return QString("无法写入 %1：%2").arg(target.fileName(), target.errorString());
    }
    if (commit && !target.commit())
        return QString("无法写入 %1：%2").arg(target.fileName(), target.errorString());
    return {};
}
} // namespace

TDbAccess::TDbAccess()
{
    const auto connection = [this] { return Handle(); };
    GridSource = std::make_unique<TGridSource>();
    GridSet = std::make_unique<TDataSet>(connection);
    IntSet = std::make_unique<TDataSet>(connection);
    QuerySet = std::make_unique<TDataSet>(connection);
    QuerySet2 = std::make_unique<TDataSet>(connection);
    GridSet->SetPacketRecords(kGridPacket);
    for (TDataSet* set : {GridSet.get(), IntSet.get(), QuerySet.get(), QuerySet2.get()}) {
        QObject::connect(set, &TDataSet::AboutToWrite, set, [this] { FinishReading(); });
        QObject::connect(set, &TDataSet::FetchFailed, set, [set](const QString& message) {
            RunHandler([&] { throw EDBException(message, kQueryError, set->CommandText()); });
        });
    }
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
    return AppPath() + "bookkeep.dat";
}

void TDbAccess::Connect()
{
    try {
        Connection = OpenDatabaseFile(DatabasePath());
    } catch (const TSqlError& e) {
        Connection.reset();
        ShowDbError("数据库连接失败！", e.Message, QString());
        QCoreApplication::exit(1);
    }
}

sqlite3* TDbAccess::Handle()
{
    if (!Connection)
        Connection = OpenDatabaseFile(DatabasePath());
    return Connection.get();
}

void TDbAccess::FinishReading()
{
    for (TDataSet* set : {GridSet.get(), IntSet.get(), QuerySet.get(), QuerySet2.get()})
        if (set->CanFetchMore())
            set->FetchUnasked(-1);
}

void TDbAccess::CloseConnection()
{
    for (TDataSet* set : {GridSet.get(), IntSet.get(), QuerySet.get(), QuerySet2.get()})
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
        throw EDBException(QString::fromUtf8(e.what()), kQueryError, sql);
    }
}

void TDbAccess::OpenGrid(const QString& sql, IDataGrid* grid, bool fit)
{
    grid->SetDataSource(GetGridSource());
    Open(*GridSet, sql);
    if (fit)
        grid->FitColumns();
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
        throw EDBException(QString::fromUtf8(e.what()), kQueryError, GridSet->CommandText());
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
        throw EDBException(QString::fromUtf8(e.what()), kQueryError, sql);
    }
}

void TDbAccess::ExecSQL(const QString& text)
{
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

void TDbAccess::BackupTo(const QString& target)
{
    const QString database = DatabasePath();
    if (SameFile(target, database))
        throw EDBException("备份文件不能是数据库文件本身", kBackupError, QString());
    // Written under a temporary name and renamed once complete, so the chosen
    // name never holds half a database.
    QSaveFile copy(target);
    const QString problem = CopyFileInto(database, copy);
    if (!problem.isEmpty())
        throw EDBException(problem, kBackupError, QString());
}

void TDbAccess::RestoreFrom(const QString& source)
{
    const QString problem = CheckDatabaseFile(source);
    if (!problem.isEmpty())
        throw EDBException(problem, kRestoreError, QString());
    // The new database is written beside the old one and takes its name in
    // one rename, so an interruption leaves either the old or the new one.
    QSaveFile replacement(DatabasePath());
    const QString copied = CopyFileInto(source, replacement, false);
    if (!copied.isEmpty())
        throw EDBException(copied, kRestoreError, QString());
    CloseConnection();
    if (!replacement.commit())
        throw EDBException("无法替换数据库文件：" + replacement.errorString(), kRestoreError, QString());
    try {
        Handle();
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, kRestoreError, QString());
    }
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

void DbBackup(const QString& target)
{
    DbAccess->BackupTo(target);
}

void DbRestore(const QString& source)
{
    DbAccess->RestoreFrom(source);
}
