#include "data/MD.h"

#include "data/UException.h"
#include "data/UntPublic.h"

#include <QCoreApplication>
#include <QFile>
#include <sqlite3.h>

TDbAccess* DbAccess = nullptr;

namespace {
const char* const kQueryError = "数据库查询错误，请检查！";
const char* const kExecError = "数据库操作失败！";
const char* const kBackupError = "数据库备份失败！";
const char* const kRestoreError = "数据库恢复失败！";
} // namespace

TDbAccess::TDbAccess()
{
    const auto connection = [this] { return Handle(); };
    GridSource = std::make_unique<TGridSource>();
    GridSet = std::make_unique<TDataSet>(connection);
    IntSet = std::make_unique<TDataSet>(connection);
    QuerySet = std::make_unique<TDataSet>(connection);
    QuerySet2 = std::make_unique<TDataSet>(connection);
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
    QFile::remove(target);
    if (!QFile::copy(DatabasePath(), target))
        throw EDBException("无法复制数据库文件到 " + target, kBackupError, QString());
}

void TDbAccess::RestoreFrom(const QString& source)
{
    CloseConnection();
    const QString path = DatabasePath();
    const QString previous = path + ".old";
    QFile::remove(previous);
    if (QFile::rename(path, previous) && QFile::copy(source, path)) {
        QFile::remove(previous);
    } else {
        QFile::rename(previous, path);
        throw EDBException("无法复制 " + source + " 到数据库文件", kRestoreError, QString());
    }
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
