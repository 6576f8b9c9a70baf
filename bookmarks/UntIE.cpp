#include "bookmarks/UntIE.h"

#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "groups/DeleteKeeper.h"
#include "groups/GroupTableStore.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <sqlite3.h>

void TIE::InsertIE()
{
    LastSQL = FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark,Tags)  values(%s,'%s','%s','%s','%s') ",
                        {QString::number(TypeID), SqlText(IEUrl), SqlText(IEName), SqlText(ReMark), SqlText(Tags)});
    DbExecSQL(LastSQL);
}

void TIE::OpenGroupIE(int n)
{
    // The root lists every bookmark of every group, not only its own.
    LastSQL = "select ID,IEName as 标题,Remark as 备注,IEUrl as 网址 from IE  ";
    if (n != 0)
        LastSQL += FormatSQL(" where TypeID=%s ", {QString::number(n)});
    DbAccess->OpenGrid(ExtendedList(LastSQL));
}

void TIE::SetListExtension(const QString& name, const TIEListExtension& extension)
{
    for (auto& [each, kept] : m_listExtensions)
        if (each == name) {
            kept = extension;
            return;
        }
    m_listExtensions.append({name, extension});
}

QString TIE::ExtendedList(const QString& list) const
{
    if (m_listExtensions.isEmpty())
        return list;
    QString columns;
    QString joins;
    QStringList conditions;
    for (const auto& [name, extension] : m_listExtensions) {
        if (!extension.Columns.isEmpty())
            columns += "," + extension.Columns;
        if (!extension.Joins.isEmpty())
            joins += " " + extension.Joins;
        if (!extension.Condition.isEmpty())
            conditions << "(" + extension.Condition + ")";
    }
    QString sql = "select L.*" + columns + " from (" + list + ") L" + joins;
    if (!conditions.isEmpty())
        sql += " where " + conditions.join(" and ");
    return sql;
}

void TIE::DeleteIE(const QString& id)
{
    LastSQL = FormatSQL("delete from IE where ID=%s ", {id});
    DbExecSQL(LastSQL);
    DbAccess->RefreshGrid();
}

void TIE::LoadIE(const QString& id)
{
    LastSQL = FormatSQL("select * from IE where ID=%s ", {id});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    const TDataSet& set = *query;
    TypeID = set.AsInteger("TypeID");
    IEUrl = set.AsString("IEUrl");
    IEName = set.AsString("IEName");
    ReMark = set.AsString("ReMark");
    Tags = set.AsString("Tags");
    TypeName = LoadTypeName(TypeID);
}

QString TIE::LoadTypeName(int n)
{
    LastSQL = FormatSQL("select TypeName from IEType where Selfindex=%s ", {QString::number(n)});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    const TDataSet& set = *query;
    return set.IsEmpty() ? QString() : set.AsString(0);
}

void TIE::UpdateIE(const QString& id)
{
    LastSQL = FormatSQL("update IE set TypeID=%s,IEUrl='%s',IEName='%s',ReMark='%s',Tags='%s' where ID=%s  ",
                        {QString::number(TypeID), SqlText(IEUrl), SqlText(IEName), SqlText(ReMark), SqlText(Tags), id});
    DbExecSQL(LastSQL);
}

QString TIE::DeleteGroupStatement(const QString& groupId)
{
    LastSQL = FormatSQL("delete from IE where TypeID=%s ", {groupId});
    return LastSQL;
}

void TIE::DeleteGroupIE(const QString& groupId)
{
    DbExecSQL(DeleteGroupStatement(groupId));
    DbAccess->RefreshGrid();
}

int TIE::FindAddress(const QString& url, int exceptId)
{
    const QString wanted = ComparableUrl(url);
    if (wanted.isEmpty())
        return -1;
    // LIKE ignores the case of Latin letters, as the comparison does in the
    // scheme and the host; the rows it lets through are compared exactly.
    const qsizetype mark = wanted.indexOf("://");
    QString core = wanted.mid(mark < 0 ? 0 : mark + 3);
    core.replace(u'\\', "\\\\").replace(u'%', "\\%").replace(u'_', "\\_");
    LastSQL =
        FormatSQL("select ID,TypeID,IEUrl from IE where IEUrl like '%%s%' escape '\\' order by ID", {SqlText(core)});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    for (TDataSet& set = *query; !set.Eof(); set.Next())
        if (set.AsInteger("ID") != exceptId && ComparableUrl(set.AsString("IEUrl")) == wanted)
            return set.AsInteger("TypeID");
    return -1;
}

// Decided on the address the desktop is handed (ShellOpen): an existing
// file is opened as that file, anything else as Qt reads a typed address.
bool IsWebAddress(const QString& address)
{
    static const QStringList webSchemes{"http", "https", "ftp", "mailto"};
    const QString text = TrimBlanks(address);
    if (text.isEmpty() || QFileInfo::exists(text))
        return false;
    const QUrl url = QUrl::fromUserInput(text);
    return url.isValid() && webSchemes.contains(url.scheme());
}

QString JoinedTags(const QString& typed)
{
    // A tag may hold a blank ("my tag") where commas separate them.
    static const QRegularExpression commas(QStringLiteral("[,，、;；]"));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList parts = typed.contains(commas) ? typed.split(commas) : typed.split(blanks);
    QStringList tags;
    for (const QString& part : parts) {
        const QString tag = TrimBlanks(part);
        if (!tag.isEmpty() && !tags.contains(tag))
            tags << tag;
    }
    return tags.join(u',');
}

QString ComparableUrl(const QString& url)
{
    QString text = TrimBlanks(url);
    const qsizetype mark = text.indexOf("://");
    qsizetype hostFrom = 0;
    qsizetype hostTo = 0;
    while (hostTo < text.size() && text[hostTo] != u'/' && text[hostTo] != u'?' && text[hostTo] != u'#')
        ++hostTo;
    if (mark >= 0) {
        for (qsizetype i = 0; i < mark; ++i)
            text[i] = text[i].toLower();
        hostFrom = mark + 3;
        hostTo = hostFrom;
        while (hostTo < text.size() && text[hostTo] != u'/' && text[hostTo] != u'?' && text[hostTo] != u'#')
            ++hostTo;
    } else if (const qsizetype colon = text.left(hostTo).indexOf(u':');
               colon >= 0 && !text.left(colon).contains(u'.')) {
        // "mailto:", "javascript:": a scheme without a host.
        hostTo = hostFrom;
    }
    if (hostTo > hostFrom) {
        const qsizetype at = text.lastIndexOf(u'@', hostTo - 1);
        if (at >= hostFrom)
            hostFrom = at + 1; // the user's part keeps its letters
        for (qsizetype i = hostFrom; i < hostTo; ++i)
            text[i] = text[i].toLower();
    }
    if (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

namespace {
void RunNative(const QString& sql, qint64 value = 0)
{
    try {
        sqlite3* db = DbAccess->Handle();
        TStmtHandle stmt = PrepareNative(db, sql);
        sqlite3_bind_int64(stmt.get(), 1, value);
        RunToEnd(db, stmt.get());
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, "数据库操作失败！", sql);
    }
}
} // namespace

TIEInserter::TIEInserter()
{
    RunNative("DROP TABLE IF EXISTS temp.IE_Import");
    RunNative("CREATE TEMP TABLE IE_Import(TypeID INTEGER, IEUrl TEXT, IEName TEXT, ReMark TEXT, Tags TEXT, "
              "AddDate INTEGER, LastModified INTEGER, ShortcutUrl TEXT, Pos INTEGER, IconUri TEXT)");
    try {
        m_insert =
            PrepareNative(DbAccess->Handle(), "INSERT INTO temp.IE_Import VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10)");
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, "数据库操作失败！", QString());
    }
}

qint64 TIEInserter::Insert(int typeId, const QString& url, const QString& name, const QString& remark,
                           const TIEFileFields& fields)
{
    sqlite3_stmt* stmt = m_insert.get();
    const QByteArray texts[] = {url.toUtf8(), name.toUtf8(), remark.toUtf8(), fields.Tags.toUtf8()};
    sqlite3_bind_int(stmt, 1, typeId);
    for (int i = 0; i < 4; ++i)
        sqlite3_bind_text(stmt, i + 2, texts[i].constData(), int(texts[i].size()), SQLITE_STATIC);
    const std::pair<int, std::optional<qint64>> numbers[] = {
        {6, fields.AddDate}, {7, fields.LastModified}, {9, fields.Pos}};
    for (const auto& [column, value] : numbers)
        value ? sqlite3_bind_int64(stmt, column, *value) : sqlite3_bind_null(stmt, column);
    const QByteArray shortcut = fields.ShortcutUrl.toUtf8();
    sqlite3_bind_text(stmt, 8, shortcut.constData(), int(shortcut.size()), SQLITE_STATIC);
    const QByteArray iconUri = fields.IconUri.toUtf8();
    sqlite3_bind_text(stmt, 10, iconUri.constData(), int(iconUri.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE)
        throw EDBException(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt))), "数据库操作失败！",
                           "INSERT INTO temp.IE_Import");
    return m_gathered++;
}

void TIEInserter::Move(qint64 most)
{
    const qint64 upTo = std::min(m_gathered, m_moved + most);
    if (upTo <= m_moved)
        return;
    // Rows of the fresh table are numbered 1, 2, ... in the order they came.
    RunNative("INSERT INTO IE(TypeID,IEUrl,IEName,ReMark,Tags,AddDate,LastModified,ShortcutUrl,Pos,IconUri) "
              "SELECT TypeID,IEUrl,IEName,ReMark,Tags,AddDate,LastModified,ShortcutUrl,Pos,IconUri "
              "FROM temp.IE_Import "
              "WHERE rowid<=?1 ORDER BY rowid",
              upTo);
    // The last row's ID; the triggers' own inserts do not change it.
    const qint64 lastId = sqlite3_last_insert_rowid(DbAccess->Handle());
    m_firstIds.emplace_back(m_moved, lastId - (upTo - m_moved) + 1);
    RunNative("DELETE FROM temp.IE_Import WHERE rowid<=?1", upTo);
    m_moved = upTo;
}

void TIEInserter::Finish()
{
    Move(Pending());
    m_insert.reset();
    RunNative("DROP TABLE temp.IE_Import");
}

qint64 TIEInserter::Id(qint64 number) const
{
    const auto after =
        std::upper_bound(m_firstIds.begin(), m_firstIds.end(), number,
                         [](qint64 wanted, const std::pair<qint64, qint64>& move) { return wanted < move.first; });
    Q_ASSERT(after != m_firstIds.begin() && number < m_moved);
    const auto& [firstNumber, firstId] = *std::prev(after);
    return firstId + (number - firstNumber);
}

int TIE::CountInGroups(const QString& in)
{
    LastSQL = FormatSQL("select count(*) from IE where TypeID in %s ", {in});
    return DbGetIntValue(LastSQL);
}

QString TIE::DeleteGroupsStatement(const QString& in)
{
    LastSQL = FormatSQL("delete from IE where TypeID in %s ", {in});
    return LastSQL;
}

namespace {
// "ID=5" for one bookmark, "ID in (5,8)" for several.
QString IdCondition(const QList<int>& ids)
{
    return ids.size() == 1 ? "ID=" + QString::number(ids.first()) : "ID in " + SqlInList(ids);
}
} // namespace

QList<qint64> TIE::DeleteIEs(const QList<int>& ids)
{
    if (ids.isEmpty())
        return {};
    LastSQL = FormatSQL("delete from IE where %s ", {IdCondition(ids)});
    QList<qint64> entries;
    DbAccess->Batch([&] {
        entries = DeleteKeeper().KeepBookmarks(ids);
        DbExecSQL(LastSQL);
    });
    return entries;
}

void TIE::MoveIEs(const QList<int>& ids, int typeId)
{
    if (ids.isEmpty())
        return;
    LastSQL = FormatSQL("update IE set TypeID=%s where %s ", {QString::number(typeId), IdCondition(ids)});
    DbExecSQL(LastSQL);
}

int TIE::CountElsewhere(const QList<int>& ids, int typeId)
{
    if (ids.isEmpty())
        return 0;
    LastSQL =
        FormatSQL("select count(*) from IE where %s and TypeID<>%s ", {IdCondition(ids), QString::number(typeId)});
    return DbGetIntValue(LastSQL);
}
