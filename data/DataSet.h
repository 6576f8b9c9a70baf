#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <vector>

struct sqlite3;

// A result of one statement, held in memory once read: field access by name
// (case-insensitive) and position, a current record with first/next/eof,
// append and edit posted back to the base table (by rowid), requery, and a
// sort expression ("field" or "field DESC") that reorders the rows in memory.
class TDataSet : public QObject
{
    Q_OBJECT
public:
    using TConnectionSource = std::function<sqlite3*()>;
    explicit TDataSet(TConnectionSource connection, QObject* parent = nullptr);

    void SetCommandText(const QString& sql);
    const QString& CommandText() const { return m_sql; }
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
    QString AsString(int field) const { return Text(Value(field)); }
    QString AsString(const QString& name) const { return Text(Value(name)); }
    int AsInteger(const QString& name) const { return Value(name).toInt(); }
    double AsFloat(const QString& name) const { return Value(name).toDouble(); }
    bool AsBoolean(const QString& name) const;
    // A value of any record in the current order (row from 0).
    QVariant ValueAt(int row, int field) const;

    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    bool IsEmpty() const { return RecordCount() == 0; }
    int RecordCount() const { return int(m_order.size()); }
    int RecNo() const { return IsEmpty() ? 0 : m_current + 1; } // 1-based
    void SetRecNo(int recNo);

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
    void CurrentChanged(int row);

private:
    enum class State { Browse, Insert, Edit };
    int Column(const QString& name) const;
    void ReadRows(sqlite3* db, bool withRowid);
    void ApplySort();
    void SetCurrent(int row);
    void PostInsert(sqlite3* db);
    void PostEdit(sqlite3* db);

    TConnectionSource m_connection;
    QString m_sql;
    QString m_baseTable; // the one table of a simple select, else empty
    QString m_sort;
    bool m_active = false;
    QStringList m_fields;
    QHash<QString, int> m_fieldIndex;       // lower-case name to position
    std::vector<std::vector<QVariant>> m_rows; // in the order read
    std::vector<qint64> m_rowids;
    std::vector<int> m_order; // current order: positions into m_rows
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    State m_state = State::Browse;
    std::vector<QVariant> m_buffer;
};
