#pragma once

#include "data/DataSet.h"
#include "data/GridSource.h"
#include "data/SqliteDb.h"

#include <QString>
#include <memory>

// The one gateway to the database: it owns the connection and the datasets,
// each with one role, and turns every failure into EDBException.
class TDbAccess
{
public:
    TDbAccess();
    ~TDbAccess();

    // Opens AppPath + "bookkeep.dat" (created when missing). On failure shows
    // "数据库连接失败！" with the reason and leaves the connection closed.
    void Connect();
    bool Connected() const { return bool(Connection); }

    TGridSource* GetGridSource();
    void OpenGrid(const QString& sql, IDataGrid* grid, bool fit);
    void OpenQuery(const QString& sql);
    void OpenQuery2(const QString& sql);
    void RefreshGrid();
    int GetIntValue(const QString& sql);
    // Runs the "@#@"-separated statements in one transaction.
    void ExecSQL(const QString& text);
    void BackupTo(const QString& target);
    void RestoreFrom(const QString& source);

    // The open connection; a closed one is opened again first.
    sqlite3* Handle();
    void CloseConnection();
    QString DatabasePath() const;

    TDbHandle Connection;
    std::unique_ptr<TGridSource> GridSource;
    std::unique_ptr<TDataSet> GridSet;
    std::unique_ptr<TDataSet> IntSet;
    std::unique_ptr<TDataSet> QuerySet;
    std::unique_ptr<TDataSet> QuerySet2;

    // Reads every statement still being read to its end, so that a write on
    // the connection never lands in the middle of one.
    void FinishReading();

private:
    void Open(TDataSet& set, const QString& sql);
};

extern TDbAccess* DbAccess;

void DbExecSQL(const QString& text);
int DbGetIntValue(const QString& sql);
void DbBackup(const QString& target);
void DbRestore(const QString& source);

// Splits a statement text on "@#@", but never inside a quoted literal, so a
// value holding the separator is stored as typed.
QStringList SplitStatements(const QString& text);
