#include "groups/GroupTableStore.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/StartupWork.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QStringList>
#include <algorithm>
#include <sqlite3.h>

namespace {
const char* const kNameTaken = "该名称已经存在，请重新输入！";
const char* const kNameEmpty = "名称不能为空!";
const char* const kQueryError = "数据库查询错误，请检查！";
} // namespace

TGroupTable::TGroupTable(const QString& tableName, const QString& rootCaption)
    : m_tableName(tableName), m_rootCaption(rootCaption)
{
}

void TGroupTable::Load()
{
    LoadFrom(DbAccess->Handle());
}

void TGroupTable::LoadFrom(sqlite3* db)
{
    const QString sql =
        QString("select SelfIndex,ParentIndex,TypeName from %1  order by SelfIndex asc").arg(m_tableName);
    // Its own statement, stepped here: no other reader's dataset is
    // refilled, and no other reader refills this one.
    QHash<int, TGroup> groups;
    QHash<int, QList<int>> children;
    int largest = 0;
    try {
        TStmtHandle stmt = PrepareJet(db, sql);
        for (;;) {
            const int step = sqlite3_step(stmt.get());
            if (step == SQLITE_DONE)
                break;
            if (step != SQLITE_ROW)
                ThrowSqlError(db);
            const int self = sqlite3_column_int(stmt.get(), 0);
            // A second row with the same identifier would be a second group
            // that no operation could tell apart from the first: the first counts.
            if (self == 0 || groups.contains(self))
                continue;
            TGroup group;
            group.parent = sqlite3_column_int(stmt.get(), 1);
            group.shownParent = group.parent == 0 || groups.contains(group.parent) ? group.parent : 0;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 2));
            group.name = QString::fromUtf8(text, sqlite3_column_bytes(stmt.get(), 2));
            children[group.shownParent].append(self);
            groups.insert(self, std::move(group));
            largest = std::max(largest, self);
        }
    } catch (const std::exception& e) {
        throw EDBException(QString::fromUtf8(e.what()), kQueryError, sql);
    }
    m_groups = std::move(groups);
    m_children = std::move(children);
    m_maxSelfIndex = largest;
    m_pathOrdered = false;
}

void TGroupTable::Insert(int self, int parent, const QString& name)
{
    TGroup group;
    group.parent = parent;
    group.shownParent = Contains(parent) ? parent : 0;
    group.name = name;
    m_children[group.shownParent].append(self);
    m_groups.insert(self, group);
    m_maxSelfIndex = std::max(m_maxSelfIndex, self);
    m_pathOrdered = false;
}

QString TGroupTable::Name(int self) const
{
    return self == 0 ? m_rootCaption : m_groups.value(self).name;
}

QList<int> TGroupTable::Ancestors(int self) const
{
    QList<int> chain;
    for (int up = ShownParent(self); up != 0 && Contains(up); up = ShownParent(up))
        chain.prepend(up);
    return chain;
}

QString TGroupTable::PathText(int self) const
{
    QString text = m_rootCaption;
    if (self == 0)
        return text;
    for (int up : Ancestors(self))
        text += "->" + Name(up);
    return text + "->" + Name(self);
}

int TGroupTable::FindPath(const QString& path) const
{
    int at = 0;
    for (const QString& name : path.split('/', Qt::SkipEmptyParts)) {
        const QList<int> children = Children(at);
        const auto found =
            std::find_if(children.begin(), children.end(), [&](int child) { return Name(child) == name.trimmed(); });
        if (found == children.end())
            return -1;
        at = *found;
    }
    return at;
}

std::vector<int> TGroupTable::InPathOrder(size_t most) const
{
    if (most == 0)
        return {};
    OrderByPaths();
    std::vector<int> order{0};
    const size_t groups = std::min(m_pathOrder.size(), most - 1);
    order.insert(order.end(), m_pathOrder.begin(), m_pathOrder.begin() + qsizetype(groups));
    return order;
}

int TGroupTable::PathRank(int self) const
{
    OrderByPaths();
    return m_pathRanks.value(self, 0);
}

// Under a parent, each child's path and the paths of its branch, which all
// begin with its name and "->", take the order of those beginnings: no path
// needs to be made. Only where one such beginning begins another (a name
// holding "->", or two groups of one name) is the parent's branch ordered
// by its paths.
void TGroupTable::OrderByPaths() const
{
    if (m_pathOrdered)
        return;
    m_pathOrder.clear();
    m_pathOrder.reserve(size_t(m_groups.size()));
    PlaceBranches(m_children.value(0));
    m_pathRanks.clear();
    m_pathRanks.reserve(qsizetype(m_pathOrder.size()));
    for (size_t i = 0; i < m_pathOrder.size(); ++i)
        m_pathRanks.insert(m_pathOrder[i], int(i) + 1);
    m_pathOrdered = true;
}

void TGroupTable::PlaceBranches(const QList<int>& children) const
{
    struct TPart
    {
        QString start; // of the group's path, or of its branch's paths
        int self;
        bool branch;
    };
    std::vector<TPart> parts;
    parts.reserve(size_t(children.size()) * 2);
    for (const int child : children) {
        parts.push_back({Name(child), child, false});
        if (HasChildren(child))
            parts.push_back({Name(child) + QStringLiteral("->"), child, true});
    }
    std::sort(parts.begin(), parts.end(), [](const TPart& a, const TPart& b) {
        return a.start < b.start || (a.start == b.start && a.self < b.self);
    });
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i - 1].branch && parts[i].start.startsWith(parts[i - 1].start)) {
            PlaceByPaths(children);
            return;
        }
    }
    for (const TPart& part : parts) {
        if (part.branch)
            PlaceBranches(m_children.value(part.self));
        else
            m_pathOrder.push_back(part.self);
    }
}

void TGroupTable::PlaceByPaths(const QList<int>& children) const
{
    std::vector<std::pair<QString, int>> branch; // path, SelfIndex
    QList<int> pending(children.rbegin(), children.rend());
    while (!pending.isEmpty()) {
        const int self = pending.takeLast();
        branch.emplace_back(PathText(self), self);
        const QList<int> below = m_children.value(self);
        pending.append(QList<int>(below.rbegin(), below.rend()));
    }
    std::sort(branch.begin(), branch.end());
    for (const auto& [path, self] : branch)
        m_pathOrder.push_back(self);
}

bool TGroupTable::NameExists(const QString& name) const
{
    if (name == m_rootCaption)
        return true;
    for (const TGroup& group : m_groups)
        if (group.name == name)
            return true;
    return false;
}

void TGroupTable::CheckName(const QString& name) const
{
    if (TrimBlanks(name).isEmpty())
        RaiseError(kNameEmpty);
    if (NameExists(name))
        RaiseError(kNameTaken);
}

int TGroupTable::Add(int parent, const QString& typed)
{
    const QString name = OneLineName(typed);
    CheckName(name);
    const int self = NextSelfIndex();
    DbExecSQL(FormatSQL("insert into %s(SelfIndex,ParentIndex,TypeName) values (%s,%s,'%s')",
                        {m_tableName, QString::number(self), QString::number(parent), SqlText(name)}));
    Insert(self, parent, name);
    return self;
}

void TGroupTable::Rename(int self, const QString& typed)
{
    const QString name = OneLineName(typed);
    CheckName(name);
    DbExecSQL(FormatSQL("update %s set TypeName='%s' where SelfIndex=%s ",
                        {m_tableName, SqlText(name), QString::number(self)}));
    auto group = m_groups.find(self);
    if (group == m_groups.end())
        return;
    group->name = name;
    m_pathOrdered = false;
}

void TGroupTable::CheckDeletable(int self) const
{
    if (HasChildren(self))
        RaiseError("还有下级分组，不能删除该分组！");
    if (self == 0)
        RaiseError("不能删除根分组！");
}

int TGroupTable::Delete(int self, const QString& alsoRun)
{
    CheckDeletable(self);
    const QString n = QString::number(self);
    QString text = FormatSQL("delete from %s where selfIndex=%s ", {m_tableName, n}) + "@#@" +
                   FormatSQL("delete from %s where ParentIndex=%s ", {m_tableName, n});
    if (!alsoRun.isEmpty())
        text += "@#@" + alsoRun;
    DbExecSQL(text);
    QList<int> removed{self};
    // Rows naming the group as parent that the tree shows elsewhere (their
    // parent came after them) are gone from the table too.
    for (auto it = m_groups.cbegin(); it != m_groups.cend(); ++it)
        if (it->parent == self && it.key() != self)
            removed.append(it.key());
    for (int gone : removed) {
        const TGroup group = m_groups.take(gone);
        m_children[group.shownParent].removeOne(gone);
        // Groups under a stray row stay, under the root, as a new reading shows them.
        for (int orphan : m_children.take(gone)) {
            m_groups[orphan].shownParent = 0;
            m_children[0].append(orphan);
        }
    }
    std::sort(m_children[0].begin(), m_children[0].end());
    m_pathOrdered = false;
    m_maxSelfIndex = 0;
    for (auto it = m_groups.cbegin(); it != m_groups.cend(); ++it)
        m_maxSelfIndex = std::max(m_maxSelfIndex, it.key());
    return removed.size();
}

QList<int> TGroupTable::Branch(int self) const
{
    QList<int> branch{self};
    for (qsizetype i = 0; i < branch.size(); ++i)
        branch += Children(branch[i]);
    return branch;
}

void TGroupTable::CheckMovable(int self, int parent) const
{
    if (self == 0)
        RaiseError("不能移动根分组！");
    if (!Contains(self) || !Contains(parent))
        RaiseError("要移动的分组或目标分组已不存在！");
    if (parent == self || Ancestors(parent).contains(self))
        RaiseError("不能把分组移到它自己或它的下级分组中！");
}

int TGroupTable::Move(int self, int parent, const QString& itemTable)
{
    CheckMovable(self, parent);
    if (ParentIndex(self) == parent && ShownParent(self) == parent)
        return self;
    QStringList statements;
    int moved = self;
    if (parent > self) {
        int next = NextSelfIndex();
        for (int old : Branch(self)) {
            const QString from = QString::number(old);
            const QString to = QString::number(next);
            statements << FormatSQL("update %s set SelfIndex=%s where SelfIndex=%s ", {m_tableName, to, from})
                       << FormatSQL("update %s set ParentIndex=%s where ParentIndex=%s ", {m_tableName, to, from})
                       << FormatSQL("update %s set TypeID=%s where TypeID=%s ", {itemTable, to, from});
            if (old == self)
                moved = next;
            ++next;
        }
    }
    statements << FormatSQL("update %s set ParentIndex=%s where SelfIndex=%s ",
                            {m_tableName, QString::number(parent), QString::number(moved)});
    DbExecSQL(statements.join("@#@"));
    Load();
    return moved;
}

void TGroupTable::DeleteBranch(int self, const QString& alsoRun)
{
    if (self == 0)
        RaiseError("不能删除根分组！");
    const QString ids = SqlInList(Branch(self));
    QString text = FormatSQL("delete from %s where SelfIndex in %s ", {m_tableName, ids}) + "@#@" +
                   FormatSQL("delete from %s where ParentIndex in %s ", {m_tableName, ids});
    if (!alsoRun.isEmpty())
        text += "@#@" + alsoRun;
    DbExecSQL(text);
    Load();
}

QString SqlInList(const QList<int>& ids)
{
    QStringList texts;
    for (int id : ids)
        texts << QString::number(id);
    return "(" + texts.join(",") + ")";
}

QString FreeName(const QString& name, const std::function<bool(const QString&)>& taken)
{
    QString candidate = name;
    for (int n = 2; taken(candidate); ++n)
        candidate = QString("%1 (%2)").arg(name).arg(n);
    return candidate;
}

QString OneLineName(const QString& name)
{
    QString line = name;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& c : line)
        if (c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' || c == QChar(0x85) || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    return line;
}

namespace {
long long DataVersion(sqlite3* db)
{
    TStmtHandle stmt = PrepareNative(db, "PRAGMA data_version");
    return sqlite3_step(stmt.get()) == SQLITE_ROW ? sqlite3_column_int64(stmt.get(), 0) : -1;
}

std::vector<TGroupTable> ReadTables(const QString& path, const QStringList& tableNames)
{
    TDbHandle db = OpenReadOnly(path, 2000);
    std::vector<TGroupTable> tables;
    for (const QString& name : tableNames) {
        tables.emplace_back(name, QString());
        tables.back().LoadFrom(db.get());
    }
    return tables;
}
} // namespace

TGroupPrefetch::TGroupPrefetch(TDbAccess* db, const QStringList& tableNames) : m_db(db)
{
    if (!db || !db->Connected())
        return;
    try {
        m_changes = sqlite3_total_changes64(db->Connection.get());
        m_dataVersion = DataVersion(db->Connection.get());
        m_reading = BeginStartupWork([path = db->DatabasePath(), tableNames] { return ReadTables(path, tableNames); });
        db->AwaitOutsideReading = [this] {
            if (m_reading.valid())
                m_reading.wait();
        };
    } catch (const std::exception&) {
        // No thread to be had: the owner reads.
    }
}

TGroupPrefetch::~TGroupPrefetch()
{
    if (m_reading.valid())
        m_reading.wait();
    if (m_db && m_db == DbAccess)
        m_db->AwaitOutsideReading = nullptr;
}

bool TGroupPrefetch::Take(TGroupTable& table)
{
    try {
        if (m_reading.valid())
            m_read = m_reading.get(); // a failure of the reading throws here
        sqlite3* db = m_db ? m_db->Connection.get() : nullptr;
        if (!db || sqlite3_total_changes64(db) != m_changes || DataVersion(db) != m_dataVersion)
            return false;
    } catch (const std::exception&) {
        return false;
    }
    for (TGroupTable& read : m_read) {
        if (read.TableName() != table.TableName() || read.TableName().isEmpty())
            continue;
        read.m_rootCaption = table.RootCaption();
        table = std::move(read);
        read = TGroupTable(QString(), QString()); // taken
        return true;
    }
    return false;
}
