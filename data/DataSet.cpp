#include "data/DataSet.h"

#include "data/JetBridge.h"
#include "data/SqliteDb.h"

#include <QRegularExpression>
#include <algorithm>
#include <sqlite3.h>

namespace {
// A select over one table, which can carry the rowid for posting back.
QString BaseTableOf(const QString& sql)
{
    static const QRegularExpression simple(
        R"(^\s*select\s+(?!distinct\b)(.*?)\s+from\s+([A-Za-z_][A-Za-z0-9_]*)\s*(where\b.*)?$)",
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression aggregate(R"(\b(count|sum|min|max|avg|group)\b)",
                                              QRegularExpression::CaseInsensitiveOption);
    const auto match = simple.match(sql);
    if (!match.hasMatch() || match.captured(1).contains(aggregate))
        return {};
    return match.captured(2);
}

// Puts the rowid in front of a simple select's fields.
QString WithRowid(const QString& sql)
{
    static const QRegularExpression select(R"(^\s*select\s)", QRegularExpression::CaseInsensitiveOption);
    QString text = sql;
    return text.replace(select, "select _rowid_, ");
}

QVariant ColumnValue(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                          sqlite3_column_bytes(stmt, column)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                                   sqlite3_column_bytes(stmt, column)));
    default:
        return QVariant();
    }
}

void Bind(sqlite3_stmt* stmt, int index, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        sqlite3_bind_null(stmt, index);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Bool:
        sqlite3_bind_int64(stmt, index, value.toLongLong());
        break;
    case QMetaType::Double:
        sqlite3_bind_double(stmt, index, value.toDouble());
        break;
    default: {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    }
}

// A value prepared once for sorting, so that a sort of many rows does not
// convert the same values again at every comparison.
struct TSortKey
{
    bool null;
    bool text;
    double number;
    QString string;
};

TSortKey SortKey(const QVariant& value)
{
    if (value.isNull())
        return {true, false, 0, QString()};
    const bool text = value.typeId() == QMetaType::QString;
    // Folded once here, so that comparing ignores letter case at the cost of a plain comparison.
    return {false, text, text ? 0 : value.toDouble(), value.toString().toCaseFolded()};
}

int Compare(const TSortKey& a, const TSortKey& b)
{
    if (a.null || b.null)
        return int(!a.null) - int(!b.null);
    if (!a.text && !b.text)
        return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    return a.string.compare(b.string);
}
} // namespace

TDataSet::TDataSet(TConnectionSource connection, QObject* parent) : QObject(parent), m_connection(std::move(connection))
{
}

void TDataSet::SetCommandText(const QString& sql)
{
    m_sql = sql;
}

void TDataSet::Open()
{
    Close();
    sqlite3* db = m_connection();
    m_baseTable = BaseTableOf(m_sql);
    m_sort.clear();
    ReadRows(db, !m_baseTable.isEmpty());
    m_active = true;
    SetCurrent(0);
    emit Opened();
}

void TDataSet::Close()
{
    const bool wasActive = m_active;
    m_active = false;
    m_fields.clear();
    m_fieldIndex.clear();
    m_rows.clear();
    m_rowids.clear();
    m_order.clear();
    m_state = State::Browse;
    m_current = -1;
    m_eof = m_bof = true;
    if (wasActive)
        emit Opened();
}

void TDataSet::Requery()
{
    const QString sort = m_sort;
    sqlite3* db = m_connection();
    m_state = State::Browse;
    ReadRows(db, !m_baseTable.isEmpty());
    m_active = true;
    m_sort = sort;
    ApplySort();
    SetCurrent(0);
    emit RowsChanged();
}

void TDataSet::ReadRows(sqlite3* db, bool withRowid)
{
    TStmtHandle stmt = PrepareJet(db, withRowid ? WithRowid(m_sql) : m_sql);
    const int skip = withRowid ? 1 : 0;
    const int columns = sqlite3_column_count(stmt.get());
    QStringList fields;
    for (int i = skip; i < columns; ++i)
        fields << QString::fromUtf8(sqlite3_column_name(stmt.get(), i));
    std::vector<std::vector<QVariant>> rows;
    std::vector<qint64> rowids;
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        std::vector<QVariant> row;
        row.reserve(columns - skip);
        for (int i = skip; i < columns; ++i)
            row.push_back(ColumnValue(stmt.get(), i));
        rows.push_back(std::move(row));
        rowids.push_back(withRowid ? sqlite3_column_int64(stmt.get(), 0) : 0);
    }
    if (rc != SQLITE_DONE)
        ThrowSqlError(db);
    m_fields = fields;
    m_fieldIndex.clear();
    for (int i = 0; i < m_fields.size(); ++i)
        if (!m_fieldIndex.contains(m_fields[i].toLower()))
            m_fieldIndex.insert(m_fields[i].toLower(), i);
    m_rows = std::move(rows);
    m_rowids = std::move(rowids);
    m_order.resize(m_rows.size());
    for (size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = int(i);
}

int TDataSet::FieldIndex(const QString& name) const
{
    return m_fieldIndex.value(name.toLower(), -1);
}

int TDataSet::Column(const QString& name) const
{
    const int field = FieldIndex(name);
    if (field < 0)
        throw TSqlError("找不到字段 " + name);
    return field;
}

QVariant TDataSet::Value(int field) const
{
    if (field < 0 || field >= FieldCount())
        throw TSqlError(QString("字段序号超出范围: %1").arg(field));
    if (m_state != State::Browse)
        return m_buffer[field];
    if (m_current < 0 || m_current >= RecordCount())
        return QVariant();
    return m_rows[m_order[m_current]][field];
}

QVariant TDataSet::Value(const QString& name) const
{
    return Value(Column(name));
}

bool TDataSet::AsBoolean(const QString& name) const
{
    // Yes/No columns hold -1 and 0; any non-zero value reads as true.
    const QVariant value = Value(name);
    return !value.isNull() && value.toString() != "0" && value.toDouble() != 0;
}

QVariant TDataSet::ValueAt(int row, int field) const
{
    if (row < 0 || row >= RecordCount() || field < 0 || field >= FieldCount())
        return QVariant();
    return m_rows[m_order[row]][field];
}

QString TDataSet::Text(const QVariant& value)
{
    if (value.typeId() == QMetaType::Double) {
        // Whole numbers read as integers, as Jet shows them.
        const double d = value.toDouble();
        if (d == qint64(d))
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    return value.toString();
}

void TDataSet::SetCurrent(int row)
{
    const int count = RecordCount();
    m_bof = row < 0 || count == 0;
    m_eof = row >= count || count == 0;
    m_current = count == 0 ? -1 : std::clamp(row, 0, count - 1);
    emit CurrentChanged(m_current);
}

void TDataSet::First()
{
    SetCurrent(0);
}

void TDataSet::Next()
{
    if (m_current + 1 >= RecordCount()) {
        m_eof = true;
        return;
    }
    SetCurrent(m_current + 1);
}

void TDataSet::Prior()
{
    if (m_current <= 0) {
        m_bof = true;
        return;
    }
    SetCurrent(m_current - 1);
}

void TDataSet::Last()
{
    SetCurrent(RecordCount() - 1);
    m_eof = RecordCount() == 0;
}

void TDataSet::SetRecNo(int recNo)
{
    if (recNo >= 1 && recNo <= RecordCount() && recNo - 1 != m_current)
        SetCurrent(recNo - 1);
}

void TDataSet::Append()
{
    if (!m_active || m_baseTable.isEmpty())
        throw TSqlError("数据集不能追加记录");
    m_buffer.assign(m_fields.size(), QVariant());
    m_state = State::Insert;
}

void TDataSet::Edit()
{
    if (!m_active || m_baseTable.isEmpty() || m_current < 0)
        throw TSqlError("数据集不能编辑记录");
    m_buffer = m_rows[m_order[m_current]];
    m_state = State::Edit;
}

void TDataSet::SetValue(const QString& name, const QVariant& value)
{
    if (m_state == State::Browse)
        throw TSqlError("数据集不在编辑状态");
    m_buffer[Column(name)] = value;
}

void TDataSet::Cancel()
{
    m_state = State::Browse;
}

void TDataSet::Post()
{
    if (m_state == State::Browse)
        return;
    sqlite3* db = m_connection();
    if (m_state == State::Insert)
        PostInsert(db);
    else
        PostEdit(db);
    m_state = State::Browse;
    emit RowsChanged();
}

void TDataSet::PostInsert(sqlite3* db)
{
    QStringList names, marks;
    std::vector<QVariant> values;
    for (int i = 0; i < FieldCount(); ++i) {
        if (m_buffer[i].isNull())
            continue; // the column's default applies
        names << '"' + m_fields[i] + '"';
        marks << QString("?%1").arg(values.size() + 1);
        values.push_back(m_buffer[i]);
    }
    const QString sql = names.isEmpty()
                            ? QString("INSERT INTO \"%1\" DEFAULT VALUES").arg(m_baseTable)
                            : QString("INSERT INTO \"%1\" (%2) VALUES (%3)")
                                  .arg(m_baseTable, names.join(','), marks.join(','));
    TStmtHandle stmt = PrepareNative(db, sql);
    for (size_t i = 0; i < values.size(); ++i)
        Bind(stmt.get(), int(i) + 1, values[i]);
    RunToEnd(db, stmt.get());
    m_rows.push_back(m_buffer);
    m_rowids.push_back(sqlite3_last_insert_rowid(db));
    m_order.push_back(int(m_rows.size()) - 1);
    SetCurrent(RecordCount() - 1);
}

void TDataSet::PostEdit(sqlite3* db)
{
    const int stored = m_order[m_current];
    QStringList sets;
    std::vector<QVariant> values;
    for (int i = 0; i < FieldCount(); ++i) {
        if (m_buffer[i] == m_rows[stored][i] && m_buffer[i].typeId() == m_rows[stored][i].typeId())
            continue;
        sets << QString("\"%1\"=?%2").arg(m_fields[i]).arg(values.size() + 1);
        values.push_back(m_buffer[i]);
    }
    if (sets.isEmpty())
        return;
    const QString sql =
        QString("UPDATE \"%1\" SET %2 WHERE _rowid_=?%3").arg(m_baseTable, sets.join(',')).arg(values.size() + 1);
    TStmtHandle stmt = PrepareNative(db, sql);
    for (size_t i = 0; i < values.size(); ++i)
        Bind(stmt.get(), int(i) + 1, values[i]);
    sqlite3_bind_int64(stmt.get(), int(values.size()) + 1, m_rowids[stored]);
    RunToEnd(db, stmt.get());
    m_rows[stored] = m_buffer;
}

void TDataSet::SetSort(const QString& expression)
{
    m_sort = expression;
    ApplySort();
    SetCurrent(0);
    emit RowsChanged();
}

void TDataSet::ApplySort()
{
    // Always from the order the database gave, so equal values keep it.
    for (size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = int(i);
    const QStringList words = m_sort.split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    const int field = FieldIndex(words.first());
    if (field < 0)
        throw TSqlError("找不到排序字段 " + words.first());
    const bool descending = words.mid(1).contains("DESC", Qt::CaseInsensitive);
    std::vector<TSortKey> keys;
    keys.reserve(m_rows.size());
    for (const auto& row : m_rows)
        keys.push_back(SortKey(row[field]));
    std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
        const int c = Compare(keys[a], keys[b]);
        return descending ? c > 0 : c < 0;
    });
}
