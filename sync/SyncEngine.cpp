#include "sync/SyncEngine.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "groups/GroupTableStore.h"

#include <QDataStream>
#include <QIODevice>
#include <QUuid>
#include <algorithm>
#include <map>
#include <sqlite3.h>

// A field as this computer keeps it: its stamp, the value as merged (the
// tables may show another: a name made unique, a group gone) except a
// note's text, which the tables hold, and a hash of what the row showed
// when last written or sent, to see the user's changes.
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
    qint64 Deleted = 0;
    QMap<QString, TSyncMetaField> Fields;
    QMap<QString, qint64> Versions;
    bool Known = false; // read from SyncMeta or made here
};

namespace {
sqlite3* Db()
{
    return DbAccess->Handle();
}

const char* const kTextField = "text";
} // namespace

namespace {

// The record of an item, packed by hand: it is written for every item a
// round touches, so it is kept small (texts as UTF-8, values by their type).
void PutText(QDataStream& out, const QString& text)
{
    out << text.toUtf8();
}

QString TakeText(QDataStream& in)
{
    QByteArray bytes;
    in >> bytes;
    return QString::fromUtf8(bytes);
}

void PutValue(QDataStream& out, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
        out << qint8(1) << value.toLongLong();
        break;
    case QMetaType::Double:
        out << qint8(2) << value.toDouble();
        break;
    case QMetaType::QString:
        out << qint8(3);
        PutText(out, value.toString());
        break;
    case QMetaType::QByteArray:
        out << qint8(4) << value.toByteArray();
        break;
    default:
        out << qint8(0);
    }
}

QVariant TakeValue(QDataStream& in)
{
    qint8 type = 0;
    in >> type;
    switch (type) {
    case 1: {
        qint64 number = 0;
        in >> number;
        return number;
    }
    case 2: {
        double number = 0;
        in >> number;
        return number;
    }
    case 3:
        return TakeText(in);
    case 4: {
        QByteArray bytes;
        in >> bytes;
        return bytes;
    }
    default:
        return QVariant();
    }
}

QByteArray PackMeta(const TSyncMeta& meta)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << meta.Born << qint32(meta.Fields.size());
    for (auto it = meta.Fields.cbegin(); it != meta.Fields.cend(); ++it) {
        PutText(out, it.key());
        out << it->Stamp;
        PutText(out, it->Origin);
        PutValue(out, it->Value);
        out << it->Shown;
    }
    out << qint32(meta.Versions.size());
    for (auto it = meta.Versions.cbegin(); it != meta.Versions.cend(); ++it) {
        PutText(out, it.key());
        out << it.value();
    }
    return bytes;
}

void UnpackMeta(const QByteArray& bytes, TSyncMeta& meta)
{
    QDataStream in(bytes);
    qint32 count = 0;
    in >> meta.Born >> count;
    for (int i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        const QString name = TakeText(in);
        TSyncMetaField& field = meta.Fields[name];
        in >> field.Stamp;
        field.Origin = TakeText(in);
        field.Value = TakeValue(in);
        in >> field.Shown;
    }
    in >> count;
    for (int i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        const QString computer = TakeText(in);
        in >> meta.Versions[computer];
    }
    if (in.status() != QDataStream::Ok)
        RaiseError("同步记录已损坏。");
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

QString GroupTable(int kind)
{
    return kind == skNoteGroup ? "NoteType" : "IEType";
}

QString RootCaption(int kind)
{
    return kind == skNoteGroup ? "根目录" : "全部";
}

// The reminder's columns, by the field names the files use.
const std::map<QString, QString> kReminderColumns = {{"time", "AlamTime"},     {"date", "AlamDate"},
                                                     {"repeat", "ReDay"},      {"text", "ReMark"},
                                                     {"seen", "bLook"},        {"weekdays", "WeekDays"},
                                                     {"snooze", "SnoozeAt"}};
const std::map<QString, QString> kBookmarkColumns = {
    {"url", "IEUrl"}, {"name", "IEName"}, {"remark", "ReMark"}, {"tags", "Tags"}};

// A one-row, one-column answer (null when there is no row).
// The statements of a round, each prepared once: a merge of a whole state
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
    if (kind == skNoteGroup || kind == skBookmarkGroup) {
        sqlite3_stmt* row =
            Statement(QString("select SelfIndex, ParentIndex, TypeName, Gid from %1 where rowid=?").arg(GroupTable(kind)));
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
    const auto& columns = bookmark ? kBookmarkColumns : kReminderColumns;
    QStringList names;
    for (const auto& [field, column] : columns)
        names << column;
    sqlite3_stmt* row = Statement(QString("select Gid, %1%2 from %3 where ID=?")
                                      .arg(names.join(','), bookmark ? ", TypeID" : "", bookmark ? "IE" : "Alam"));
    sqlite3_bind_int64(row, 1, key);
    if (sqlite3_step(row) != SQLITE_ROW)
        return fields;
    gid = ColumnText(row, 0);
    int column = 1;
    for (const auto& [field, name] : columns)
        fields.insert(field, ColumnVariant(row, column++));
    const int group = bookmark ? sqlite3_column_int(row, column) : 0;
    sqlite3_reset(row);
    if (bookmark)
        fields.insert("group", GidOfGroup(skBookmarkGroup, group));
    return fields;
}

QString ItemTable(int kind)
{
    return kind == skBookmark ? "IE" : "Alam";
}

QString TableOf(int kind)
{
    return kind == skNoteGroup || kind == skBookmarkGroup ? GroupTable(kind) : ItemTable(kind);
}

QString KeyColumn(int kind)
{
    return kind == skNoteGroup || kind == skBookmarkGroup ? "rowid" : "ID";
}
} // namespace

TSyncEngine::TSyncEngine(const QString& computer, const QHash<QString, QString>& hosts)
    : m_computer(computer), m_hosts(hosts)
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
    sqlite3_stmt* row = Statement("select Kind, Deleted, Fields from SyncMeta where Gid=?");
    BindText(row, 1, gid);
    if (sqlite3_step(row) == SQLITE_ROW) {
        meta->Kind = sqlite3_column_int(row, 0);
        meta->Deleted = sqlite3_column_int64(row, 1);
        UnpackMeta(ColumnBytes(row, 2), *meta);
        meta->Known = true;
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
        Run("insert or replace into SyncMeta(Gid, Kind, Deleted, Fields) values (?, ?, ?, ?)",
            {gid, meta.Kind, meta.Deleted, PackMeta(meta)});
    }
    m_unsaved.clear();
}

void TSyncEngine::SaveClock()
{
    Run("insert or replace into SyncSet(Name, Value) values ('Clock', ?)", {m_clock});
}

// ---- This computer's changes

QList<TSyncItem> TSyncEngine::TakeLocalChanges()
{
    QList<TSyncItem> items;
    QList<QPair<int, qint64>> dirty;
    {
        TStmtHandle rows = PrepareNative(Db(), "select Kind, RowKey from SyncDirty order by Kind, RowKey");
        while (sqlite3_step(rows.get()) == SQLITE_ROW)
            dirty << qMakePair(sqlite3_column_int(rows.get(), 0), sqlite3_column_int64(rows.get(), 1));
    }
    // Every changed row has its identity before any is read: a row names
    // its group by the group's. A row without one, one back from the trash
    // after its delete went out, or a copy of another row is a new item.
    for (const auto& [kind, key] : dirty) {
        if (kind == skNoteGroup && key == 0)
            continue;
        const QString table = TableOf(kind);
        const QVariant gid = Lookup(QString("select Gid from %1 where %2=?").arg(table, KeyColumn(kind)), key);
        const QString text = gid.toString();
        if (!text.isEmpty() && Meta(text, kind).Deleted == 0 &&
            Lookup(QString("select count(*) from %1 where Gid=?").arg(table), text).toInt() == 1)
            continue;
        Run(QString("update %1 set Gid=? where %2=?").arg(table, KeyColumn(kind)), {NewGid(), key});
    }
    for (const auto& [kind, key] : dirty) {
        QString gid;
        const QMap<QString, QVariant> fields = ReadRow(kind, key, gid);
        if (fields.isEmpty())
            continue;
        TSyncMeta& meta = Meta(gid, kind);
        if (!meta.Known) {
            meta.Born = Tick();
            meta.Known = true;
        }
        TSyncItem item{gid, kind, meta.Born, 0, {}, {}};
        for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
            const quint64 shown = HashOf(it.value());
            TSyncMetaField& field = meta.Fields[it.key()];
            if (field.Stamp != 0 && field.Shown == shown)
                continue;
            // A note never written says nothing: a computer that joins with
            // an empty note must not replace another's text with it.
            const bool note = it.key() == kTextField && kind == skNoteGroup;
            if (note && field.Stamp == 0 && it.value().toString().isEmpty()) {
                meta.Fields.remove(it.key());
                continue;
            }
            field = TSyncMetaField{Tick(), m_computer, note ? QVariant() : it.value(), shown};
            item.Fields.insert(it.key(), TSyncField{it.value(), field.Stamp, m_computer});
            if (note)
                meta.Versions[m_computer] += 1;
        }
        if (item.Fields.isEmpty())
            continue;
        item.Versions = meta.Versions;
        SaveMeta(gid);
        items << item;
    }
    QList<QPair<QString, int>> gone;
    {
        TStmtHandle rows = PrepareNative(Db(), "select Gid, Kind from SyncGone");
        while (sqlite3_step(rows.get()) == SQLITE_ROW)
            gone << qMakePair(ColumnText(rows.get(), 0), sqlite3_column_int(rows.get(), 1));
    }
    for (const auto& [gid, kind] : gone) {
        const QString table = TableOf(kind);
        // Put back from the trash before the round: still there.
        if (Lookup(QString("select count(*) from %1 where Gid=?").arg(table), gid).toInt() > 0)
            continue;
        TSyncMeta& meta = Meta(gid, kind);
        if (!meta.Known || meta.Deleted != 0)
            continue;
        meta.Deleted = Tick();
        SaveMeta(gid);
        items << TSyncItem{gid, kind, meta.Born, meta.Deleted, {}, {}};
    }
    ExecNative(Db(), "delete from SyncDirty");
    ExecNative(Db(), "delete from SyncGone");
    FlushMetas();
    SaveClock();
    return items;
}

QList<TSyncItem> TSyncEngine::WholeState()
{
    QList<TSyncItem> items;
    TStmtHandle rows = PrepareNative(Db(), "select Gid, Kind, Deleted, Fields from SyncMeta order by Kind, Gid");
    while (sqlite3_step(rows.get()) == SQLITE_ROW) {
        TSyncMeta meta;
        TSyncItem item;
        item.Gid = ColumnText(rows.get(), 0);
        item.Kind = sqlite3_column_int(rows.get(), 1);
        item.Deleted = sqlite3_column_int64(rows.get(), 2);
        UnpackMeta(ColumnBytes(rows.get(), 3), meta);
        item.Born = meta.Born;
        if (item.Deleted == 0) {
            for (auto it = meta.Fields.cbegin(); it != meta.Fields.cend(); ++it) {
                const bool text = it.key() == kTextField && item.Kind == skNoteGroup;
                item.Fields.insert(it.key(),
                                   TSyncField{text ? QVariant(CurrentText(item.Gid)) : it->Value, it->Stamp, it->Origin});
            }
            item.Versions = meta.Versions;
        }
        items << item;
    }
    return items;
}

// ---- Other computers' changes

void TSyncEngine::Merge(const TSyncItem& item)
{
    Observe(std::max(item.Born, item.Deleted));
    for (const TSyncField& field : item.Fields)
        Observe(field.Stamp);
    TSyncMeta& meta = Meta(item.Gid, item.Kind);
    if (meta.Deleted != 0)
        return;
    bool changed = false;
    if (!meta.Known) {
        meta.Known = true;
        meta.Born = item.Born;
        changed = true;
    } else if (item.Born < meta.Born) {
        meta.Born = item.Born;
        changed = true;
    }
    if (item.Deleted != 0) {
        meta.Deleted = item.Deleted;
        changed = true;
    } else {
        for (auto it = item.Fields.cbegin(); it != item.Fields.cend(); ++it) {
            if (it.key() == kTextField && item.Kind == skNoteGroup) {
                const qint64 before = meta.Fields.value(kTextField).Stamp;
                MergeText(meta, item);
                changed |= meta.Fields.value(kTextField).Stamp != before;
                continue;
            }
            TSyncMetaField& field = meta.Fields[it.key()];
            if (field.Stamp != 0 && !it->Beats(TSyncField{field.Value, field.Stamp, field.Origin}))
                continue;
            field = TSyncMetaField{it->Stamp, it->Origin, it->Value, field.Shown};
            changed = true;
        }
    }
    if (!changed)
        return;
    SaveMeta(item.Gid);
    m_touched.insert(item.Gid);
    ++Applied;
}

namespace {
// Whether every change the one text knows of, the other knows of too.
bool Covers(const QMap<QString, qint64>& one, const QMap<QString, qint64>& other)
{
    for (auto it = other.cbegin(); it != other.cend(); ++it)
        if (one.value(it.key()) < it.value())
            return false;
    return true;
}
} // namespace

void TSyncEngine::MergeText(TSyncMeta& meta, const TSyncItem& item)
{
    const TSyncField& incoming = item.Fields[kTextField];
    TSyncMetaField& local = meta.Fields[kTextField];
    const TSyncField current{QVariant(), local.Stamp, local.Origin};
    if (local.Stamp != 0 && Covers(meta.Versions, item.Versions))
        return; // nothing this computer has not seen
    const bool takes = local.Stamp == 0 || Covers(item.Versions, meta.Versions) || incoming.Beats(current);
    if (local.Stamp != 0 && !Covers(item.Versions, meta.Versions)) {
        // Changed on both sides unknown to each other: the text that does
        // not stay is kept as a copy, never dropped (unless empty or the same).
        const TSyncField mine{CurrentText(item.Gid), local.Stamp, local.Origin};
        const TSyncField& loser = takes ? mine : incoming;
        if (!loser.Value.toString().isEmpty() && loser.Value.toString() != (takes ? incoming : mine).Value.toString())
            KeepConflict(meta, item.Gid, loser);
    }
    for (auto it = item.Versions.cbegin(); it != item.Versions.cend(); ++it)
        meta.Versions[it.key()] = std::max(meta.Versions.value(it.key()), it.value());
    if (!takes)
        return;
    local = TSyncMetaField{incoming.Stamp, incoming.Origin, QVariant(), local.Shown};
    m_texts.insert(item.Gid, incoming.Value.toString());
}

QString TSyncEngine::CurrentText(const QString& gid)
{
    if (m_texts.contains(gid))
        return m_texts.value(gid);
    if (gid == kRootNoteGid)
        return NoteText(0);
    const int self = SelfIndexOf(skNoteGroup, gid);
    return self > 0 ? NoteText(self) : QString();
}

// The copy's identity follows from the text it keeps, so every computer
// that meets the same two texts makes the same copy once.
void TSyncEngine::KeepConflict(const TSyncMeta& meta, const QString& gid, const TSyncField& loser)
{
    const QString copyGid =
        "conflict-" + QString::number(HashOf(QString("%1:%2:%3").arg(gid).arg(loser.Stamp).arg(loser.Origin)), 16);
    const QString base = gid == kRootNoteGid ? RootCaption(skNoteGroup) : meta.Fields.value("name").Value.toString();
    const QString host = m_hosts.value(loser.Origin, loser.Origin.left(8));
    const QString when = QDateTime::fromMSecsSinceEpoch(loser.Stamp >> 16).toString("yyyy-MM-dd");
    TSyncItem copy{copyGid, skNoteGroup, loser.Stamp, 0, {}, {}};
    copy.Fields.insert("name", TSyncField{QString("%1（冲突副本 %2 %3）").arg(base, when, host), loser.Stamp, loser.Origin});
    copy.Fields.insert("parent", TSyncField{meta.Fields.value("parent").Value.toString(), loser.Stamp, loser.Origin});
    copy.Fields.insert(kTextField, TSyncField{loser.Value, loser.Stamp, loser.Origin});
    copy.Versions.insert(loser.Origin, 1);
    if (Meta(copyGid, skNoteGroup).Known)
        return;
    Conflicts << copy.Fields["name"].Value.toString();
    Created << copy;
    Merge(copy);
}

// ---- Writing into the tables

void TSyncEngine::Materialize()
{
    bool notes = false, bookmarks = false;
    for (const QString& gid : std::as_const(m_touched)) {
        const int kind = m_metas.value(gid)->Kind;
        notes |= kind == skNoteGroup;
        bookmarks |= kind == skBookmarkGroup;
    }
    if (notes)
        RebuildGroups(skNoteGroup);
    if (bookmarks)
        RebuildGroups(skBookmarkGroup);
    if (bookmarks)
        TouchWaiting();
    WriteItems(skBookmark);
    WriteItems(skReminder);
    if (bookmarks) {
        // Bookmarks whose group is gone show under the root.
        QList<qint64> strays;
        TStmtHandle rows = PrepareNative(
            Db(), "select ID, Gid from IE where TypeID<>0 and TypeID not in (select SelfIndex from IEType)");
        QList<QPair<qint64, QString>> found;
        while (sqlite3_step(rows.get()) == SQLITE_ROW)
            found << qMakePair(sqlite3_column_int64(rows.get(), 0), ColumnText(rows.get(), 1));
        for (const auto& [id, gid] : found) {
            Run("update IE set TypeID=0 where ID=?", {id});
            if (!gid.isEmpty())
                Rehash(skBookmark, id, gid);
        }
    }
    m_touched.clear();
    m_texts.clear();
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
void TSyncEngine::RebuildGroups(int kind)
{
    QHash<QString, TGroupPlan> plans;
    const auto plan = [&](const QString& gid, const TSyncMeta& meta) {
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
            TSyncMeta meta;
            UnpackMeta(ColumnBytes(rows.get(), 1), meta);
            plan(gid, meta);
        }
    }
    // What this step merged and has not stored yet.
    for (auto it = m_metas.cbegin(); it != m_metas.cend(); ++it)
        if ((*it)->Kind == kind && (*it)->Known && (*it)->Deleted == 0 && it.key() != kRootNoteGid)
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
        const QString name = FreeName(plans[gid].Name, [&](const QString& candidate) { return taken.contains(candidate); });
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
        TStmtHandle read = PrepareNative(Db(), QString("select rowid, SelfIndex, ParentIndex, TypeName, Gid from %1").arg(table));
        while (sqlite3_step(read.get()) == SQLITE_ROW) {
            largest = std::max(largest, sqlite3_column_int(read.get(), 1));
            const QString gid = ColumnText(read.get(), 4);
            if (!gid.isEmpty())
                rows.insert(gid, TRow{sqlite3_column_int64(read.get(), 0), sqlite3_column_int(read.get(), 1),
                                      sqlite3_column_int(read.get(), 2), ColumnText(read.get(), 3)});
        }
    }
    // Groups deleted elsewhere go; their notes and earlier texts with them.
    for (auto it = rows.begin(); it != rows.end();) {
        if (plans.contains(it.key())) {
            ++it;
            continue;
        }
        Run(QString("delete from %1 where rowid=?").arg(table), {it->Rowid});
        if (kind == skNoteGroup) {
            Run("delete from NoteBook where TypeID=?", {it->Self});
            Run("delete from NoteVersion where TypeID=?", {it->Self});
        }
        it = rows.erase(it);
    }
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
        }
        selfOf.insert(gid, self);
        if (row->Parent != parent || row->Name != plan.Name || self != row->Self || m_touched.contains(gid)) {
            Run(QString("update %1 set ParentIndex=?, TypeName=? where rowid=?").arg(table), {parent, plan.Name, row->Rowid});
            if (!m_texts.contains(gid))
                Rehash(kind, row->Rowid, gid);
        }
    }
    if (kind != skNoteGroup)
        return;
    for (auto it = m_texts.cbegin(); it != m_texts.cend(); ++it) {
        const int self = it.key() == kRootNoteGid ? 0 : selfOf.value(it.key(), -1);
        if (self < 0)
            continue;
        WriteNoteText(self, it.value());
        Rehash(kind, self == 0 ? 0 : Lookup("select rowid from NoteType where Gid=?", it.key()).toLongLong(), it.key());
    }
}

void TSyncEngine::WriteItems(int kind)
{
    const QString table = ItemTable(kind);
    const auto& columns = kind == skBookmark ? kBookmarkColumns : kReminderColumns;
    QStringList names;
    for (const auto& [field, column] : columns)
        names << column;
    if (kind == skBookmark)
        names << "TypeID";
    const QString insert = QString("insert into %1(%2, Gid) values (%3?)")
                               .arg(table, names.join(','), QString("?,").repeated(int(names.size())));
    const QString update = QString("update %1 set %2=? where ID=?").arg(table, names.join("=?, "));
    // New bookmarks go in with one statement at the end: the search index
    // takes a statement's rows together, and row by row it is ten times slower.
    const QString stage = QString("insert into temp.SyncNewIE(%1, Gid) values (%2?)")
                              .arg(names.join(','), QString("?,").repeated(int(names.size())));
    if (kind == skBookmark) {
        ExecNative(Db(), "drop table if exists temp.SyncNewIE");
        ExecNative(Db(), "create temp table SyncNewIE(" + names.join(',') + ", Gid)");
    }

    QHash<QString, int> groups; // a group's SelfIndex by its identity
    const bool waiting = kind == skBookmark && Lookup("select exists(select 1 from SyncWaiting)", QVariant()).toBool();
    for (const QString& gid : std::as_const(m_touched)) {
        TSyncMeta& meta = *m_metas.value(gid);
        if (meta.Kind != kind)
            continue;
        const QVariant id = Lookup(QString("select ID from %1 where Gid=?").arg(table), gid);
        if (meta.Deleted != 0) {
            if (!id.isNull())
                Run(QString("delete from %1 where ID=?").arg(table), {id});
            if (kind == skReminder && !id.isNull())
                ChangedReminders << id.toString();
            continue;
        }
        QVariantList values;
        for (const auto& [field, column] : columns) {
            // An item from a program before tags has none: empty, not null.
            const QVariant value = meta.Fields.value(field).Value;
            values << (value.isNull() && field == "tags" ? QVariant(QString()) : value);
        }
        QString group;
        if (kind == skBookmark) {
            group = meta.Fields.value("group").Value.toString();
            auto self = groups.find(group);
            if (self == groups.end())
                self = groups.insert(group, SelfIndexOf(skBookmarkGroup, group));
            values << *self;
            // Its group may come later, from another computer's file.
            if (*self == 0 && !group.isEmpty() && Meta(group, skBookmarkGroup).Deleted == 0)
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
            Run(update, values << key);
        }
        if (kind == skReminder) {
            ChangedReminders << QString::number(key);
            Rehash(kind, key, gid); // numbers come back as the columns keep them
            continue;
        }
        // A bookmark's columns keep text as it is given: what the row shows
        // is what was written.
        for (const auto& [field, column] : columns)
            meta.Fields[field].Shown = HashOf(meta.Fields.value(field).Value);
        meta.Fields["group"].Shown = HashOf(group);
        SaveMeta(gid);
    }
    if (kind == skBookmark) {
        ExecNative(Db(), QString("insert into IE(%1, Gid) select %1, Gid from temp.SyncNewIE order by rowid")
                             .arg(names.join(',')));
        ExecNative(Db(), "drop table temp.SyncNewIE");
    }
}

// Bookmarks shown under the root while their group had not arrived are
// written again once it has.
void TSyncEngine::TouchWaiting()
{
    QList<QPair<QString, QString>> arrived;
    {
        TStmtHandle rows = PrepareNative(
            Db(), "select w.Gid, w.GroupGid from SyncWaiting w join IEType t on t.Gid = w.GroupGid");
        while (sqlite3_step(rows.get()) == SQLITE_ROW)
            arrived << qMakePair(ColumnText(rows.get(), 0), ColumnText(rows.get(), 1));
    }
    for (const auto& [gid, group] : arrived) {
        const TSyncMeta& meta = Meta(gid, skBookmark);
        if (meta.Known && meta.Deleted == 0 && meta.Fields.value("group").Value.toString() == group)
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
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        meta.Fields[it.key()].Shown = HashOf(it.value());
    SaveMeta(gid);
}
