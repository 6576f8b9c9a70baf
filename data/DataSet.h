#pragma once

#include "data/SqliteDb.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A result of one statement, held in memory once read: field access by name
// (case-insensitive) and position, a current record with first/next/eof,
// append and edit posted back to the base table (by rowid), requery, and a
// sort expression ("field" or "field DESC") that reorders the rows in memory.
//
// By default Open reads every record. With a packet size, Open reads only
// that many and the rest is read when asked for (a record further down, the
// record count, a sort, an edit) or, a packet at a time, whenever the event
// loop is idle; so a large result shows at once, and its statement does not
// keep the database's read lock for longer than the reading takes.
class TDataSet : public QObject
{
    Q_OBJECT
public:
    using TConnectionSource = std::function<sqlite3*()>;
    explicit TDataSet(TConnectionSource connection, QObject* parent = nullptr);
    ~TDataSet() override;

    void SetCommandText(const QString& sql);
    const QString& CommandText() const { return m_sql; }
    // Records read by Open and Requery; 0 reads them all.
    void SetPacketRecords(int records) { m_packetRecords = records; }
    // Runs the statement; throws TSqlError, leaving the dataset closed.
    void Open();
    void Close();
    bool Active() const { return m_active; }
    // Runs the same statement again; the sort stays, the first row becomes current.
    void Requery();

    int FieldCount() const { return int(m_fields.size()); }
    QString FieldName(int field) const { return m_fields.value(field); }
    int FieldIndex(const QString& name) const; // -1 when there is no such field

    // Values of the current record.
    QVariant Value(int field) const;
    QVariant Value(const QString& name) const;
    QString AsString(int field) const;
    QString AsString(const QString& name) const { return Text(Value(name)); }
    int AsInteger(const QString& name) const { return AsInteger(Column(name)); }
    int AsInteger(int field) const;
    double AsFloat(const QString& name) const { return Value(name).toDouble(); }
    bool AsBoolean(const QString& name) const;
    // A value of any record read so far, in the current order (row from 0).
    QVariant ValueAt(int row, int field) const;

    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    bool IsEmpty() const { return m_order.empty(); } // the first packet holds a record if there is one
    // Every record: reads those not read yet.
    int RecordCount();
    int RecNo() const { return IsEmpty() ? 0 : m_current + 1; } // 1-based
    void SetRecNo(int recNo);

    // The records read so far, and reading more of them.
    int FetchedCount() const { return int(m_order.size()); }
    bool CanFetchMore() const { return bool(m_stmt); }
    void FetchMore(int records);
    void FetchAll();
    // Reads until there are `records` records or no more; returns how many there are, at most `records`.
    int EnsureFetched(int records);
    // Reads more records where no caller waits for them (idle time, a view
    // scrolling down): a failure is reported by FetchFailed.
    void FetchUnasked(int records);

    // Editing: Append or Edit, set values, then Post (or Cancel).
    void Append();
    void Edit();
    void SetValue(const QString& name, const QVariant& value);
    void Post();
    void Cancel();

    const QString& Sort() const { return m_sort; }
    void SetSort(const QString& expression);

    static QString Text(const QVariant& value);

signals:
    // A new statement was opened or the dataset was closed: fields may differ.
    void Opened();
    // Same fields, other rows or order (requery, sort, post).
    void RowsChanged();
    // Records first..last (0-based, at the end of the current order) were read.
    void RowsFetched(int first, int last);
    void CurrentChanged(int row);
    // A post is about to write: statements still being read on the same
    // connection must be read to their end first.
    void AboutToWrite();
    // Reading further records in idle time failed; the records read stay.
    void FetchFailed(const QString& message);

private:
    enum class State { Browse, Insert, Edit };
    // One value as SQLite gave it: numbers in place, text and blobs as bytes
    // in m_bytes, so that a large result costs a fraction of a QVariant per value.
    struct TCell
    {
        int type; // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL
        quint32 size;
        union {
            qint64 integer;
            double real;
            qint64 offset;
        };
    };
    struct TOutgoing;

    int Column(const QString& name) const;
    void StartReading(sqlite3* db);
    int ReadPacket(int records);
    void StopReading();
    void ClearRows();
    void Announce(int before);
    const TCell* CurrentCell(int field) const;
    const TCell& CellAt(int stored, int field) const { return m_cells[size_t(stored) * m_fields.size() + field]; }
    QVariant CellValue(const TCell& cell) const;
    TCell StoreOutgoing(const TOutgoing& value);
    bool SameValue(const TCell& cell, const TOutgoing& value) const;
    void ApplySort();
    void SetCurrent(int row);
    void PostInsert(sqlite3* db);
    void PostEdit(sqlite3* db);

    TConnectionSource m_connection;
    QString m_sql;
    QString m_baseTable; // the one table of a simple select, else empty
    QString m_sort;
    bool m_active = false;
    int m_packetRecords = 0;
    TStmtHandle m_stmt; // the statement still being read
    bool m_withRowid = false;
    QTimer m_idleFetch;
    QStringList m_fields;
    QHash<QString, int> m_fieldIndex; // lower-case name to position
    std::vector<TCell> m_cells;       // row after row, in the order read
    std::string m_bytes;
    std::vector<qint64> m_rowids;
    std::vector<int> m_order; // current order: positions of rows as read
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    State m_state = State::Browse;
    std::vector<std::optional<QVariant>> m_changes; // per field, while editing
};
