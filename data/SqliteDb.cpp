#include "data/SqliteDb.h"

#include "data/ChangeStamp.h"
#include "data/JetBridge.h"
#include "data/Schema.h"
#include "data/UntPublic.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <sqlite3.h>

namespace {
constexpr int kApplicationId = 1246720116; // "JOTt"

// The tables of the base schema; every later version has them too.
const QStringList kTables = {"IE", "IEType", "NoteType", "NoteBook", "Alam", "SysSet"};

bool IsBlankTail(const char* tail)
{
    for (; *tail; ++tail)
        if (!(*tail == ';' || static_cast<unsigned char>(*tail) <= 32))
            return false;
    return true;
}

TStmtHandle Prepare(sqlite3* db, const QString& sql)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, &tail) != SQLITE_OK)
        ThrowSqlError(db);
    TStmtHandle handle(stmt);
    if (!IsBlankTail(tail))
        throw TSqlError("一次只能执行一条语句: " + sql);
    if (!handle)
        throw TSqlError("空语句");
    return handle;
}

int IntPragma(sqlite3* db, const char* pragma)
{
    TStmtHandle stmt = PrepareNative(db, pragma);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW)
        ThrowSqlError(db);
    return sqlite3_column_int(stmt.get(), 0);
}

// The reason a connection's database is not the program's, or empty.
QString SchemaProblem(sqlite3* db)
{
    try {
        // One read transaction: each statement on its own would take and
        // drop the file's lock again.
        const TTransaction reading(db);
        if (IntPragma(db, "PRAGMA application_id") != kApplicationId)
            return "不是本程序的数据库文件";
        if (const QString version = SchemaVersionProblem(SchemaVersion(db)); !version.isEmpty())
            return version;
        TStmtHandle stmt = PrepareNative(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
        for (const QString& table : kTables) {
            const QByteArray name = table.toUtf8();
            sqlite3_reset(stmt.get());
            sqlite3_bind_text(stmt.get(), 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(stmt.get()) != SQLITE_ROW)
                return "数据库缺少数据表 " + table;
        }
    } catch (const TSqlError& e) {
        return e.Message;
    }
    return {};
}

TDbHandle OpenRaw(const QString& path, int flags)
{
    sqlite3* raw = nullptr;
    // Every connection stays on the thread that opened it, so SQLite's own
    // locking around each call is pure cost (a large part of reading a row).
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    TDbHandle db(raw);
    if (rc != SQLITE_OK)
        throw TSqlError(raw ? QString::fromUtf8(sqlite3_errmsg(raw)) : QString("out of memory"));
    sqlite3_extended_result_codes(raw, 1);
    return db;
}

// A new, empty file only its owner may read: SQLite would create it for
// everyone to read (its journals take the file's permissions too).
void CreateOwnerOnly(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly))
        throw TSqlError(QString("无法创建 %1：%2").arg(path, FileErrorText(file)));
}

// A file an older version made for everyone to read (0644) is the owner's
// alone from now on; SQLite gives its journal the file's permissions too.
// The owner's own bits stay (a file made read-only stays so); a file of
// another user's is left as it is.
void KeepToOwner(const QString& path)
{
    const QFileDevice::Permissions permissions = QFile::permissions(path);
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (permissions & others)
        QFile::setPermissions(path, permissions & ~others);
}

// What a failed file operation of SQLite's met: the system's own words (a
// full disk, a file too large) where SQLite kept them, else SQLite's.
QString FileFailure(int code, sqlite3* db)
{
    const int primary = code & 0xff;
    int systemError = 0;
    if (primary == SQLITE_IOERR || primary == SQLITE_FULL || primary == SQLITE_CANTOPEN)
        systemError = sqlite3_system_errno(db);
    // SQLite forgets the reason of a write the disk cut short.
    if (!systemError && primary == SQLITE_FULL)
        systemError = ENOSPC;
    return systemError ? qt_error_string(systemError) : QString::fromUtf8(sqlite3_errstr(code));
}

// The first problems of an integrity check's verdict (a damaged page may give
// hundreds), empty when the file is sound.
QString DamageReport(sqlite3* db, const char* check)
{
    TStmtHandle stmt = PrepareNative(db, check);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW)
        ThrowSqlError(db);
    const QString verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
    if (verdict == "ok")
        return {};
    QStringList lines = verdict.split('\n', Qt::SkipEmptyParts);
    lines.removeIf([](const QString& line) { return line.startsWith("*** in database"); });
    if (lines.size() > 3)
        lines = lines.mid(0, 3) << "……";
    return "数据库文件已损坏：" + lines.join('\n');
}

TDbHandle OpenDatabase(const QString& path, bool existed, int busyTimeoutMs)
{
    TDbHandle db = OpenRaw(path, SQLITE_OPEN_READWRITE);
    // Set before the schema is read or upgraded: a brief reader of the file
    // at start must not make the open fail.
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    if (existed) {
        const QString problem = SchemaProblem(db.get());
        if (!problem.isEmpty())
            throw TSqlError(problem);
        UpgradeSchema(db.get(), path);
    } else {
        CreateSchema(db.get());
    }
    // The file alone is the whole database between transactions, so a byte
    // copy of it is a complete backup.
    ExecNative(db.get(), "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL");
    if (!JetBridge::Install(db.get()) || !InstallChangeStamps(db.get()))
        throw TSqlError("无法注册数据库函数");
    return db;
}
} // namespace

void TDbCloser::operator()(sqlite3* db) const
{
    sqlite3_close_v2(db);
}

void TStmtFinalizer::operator()(sqlite3_stmt* stmt) const
{
    sqlite3_finalize(stmt);
}

void ThrowSqlError(sqlite3* db)
{
    throw TSqlError(QString::fromUtf8(sqlite3_errmsg(db)));
}

TStmtHandle PrepareJet(sqlite3* db, const QString& jetSql)
{
    return Prepare(db, JetBridge::Translate(jetSql));
}

TStmtHandle PrepareNative(sqlite3* db, const QString& sql)
{
    return Prepare(db, sql);
}

void RunToEnd(sqlite3* db, sqlite3_stmt* stmt)
{
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        ThrowSqlError(db);
}

void BindText(sqlite3_stmt* stmt, int index, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void BindBlob(sqlite3_stmt* stmt, int index, const QByteArray& bytes)
{
    sqlite3_bind_blob(stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

QString ColumnText(sqlite3_stmt* stmt, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

QByteArray ColumnBytes(sqlite3_stmt* stmt, int column)
{
    return QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)), sqlite3_column_bytes(stmt, column));
}

void ExecNative(sqlite3* db, const QString& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        const QString message = QString::fromUtf8(error ? error : sqlite3_errmsg(db));
        sqlite3_free(error);
        throw TSqlError(message);
    }
}

TTransaction::TTransaction(sqlite3* db) : m_db(db), m_open(true), m_nested(sqlite3_get_autocommit(db) == 0)
{
    ExecNative(m_db, m_nested ? "SAVEPOINT nested" : "BEGIN");
}

TTransaction::~TTransaction()
{
    if (m_open)
        sqlite3_exec(m_db, m_nested ? "ROLLBACK TO nested; RELEASE nested" : "ROLLBACK", nullptr, nullptr, nullptr);
}

void TTransaction::Commit()
{
    ExecNative(m_db, m_nested ? "RELEASE nested" : "COMMIT");
    m_open = false;
}

TDbHandle OpenDatabaseFile(const QString& path, int busyTimeoutMs)
{
    const QFileInfo file(path);
    const bool existed = file.exists();
    // A link to storage that is not mounted: a new, empty database there
    // would hide the user's data.
    if (!existed && file.isSymLink())
        throw TSqlError(QString("数据文件 %1 链接到的 %2 不存在").arg(path, file.symLinkTarget()));
    if (!existed)
        CreateOwnerOnly(path);
    else
        KeepToOwner(path);
    try {
        return OpenDatabase(path, existed, busyTimeoutMs);
    } catch (...) {
        // An empty file left behind would be refused at every later start.
        if (!existed)
            QFile::remove(path);
        throw;
    }
}

TDbHandle OpenReadOnly(const QString& path, int busyTimeoutMs)
{
    TDbHandle db = OpenRaw(path, SQLITE_OPEN_READONLY);
    sqlite3_busy_timeout(db.get(), busyTimeoutMs);
    return db;
}

TDbHandle OpenPlain(const QString& path, bool create)
{
    if (create) {
        QFile::remove(path);
        CreateOwnerOnly(path);
    }
    return OpenRaw(path, SQLITE_OPEN_READWRITE);
}

void RemoveDatabaseFile(const QString& path)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

void CopyDatabase(sqlite3* from, sqlite3* to)
{
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup)
        ThrowSqlError(to);
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped == SQLITE_DONE && finished == SQLITE_OK)
        return;
    // Finishing keeps no busy step's failure.
    const int code = finished != SQLITE_OK ? finished : stepped;
    throw TSqlError(FileFailure(code, sqlite3_system_errno(to) ? to : from));
}

QString CheckDatabaseFile(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return "文件不存在";
    try {
        TDbHandle db = OpenRaw(path, SQLITE_OPEN_READONLY);
        const QString problem = SchemaProblem(db.get());
        if (!problem.isEmpty())
            return problem;
        return DamageReport(db.get(), "PRAGMA integrity_check");
    } catch (const TSqlError& e) {
        return e.Message;
    }
}

QString QuickCheckFile(const QString& path)
{
    try {
        // Another program reading or committing holds the file only briefly.
        TDbHandle db = OpenReadOnly(path, 2000);
        return DamageReport(db.get(), "PRAGMA quick_check");
    } catch (const TSqlError& e) {
        return e.Message;
    }
}

QString IntegrityCheckFile(const QString& path, int busyTimeoutMs)
{
    TDbHandle db = OpenReadOnly(path, busyTimeoutMs);
    try {
        return DamageReport(db.get(), "PRAGMA integrity_check");
    } catch (const TSqlError& e) {
        // Pages too damaged for the check to finish are damage too.
        const int code = sqlite3_errcode(db.get()) & 0xff;
        if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
            return "数据库文件已损坏：" + e.Message;
        throw;
    }
}

QVariant ColumnVariant(sqlite3_stmt* statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(statement, column);
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_TEXT:
        return ColumnText(statement, column);
    case SQLITE_BLOB:
        return ColumnBytes(statement, column);
    default:
        return QVariant();
    }
}

void BindVariant(sqlite3_stmt* statement, int index, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        sqlite3_bind_int64(statement, index, value.toLongLong());
        break;
    case QMetaType::Double:
        sqlite3_bind_double(statement, index, value.toDouble());
        break;
    case QMetaType::QString:
        BindText(statement, index, value.toString());
        break;
    case QMetaType::QByteArray:
        BindBlob(statement, index, value.toByteArray());
        break;
    default:
        sqlite3_bind_null(statement, index);
    }
}
