#include "data/DataSet.h"

#include "data/JetBridge.h"
#include "data/SqliteDb.h"

#include <algorithm>
#include <sqlite3.h>

namespace {
// Records read at a time while the event loop is idle: a fraction of a
// millisecond, so that typing or scrolling meanwhile stays smooth.
constexpr int kIdlePacket = 500;

// The statements are read by hand: a regular expression's compilation
// cost the start a good part of a millisecond.
bool IsWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

qsizetype SkipSpaces(QStringView text, qsizetype at)
{
    while (at < text.size() && text[at].isSpace())
        ++at;
    return at;
}

// Whether the text holds the keyword at `at` as a whole word, in any case.
bool KeywordAt(QStringView text, qsizetype at, QLatin1StringView keyword)
{
    const qsizetype end = at + keyword.size();
    return end <= text.size() && text.mid(at, keyword.size()).compare(keyword, Qt::CaseInsensitive) == 0 &&
           (end == text.size() || !IsWordChar(text[end]));
}

// Where the fields of a "select" begin (after its keyword and the spaces
// that follow it), or -1 for any other statement.
qsizetype FieldsOfSelect(QStringView sql)
{
    const qsizetype at = SkipSpaces(sql, 0);
    if (!KeywordAt(sql, at, QLatin1StringView("select")) || at + 6 == sql.size() || !sql[at + 6].isSpace())
        return -1;
    return SkipSpaces(sql, at + 6);
}

// The table a "from" at `at` names, when nothing follows it but a "where"
// clause; empty otherwise.
QString TableAfterFrom(QStringView sql, qsizetype at)
{
    qsizetype end = at;
    while (end < sql.size() && IsWordChar(sql[end]) && sql[end].unicode() < 128)
        ++end;
    if (end == at || sql[at].isDigit())
        return {};
    const qsizetype rest = SkipSpaces(sql, end);
    if (rest != sql.size() && !KeywordAt(sql, rest, QLatin1StringView("where")))
        return {};
    return sql.mid(at, end - at).toString();
}

// A select over one table, which can carry the rowid for posting back: not
// distinct, no aggregate among its fields, nothing after the table but a
// "where" clause.
QString BaseTableOf(const QString& sql)
{
    const qsizetype fields = FieldsOfSelect(sql);
    if (fields < 0 || KeywordAt(sql, fields, QLatin1StringView("distinct")))
        return {};
    // The first "from" of the statement itself (not of a subquery, not in
    // a quoted text) after which it reads as one table.
    int depth = 0;
    QChar quote;
    for (qsizetype at = fields - 1; at < sql.size(); ++at) {
        const QChar c = sql[at];
        if (!quote.isNull() || c == u'\'' || c == u'"') {
            quote = quote.isNull() ? c : c == quote ? QChar() : quote;
            continue;
        }
        depth += c == u'(' ? 1 : c == u')' ? -1 : 0;
        if (depth != 0 || !c.isSpace() || !KeywordAt(sql, at + 1, QLatin1StringView("from")))
            continue;
        const qsizetype table = SkipSpaces(sql, at + 5);
        if (table == at + 5)
            continue;
        const QString name = TableAfterFrom(sql, table);
        if (name.isEmpty())
            continue;
        const QStringView list = QStringView(sql).mid(fields, std::max<qsizetype>(0, at - fields));
        for (qsizetype i = 0; i < list.size(); ++i)
            if (i == 0 || !IsWordChar(list[i - 1]))
                for (const char* aggregate : {"count", "sum", "min", "max", "avg", "group"})
                    if (KeywordAt(list, i, QLatin1StringView(aggregate)))
                        return {};
        return name;
    }
    return {};
}

// Puts the rowid in front of a simple select's fields.
QString WithRowid(const QString& sql)
{
    return "select _rowid_, " + sql.mid(FieldsOfSelect(sql));
}

// A value prepared once for sorting, so that a sort of many rows does not
// convert the same values again at every comparison.
struct TSortKey
{
    bool null;
    bool text;
    double number;
    QString string;
    quint64 head = 0; // of a text: its first units after those every text of the field shares
};

// Folded once here, so that comparing ignores letter case at the cost of a
// plain comparison. A number's text is only compared with a text, so a
// column without texts does without it.
TSortKey SortKey(const QVariant& value, bool withText)
{
    if (value.isNull())
        return {true, false, 0, QString()};
    const bool text = value.typeId() == QMetaType::QString;
    return {false, text, text ? 0 : value.toDouble(), text || withText ? value.toString().toCaseFolded() : QString()};
}

// The same key as SortKey gives the text, made without a QVariant.
TSortKey TextKey(const char* utf8, qsizetype size)
{
    return {false, true, 0, QString::fromUtf8(utf8, size).toCaseFolded()};
}

// Four UTF-16 units of a text from `from` (zeros past its end), packed so
// that where two heads differ, they order as their texts do.
quint64 Head(const QString& text, qsizetype from)
{
    quint64 head = 0;
    for (qsizetype i = from; i < from + 4; ++i)
        head = head << 16 | (i < text.size() ? text[i].unicode() : 0u);
    return head;
}

// The texts of a field often all begin alike ("https://www.", a common
// word): the heads start after what they share, so that most comparisons
// of a sort end at the heads, without reaching into the texts.
void SetHeads(std::vector<TSortKey>& keys)
{
    const QString* first = nullptr;
    qsizetype shared = 0;
    for (const TSortKey& key : keys) {
        if (!key.text)
            continue;
        if (!first) {
            first = &key.string;
            shared = first->size();
        }
        qsizetype i = 0;
        while (i < shared && i < key.string.size() && key.string[i] == (*first)[i])
            ++i;
        shared = i;
    }
    for (TSortKey& key : keys)
        if (key.text)
            key.head = Head(key.string, shared);
}

int Compare(const TSortKey& a, const TSortKey& b)
{
    if (a.null || b.null)
        return int(!a.null) - int(!b.null);
    if (!a.text && !b.text)
        return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
    if (a.text && b.text && a.head != b.head)
        return a.head < b.head ? -1 : 1;
    return a.string.compare(b.string);
}
} // namespace

// A value to be written, in the form in which it is bound and then kept:
// a text is converted to UTF-8 once for both.
struct TDataSet::TOutgoing
{
    int type = SQLITE_NULL;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;

    explicit TOutgoing(const QVariant& value)
    {
        switch (value.typeId()) {
        case QMetaType::UnknownType:
            break;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Bool:
            type = SQLITE_INTEGER;
            integer = value.toLongLong();
            break;
        case QMetaType::Double:
            type = SQLITE_FLOAT;
            real = value.toDouble();
            break;
        default:
            type = SQLITE_TEXT;
            bytes = value.toString().toUtf8();
        }
    }

    void Bind(sqlite3_stmt* stmt, int index) const
    {
        if (type == SQLITE_INTEGER)
            sqlite3_bind_int64(stmt, index, integer);
        else if (type == SQLITE_FLOAT)
            sqlite3_bind_double(stmt, index, real);
        else if (type == SQLITE_TEXT)
            sqlite3_bind_text(stmt, index, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
        else
            sqlite3_bind_null(stmt, index);
    }
};

TDataSet::TDataSet(TConnectionSource connection, QObject* parent) : QObject(parent), m_connection(std::move(connection))
{
    m_idleFetch.setSingleShot(true);
    m_idleFetch.setInterval(0);
    connect(&m_idleFetch, &QTimer::timeout, this, [this] { FetchUnasked(kIdlePacket); });
}

TDataSet::~TDataSet() = default;

void TDataSet::SetCommandText(const QString& sql)
{
    m_sql = sql;
}

void TDataSet::Open()
{
    Close();
    m_baseTable = BaseTableOf(m_sql);
    m_sort.clear();
    StartReading(m_connection());
    m_active = true;
    SetCurrent(0);
    emit Opened();
}

void TDataSet::Close()
{
    const bool wasActive = m_active;
    m_active = false;
    StopReading();
    m_fields.clear();
    m_fieldIndex.clear();
    ClearRows();
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
    StartReading(db);
    m_active = true;
    SetSort(sort); // the same order again, the first record current
}

void TDataSet::ClearRows()
{
    m_cells.clear();
    m_bytes.clear();
    m_rowids.clear();
    m_order.clear();
}

// Prepares the statement, takes its fields and reads the first packet (all
// records without a packet size). On failure the dataset holds nothing.
void TDataSet::StartReading(sqlite3* db)
{
    StopReading();
    m_withRowid = !m_baseTable.isEmpty();
    TStmtHandle stmt = PrepareJet(db, m_withRowid ? WithRowid(m_sql) : m_sql);
    const int skip = m_withRowid ? 1 : 0;
    QStringList fields;
    for (int i = skip; i < sqlite3_column_count(stmt.get()); ++i)
        fields << QString::fromUtf8(sqlite3_column_name(stmt.get(), i));
    m_fields = fields;
    m_fieldIndex.clear();
    for (int i = 0; i < m_fields.size(); ++i)
        if (!m_fieldIndex.contains(m_fields[i].toLower()))
            m_fieldIndex.insert(m_fields[i].toLower(), i);
    ClearRows();
    m_stmt = std::move(stmt);
    try {
        ReadPacket(m_packetRecords > 0 ? m_packetRecords : -1);
    } catch (...) {
        Close();
        throw;
    }
}

// Reads up to `records` records (all when negative) without announcing
// them; returns how many were read. The statement is finished, and the read
// lock let go, as soon as it has no more.
int TDataSet::ReadPacket(int records)
{
    if (!m_stmt)
        return 0;
    sqlite3_stmt* stmt = m_stmt.get();
    const int skip = m_withRowid ? 1 : 0;
    const int fields = FieldCount();
    int read = 0;
    int rc = SQLITE_ROW;
    while ((records < 0 || read < records) && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int i = 0; i < fields; ++i) {
            TCell cell{sqlite3_column_type(stmt, i + skip), 0, {0}};
            if (cell.type == SQLITE_INTEGER) {
                cell.integer = sqlite3_column_int64(stmt, i + skip);
            } else if (cell.type == SQLITE_FLOAT) {
                cell.real = sqlite3_column_double(stmt, i + skip);
            } else if (cell.type == SQLITE_TEXT || cell.type == SQLITE_BLOB) {
                const void* data = cell.type == SQLITE_TEXT
                                       ? static_cast<const void*>(sqlite3_column_text(stmt, i + skip))
                                       : sqlite3_column_blob(stmt, i + skip);
                cell.size = quint32(sqlite3_column_bytes(stmt, i + skip));
                cell.offset = qint64(m_bytes.size());
                m_bytes.append(static_cast<const char*>(data), cell.size);
            }
            m_cells.push_back(cell);
        }
        m_rowids.push_back(m_withRowid ? sqlite3_column_int64(stmt, 0) : 0);
        m_order.push_back(int(m_rowids.size()) - 1);
        ++read;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        const TSqlError error(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt))));
        StopReading();
        throw error;
    }
    if (rc == SQLITE_DONE)
        StopReading();
    else if (m_packetRecords > 0)
        m_idleFetch.start();
    return read;
}

void TDataSet::StopReading()
{
    m_idleFetch.stop();
    m_stmt.reset();
}

void TDataSet::Announce(int before)
{
    if (m_active && FetchedCount() > before)
        emit RowsFetched(before, FetchedCount() - 1);
}

void TDataSet::FetchMore(int records)
{
    const int before = FetchedCount();
    ReadPacket(records);
    Announce(before);
}

void TDataSet::FetchAll()
{
    if (CanFetchMore())
        FetchMore(-1);
}

int TDataSet::EnsureFetched(int records)
{
    if (FetchedCount() < records && CanFetchMore())
        FetchMore(std::max(records - FetchedCount(), m_packetRecords));
    return std::min(records, FetchedCount());
}

void TDataSet::FetchUnasked(int records)
{
    try {
        FetchMore(records);
    } catch (const TSqlError& error) {
        emit FetchFailed(error.Message);
    }
}

int TDataSet::RecordCount()
{
    FetchAll();
    return FetchedCount();
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

QVariant TDataSet::CellValue(const TCell& cell) const
{
    switch (cell.type) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(cell.integer));
    case SQLITE_FLOAT:
        return QVariant(cell.real);
    case SQLITE_TEXT:
        return QVariant(QString::fromUtf8(m_bytes.data() + cell.offset, cell.size));
    case SQLITE_BLOB:
        return QVariant(QByteArray(m_bytes.data() + cell.offset, cell.size));
    default:
        return QVariant();
    }
}

QVariant TDataSet::Value(int field) const
{
    if (field < 0 || field >= FieldCount())
        throw TSqlError(QString("字段序号超出范围: %1").arg(field));
    if (m_state != State::Browse && m_changes[field])
        return *m_changes[field];
    if (m_state == State::Insert || m_current < 0 || m_current >= FetchedCount())
        return QVariant();
    return CellValue(CellAt(m_order[m_current], field));
}

QVariant TDataSet::Value(const QString& name) const
{
    return Value(Column(name));
}

// The cell of the current record as read, or null while editing or off the records.
const TDataSet::TCell* TDataSet::CurrentCell(int field) const
{
    if (m_state != State::Browse || field < 0 || field >= FieldCount() || m_current < 0 || m_current >= FetchedCount())
        return nullptr;
    return &CellAt(m_order[m_current], field);
}

// Whole numbers and texts are read straight from their cells: loading a
// large tree reads two numbers and a text per group.
int TDataSet::AsInteger(int field) const
{
    const TCell* cell = CurrentCell(field);
    if (cell && cell->type == SQLITE_INTEGER)
        return int(cell->integer);
    return Value(field).toInt();
}

QString TDataSet::AsString(int field) const
{
    const TCell* cell = CurrentCell(field);
    if (cell && cell->type == SQLITE_TEXT)
        return QString::fromUtf8(m_bytes.data() + cell->offset, cell->size);
    return Text(Value(field));
}

bool TDataSet::AsBoolean(const QString& name) const
{
    // Yes/No columns hold -1 and 0; any non-zero value reads as true.
    const QVariant value = Value(name);
    return !value.isNull() && value.toString() != "0" && value.toDouble() != 0;
}

QVariant TDataSet::ValueAt(int row, int field) const
{
    if (row < 0 || row >= FetchedCount() || field < 0 || field >= FieldCount())
        return QVariant();
    return CellValue(CellAt(m_order[row], field));
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
    const int count = FetchedCount();
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
    if (m_current + 1 >= FetchedCount())
        EnsureFetched(m_current + 2);
    if (m_current + 1 >= FetchedCount()) {
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
    FetchAll();
    SetCurrent(FetchedCount() - 1);
    m_eof = IsEmpty();
}

void TDataSet::SetRecNo(int recNo)
{
    if (recNo >= 1 && EnsureFetched(recNo) == recNo && recNo - 1 != m_current)
        SetCurrent(recNo - 1);
}

void TDataSet::Append()
{
    if (!m_active || m_baseTable.isEmpty())
        throw TSqlError("数据集不能追加记录");
    m_changes.assign(m_fields.size(), std::nullopt);
    m_state = State::Insert;
}

void TDataSet::Edit()
{
    if (!m_active || m_baseTable.isEmpty() || m_current < 0)
        throw TSqlError("数据集不能编辑记录");
    m_changes.assign(m_fields.size(), std::nullopt);
    m_state = State::Edit;
}

void TDataSet::SetValue(const QString& name, const QVariant& value)
{
    if (m_state == State::Browse)
        throw TSqlError("数据集不在编辑状态");
    m_changes[Column(name)] = value;
}

void TDataSet::Cancel()
{
    m_state = State::Browse;
}

void TDataSet::Post()
{
    if (m_state == State::Browse)
        return;
    // The statement being read would see the write in some rows and not in
    // others; a new record also belongs after every record read.
    emit AboutToWrite();
    FetchAll();
    sqlite3* db = m_connection();
    if (m_state == State::Insert)
        PostInsert(db);
    else
        PostEdit(db);
    m_state = State::Browse;
    emit RowsChanged();
}

TDataSet::TCell TDataSet::StoreOutgoing(const TOutgoing& value)
{
    TCell cell{value.type, 0, {value.integer}};
    if (value.type == SQLITE_FLOAT) {
        cell.real = value.real;
    } else if (value.type == SQLITE_TEXT) {
        cell.size = quint32(value.bytes.size());
        cell.offset = qint64(m_bytes.size());
        m_bytes.append(value.bytes.constData(), size_t(value.bytes.size()));
    }
    return cell;
}

bool TDataSet::SameValue(const TCell& cell, const TOutgoing& value) const
{
    if (cell.type != value.type)
        return false;
    switch (cell.type) {
    case SQLITE_INTEGER:
        return cell.integer == value.integer;
    case SQLITE_FLOAT:
        return cell.real == value.real;
    case SQLITE_TEXT:
        return QByteArrayView(m_bytes.data() + cell.offset, cell.size) == QByteArrayView(value.bytes);
    default:
        return true;
    }
}

void TDataSet::PostInsert(sqlite3* db)
{
    QStringList names, marks;
    std::vector<int> fields;
    std::vector<TOutgoing> values;
    for (int i = 0; i < FieldCount(); ++i) {
        if (!m_changes[i] || m_changes[i]->isNull())
            continue; // the column's default applies
        names << '"' + m_fields[i] + '"';
        marks << QString("?%1").arg(values.size() + 1);
        fields.push_back(i);
        values.emplace_back(*m_changes[i]);
    }
    const QString sql =
        names.isEmpty()
            ? QString("INSERT INTO \"%1\" DEFAULT VALUES").arg(m_baseTable)
            : QString("INSERT INTO \"%1\" (%2) VALUES (%3)").arg(m_baseTable, names.join(','), marks.join(','));
    TStmtHandle stmt = PrepareNative(db, sql);
    for (size_t i = 0; i < values.size(); ++i)
        values[i].Bind(stmt.get(), int(i) + 1);
    RunToEnd(db, stmt.get());
    // The new record holds what was posted, the columns left out as empty.
    const size_t first = m_cells.size();
    m_cells.resize(first + m_fields.size(), TCell{SQLITE_NULL, 0, {0}});
    for (size_t i = 0; i < values.size(); ++i)
        m_cells[first + fields[i]] = StoreOutgoing(values[i]);
    m_rowids.push_back(sqlite3_last_insert_rowid(db));
    m_order.push_back(int(m_rowids.size()) - 1);
    SetCurrent(FetchedCount() - 1);
}

// Writes only the fields whose value changed, compared in the form they are
// stored in, so an unchanged text costs one conversion and no write.
void TDataSet::PostEdit(sqlite3* db)
{
    const int stored = m_order[m_current];
    QStringList sets;
    std::vector<int> fields;
    std::vector<TOutgoing> values;
    for (int i = 0; i < FieldCount(); ++i) {
        if (!m_changes[i])
            continue;
        TOutgoing value(*m_changes[i]);
        if (SameValue(CellAt(stored, i), value))
            continue;
        sets << QString("\"%1\"=?%2").arg(m_fields[i]).arg(values.size() + 1);
        fields.push_back(i);
        values.push_back(std::move(value));
    }
    if (sets.isEmpty())
        return;
    const QString sql =
        QString("UPDATE \"%1\" SET %2 WHERE _rowid_=?%3").arg(m_baseTable, sets.join(',')).arg(values.size() + 1);
    TStmtHandle stmt = PrepareNative(db, sql);
    for (size_t i = 0; i < values.size(); ++i)
        values[i].Bind(stmt.get(), int(i) + 1);
    sqlite3_bind_int64(stmt.get(), int(values.size()) + 1, m_rowids[stored]);
    RunToEnd(db, stmt.get());
    for (size_t i = 0; i < values.size(); ++i) {
        TCell& cell = m_cells[size_t(stored) * m_fields.size() + fields[i]];
        // A text at the end of the bytes (the one text of a one-record
        // result, as a note is edited) is replaced where it stands.
        if ((cell.type == SQLITE_TEXT || cell.type == SQLITE_BLOB) && size_t(cell.offset) + cell.size == m_bytes.size())
            m_bytes.resize(size_t(cell.offset));
        cell = StoreOutgoing(values[i]);
    }
}

void TDataSet::SetSort(const QString& expression)
{
    m_sort = expression;
    if (!m_sort.split(' ', Qt::SkipEmptyParts).isEmpty())
        ReadPacket(-1); // a sort needs every record; the views start over below anyway
    ApplySort();
    SetCurrent(0);
    emit RowsChanged();
}

void TDataSet::ApplySort()
{
    const QStringList words = m_sort.split(' ', Qt::SkipEmptyParts);
    // Always from the order the database gave, so equal values keep it.
    for (size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = int(i);
    if (words.isEmpty())
        return;
    const int field = FieldIndex(words.first());
    if (field < 0)
        throw TSqlError("找不到排序字段 " + words.first());
    const bool descending = words.mid(1).contains("DESC", Qt::CaseInsensitive);
    const int rows = FetchedCount();
    bool anyText = false;
    for (int row = 0; row < rows && !anyText; ++row)
        anyText = CellAt(row, field).type == SQLITE_TEXT;
    std::vector<TSortKey> keys;
    keys.reserve(rows);
    for (int row = 0; row < rows; ++row) {
        const TCell& cell = CellAt(row, field);
        keys.push_back(cell.type == SQLITE_TEXT ? TextKey(m_bytes.data() + cell.offset, cell.size)
                                                : SortKey(CellValue(cell), anyText));
    }
    SetHeads(keys);
    std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
        const int c = Compare(keys[a], keys[b]);
        return descending ? c > 0 : c < 0;
    });
}
