#include "sync/SyncEngine.h"

#include "data/ChangeStamp.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "groups/DeleteKeeper.h"
#include "groups/GroupTableStore.h"
#include "sync/NoteLines.h"

#include <QDataStream>
#include <QIODevice>
#include <QUuid>
#include <algorithm>
#include <map>
#include <sqlite3.h>
#include <tuple>

// A field as this computer keeps it: its stamp, the value as merged (the
// tables may show another: a name made unique, a group gone), and a hash of
// what the row showed when last written or taken, to see the user's changes.
struct TSyncMetaField
{
    qint64 Stamp = 0;
    QString Origin;
    QVariant Value;
    quint64 Shown = 0;
};

struct TSyncMeta
{
    int Kind = 0;
    qint64 Born = 0;
    QMap<QString, TSyncMetaField> Fields;
    TStamps Seen;      // the latest change of each computer that the item holds (Recount)
    TStamps DeletedAt; // what those who deleted it had seen
    TNoteLines Lines;  // a note group's note
    quint64 TextShown = 0;
    qint64 Mine = 0;       // this computer's latest change of it
    qint64 WholeSince = 0; // from this stamp on it goes out whole (made here from a text met, brought back)
    bool Known = false;    // read from SyncMeta or made here
    bool TextChanged = false;

    // Deleted, and no change since that the deleting computers had not seen.
    bool Dead() const { return !DeletedAt.isEmpty() && Covers(DeletedAt, Seen); }
    // Seen worked out from what the item holds: the stamps of its fields and
    // of its lines' changes. So every computer that holds the same item
    // counts the same changes (one overwritten before it went out counts
    // nowhere) and decides the same whether a delete stands.
    void Recount()
    {
        Seen.clear();
        for (const TSyncMetaField& field : std::as_const(Fields))
            if (field.Stamp != 0)
                Include(Seen, field.Origin, field.Stamp);
        Lines.AddStamps(Seen);
    }
};

namespace {
// The first byte of a record of this layout; records of the layout before
// begin with their stamp of making, whose first byte is 0 or 1.
constexpr quint8 kMetaLayout = 0xA2;
const QString kTextField = QStringLiteral("text");
// A field that only says "this computer keeps it": set when a deleted group
// comes back because something not deleted is filed under it.
const QString kKeptField = QStringLiteral("kept");

// Beyond this many the incoming deletes wait for a yes (see TSyncLoss).
constexpr int kManyLosses = 30;
constexpr int kTreeLargeEnough = 5;

sqlite3* Db()
{
    return DbAccess->Handle();
}

bool IsGroup(int kind)
{
    return kind == skNoteGroup || kind == skBookmarkGroup;
}

QString GroupTable(int kind)
{
    return kind == skNoteGroup ? "NoteType" : "IEType";
}

QString RootCaption(int kind)
{
    return kind == skNoteGroup ? "根目录" : "全部";
}

// What syncs of each kind of item that is not a group: the fields by the
// names the files use, and the table's columns. To sync a new column, add a
// row here (the files carry any field; an older program keeps a field it
// does not know and writes it nowhere). The first field is needed for a
// row to be written at all.
struct TColumn
{
    const char* Field;
    const char* Column;
    QVariant Missing = QVariant(); // written for an item without the field
};
const std::vector<TColumn> kBookmarkColumns = {
    {"url", "IEUrl"}, {"name", "IEName"}, {"remark", "ReMark"}, {"tags", "Tags", QString()}};
const std::vector<TColumn> kReminderColumns = {{"time", "AlamTime"},
                                               {"date", "AlamDate"},
                                               {"repeat", "ReDay"},
                                               {"text", "ReMark"},
                                               {"seen", "bLook"},
                                               {"weekdays", "WeekDays"},
                                               {"snooze", "SnoozeAt"},
                                               {"repeatkind", "RepeatKind", 0},
                                               {"repeatmonth", "RepeatMonth", 0},
                                               {"repeatday", "RepeatDay", 0},
                                               {"advance", "AdvanceDays", 0}};
// An imported year of official holidays: one item per year, whose identity
// is made of the year, so that the same year imported on two computers is
// one item and the later import wins. The year comes last: WriteItems
// writes it there as a whole number.
const std::vector<TColumn> kHolidayColumns = {{"schedule", "Json"}, {"year", "Year"}};

const std::vector<TColumn>& ColumnsOf(int kind)
{
    return kind == skBookmark ? kBookmarkColumns : kind == skReminder ? kReminderColumns : kHolidayColumns;
}

QString HolidayGid(qint64 year)
{
    return QString("holiday-%1").arg(year);
}

const TSyncTable& TableRow(int kind)
{
    return SyncTables()[kind - 1];
}

QString TableOf(int kind)
{
    return TableRow(kind).Table;
}

QString KeyColumn(int kind)
{
    return TableRow(kind).Key;
}

// FNV-1a over the value's type and bytes: the same in every build, since
// the hashes are stored.
quint64 HashOf(const QVariant& value)
{
    QByteArray bytes;
    switch (value.typeId()) {
    case QMetaType::Double:
        bytes = "d" + QByteArray::number(value.toDouble(), 'g', 17);
        break;
    case QMetaType::LongLong:
    case QMetaType::Int:
        bytes = "i" + QByteArray::number(value.toLongLong());
        break;
    case QMetaType::QString:
        bytes = "s" + value.toString().toUtf8();
        break;
    default:
        bytes = value.isNull() ? "n" : "v" + value.toString().toUtf8();
    }
    quint64 hash = 1469598103934665603ULL;
    for (char c : bytes) {
        hash ^= quint8(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

QString NewGid()
{
    return QString::fromLatin1(QUuid::createUuid().toRfc4122().toHex());
}

// ---- The records, packed with the files' own writer

QByteArray PackMeta(const TSyncMeta& meta)
{
    TSyncWriter out;
    out.Byte(kMetaLayout);
    out.Signed(meta.Born);
    out.Number(quint64(meta.Fields.size()));
    for (auto it = meta.Fields.cbegin(); it != meta.Fields.cend(); ++it) {
        out.Text(it.key());
        out.Value(it->Value);
        out.Signed(it->Stamp);
        out.Text(it->Origin);
        out.Number(it->Shown);
    }
    out.Stamps(meta.DeletedAt);
    out.Lines(meta.Lines.All());
    out.Number(meta.TextShown);
    out.Signed(meta.WholeSince);
    return out.Take();
}

void UnpackMeta(const QByteArray& bytes, TSyncMeta& meta)
{
    TSyncReader in(bytes);
    in.Byte();
    meta.Born = in.Signed();
    for (qsizetype i = in.Count(); i > 0; --i) {
        const QString name = in.Name();
        TSyncMetaField& field = meta.Fields[name];
        field.Value = in.Value();
        field.Stamp = in.Signed();
        field.Origin = in.Text(); // none for a field only shown, never set
        field.Shown = in.Number();
    }
    meta.DeletedAt = in.Stamps();
    meta.Lines = TNoteLines(in.Lines());
    meta.TextShown = in.Number();
    meta.WholeSince = in.Signed();
    meta.Recount();
}

// A record of the layout before (fields with their stamps, a note's text in
// the table): read once, when met, into this one. Local data, never a file.
QString TakeOldText(QDataStream& in)
{
    QByteArray bytes;
    in >> bytes;
    return QString::fromUtf8(bytes);
}

QVariant TakeOldValue(QDataStream& in)
{
    qint8 type = 0;
    in >> type;
    if (type == 1 || type == 2) {
        qint64 integer = 0;
        double real = 0;
        if (type == 1)
            in >> integer;
        else
            in >> real;
        return type == 1 ? QVariant(integer) : QVariant(real);
    }
    if (type == 3)
        return TakeOldText(in);
    if (type == 4) {
        QByteArray bytes;
        in >> bytes;
        return bytes;
    }
    return QVariant();
}

void UnpackOldMeta(const QByteArray& bytes, TSyncMeta& meta, bool deleted, const QString& text, const QString& computer)
{
    QDataStream in(bytes);
    qint32 count = 0;
    in >> meta.Born >> count;
    for (int i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        const QString name = TakeOldText(in);
        TSyncMetaField field;
        in >> field.Stamp;
        field.Origin = TakeOldText(in);
        field.Value = TakeOldValue(in);
        in >> field.Shown;
        if (meta.Kind == skNoteGroup && name == kTextField) {
            meta.TextShown = field.Shown;
            continue;
        }
        meta.Fields.insert(name, field);
    }
    if (in.status() != QDataStream::Ok)
        RaiseError("同步记录已损坏。");
    if (meta.Kind == skNoteGroup)
        meta.Lines = TNoteLines::FromText(text);
    meta.Recount();
    if (deleted) {
        meta.DeletedAt = meta.Seen;
        Include(meta.DeletedAt, computer, 1);
    }
}

// ---- Statements

// The statements of a step, each prepared once: a merge of a whole state
// runs the same few statements hundreds of thousands of times.
QHash<QString, sqlite3_stmt*>& Statements()
{
    static QHash<QString, sqlite3_stmt*> statements;
    return statements;
}

void ForgetStatements()
{
    for (sqlite3_stmt* statement : std::as_const(Statements()))
        sqlite3_finalize(statement);
    Statements().clear();
}

sqlite3_stmt* Statement(const QString& sql)
{
    sqlite3_stmt*& statement = Statements()[sql];
    if (!statement)
        statement = PrepareNative(Db(), sql).release();
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return statement;
}

// A one-row, one-column answer (null when there is no row).
QVariant Lookup(const QString& sql, const QVariant& argument)
{
    sqlite3_stmt* statement = Statement(sql);
    BindVariant(statement, 1, argument);
    const QVariant value = sqlite3_step(statement) == SQLITE_ROW ? ColumnVariant(statement, 0) : QVariant();
    sqlite3_reset(statement);
    return value;
}

void Run(const QString& sql, const QVariantList& arguments)
{
    sqlite3_stmt* statement = Statement(sql);
    for (int i = 0; i < arguments.size(); ++i)
        BindVariant(statement, i + 1, arguments[i]);
    RunToEnd(Db(), statement);
    sqlite3_reset(statement);
}

QList<QVariantList> Rows(const QString& sql, const QVariantList& arguments, int columns)
{
    TStmtHandle statement = PrepareNative(Db(), sql);
    for (int i = 0; i < arguments.size(); ++i)
        BindVariant(statement.get(), i + 1, arguments[i]);
    QList<QVariantList> rows;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        QVariantList row;
        for (int c = 0; c < columns; ++c)
            row << ColumnVariant(statement.get(), c);
        rows << row;
    }
    return rows;
}

QString GidOfGroup(int kind, int self)
{
    if (self == 0)
        return QString();
    return Lookup(QString("select Gid from %1 where SelfIndex=? order by rowid limit 1").arg(GroupTable(kind)), self)
        .toString();
}

int SelfIndexOf(int kind, const QString& gid)
{
    if (gid.isEmpty())
        return 0;
    return Lookup(QString("select SelfIndex from %1 where Gid=?").arg(GroupTable(kind)), gid).toInt();
}

QString NoteText(int group)
{
    return Lookup("select ReMark from NoteBook where TypeID=? order by rowid limit 1", group).toString();
}

void WriteNoteText(int group, const QString& text)
{
    if (Lookup("select count(*) from NoteBook where TypeID=?", group).toInt() == 0) {
        if (!text.isEmpty()) // an empty note needs no row
            Run("insert into NoteBook(TypeID, ReMark) values (?, ?)", {group, text});
    } else {
        Run("update NoteBook set ReMark=? where rowid=(select min(rowid) from NoteBook where TypeID=?)", {text, group});
    }
}

// A row's fields as the tables show them, with its identity; empty when
// the row is gone. Key: the rowid of a group (0: the root's note), the ID
// of a bookmark or reminder.
QMap<QString, QVariant> ReadRow(int kind, qint64 key, QString& gid)
{
    QMap<QString, QVariant> fields;
    if (kind == skNoteGroup && key == 0) {
        gid = kRootNoteGid;
        fields.insert(kTextField, NoteText(0));
        return fields;
    }
    if (IsGroup(kind)) {
        sqlite3_stmt* row = Statement(
            QString("select SelfIndex, ParentIndex, TypeName, Gid from %1 where rowid=?").arg(GroupTable(kind)));
        sqlite3_bind_int64(row, 1, key);
        if (sqlite3_step(row) != SQLITE_ROW)
            return fields;
        const int self = sqlite3_column_int(row, 0);
        const int parent = sqlite3_column_int(row, 1);
        gid = ColumnText(row, 3);
        fields.insert("name", ColumnText(row, 2));
        sqlite3_reset(row);
        fields.insert("parent", GidOfGroup(kind, parent));
        if (kind == skNoteGroup)
            fields.insert(kTextField, NoteText(self));
        return fields;
    }
    const bool bookmark = kind == skBookmark;
    QStringList names;
    for (const TColumn& column : ColumnsOf(kind))
        names << column.Column;
    sqlite3_stmt* row =
        Statement(QString("select Gid, %1%2 from %3 where %4=?")
                      .arg(names.join(','), bookmark ? ", TypeID" : "", TableOf(kind), KeyColumn(kind)));
    sqlite3_bind_int64(row, 1, key);
    if (sqlite3_step(row) != SQLITE_ROW)
        return fields;
    gid = ColumnText(row, 0);
    int index = 1;
    for (const TColumn& column : ColumnsOf(kind))
        fields.insert(column.Field, ColumnVariant(row, index++));
    const int group = bookmark ? sqlite3_column_int(row, index) : 0;
    sqlite3_reset(row);
    if (bookmark)
        fields.insert("group", GidOfGroup(skBookmarkGroup, group));
    return fields;
}
} // namespace

const QList<TSyncTable>& SyncTables()
{
    static const QList<TSyncTable> tables = {{skNoteGroup, "NoteType", "rowid"},
                                             {skBookmarkGroup, "IEType", "rowid"},
                                             {skBookmark, "IE", "ID"},
                                             {skReminder, "Alam", "ID"},
                                             {skHolidayYear, "HolidayYear", "Year"}};
    return tables;
}

TSyncEngine::TSyncEngine(const QString& computer, const QString& name, const QHash<QString, QString>& hosts)
    : m_computer(computer), m_name(name), m_hosts(hosts)
{
    m_clock = Lookup("select Value from SyncSet where Name=?", "Clock").toLongLong();
}

TSyncEngine::~TSyncEngine()
{
    qDeleteAll(m_metas);
    ForgetStatements();
}

qint64 TSyncEngine::Tick()
{
    m_clock = std::max(m_clock + 1, TClock::Now().toMSecsSinceEpoch() << 16);
    return m_clock;
}

void TSyncEngine::Observe(qint64 stamp)
{
    m_clock = std::max(m_clock, stamp);
}

TSyncMeta& TSyncEngine::Meta(const QString& gid, int kind)
{
    TSyncMeta*& meta = m_metas[gid];
    if (meta)
        return *meta;
    meta = new TSyncMeta;
    meta->Kind = kind;
    sqlite3_stmt* row = Statement("select Kind, Deleted, Fields, Mine from SyncMeta where Gid=?");
    BindText(row, 1, gid);
    if (sqlite3_step(row) == SQLITE_ROW) {
        meta->Kind = sqlite3_column_int(row, 0);
        const bool deleted = sqlite3_column_int64(row, 1) != 0;
        const QByteArray bytes = ColumnBytes(row, 2);
        meta->Mine = sqlite3_column_int64(row, 3);
        sqlite3_reset(row);
        meta->Known = true;
        if (!bytes.isEmpty() && quint8(bytes[0]) == kMetaLayout) {
            UnpackMeta(bytes, *meta);
        } else {
            const int self = meta->Kind == skNoteGroup ? (gid == kRootNoteGid ? 0 : SelfIndexOf(skNoteGroup, gid)) : -1;
            UnpackOldMeta(bytes, *meta, deleted, self >= 0 ? NoteText(self) : QString(), m_computer);
            // Its note's lines are numbered from the text as it is: the
            // others may not have every one of them, so it goes out whole.
            meta->WholeSince = meta->Mine = Tick();
            SaveMeta(gid);
        }
    }
    sqlite3_reset(row);
    return *meta;
}

// Kept in memory until the step ends (FlushMetas): an item merged and then
// written is stored once.
void TSyncEngine::SaveMeta(const QString& gid)
{
    m_unsaved.insert(gid);
}

void TSyncEngine::FlushMetas()
{
    // In the order of the key: the table's pages fill one after another.
    QStringList gids(m_unsaved.cbegin(), m_unsaved.cend());
    std::sort(gids.begin(), gids.end());
    for (const QString& gid : std::as_const(gids)) {
        const TSyncMeta& meta = *m_metas.value(gid);
        Run("insert or replace into SyncMeta(Gid, Kind, Deleted, Fields, Mine) values (?, ?, ?, ?, ?)",
            {gid, meta.Kind, meta.Dead() ? 1 : 0, PackMeta(meta), meta.Mine});
    }
    m_unsaved.clear();
}

void TSyncEngine::SaveClock()
{
    Run("insert or replace into SyncSet(Name, Value) values ('Clock', ?)", {m_clock});
}

QString TSyncEngine::NameOf(const QString& gid, int kind)
{
    if (gid == kRootNoteGid)
        return RootCaption(kind);
    const TSyncMeta& meta = Meta(gid, kind);
    return meta.Fields.value(kind == skReminder ? "text" : kind == skHolidayYear ? "year" : "name").Value.toString();
}

// ---- This computer's changes

int TSyncEngine::TakeLocalChanges(qsizetype most, bool* more)
{
    QList<QVariantList> dirty =
        Rows("select Kind, RowKey, Stamp from SyncDirty order by Kind, RowKey limit ?", {most < 0 ? -1 : most + 1}, 3);
    if (more)
        *more = most >= 0 && dirty.size() > most;
    if (most >= 0 && dirty.size() > most)
        dirty.resize(most);
    // Every changed row has its identity before any is read: a row names
    // its group by the group's. A row without one, one back from the trash
    // after its delete went out, or a copy of another row is a new item.
    for (const QVariantList& row : std::as_const(dirty)) {
        const int kind = row[0].toInt();
        const qint64 key = row[1].toLongLong();
        if (kind == skNoteGroup && key == 0)
            continue;
        const QString table = TableOf(kind);
        const QString gid =
            Lookup(QString("select Gid from %1 where %2=?").arg(table, KeyColumn(kind)), key).toString();
        if (kind == skHolidayYear
                ? gid == HolidayGid(key)
                : !gid.isEmpty() && !Meta(gid, kind).Dead() &&
                      Lookup(QString("select count(*) from %1 where Gid=?").arg(table), gid).toInt() == 1)
            continue;
        Run(QString("update %1 set Gid=? where %2=?").arg(table, KeyColumn(kind)),
            {kind == skHolidayYear ? HolidayGid(key) : NewGid(), key});
    }
    const int before = int(m_unsaved.size());
    for (const QVariantList& row : std::as_const(dirty))
        TakeRow(row[0].toInt(), row[1].toLongLong(), row[2].toLongLong());
    if (!dirty.isEmpty())
        Run("delete from SyncDirty where (Kind, RowKey) <= (?, ?)", {dirty.last()[0], dirty.last()[1]});
    for (const QVariantList& row : Rows("select Gid, Kind, Stamp from SyncGone", {}, 3))
        TakeGone(row[0].toString(), row[1].toInt(), row[2].toLongLong());
    ExecNative(Db(), "delete from SyncGone");
    const int changed = int(m_unsaved.size()) - before;
    FlushMetas();
    SaveClock();
    return changed;
}

// A row as it is now, against what it showed when last written or taken:
// each changed field takes the stamp of the row's latest save (a save by
// another program has none: it is stamped now).
void TSyncEngine::TakeRow(int kind, qint64 key, qint64 stamp)
{
    QString gid;
    const QMap<QString, QVariant> fields = ReadRow(kind, key, gid);
    const qint64 latest = TakeLatestChangeStamp(kind, key);
    if (fields.isEmpty())
        return;
    stamp = std::max(stamp, latest);
    stamp = stamp > 0 ? stamp : Tick();
    Observe(stamp);
    TSyncMeta& meta = Meta(gid, kind);
    if (!meta.Known) {
        meta.Known = true;
        meta.Born = stamp;
    }
    bool changed = false;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        if (kind == skNoteGroup && it.key() == kTextField)
            continue;
        const quint64 shown = HashOf(it.value());
        TSyncMetaField& field = meta.Fields[it.key()];
        if (field.Stamp != 0 && field.Shown == shown)
            continue;
        field = TSyncMetaField{stamp, m_computer, it.value(), shown};
        changed = true;
    }
    if (kind == skNoteGroup) {
        const QString text = fields.value(kTextField).toString();
        const quint64 shown = HashOf(text);
        if (shown != meta.TextShown || (meta.Lines.IsEmpty() && !text.isEmpty())) {
            meta.TextShown = shown;
            // A note met written gets lines numbered by its text (and goes
            // out whole); a note never written says nothing, so that a
            // computer that joins with an empty note takes no text away.
            if (meta.Lines.IsEmpty() && !text.isEmpty()) {
                meta.Lines = TNoteLines::FromText(text);
                meta.WholeSince = stamp;
                meta.Fields[kTextField] = TSyncMetaField{stamp, m_computer, QVariant(), 0}; // its making, here
                changed = true;
            } else if (!meta.Lines.IsEmpty()) {
                changed |= meta.Lines.Take(text, ComputerNumber(m_computer), m_name, [this] { return Tick(); });
            }
            SaveMeta(gid);
        }
    }
    if (!changed)
        return;
    meta.Recount();
    meta.Mine = std::max(meta.Mine, meta.Seen.value(m_computer));
    SaveMeta(gid);
}

// A delete here: the item keeps what this computer had seen of it, so that
// a change it had not seen brings it back.
void TSyncEngine::TakeGone(const QString& gid, int kind, qint64 stamp)
{
    // Put back from the trash before the round: still there.
    if (Lookup(QString("select count(*) from %1 where Gid=?").arg(TableOf(kind)), gid).toInt() > 0)
        return;
    TSyncMeta& meta = Meta(gid, kind);
    if (!meta.Known || meta.Dead())
        return;
    stamp = stamp > 0 ? stamp : Tick();
    Observe(stamp);
    Include(meta.DeletedAt, meta.Seen);
    Include(meta.DeletedAt, m_computer, stamp);
    meta.Mine = std::max(meta.Mine, stamp);
    SaveMeta(gid);
}

QList<TSyncItem> TSyncEngine::State(int part, int afterKind, const QString& afterGid, qsizetype most)
{
    static const char* const parts[] = {"Kind in (1, 2) and Deleted = 0", "Kind in (3, 4, 5)",
                                        "Kind in (1, 2) and Deleted <> 0"};
    QList<TSyncItem> items;
    for (const QVariantList& row :
         Rows(QString("select Gid, Kind from SyncMeta where (%1) and (Kind > ?1 or (Kind = ?1 and Gid > ?2)) "
                      "order by Kind, Gid limit ?3")
                  .arg(parts[part]),
              {afterKind, afterGid, most}, 2))
        items << Whole(row[0].toString(), row[1].toInt());
    FlushMetas(); // records met in the layout before
    return items;
}

TSyncItem TSyncEngine::Whole(const QString& gid, int kind)
{
    const TSyncMeta& meta = Meta(gid, kind);
    TSyncItem item{gid, meta.Kind, meta.Born, {}, meta.Lines.All(), meta.DeletedAt};
    for (auto it = meta.Fields.cbegin(); it != meta.Fields.cend(); ++it)
        if (it->Stamp != 0)
            item.Fields.insert(it.key(), TSyncField{it->Value, it->Stamp, it->Origin});
    return item;
}

void ItemsInOrder(QList<TSyncItem>& items)
{
    const auto rank = [](const TSyncItem& item) {
        const bool group = item.Kind == skNoteGroup || item.Kind == skBookmarkGroup;
        return !group ? 1 : item.DeletedAt.isEmpty() ? 0 : 2;
    };
    std::stable_sort(items.begin(), items.end(), [&](const TSyncItem& a, const TSyncItem& b) {
        return std::tuple(rank(a), a.Kind, a.Gid) < std::tuple(rank(b), b.Kind, b.Gid);
    });
}

QList<TSyncItem> TSyncEngine::ChangesSince(qint64 base)
{
    QList<TSyncItem> items;
    const quint64 me = ComputerNumber(m_computer);
    for (const QVariantList& row :
         Rows("select Gid, Kind from SyncMeta where Mine <> 0 and Mine > ? order by Kind, Gid", {base}, 2)) {
        const QString gid = row[0].toString();
        const TSyncMeta& meta = Meta(gid, row[1].toInt());
        if (meta.WholeSince > base) {
            items << Whole(gid, meta.Kind);
            continue;
        }
        TSyncItem item{gid, meta.Kind, meta.Born, {}, meta.Lines.ChangedBy(me, base), meta.DeletedAt};
        for (auto it = meta.Fields.cbegin(); it != meta.Fields.cend(); ++it)
            if (it->Origin == m_computer && it->Stamp > base)
                item.Fields.insert(it.key(), TSyncField{it->Value, it->Stamp, it->Origin});
        items << item;
    }
    FlushMetas();
    ItemsInOrder(items);
    return items;
}

qint64 TSyncEngine::LatestOwnChange()
{
    // "Mine <> 0" as the index's own condition: the index is read, not the table.
    return Lookup("select max(Mine) from SyncMeta where Mine <> 0 and Mine > ?", 0).toLongLong();
}

// ---- Other computers' changes

TSyncLoss TSyncEngine::Loss(const QList<TSyncItem>& items)
{
    TSyncLoss loss;
    QMap<int, int> byKind;
    for (const TSyncItem& item : items) {
        const bool removes = std::any_of(item.Lines.cbegin(), item.Lines.cend(),
                                         [](const TNoteLine& line) { return line.Gone.IsSet(); });
        if (item.DeletedAt.isEmpty() && !removes)
            continue;
        TSyncMeta& meta = Meta(item.Gid, item.Kind);
        if (!meta.Known || meta.Kind != item.Kind || meta.Dead())
            continue;
        TStamps seen = meta.Seen, deleted = meta.DeletedAt;
        Include(deleted, item.DeletedAt);
        for (const TSyncField& field : item.Fields)
            Include(seen, field.Origin, field.Stamp);
        bool lost = !deleted.isEmpty() && Covers(deleted, seen);
        if (!lost && item.Kind == skNoteGroup && removes && !meta.Lines.Text().isEmpty()) {
            TNoteLines after = meta.Lines;
            after.Merge(item.Lines);
            lost = after.Text().isEmpty();
        }
        if (lost)
            ++byKind[item.Kind];
    }
    const char* const names[] = {"", "个记事分组", "个网址分组", "个网址", "个提醒", "年节假日安排"};
    QStringList detail;
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it) {
        loss.Items += it.value();
        detail << QString("%1 %2").arg(it.value()).arg(names[it.key()]);
        if (IsGroup(it.key())) {
            const int groups = Lookup("select count(*) from SyncMeta where Kind=? and Deleted=0", it.key()).toInt();
            loss.MostOfATree |= groups >= kTreeLargeEnough && it.value() * 2 > groups;
        }
    }
    loss.Detail = detail.join("、");
    if (loss.Items <= kManyLosses && !loss.MostOfATree)
        loss.Items = 0;
    return loss;
}

void TSyncEngine::Merge(const TSyncItem& item)
{
    Observe(item.Born);
    for (const TSyncField& field : item.Fields)
        Observe(field.Stamp);
    for (const qint64 stamp : item.DeletedAt)
        Observe(stamp);
    for (const TNoteLine& line : item.Lines)
        Observe(std::max({line.Id.Stamp, line.Gone.Stamp, line.Settled.Stamp}));
    TSyncMeta& meta = Meta(item.Gid, item.Kind);
    if (meta.Known && meta.Kind != item.Kind)
        return; // an identity of another kind: not this one to change
    const bool known = meta.Known;
    const bool wasDead = known && meta.Dead();
    bool changed = false;
    if (!meta.Known) {
        meta.Known = true;
        meta.Born = item.Born;
        changed = true;
    } else if (item.Born != 0 && item.Born < meta.Born) {
        meta.Born = item.Born;
        changed = true;
    }
    for (auto it = item.Fields.cbegin(); it != item.Fields.cend(); ++it) {
        TSyncMetaField& field = meta.Fields[it.key()];
        if (field.Stamp != 0 && !it->Beats(TSyncField{field.Value, field.Stamp, field.Origin}))
            continue;
        field = TSyncMetaField{it->Stamp, it->Origin, it->Value, field.Shown};
        changed = true;
    }
    if (item.Kind == skNoteGroup && !item.Lines.isEmpty()) {
        const int conflicts = int(meta.Lines.Conflicts().size());
        if (meta.Lines.Merge(item.Lines)) {
            meta.TextChanged = true;
            changed = true;
            if (meta.Lines.Conflicts().size() > conflicts)
                Conflicts << NameOf(item.Gid, item.Kind);
        }
    }
    meta.Recount();
    const TStamps deletedBefore = meta.DeletedAt;
    Include(meta.DeletedAt, item.DeletedAt);
    changed |= meta.DeletedAt != deletedBefore;
    const bool dead = meta.Dead();
    if (known && !wasDead && !dead && meta.DeletedAt != deletedBefore) {
        const bool mine = meta.Seen.value(m_computer) > meta.DeletedAt.value(m_computer);
        Notices << QString("“%1”在另一台电脑上被删除，但%2有新的修改，已保留")
                       .arg(NameOf(item.Gid, item.Kind), mine ? "本机" : "别处");
    } else if (wasDead && !dead) {
        Notices << QString("“%1”已被删除，但另一台电脑上有新的修改，已恢复").arg(NameOf(item.Gid, item.Kind));
    }
    if (!changed)
        return;
    SaveMeta(item.Gid);
    m_touched.insert(item.Gid);
    ++Applied;
}

// A deleted group comes back when something not deleted is filed under it
// that its deleters did not know there: the group's change of "kept" is one
// they had not seen, and it goes out whole, so that every computer shows it
// again. Its deleted parents come back with it.
void TSyncEngine::Restore(const QString& gid, int kind, const QString& notice)
{
    for (QString at = gid; !at.isEmpty();) {
        TSyncMeta& meta = Meta(at, kind);
        if (!meta.Known || !meta.Dead())
            return;
        const qint64 stamp = Tick();
        meta.Fields[kKeptField] = TSyncMetaField{stamp, m_computer, QVariant(qint64(1)), 0};
        meta.Recount();
        meta.WholeSince = stamp;
        meta.Mine = stamp;
        SaveMeta(at);
        m_touched.insert(at);
        Notices << notice.arg(NameOf(at, kind));
        at = meta.Fields.value("parent").Value.toString();
    }
}

// Whether an item filed under a deleted group keeps the group: it is not
// deleted. A computer that deletes a group deletes everything it knew in
// it, and its files carry those deletes before the group's (see
// ItemsInOrder): what is filed there and not deleted, it did not know of
// (made or moved there meanwhile) or was changed meanwhile.
bool TSyncEngine::KeepsGroup(const TSyncMeta& child)
{
    return child.Known && !child.Dead();
}

// Groups filed above something that is not deleted stay: an item or group
// merged now under a deleted group, and a group deleted now with rows here
// under it that are not deleted.
void TSyncEngine::KeepGroupsOfLiving()
{
    const QSet<QString> touched = m_touched;
    for (const QString& gid : touched) {
        const TSyncMeta& meta = Meta(gid, 0);
        if (!meta.Known || meta.Dead() || (!IsGroup(meta.Kind) && meta.Kind != skBookmark))
            continue;
        const int groupKind = IsGroup(meta.Kind) ? meta.Kind : skBookmarkGroup;
        const QString group = meta.Fields.value(IsGroup(meta.Kind) ? "parent" : "group").Value.toString();
        if (!group.isEmpty() && KeepsGroup(meta))
            Restore(group, groupKind, "“%1”已被删除，但另一台电脑在其中有新的修改，已恢复");
    }
    for (const QString& gid : touched) {
        const TSyncMeta& meta = Meta(gid, 0);
        const int self = IsGroup(meta.Kind) && meta.Dead() ? SelfIndexOf(meta.Kind, gid) : 0;
        if (self == 0)
            continue;
        QList<QPair<QString, int>> below;
        for (const QVariantList& row :
             Rows(QString("select Gid from %1 where ParentIndex=?").arg(GroupTable(meta.Kind)), {self}, 1))
            below.append({row[0].toString(), meta.Kind});
        if (meta.Kind == skBookmarkGroup)
            for (const QVariantList& row : Rows("select Gid from IE where TypeID=?", {self}, 1))
                below.append({row[0].toString(), skBookmark});
        for (const auto& [child, kind] : below)
            if (child.isEmpty() || KeepsGroup(Meta(child, kind))) {
                Restore(gid, meta.Kind, "“%1”在另一台电脑上被删除，但本机有新的修改，已保留");
                break;
            }
    }
}

// ---- Writing into the tables

void TSyncEngine::Materialize()
{
    KeepGroupsOfLiving();
    bool groups[3] = {false, false, false};
    for (const QString& gid : std::as_const(m_touched)) {
        const TSyncMeta& meta = *m_metas.value(gid);
        if (IsGroup(meta.Kind) && gid != kRootNoteGid)
            groups[meta.Kind] = true;
    }
    for (const int kind : {int(skNoteGroup), int(skBookmarkGroup)})
        if (groups[kind])
            RebuildGroups(kind);
    if (groups[skBookmarkGroup])
        TouchWaiting();
    WriteItems(skBookmark);
    WriteItems(skReminder);
    WriteItems(skHolidayYear);
    for (const int kind : {int(skNoteGroup), int(skBookmarkGroup)})
        DeleteDeadGroups(kind);
    if (groups[skBookmarkGroup]) {
        // Bookmarks whose group is gone show under the root.
        for (const QVariantList& row :
             Rows("select ID, Gid from IE where TypeID<>0 and TypeID not in (select SelfIndex from IEType)", {}, 2)) {
            Run("update IE set TypeID=0 where ID=?", {row[0]});
            if (!row[1].toString().isEmpty())
                Rehash(skBookmark, row[0].toLongLong(), row[1].toString());
        }
    }
    WriteTexts();
    m_touched.clear();
    FlushMetas();
    SaveClock();
}

namespace {
struct TGroupPlan
{
    QString Gid;
    QString Name;
    QString Parent;
    qint64 Born = 0;
    qint64 ParentStamp = 0;
    QString ParentOrigin;
};
} // namespace

// The whole tree of a kind is worked out from what is known, so every
// computer draws the same one: a group whose parent is gone goes under the
// root; in a cycle of moves the group moved last goes under the root; of
// groups sharing a name the one made first keeps it, the others get " (2)",
// " (3)"... Then the table is made to match, each group after its parent.
// The rows of deleted groups go afterwards, through the trash
// (DeleteDeadGroups), once what is not deleted has left them.
void TSyncEngine::RebuildGroups(int kind)
{
    QHash<QString, TGroupPlan> plans;
    const auto plan = [&](const QString& gid, const TSyncMeta& meta) {
        if (!meta.Fields.contains("name"))
            return; // known only by another's change of it: not shown yet
        const TSyncMetaField parent = meta.Fields.value("parent");
        plans.insert(gid, TGroupPlan{gid, meta.Fields.value("name").Value.toString(), parent.Value.toString(),
                                     meta.Born, parent.Stamp, parent.Origin});
    };
    {
        TStmtHandle rows = PrepareNative(Db(), "select Gid, Fields from SyncMeta where Kind=? and Deleted=0");
        sqlite3_bind_int(rows.get(), 1, kind);
        while (sqlite3_step(rows.get()) == SQLITE_ROW) {
            const QString gid = ColumnText(rows.get(), 0);
            if (gid == kRootNoteGid || m_metas.contains(gid))
                continue;
            const QByteArray bytes = ColumnBytes(rows.get(), 1);
            if (bytes.isEmpty() || quint8(bytes[0]) != kMetaLayout) {
                Meta(gid, kind); // read into the layout of now, and planned below
                continue;
            }
            TSyncMeta meta;
            meta.Kind = kind;
            UnpackMeta(bytes, meta);
            plan(gid, meta);
        }
    }
    // What this step merged and has not stored yet.
    for (auto it = m_metas.cbegin(); it != m_metas.cend(); ++it)
        if ((*it)->Kind == kind && (*it)->Known && !(*it)->Dead() && it.key() != kRootNoteGid)
            plan(it.key(), **it);
    QStringList order = plans.keys();
    std::sort(order.begin(), order.end());
    for (TGroupPlan& plan : plans)
        if (!plans.contains(plan.Parent))
            plan.Parent.clear();
    for (const QString& start : order) {
        QStringList path;
        for (QString at = start; !at.isEmpty() && !path.contains(at); at = plans[at].Parent)
            path << at;
        const QString last = path.isEmpty() ? QString() : plans[path.last()].Parent;
        if (last.isEmpty())
            continue;
        const QStringList cycle = path.mid(path.indexOf(last));
        const QString breaker = *std::max_element(cycle.begin(), cycle.end(), [&](const QString& a, const QString& b) {
            const TGroupPlan &x = plans[a], &y = plans[b];
            return x.ParentStamp != y.ParentStamp ? x.ParentStamp < y.ParentStamp : x.ParentOrigin < y.ParentOrigin;
        });
        plans[breaker].Parent.clear();
    }
    std::sort(order.begin(), order.end(), [&](const QString& a, const QString& b) {
        return plans[a].Born != plans[b].Born ? plans[a].Born < plans[b].Born : a < b;
    });
    QSet<QString> taken{RootCaption(kind)};
    for (const QString& gid : order) {
        const QString name =
            FreeName(plans[gid].Name, [&](const QString& candidate) { return taken.contains(candidate); });
        taken.insert(name);
        plans[gid].Name = name;
    }

    const QString table = GroupTable(kind);
    struct TRow
    {
        qint64 Rowid;
        int Self;
        int Parent;
        QString Name;
    };
    QHash<QString, TRow> rows;
    int largest = 0;
    {
        TStmtHandle read =
            PrepareNative(Db(), QString("select rowid, SelfIndex, ParentIndex, TypeName, Gid from %1").arg(table));
        while (sqlite3_step(read.get()) == SQLITE_ROW) {
            largest = std::max(largest, sqlite3_column_int(read.get(), 1));
            const QString gid = ColumnText(read.get(), 4);
            if (!gid.isEmpty())
                rows.insert(gid, TRow{sqlite3_column_int64(read.get(), 0), sqlite3_column_int(read.get(), 1),
                                      sqlite3_column_int(read.get(), 2), ColumnText(read.get(), 3)});
        }
    }
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        if (!plans.contains(it.key()) && Meta(it.key(), kind).Dead())
            m_dyingGroups[kind].insert(it->Self);
    // Parents before children: breadth first from the root.
    QHash<QString, QStringList> children;
    for (const QString& gid : order)
        children[plans[gid].Parent] << gid;
    QStringList queue = children.value(QString());
    QHash<QString, int> selfOf;
    for (int i = 0; i < queue.size(); ++i) {
        const QString gid = queue[i];
        queue << children.value(gid);
        const TGroupPlan& plan = plans[gid];
        const int parent = plan.Parent.isEmpty() ? 0 : selfOf.value(plan.Parent);
        auto row = rows.find(gid);
        if (row == rows.end()) {
            const int self = ++largest;
            Run(QString("insert into %1(SelfIndex, ParentIndex, TypeName, Gid) values (?, ?, ?, ?)").arg(table),
                {self, parent, plan.Name, gid});
            selfOf.insert(gid, self);
            Rehash(kind, sqlite3_last_insert_rowid(Db()), gid);
            if (kind == skNoteGroup)
                Meta(gid, kind).TextChanged = true; // its note, brought back with it
            continue;
        }
        int self = row->Self;
        if (self <= parent) {
            // A group is read after its parent: it takes a later number,
            // and what is filed under it follows.
            self = ++largest;
            Run(QString("update %1 set SelfIndex=? where rowid=?").arg(table), {self, row->Rowid});
            Run(QString("update %1 set ParentIndex=? where ParentIndex=?").arg(table), {self, row->Self});
            if (kind == skNoteGroup) {
                Run("update NoteBook set TypeID=? where TypeID=?", {self, row->Self});
                Run("update NoteVersion set TypeID=? where TypeID=?", {self, row->Self});
            } else {
                Run("update IE set TypeID=? where TypeID=?", {self, row->Self});
            }
            m_dyingGroups[kind].remove(row->Self);
        }
        selfOf.insert(gid, self);
        if (row->Parent != parent || row->Name != plan.Name || self != row->Self || m_touched.contains(gid)) {
            Run(QString("update %1 set ParentIndex=?, TypeName=? where rowid=?").arg(table),
                {parent, plan.Name, row->Rowid});
            Rehash(kind, row->Rowid, gid);
        }
    }
}

// The rows of deleted groups, each branch with its notes or bookmarks as one
// entry of the trash, as a delete here would keep them.
void TSyncEngine::DeleteDeadGroups(int kind)
{
    QSet<int>& dying = m_dyingGroups[kind];
    if (dying.isEmpty())
        return;
    TGroupTable groups(GroupTable(kind), RootCaption(kind));
    groups.Load();
    QList<int> tops;
    for (const int self : std::as_const(dying))
        if (groups.Contains(self) && !dying.contains(groups.ShownParent(self)))
            tops << self;
    std::sort(tops.begin(), tops.end());
    TDeleteKeeper& trash = DeleteKeeper();
    for (const int self : std::as_const(tops)) {
        const QString in = SqlInList(groups.Branch(self));
        trash.DeleteBranch(
            groups, self,
            QString("delete from %1 where TypeID in %2").arg(kind == skNoteGroup ? "NoteBook" : "IE", in));
    }
    dying.clear();
}

void TSyncEngine::WriteItems(int kind)
{
    const QString table = TableOf(kind);
    const std::vector<TColumn>& columns = ColumnsOf(kind);
    QStringList names;
    for (const TColumn& column : columns)
        names << column.Column;
    if (kind == skBookmark)
        names << "TypeID";
    const QString insert = QString("insert into %1(%2, Gid) values (%3?)")
                               .arg(table, names.join(','), QString("?,").repeated(int(names.size())));
    const QString keyColumn = KeyColumn(kind);
    const QString update = QString("update %1 set %2=?, Gid=? where %3=?").arg(table, names.join("=?, "), keyColumn);
    // New bookmarks go in with one statement at the end: the search index
    // takes a statement's rows together, and row by row it is ten times slower.
    const QString stage = QString("insert into temp.SyncNewIE(%1, Gid) values (%2?)")
                              .arg(names.join(','), QString("?,").repeated(int(names.size())));
    if (kind == skBookmark) {
        ExecNative(Db(), "drop table if exists temp.SyncNewIE");
        ExecNative(Db(), "create temp table SyncNewIE(" + names.join(',') + ", Gid)");
    }

    QHash<QString, int> groups; // a group's SelfIndex by its identity
    QList<int> gone;
    const bool waiting = kind == skBookmark && Lookup("select exists(select 1 from SyncWaiting)", QVariant()).toBool();
    for (const QString& gid : std::as_const(m_touched)) {
        TSyncMeta& meta = *m_metas.value(gid);
        if (meta.Kind != kind)
            continue;
        // A year's identity is made of the year: an item that says another
        // year is left out, and the row is found by the year (whether or not
        // it went out yet) and written with it as a whole number, whatever
        // the file holds.
        const qint64 year = kind == skHolidayYear ? meta.Fields.value("year").Value.toLongLong() : 0;
        if (kind == skHolidayYear && gid != HolidayGid(year))
            continue;
        const QVariant id = kind == skHolidayYear
                                ? Lookup("select Year from HolidayYear where Year=?", year)
                                : Lookup(QString("select %1 from %2 where Gid=?").arg(keyColumn, table), gid);
        if (meta.Dead()) {
            // A bookmark of a deleted group goes to the trash with its group.
            if (!id.isNull() && !(kind == skBookmark && m_dyingGroups[skBookmarkGroup].contains(
                                                            Lookup("select TypeID from IE where ID=?", id).toInt())))
                gone << id.toInt();
            continue;
        }
        if (meta.Fields.value(columns.front().Field).Stamp == 0)
            continue; // known only by another's change of it: not shown yet
        QVariantList values;
        // An item from a program before a column has none of it.
        for (const TColumn& column : columns) {
            const QVariant value = meta.Fields.value(column.Field).Value;
            values << (value.isNull() ? column.Missing : value);
        }
        if (kind == skHolidayYear)
            values.back() = year;
        QString group;
        if (kind == skBookmark) {
            group = meta.Fields.value("group").Value.toString();
            auto self = groups.find(group);
            if (self == groups.end())
                self = groups.insert(group, SelfIndexOf(skBookmarkGroup, group));
            values << *self;
            // Its group may come later, from another computer's file.
            if (*self == 0 && !group.isEmpty() && !Meta(group, skBookmarkGroup).Dead())
                Run("insert or replace into SyncWaiting(Gid, GroupGid) values (?, ?)", {gid, group});
            else if (waiting)
                Run("delete from SyncWaiting where Gid=?", {gid});
            if (*self == 0)
                group.clear();
        }
        qint64 key = id.toLongLong();
        if (id.isNull() && kind == skBookmark) {
            Run(stage, values << gid);
        } else if (id.isNull()) {
            Run(insert, values << gid);
            key = sqlite3_last_insert_rowid(Db());
        } else {
            Run(update, values << gid << key);
        }
        if (kind != skBookmark) {
            if (kind == skReminder)
                ChangedReminders << QString::number(key);
            Rehash(kind, key, gid); // numbers come back as the columns keep them
            continue;
        }
        // A bookmark's columns keep text as it is given: what the row shows
        // is what was written.
        for (const TColumn& column : columns)
            meta.Fields[column.Field].Shown = HashOf(meta.Fields.value(column.Field).Value);
        meta.Fields["group"].Shown = HashOf(group);
        SaveMeta(gid);
    }
    if (kind == skBookmark) {
        ExecNative(
            Db(),
            QString("insert into IE(%1, Gid) select %1, Gid from temp.SyncNewIE order by rowid").arg(names.join(',')));
        ExecNative(Db(), "drop table temp.SyncNewIE");
    }
    if (gone.isEmpty())
        return;
    TDeleteKeeper& trash = DeleteKeeper();
    if (kind == skBookmark) {
        trash.KeepBookmarks(gone);
    } else if (kind == skReminder) {
        QStringList ids;
        for (const int id : std::as_const(gone))
            ids << QString::number(id);
        trash.KeepReminders(ids);
        ChangedReminders << ids;
    }
    ExecNative(Db(), QString("delete from %1 where %2 in %3").arg(table, keyColumn, SqlInList(gone)));
}

// The notes whose lines changed (or whose group came back), written as
// their lines make them.
void TSyncEngine::WriteTexts()
{
    for (auto it = m_metas.cbegin(); it != m_metas.cend(); ++it) {
        const QString& gid = it.key();
        TSyncMeta& meta = **it;
        if (meta.Kind != skNoteGroup || !meta.TextChanged || meta.Dead())
            continue;
        meta.TextChanged = false;
        const int self = gid == kRootNoteGid ? 0 : SelfIndexOf(skNoteGroup, gid);
        if (self == 0 && gid != kRootNoteGid)
            continue; // its group is not shown (yet)
        const QString text = meta.Lines.Text();
        WriteNoteText(self, text);
        meta.TextShown = HashOf(text);
        SaveMeta(gid);
    }
}

// Bookmarks shown under the root while their group had not arrived are
// written again once it has.
void TSyncEngine::TouchWaiting()
{
    for (const QVariantList& row :
         Rows("select w.Gid, w.GroupGid from SyncWaiting w join IEType t on t.Gid = w.GroupGid", {}, 2)) {
        const QString gid = row[0].toString();
        const TSyncMeta& meta = Meta(gid, skBookmark);
        if (meta.Known && !meta.Dead() && meta.Fields.value("group").Value.toString() == row[1].toString())
            m_touched.insert(gid);
        else
            Run("delete from SyncWaiting where Gid=?", {gid});
    }
}

// What the row shows now is what this computer last saw: only a change
// by the user after this differs from it.
void TSyncEngine::Rehash(int kind, qint64 key, const QString& gid)
{
    QString read;
    const QMap<QString, QVariant> fields = ReadRow(kind, key, read);
    TSyncMeta& meta = Meta(gid, kind);
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        if (kind == skNoteGroup && it.key() == kTextField)
            meta.TextShown = HashOf(it.value());
        else
            meta.Fields[it.key()].Shown = HashOf(it.value());
    }
    SaveMeta(gid);
}
