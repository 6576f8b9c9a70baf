#include "exchange/BookmarkFile.h"

#include "bookmarks/UntIE.h"
#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/SqliteDb.h"
#include "exchange/HtmlEntities.h"
#include "groups/GroupTableStore.h"
#include "links/LinkStore.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <functional>
#include <sqlite3.h>
#include <tuple>

namespace {
// Nesting deeper than this is no longer indented: indentation that grew
// with the depth would make the file grow with its square.
constexpr int kDeepestIndent = 16;
// Bookmarks moved into the table by one statement: large enough that the
// search index is written out seldom, small enough for the progress to move.
constexpr qint64 kMovedAtOnce = 10000;

QString Damaged(const QString& path, const QString& why)
{
    return QString("书签文件已损坏（%1）：%2").arg(why, QDir::toNativeSeparators(path));
}

QString DecodeEntities(QStringView text)
{
    if (!text.contains(u'&'))
        return text.toString();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype end = text[i] == u'&' ? text.indexOf(u';', i) : -1;
        if (end < 0 || end - i > kLongestEntityName + 1) {
            out += text[i];
            continue;
        }
        const QStringView name = text.mid(i + 1, end - i - 1);
        QString decoded;
        if (name.startsWith(u'#')) {
            bool ok = true;
            const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
            const char32_t code = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            if (ok && code != 0 && code <= 0x10FFFF)
                decoded = QString::fromUcs4(&code, 1);
        } else {
            decoded = HtmlEntityText(name);
        }
        if (decoded.isEmpty()) {
            out += text[i];
            continue;
        }
        out += decoded;
        i = end;
    }
    return out;
}

// The image of a "data:image/png;base64,..." address; empty for any other.
QByteArray DataAddressBytes(QStringView value)
{
    const qsizetype comma = value.indexOf(u',');
    if (!value.startsWith(QLatin1String("data:image/"), Qt::CaseInsensitive) || comma < 0 ||
        !value.left(comma).endsWith(QLatin1String(";base64"), Qt::CaseInsensitive))
        return QByteArray();
    return QByteArray::fromBase64(value.mid(comma + 1).toLatin1());
}

std::optional<qint64> Seconds(QStringView value)
{
    bool ok = false;
    const qint64 seconds = value.trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(seconds) : std::nullopt;
}

QString Escaped(const QString& text)
{
    // Qt's escaping covers & < > "; browsers write the apostrophe as &#39; too.
    return text.toHtmlEscaped().replace(u'\'', QLatin1String("&#39;"));
}

// One pass over the file's tags.
class TParser
{
public:
    TParser(const QString& text, const QString& path, TProgressPacer* pacer)
        : m_text(text), m_path(path), m_pacer(pacer)
    {
    }

    TBookmarkTree Parse()
    {
        qsizetype at = 0;
        while (at < m_text.size() && m_text[at].isSpace())
            ++at;
        if (!QStringView(m_text).mid(at).startsWith(QLatin1String("<!DOCTYPE NETSCAPE-Bookmark-file-1>"),
                                                    Qt::CaseInsensitive))
            RaiseError(
                QString("不是浏览器导出的书签文件（Netscape 书签格式）：%1").arg(QDir::toNativeSeparators(m_path)));
        m_at = at;
        bool started = false;
        while (NextTag()) {
            if (m_pacer)
                m_pacer->Step(m_at, m_text.size());
            if (m_tag == QLatin1String("dl")) {
                // The first list is the top; a later one belongs to the folder just named.
                m_open.push_back(started ? m_pendingFolder : -1);
                started = true;
                m_pendingFolder = m_open.back();
                m_described = -1;
            } else if (m_tag == QLatin1String("/dl")) {
                if (m_open.empty())
                    RaiseError(Damaged(m_path, "列表结束得多于开始"));
                m_open.pop_back();
                m_described = -1;
                if (m_open.empty())
                    break;
                m_pendingFolder = m_open.back();
            } else if (m_tag == QLatin1String("h3") && !m_open.empty()) {
                TBookmarkItem folder;
                folder.Parent = m_open.back();
                folder.Folder = true;
                folder.AddDate = m_attributes.AddDate;
                folder.LastModified = m_attributes.LastModified;
                folder.Toolbar = m_attributes.Toolbar;
                folder.Title = InnerText(QLatin1String("</h3"));
                m_tree.Items.push_back(std::move(folder));
                m_pendingFolder = int(m_tree.Items.size() - 1);
                m_described = m_pendingFolder;
            } else if (m_tag == QLatin1String("a") && !m_open.empty()) {
                TBookmarkItem link = std::move(m_attributes);
                link.Parent = m_open.back();
                link.Url = link.Url.trimmed();
                link.Title = InnerText(QLatin1String("</a"));
                m_tree.Items.push_back(std::move(link));
                m_described = int(m_tree.Items.size() - 1);
            } else if (m_tag == QLatin1String("hr") && !m_open.empty()) {
                TBookmarkItem separator;
                separator.Parent = m_open.back();
                separator.Separator = true;
                m_tree.Items.push_back(std::move(separator));
                m_described = -1;
            } else if (m_tag == QLatin1String("dd") && m_described >= 0) {
                const qsizetype end = m_text.indexOf(u'<', m_at);
                const qsizetype stop = end < 0 ? m_text.size() : end;
                m_tree.Items[size_t(m_described)].Remark =
                    DecodeEntities(QStringView(m_text).mid(m_at, stop - m_at)).trimmed();
                m_at = stop;
                m_described = -1;
            }
        }
        if (!started)
            RaiseError(Damaged(m_path, "没有书签列表"));
        if (!m_open.empty())
            RaiseError(Damaged(m_path, "文件不完整，书签列表没有结束"));
        return std::move(m_tree);
    }

private:
    // Moves to the next tag and reads its name (in small letters) and the
    // attributes an item keeps; comments and declarations are passed by.
    // False at the end.
    bool NextTag()
    {
        for (;;) {
            const qsizetype open = m_text.indexOf(u'<', m_at);
            if (open < 0)
                return false;
            if (QStringView(m_text).mid(open).startsWith(QLatin1String("<!--"))) {
                const qsizetype end = m_text.indexOf(QLatin1String("-->"), open + 4);
                if (end < 0)
                    RaiseError(Damaged(m_path, "注释没有结束"));
                m_at = end + 3;
                continue;
            }
            qsizetype i = open + 1;
            while (i < m_text.size() && (m_text[i].isLetterOrNumber() || m_text[i] == u'/' || m_text[i] == u'!'))
                ++i;
            m_tag = m_text.mid(open + 1, i - open - 1).toLower();
            m_attributes = TBookmarkItem();
            // Attributes up to the tag's end; a ">" inside quotes is part of a value.
            while (i < m_text.size() && m_text[i] != u'>') {
                if (m_text[i].isSpace()) {
                    ++i;
                    continue;
                }
                const qsizetype nameFrom = i;
                while (i < m_text.size() && !m_text[i].isSpace() && m_text[i] != u'=' && m_text[i] != u'>')
                    ++i;
                const QStringView name = QStringView(m_text).mid(nameFrom, i - nameFrom);
                QStringView value;
                if (i < m_text.size() && m_text[i] == u'=') {
                    ++i;
                    if (i < m_text.size() && (m_text[i] == u'"' || m_text[i] == u'\'')) {
                        const QChar quote = m_text[i];
                        const qsizetype end = m_text.indexOf(quote, i + 1);
                        if (end < 0)
                            RaiseError(Damaged(m_path, "属性值没有结束"));
                        value = QStringView(m_text).mid(i + 1, end - i - 1);
                        i = end + 1;
                    } else {
                        const qsizetype from = i;
                        while (i < m_text.size() && !m_text[i].isSpace() && m_text[i] != u'>')
                            ++i;
                        value = QStringView(m_text).mid(from, i - from);
                    }
                }
                Keep(name, value);
            }
            if (i >= m_text.size())
                RaiseError(Damaged(m_path, "标记没有结束"));
            m_at = i + 1;
            return true;
        }
    }

    // Keeps an attribute of the tag that a link or folder holds.
    void Keep(QStringView name, QStringView value)
    {
        const auto is = [name](const char* wanted) {
            return name.compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0;
        };
        if (is("href"))
            m_attributes.Url = DecodeEntities(value);
        else if (is("add_date"))
            m_attributes.AddDate = Seconds(value);
        else if (is("last_modified"))
            m_attributes.LastModified = Seconds(value);
        else if (is("personal_toolbar_folder"))
            m_attributes.Toolbar = value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
        else if (is("tags"))
            m_attributes.Tags = DecodeEntities(value);
        else if (is("shortcuturl"))
            m_attributes.ShortcutUrl = DecodeEntities(value);
        else if (is("icon"))
            m_attributes.Icon = DataAddressBytes(value);
        else if (is("icon_uri"))
            m_attributes.IconUri = DecodeEntities(value);
    }

    // The text up to the next tag, which should close it; a title holds no
    // tag. Looking no further than the next tag keeps a file of titles that
    // are never closed from being searched to its end once for each.
    QString InnerText(QLatin1String close)
    {
        const qsizetype end = m_text.indexOf(u'<', m_at);
        if (end < 0)
            RaiseError(Damaged(m_path, "文件不完整，标题没有结束"));
        const QString title = DecodeEntities(QStringView(m_text).mid(m_at, end - m_at)).trimmed();
        m_at = end;
        if (QStringView(m_text).mid(end).startsWith(close, Qt::CaseInsensitive)) {
            m_at = m_text.indexOf(u'>', end);
            if (m_at < 0)
                RaiseError(Damaged(m_path, "标记没有结束"));
            ++m_at;
        }
        return title;
    }

    const QString& m_text;
    const QString& m_path;
    TProgressPacer* m_pacer;
    qsizetype m_at = 0;
    QString m_tag;
    TBookmarkItem m_attributes; // those of the last tag
    std::vector<int> m_open;    // the folders whose lists are open (-1: the top)
    int m_pendingFolder = -1;
    int m_described = -1; // the link or folder a <DD> would describe
    TBookmarkTree m_tree;
};

QString Indent(size_t level)
{
    return QString(qsizetype(std::min<size_t>(level, kDeepestIndent)) * 4, u' ');
}

QString DateAttributes(const TBookmarkItem& item)
{
    QString text;
    if (item.AddDate)
        text += QString(" ADD_DATE=\"%1\"").arg(*item.AddDate);
    if (item.LastModified)
        text += QString(" LAST_MODIFIED=\"%1\"").arg(*item.LastModified);
    return text;
}

// The image's type as its first bytes tell it; PNG, what icons mostly are, otherwise.
QString IconType(const QByteArray& image)
{
    if (image.startsWith("GIF8"))
        return "image/gif";
    if (image.startsWith("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (image.startsWith(QByteArray("\0\0\1\0", 4)))
        return "image/x-icon";
    return "image/png";
}

// After HREF, in the order Firefox writes them.
QString LinkAttributes(const TBookmarkItem& item)
{
    QString text = DateAttributes(item);
    if (!item.IconUri.isEmpty())
        text += " ICON_URI=\"" + Escaped(item.IconUri) + "\"";
    if (!item.Icon.isEmpty())
        text += " ICON=\"data:" + IconType(item.Icon) + ";base64," + QString::fromLatin1(item.Icon.toBase64()) + "\"";
    if (!item.ShortcutUrl.isEmpty())
        text += " SHORTCUTURL=\"" + Escaped(item.ShortcutUrl) + "\"";
    if (!item.Tags.isEmpty())
        text += " TAGS=\"" + Escaped(item.Tags) + "\"";
    return text;
}

// The lists of the tree, each folder's after its title, written from a list
// of the folders open so far: no depth can exhaust the stack.
void WriteLists(const TBookmarkTree& tree, const std::vector<std::vector<int>>& children, QString& out)
{
    out += "<DL><p>\n";
    std::vector<std::pair<int, size_t>> open{{-1, 0}}; // a folder (-1: the top) and its next item
    while (!open.empty()) {
        const auto [folder, next] = open.back();
        const std::vector<int>& items = children[size_t(folder + 1)];
        const QString indent = Indent(open.size());
        if (next == items.size()) {
            open.pop_back();
            out += Indent(open.size()) + "</DL><p>\n";
            continue;
        }
        ++open.back().second;
        const TBookmarkItem& item = tree.Items[size_t(items[next])];
        if (item.Separator) {
            out += indent + "<HR>\n";
        } else if (item.Folder) {
            out += indent + "<DT><H3" + DateAttributes(item) +
                   (item.Toolbar ? " PERSONAL_TOOLBAR_FOLDER=\"true\"" : "") + ">" + Escaped(item.Title) + "</H3>\n";
            if (!item.Remark.isEmpty())
                out += indent + "<DD>" + Escaped(item.Remark) + "\n";
            out += indent + "<DL><p>\n";
            open.emplace_back(items[next], 0);
        } else {
            out += indent + "<DT><A HREF=\"" + Escaped(item.Url) + "\"" + LinkAttributes(item) + ">" +
                   Escaped(item.Title) + "</A>\n";
            if (!item.Remark.isEmpty())
                out += indent + "<DD>" + Escaped(item.Remark) + "\n";
        }
    }
}

QString Column(sqlite3_stmt* stmt, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

std::optional<qint64> OptionalColumn(sqlite3_stmt* stmt, int column)
{
    if (sqlite3_column_type(stmt, column) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(stmt, column);
}

// Runs a query and hands each row to `row`.
void ForEachRow(const QString& sql, const std::function<void(sqlite3_stmt*)>& row)
{
    try {
        sqlite3* db = DbAccess->Handle();
        TStmtHandle stmt = PrepareNative(db, sql);
        int step;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW)
            row(stmt.get());
        if (step != SQLITE_DONE)
            ThrowSqlError(db);
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, kQueryErrorText, sql);
    }
}

// A link, folder or separator of a folder, and where it goes among the others.
struct TPlaced
{
    std::optional<qint64> Pos; // null: after those with a place
    int Rank = 0;              // without a place: links (0) before folders (1)
    TBookmarkItem Item;
    int Group = -1; // a folder's group
};

// What an export writes of a group besides its name, and where its
// separators go among its items.
struct TFolderFields
{
    TBookmarkItem Item;
    std::optional<qint64> Pos;
    QString Separators;
};

QHash<int, TFolderFields> ReadFolderFields()
{
    QHash<int, TFolderFields> fields;
    ForEachRow("SELECT SelfIndex, AddDate, LastModified, Description, Toolbar, Separators, Pos FROM IEType",
               [&](sqlite3_stmt* stmt) {
                   TFolderFields& folder = fields[sqlite3_column_int(stmt, 0)];
                   folder.Item.Folder = true;
                   folder.Item.AddDate = OptionalColumn(stmt, 1);
                   folder.Item.LastModified = OptionalColumn(stmt, 2);
                   folder.Item.Remark = Column(stmt, 3);
                   folder.Item.Toolbar = sqlite3_column_int(stmt, 4) != 0;
                   folder.Separators = Column(stmt, 5);
                   folder.Pos = OptionalColumn(stmt, 6);
               });
    ForEachRow("SELECT IESeparators FROM SysSet", [&](sqlite3_stmt* stmt) { fields[0].Separators = Column(stmt, 0); });
    return fields;
}

// A group's links, folders and separators in the order they are written:
// those with a place by it, then links, then folders.
std::vector<TPlaced> Arranged(const TGroupTable& groups, int group, std::vector<TPlaced> links,
                              const QHash<int, TFolderFields>& fields)
{
    std::vector<TPlaced> placed = std::move(links);
    for (int child : groups.Children(group)) {
        const TFolderFields folder = fields.value(child);
        TPlaced entry{folder.Pos, 1, folder.Item, child};
        entry.Item.Title = groups.Name(child);
        placed.push_back(std::move(entry));
    }
    for (const QString& number : fields.value(group).Separators.split(u',', Qt::SkipEmptyParts)) {
        TPlaced entry{number.toLongLong(), -1, TBookmarkItem(), -1};
        entry.Item.Separator = true;
        placed.push_back(std::move(entry));
    }
    std::stable_sort(placed.begin(), placed.end(), [](const TPlaced& a, const TPlaced& b) {
        if (a.Pos.has_value() != b.Pos.has_value())
            return a.Pos.has_value();
        return a.Pos ? std::tie(*a.Pos, a.Rank) < std::tie(*b.Pos, b.Rank) : a.Rank < b.Rank;
    });
    return placed;
}

// Every group as a folder and its bookmarks as links, group after group from
// a list of those still to come; each folder before what it holds.
void AddGroupFolders(const TGroupTable& groups, QHash<int, std::vector<TPlaced>>& links, TBookmarkTree& tree)
{
    const QHash<int, TFolderFields> fields = ReadFolderFields();
    std::vector<std::pair<int, int>> pending{{0, -1}}; // a group and its folder's index (-1: the top)
    for (size_t next = 0; next < pending.size(); ++next) {
        const auto [group, folder] = pending[next];
        for (TPlaced& entry : Arranged(groups, group, links.take(group), fields)) {
            entry.Item.Parent = folder;
            tree.Items.push_back(std::move(entry.Item));
            if (entry.Group >= 0)
                pending.emplace_back(entry.Group, int(tree.Items.size() - 1));
        }
    }
}

// A name as an import gives it, before " (2)" is added: one line, "未命名"
// for a blank one.
QString ImportedName(const QString& wanted)
{
    const QString name = OneLineName(wanted);
    return TrimBlanks(name).isEmpty() ? QString("未命名") : name;
}

// The name without the " (2)", " (3)" ... that an import adds to a taken one.
QString WithoutNumber(const QString& name)
{
    if (!name.endsWith(u')'))
        return name;
    const qsizetype open = name.lastIndexOf(QLatin1String(" ("));
    if (open <= 0 || open + 3 >= name.size())
        return name;
    for (qsizetype i = open + 2; i < name.size() - 1; ++i)
        if (!name[i].isDigit())
            return name;
    return name.left(open);
}

// The groups under the chosen one from before the import, by parent and name
// without its number: a folder of a file imported again goes into the group
// it made the first time, also where that got " (2)" for a name taken
// elsewhere in the tree. Each group takes one folder.
class TExistingGroups
{
public:
    TExistingGroups(const TGroupTable& groups, int top)
    {
        for (int group : groups.Branch(top))
            for (int child : groups.Children(group))
                m_byName[{group, WithoutNumber(groups.Name(child))}].push_back({child, groups.Name(child)});
    }

    // The group for a folder named `wanted` under a parent, the one of that
    // very name first; -1 when there is none left.
    int Take(int parent, const QString& wanted)
    {
        const QString name = ImportedName(wanted);
        const auto found = m_byName.find({parent, WithoutNumber(name)});
        if (found == m_byName.end() || found->empty())
            return -1;
        std::vector<std::pair<int, QString>>& candidates = *found;
        auto pick = std::find_if(candidates.begin(), candidates.end(),
                                 [&](const std::pair<int, QString>& group) { return group.second == name; });
        if (pick == candidates.end())
            pick = candidates.begin();
        const int group = pick->first;
        candidates.erase(pick);
        return group;
    }

private:
    QHash<std::pair<int, QString>, std::vector<std::pair<int, QString>>> m_byName;
};

// One import's writing, in the caller's transaction: the items in the
// file's order, then the bookmarks moved into their table, their icons, and
// what the new folders keep of the file.
class TBookmarkImport
{
public:
    TBookmarkImport(const TGroupTable& groups, int parent, const TBookmarkTree& tree, TProgressPacer& pacer,
                    TImportReport& report)
        : m_parent(parent), m_tree(tree), m_pacer(pacer), m_report(report), m_existing(groups, parent),
          m_newGroups(groups), m_groupOf(tree.Items.size(), parent), m_nextPos(tree.Items.size() + 1, 0),
          m_separators(tree.Items.size() + 1)
    {
        // Progress counts each item read in, each bookmark moved into the
        // table, and each folder's fields and icon written (at most).
        for (const TBookmarkItem& item : tree.Items)
            m_total += item.Folder ? 2 : item.Separator ? 1 : item.Icon.isEmpty() ? 2 : 3;
    }

    void Run()
    {
        for (size_t i = 0; i < m_tree.Items.size(); ++i) {
            m_pacer.Step(qint64(i), m_total);
            Place(i);
        }
        MoveLinks();
        WriteFolderFields();
        PutIcons();
    }

private:
    // Files the item where its folder went, at its place among the folder's items.
    void Place(size_t i)
    {
        const TBookmarkItem& item = m_tree.Items[i];
        const int group = GroupOf(item.Parent);
        const qint64 pos = m_nextPos[size_t(item.Parent + 1)]++;
        if (item.Separator)
            m_separators[size_t(item.Parent + 1)] << QString::number(pos);
        else if (item.Folder)
            PlaceFolder(i, group, pos);
        else
            PlaceLink(item, group, pos);
    }

    int GroupOf(int folder) const { return folder < 0 ? m_parent : m_groupOf[size_t(folder)]; }

    void PlaceFolder(size_t i, int group, qint64 pos)
    {
        const TBookmarkItem& item = m_tree.Items[i];
        const int merged = m_existing.Take(group, item.Title);
        if (merged >= 0) {
            m_groupOf[i] = merged;
            ++m_report.Merged;
            return;
        }
        m_groupOf[i] = m_newGroups.Add(group, item.Title, m_report);
        m_stored.insert(m_groupOf[i], {});
        m_newFolders.emplace_back(i, pos);
        ++m_report.Groups;
    }

    void PlaceLink(const TBookmarkItem& item, int group, qint64 pos)
    {
        if (item.Url.isEmpty()) {
            ++m_report.WithoutAddress;
            return;
        }
        QSet<QString>& known = Known(group);
        const QString comparable = ComparableUrl(item.Url);
        if (known.contains(comparable)) {
            ++m_report.Duplicates;
            return;
        }
        known.insert(comparable);
        const qint64 number = m_inserter.Insert(
            group, item.Url, item.Title, item.Remark,
            TIEFileFields{item.Tags, item.AddDate, item.LastModified, item.ShortcutUrl, pos, item.IconUri});
        if (!item.Icon.isEmpty())
            m_icons.emplace_back(number, &item.Icon);
        ++m_report.Items;
    }

    // The addresses in a group, read when the import first files a link there.
    QSet<QString>& Known(int group)
    {
        const auto found = m_stored.find(group);
        if (found != m_stored.end())
            return *found;
        QSet<QString>& known = m_stored[group];
        ForEachRow(QString("SELECT IEUrl FROM IE WHERE TypeID=%1").arg(group),
                   [&](sqlite3_stmt* stmt) { known.insert(ComparableUrl(Column(stmt, 0))); });
        return known;
    }

    void MoveLinks()
    {
        m_done = qint64(m_tree.Items.size());
        while (m_inserter.Pending() > 0) {
            m_pacer.Step(m_done, m_total);
            m_done += std::min(m_inserter.Pending(), kMovedAtOnce);
            m_inserter.Move(kMovedAtOnce);
        }
        m_inserter.Finish();
    }

    // The new folders' dates, descriptions, toolbar marks, separators and
    // places; the top's separators go to the chosen group (全部 included)
    // when it has none.
    void WriteFolderFields()
    {
        const QString sql = "UPDATE IEType SET AddDate=?1, LastModified=?2, Description=?3, Toolbar=?4, "
                            "Separators=?5, Pos=?6 WHERE SelfIndex=?7";
        TStmtHandle update = Prepared(sql);
        for (const auto& [index, pos] : m_newFolders) {
            m_pacer.Step(m_done++, m_total);
            const TBookmarkItem& item = m_tree.Items[index];
            sqlite3_stmt* stmt = update.get();
            BindOptional(stmt, 1, item.AddDate);
            BindOptional(stmt, 2, item.LastModified);
            BindText(stmt, 3, item.Remark.toUtf8());
            sqlite3_bind_int(stmt, 4, item.Toolbar ? 1 : 0);
            BindText(stmt, 5, m_separators[index + 1].join(u',').toUtf8());
            sqlite3_bind_int64(stmt, 6, pos);
            sqlite3_bind_int(stmt, 7, m_groupOf[index]);
            Step(stmt);
        }
        if (m_separators[0].isEmpty())
            return;
        TStmtHandle top =
            Prepared(m_parent == 0 ? "UPDATE SysSet SET IESeparators=?1 WHERE IESeparators=''"
                                   : "UPDATE IEType SET Separators=?1 WHERE SelfIndex=?2 AND Separators=''");
        BindText(top.get(), 1, m_separators[0].join(u',').toUtf8());
        if (m_parent != 0)
            sqlite3_bind_int(top.get(), 2, m_parent);
        Step(top.get());
    }

    void PutIcons()
    {
        for (const auto& [number, image] : m_icons) {
            m_pacer.Step(m_done++, m_total);
            PutSiteIcon(m_inserter.Id(number), *image);
        }
    }

    static TStmtHandle Prepared(const QString& sql)
    {
        try {
            return PrepareNative(DbAccess->Handle(), sql);
        } catch (const TSqlError& e) {
            throw EDBException(e.Message, kQueryErrorText, sql);
        }
    }

    static void BindOptional(sqlite3_stmt* stmt, int column, const std::optional<qint64>& value)
    {
        value ? sqlite3_bind_int64(stmt, column, *value) : sqlite3_bind_null(stmt, column);
    }

    // The text is copied: the statement runs after the bytes are gone.
    static void BindText(sqlite3_stmt* stmt, int column, const QByteArray& text)
    {
        sqlite3_bind_text(stmt, column, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }

    static void Step(sqlite3_stmt* stmt)
    {
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        if (rc != SQLITE_DONE)
            throw EDBException(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt))), "数据库操作失败！",
                               QString::fromUtf8(sqlite3_sql(stmt)));
    }

    const int m_parent;
    const TBookmarkTree& m_tree;
    TProgressPacer& m_pacer;
    TImportReport& m_report;
    TExistingGroups m_existing;
    TImportGroups m_newGroups;
    TIEInserter m_inserter;
    qint64 m_total = 0;
    qint64 m_done = 0;                                         // of m_total, once the items are read in
    std::vector<int> m_groupOf;                                // each folder's group
    std::vector<qint64> m_nextPos;                             // by folder (the top first): its next item's place
    std::vector<QStringList> m_separators;                     // by folder (the top first)
    std::vector<std::pair<size_t, qint64>> m_newFolders;       // a folder made anew and its place
    QHash<int, QSet<QString>> m_stored;                        // the addresses of each group filed to
    std::vector<std::pair<qint64, const QByteArray*>> m_icons; // a gathered bookmark and its icon
};
} // namespace

TBookmarkTree ParseBookmarkFile(const QString& text, const QString& path, TProgressPacer* pacer)
{
    return TParser(text, path, pacer).Parse();
}

QByteArray WriteBookmarkFile(const TBookmarkTree& tree)
{
    std::vector<std::vector<int>> children(tree.Items.size() + 1);
    for (size_t i = 0; i < tree.Items.size(); ++i)
        children[size_t(tree.Items[i].Parent + 1)].push_back(int(i));
    QString out = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                  "<!-- This is an automatically generated file.\n"
                  "     It will be read and overwritten.\n"
                  "     DO NOT EDIT! -->\n"
                  "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                  "<TITLE>Bookmarks</TITLE>\n"
                  "<H1>Bookmarks</H1>\n";
    WriteLists(tree, children, out);
    return out.toUtf8();
}

std::pair<int, int> ExportBookmarkFile(const TGroupTable& groups, const QString& path)
{
    RefuseOwnFile(path); // before the bookmarks are read
    QHash<int, std::vector<TPlaced>> links;
    int count = 0;
    ForEachRow("SELECT TypeID, IEUrl, IEName, ReMark, Tags, AddDate, LastModified, ShortcutUrl, Pos, Icon, IconUri "
               "FROM IE LEFT JOIN SiteIcon ON SiteIcon.IEID=IE.ID ORDER BY ID",
               [&](sqlite3_stmt* stmt) {
                   TPlaced link;
                   link.Item.Url = Column(stmt, 1);
                   link.Item.Title = Column(stmt, 2);
                   link.Item.Remark = Column(stmt, 3);
                   link.Item.Tags = Column(stmt, 4);
                   link.Item.AddDate = OptionalColumn(stmt, 5);
                   link.Item.LastModified = OptionalColumn(stmt, 6);
                   link.Item.ShortcutUrl = Column(stmt, 7);
                   link.Pos = OptionalColumn(stmt, 8);
                   link.Item.Icon = QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, 9)),
                                               sqlite3_column_bytes(stmt, 9));
                   link.Item.IconUri = Column(stmt, 10);
                   // A bookmark of a group that is gone is listed under the root, as the program shows it.
                   const int group = sqlite3_column_int(stmt, 0);
                   links[groups.Contains(group) ? group : 0].push_back(std::move(link));
                   ++count;
               });
    TBookmarkTree tree;
    AddGroupFolders(groups, links, tree);
    WriteFileSafely(path, WriteBookmarkFile(tree));
    return {groups.Count(), count};
}

TImportReport ImportBookmarkFile(TGroupTable& groups, int parent, const QString& path, const TProgress& progress)
{
    TProgressPacer pacer(progress);
    pacer.Stage(300);
    const TBookmarkTree tree = [&] {
        const QString text = DecodeUtf8(ReadWholeFile(path, MaxBookmarkFileBytes), path);
        return ParseBookmarkFile(text, path, &pacer);
    }();
    pacer.EndStage();
    pacer.Stage(700);
    TImportReport report;
    try {
        DbAccess->Batch([&] {
            TBookmarkImport(groups, parent, tree, pacer, report).Run();
            // A cancel up to the last moment still changes nothing.
            pacer.EndStage();
        });
    } catch (...) {
        groups.Load();
        throw;
    }
    groups.Load();
    return report;
}
