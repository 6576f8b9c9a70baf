#include "exchange/BookmarkFile.h"

#include "bookmarks/UntIE.h"
#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/SqliteDb.h"
#include "groups/GroupTableStore.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <sqlite3.h>

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
        if (end < 0 || end - i > 12) {
            out += text[i];
            continue;
        }
        const QStringView name = text.mid(i + 1, end - i - 1);
        char32_t code = 0;
        bool ok = true;
        if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(u'#'))
            code = name.mid(1).toUInt(&ok, 10);
        else if (name == QLatin1String("amp"))
            code = '&';
        else if (name == QLatin1String("lt"))
            code = '<';
        else if (name == QLatin1String("gt"))
            code = '>';
        else if (name == QLatin1String("quot"))
            code = '"';
        else if (name == QLatin1String("apos"))
            code = '\'';
        else if (name == QLatin1String("nbsp"))
            code = 0xA0;
        else
            ok = false;
        if (!ok || code == 0 || code > 0x10FFFF) {
            out += text[i];
            continue;
        }
        out += QString::fromUcs4(&code, 1);
        i = end;
    }
    return out;
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
            } else if (m_tag == QLatin1String("/dl")) {
                if (m_open.empty())
                    RaiseError(Damaged(m_path, "列表结束得多于开始"));
                m_open.pop_back();
                m_lastLink = -1;
                if (m_open.empty())
                    break;
                m_pendingFolder = m_open.back();
            } else if (m_tag == QLatin1String("h3") && !m_open.empty()) {
                TBookmarkItem folder;
                folder.Parent = m_open.back();
                folder.Folder = true;
                folder.Title = InnerText(QLatin1String("</h3"));
                m_tree.Items.push_back(std::move(folder));
                m_pendingFolder = int(m_tree.Items.size() - 1);
                m_lastLink = -1;
            } else if (m_tag == QLatin1String("a") && !m_open.empty()) {
                TBookmarkItem link;
                link.Parent = m_open.back();
                link.Url = m_href.trimmed();
                link.Title = InnerText(QLatin1String("</a"));
                m_tree.Items.push_back(std::move(link));
                m_lastLink = int(m_tree.Items.size() - 1);
            } else if (m_tag == QLatin1String("dd") && m_lastLink >= 0) {
                const qsizetype end = m_text.indexOf(u'<', m_at);
                const qsizetype stop = end < 0 ? m_text.size() : end;
                m_tree.Items[size_t(m_lastLink)].Remark =
                    DecodeEntities(QStringView(m_text).mid(m_at, stop - m_at)).trimmed();
                m_at = stop;
                m_lastLink = -1;
            }
        }
        if (!started)
            RaiseError(Damaged(m_path, "没有书签列表"));
        if (!m_open.empty())
            RaiseError(Damaged(m_path, "文件不完整，书签列表没有结束"));
        return std::move(m_tree);
    }

private:
    // Moves to the next tag and reads its name (in small letters) and its
    // HREF; comments and declarations are passed by. False at the end.
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
            m_href.clear();
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
                if (name.compare(QLatin1String("href"), Qt::CaseInsensitive) == 0)
                    m_href = DecodeEntities(value);
            }
            if (i >= m_text.size())
                RaiseError(Damaged(m_path, "标记没有结束"));
            m_at = i + 1;
            return true;
        }
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
    QString m_href;
    std::vector<int> m_open; // the folders whose lists are open (-1: the top)
    int m_pendingFolder = -1;
    int m_lastLink = -1;
    TBookmarkTree m_tree;
};

QString Indent(size_t level)
{
    return QString(qsizetype(std::min<size_t>(level, kDeepestIndent)) * 4, u' ');
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
        if (item.Folder) {
            out += indent + "<DT><H3>" + Escaped(item.Title) + "</H3>\n";
            out += indent + "<DL><p>\n";
            open.emplace_back(items[next], 0);
        } else {
            out += indent + "<DT><A HREF=\"" + Escaped(item.Url) + "\">" + Escaped(item.Title) + "</A>\n";
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

// Every group as a folder and its bookmarks as links, group after group from
// a list of those still to come; each folder before what it holds.
void AddGroupFolders(const TGroupTable& groups, const QHash<int, std::vector<TBookmarkItem>>& links,
                     TBookmarkTree& tree)
{
    std::vector<std::pair<int, int>> pending{{0, -1}}; // a group and its folder's index (-1: the top)
    for (size_t next = 0; next < pending.size(); ++next) {
        const auto [group, folder] = pending[next];
        for (TBookmarkItem link : links.value(group)) {
            link.Parent = folder;
            tree.Items.push_back(std::move(link));
        }
        for (int child : groups.Children(group)) {
            TBookmarkItem item;
            item.Parent = folder;
            item.Folder = true;
            item.Title = groups.Name(child);
            tree.Items.push_back(std::move(item));
            pending.emplace_back(child, int(tree.Items.size() - 1));
        }
    }
}
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
    const QString sql = "SELECT TypeID, IEUrl, IEName, ReMark FROM IE ORDER BY ID";
    QHash<int, std::vector<TBookmarkItem>> links;
    int count = 0;
    try {
        sqlite3* db = DbAccess->Handle();
        TStmtHandle stmt = PrepareNative(db, sql);
        int step;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            TBookmarkItem link;
            link.Url = Column(stmt.get(), 1);
            link.Title = Column(stmt.get(), 2);
            link.Remark = Column(stmt.get(), 3);
            // A bookmark of a group that is gone is listed under the root, as the program shows it.
            const int group = sqlite3_column_int(stmt.get(), 0);
            links[groups.Contains(group) ? group : 0].push_back(std::move(link));
            ++count;
        }
        if (step != SQLITE_DONE)
            ThrowSqlError(db);
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, kQueryErrorText, sql);
    }
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
    // Progress counts each item read in, and each bookmark moved into the table.
    const qsizetype items = qsizetype(tree.Items.size());
    qsizetype links = 0;
    for (const TBookmarkItem& item : tree.Items)
        links += item.Folder ? 0 : 1;
    const qsizetype total = items + links;
    TImportReport report;
    try {
        DbAccess->Batch([&] {
            // The addresses already in the group that receives the top's links.
            QHash<int, QSet<QString>> stored;
            {
                const QString sql = "SELECT IEUrl FROM IE WHERE TypeID=?1";
                try {
                    sqlite3* db = DbAccess->Handle();
                    TStmtHandle stmt = PrepareNative(db, sql);
                    sqlite3_bind_int(stmt.get(), 1, parent);
                    QSet<QString>& known = stored[parent];
                    while (sqlite3_step(stmt.get()) == SQLITE_ROW)
                        known.insert(ComparableUrl(Column(stmt.get(), 0)));
                } catch (const TSqlError& e) {
                    throw EDBException(e.Message, kQueryErrorText, sql);
                }
            }
            TImportGroups newGroups(groups);
            TIEInserter inserter;
            std::vector<int> groupOf(tree.Items.size(), parent);
            for (qsizetype i = 0; i < items; ++i) {
                pacer.Step(i, total);
                const TBookmarkItem& item = tree.Items[size_t(i)];
                const int group = item.Parent < 0 ? parent : groupOf[size_t(item.Parent)];
                if (item.Folder) {
                    groupOf[size_t(i)] = newGroups.Add(group, item.Title, report);
                    stored.insert(groupOf[size_t(i)], {});
                    ++report.Groups;
                    continue;
                }
                if (item.Url.isEmpty()) {
                    ++report.WithoutAddress;
                    continue;
                }
                QSet<QString>& known = stored[group];
                const QString comparable = ComparableUrl(item.Url);
                if (known.contains(comparable)) {
                    ++report.Duplicates;
                    continue;
                }
                known.insert(comparable);
                inserter.Insert(group, item.Url, item.Title, item.Remark);
                ++report.Items;
            }
            for (qsizetype moved = total - links; inserter.Pending() > 0;) {
                pacer.Step(moved, total);
                moved += inserter.Pending();
                inserter.Move(kMovedAtOnce);
                moved -= inserter.Pending();
            }
            inserter.Finish();
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
