#include "data/Search.h"

#include "data/SqliteDb.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <optional>
#include <sqlite3.h>

namespace {
// The statement tests at most this many words (the longest, which find the
// fewest rows), so a query of thousands of words never exceeds what one
// statement may hold; every word is checked on the rows it returns.
constexpr int kStatementWords = 8;
// A snippet longer than this is cut around its first match.
constexpr int kSnippetChars = 100;
constexpr int kSnippetLead = 30;
const QString kEllipsis = QStringLiteral("…");

// Whether a word has a letter whose case SQLite's lower() does not fold
// (lower() folds ASCII only).
bool NeedsUnicodeFold(const QString& word)
{
    for (const QChar c : word)
        if (c.unicode() > 0x7F && !c.isSurrogate() && (c.toCaseFolded() != c || c.toUpper() != c))
            return true;
    return false;
}

QString Utf8Column(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

void FoldFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    if (!text) {
        sqlite3_result_null(ctx);
        return;
    }
    const QByteArray folded = QString::fromUtf8(text, sqlite3_value_bytes(argv[0])).toCaseFolded().toUtf8();
    sqlite3_result_text(ctx, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

// The statements' test, a quick one that may let through more than it
// should: every row it returns is checked again on its texts. A word is
// found with LIKE, which ignores the case of ASCII letters and reads the
// text in place (without a folded copy), its wildcards escaped; a word with
// a letter of another case pair is found in a folded copy of the text; a
// word holding NUL, which LIKE would take as its end, with instr().
struct TMatcher
{
    explicit TMatcher(sqlite3* db, const QStringList& words)
    {
        for (int i = 0; i < std::min<int>(int(words.size()), kStatementWords); ++i) {
            const QString& word = words[i];
            if (word.contains(QChar(0))) {
                m_tests.append("instr(%1, ?%2) > 0");
                m_bound.append(word);
            } else if (NeedsUnicodeFold(word)) {
                if (!m_fold && sqlite3_create_function_v2(db, "jotterel_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                                          nullptr, FoldFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
                    ThrowSqlError(db);
                m_fold = true;
                m_tests.append("instr(jotterel_fold(%1), ?%2) > 0");
                m_bound.append(word.toCaseFolded());
            } else {
                QString escaped = word;
                escaped.replace('\\', "\\\\").replace('%', "\\%").replace('_', "\\_");
                m_tests.append("%1 LIKE ?%2 ESCAPE '\\'");
                m_bound.append('%' + escaped + '%');
            }
        }
    }

    // Each word occurs in one of the columns.
    QString Where(const QStringList& columns) const
    {
        QStringList all;
        for (int i = 0; i < m_bound.size(); ++i) {
            QStringList any;
            for (const QString& column : columns)
                any.append(m_tests[i].arg(column).arg(i + 1));
            all.append("(" + any.join(" OR ") + ")");
        }
        return all.join(" AND ");
    }

    TStmtHandle Prepare(sqlite3* db, const QString& sql) const
    {
        TStmtHandle stmt = PrepareNative(db, sql);
        for (int i = 0; i < m_bound.size(); ++i) {
            const QByteArray utf8 = m_bound[i].toUtf8();
            if (sqlite3_bind_text(stmt.get(), i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) !=
                SQLITE_OK)
                ThrowSqlError(db);
        }
        return stmt;
    }

    QStringList m_tests;
    QStringList m_bound;
    bool m_fold = false;
};

// Every word occurs in one of the texts.
bool AllWordsIn(const QStringList& words, std::initializer_list<const QString*> texts)
{
    for (const QString& word : words) {
        const bool found = std::any_of(texts.begin(), texts.end(), [&](const QString* text) {
            return text->contains(word, Qt::CaseInsensitive);
        });
        if (!found)
            return false;
    }
    return true;
}

// The groups of a tree and their paths, placed as the tree places them: in
// ascending SelfIndex, each under its parent when the parent came before,
// else under the root; of two groups with one SelfIndex the first counts.
class TGroupPaths
{
public:
    TGroupPaths(sqlite3* db, const char* table, const QString& rootCaption) : m_root(rootCaption)
    {
        TStmtHandle stmt =
            PrepareNative(db, QString("SELECT SelfIndex, ParentIndex, TypeName FROM %1 ORDER BY SelfIndex").arg(table));
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            const int self = sqlite3_column_int(stmt.get(), 0);
            if (self == 0 || m_index.contains(self))
                continue;
            const int parent = sqlite3_column_int(stmt.get(), 1);
            m_index.insert(self, int(m_groups.size()));
            m_groups.push_back({Utf8Column(stmt.get(), 2), m_index.value(parent, -1), {}});
        }
        if (rc != SQLITE_DONE)
            ThrowSqlError(db);
    }

    bool Contains(int self) const { return self == 0 || m_index.contains(self); }

    QString Path(int self)
    {
        const int at = m_index.value(self, -1);
        return at < 0 ? m_root : PathAt(at);
    }

private:
    struct TGroup
    {
        QString Name;
        int Parent; // index, -1 for the root
        std::optional<QString> Path;
    };

    QString PathAt(int at)
    {
        TGroup& group = m_groups[size_t(at)];
        if (!group.Path)
            group.Path = (group.Parent < 0 ? m_root : PathAt(group.Parent)) + "->" + group.Name;
        return *group.Path;
    }

    QString m_root;
    QHash<int, int> m_index;
    std::vector<TGroup> m_groups;
};

// Where a word first occurs in the text, the earliest of all words.
std::pair<qsizetype, qsizetype> FirstMatch(const QString& text, const QStringList& words)
{
    qsizetype first = -1, length = 0;
    for (const QString& word : words) {
        const qsizetype at = text.indexOf(word, 0, Qt::CaseInsensitive);
        if (at >= 0 && (first < 0 || at < first)) {
            first = at;
            length = word.size();
        }
    }
    return {first, length};
}

bool IsLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

// The line around the first match (or the first line), cut to a window
// around the match when long, with every occurrence of a word in it marked.
void Snip(const QString& text, const QStringList& words, qsizetype first, TSearchResult& result)
{
    const qsizetype at = std::max<qsizetype>(first, 0);
    qsizetype lineStart = at;
    while (lineStart > 0 && !IsLineBreak(text[lineStart - 1]))
        --lineStart;
    qsizetype lineEnd = at;
    while (lineEnd < text.size() && !IsLineBreak(text[lineEnd]))
        ++lineEnd;
    qsizetype start = lineStart;
    qsizetype end = lineEnd;
    if (end - start > kSnippetChars) {
        if (first >= 0)
            start = std::max(lineStart, std::min(at - kSnippetLead, lineEnd - kSnippetChars));
        end = start + kSnippetChars;
    }
    const QString lead = start > lineStart ? kEllipsis : QString();
    const QString body = text.mid(start, end - start);
    result.Snippet = lead + body + (end < lineEnd ? kEllipsis : QString());
    if (first < 0)
        return;
    std::vector<TSearchMark> marks;
    for (const QString& word : words)
        for (qsizetype i = body.indexOf(word, 0, Qt::CaseInsensitive); i >= 0 && !word.isEmpty();
             i = body.indexOf(word, i + 1, Qt::CaseInsensitive))
            marks.push_back({int(lead.size() + i), int(word.size())});
    std::sort(marks.begin(), marks.end(), [](const TSearchMark& a, const TSearchMark& b) { return a.Start < b.Start; });
    for (const TSearchMark& mark : marks) {
        if (!result.Marks.empty() && mark.Start <= result.Marks.back().Start + result.Marks.back().Length) {
            TSearchMark& last = result.Marks.back();
            last.Length = std::max(last.Start + last.Length, mark.Start + mark.Length) - last.Start;
        } else {
            result.Marks.push_back(mark);
        }
    }
}

// The first of the texts that holds a match, else the first text.
void SnipFirstMatching(std::initializer_list<const QString*> texts, const QStringList& words, TSearchResult& result)
{
    for (const QString* text : texts) {
        const qsizetype first = FirstMatch(*text, words).first;
        if (first >= 0) {
            Snip(*text, words, first, result);
            return;
        }
    }
    Snip(**texts.begin(), words, -1, result);
}

template <typename Row> void Step(sqlite3* db, sqlite3_stmt* stmt, Row row)
{
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        row();
    if (rc != SQLITE_DONE)
        ThrowSqlError(db);
}

// Stable, so that results of one path keep the statement's order.
void SortByPath(std::vector<TSearchResult>& results, size_t from)
{
    std::stable_sort(results.begin() + qsizetype(from), results.end(),
                     [](const TSearchResult& a, const TSearchResult& b) { return a.Path < b.Path; });
}

void SearchNotes(sqlite3* db, const QStringList& words, const TMatcher& matcher, std::vector<TSearchResult>& out)
{
    TGroupPaths groups(db, "NoteType", "根目录");
    // A group shows the first note stored for it; the root has no name of
    // its own to match. A note of no group cannot be reached and is left out.
    TStmtHandle stmt = matcher.Prepare(
        db, "WITH g(id, name) AS (SELECT 0, NULL UNION ALL SELECT SelfIndex, TypeName FROM NoteType) "
            "SELECT g.id, g.name, n.ReMark FROM g LEFT JOIN NoteBook n "
            "ON n.rowid = (SELECT min(rowid) FROM NoteBook WHERE TypeID = g.id) WHERE " +
                matcher.Where({"g.name", "n.ReMark"}) + " ORDER BY g.id");
    const size_t from = out.size();
    int last = -1;
    Step(db, stmt.get(), [&] {
        const int id = sqlite3_column_int(stmt.get(), 0);
        if (id == last) // a second group of one SelfIndex: the tree shows the first
            return;
        last = id;
        const QString name = Utf8Column(stmt.get(), 1);
        const QString text = Utf8Column(stmt.get(), 2);
        if (!AllWordsIn(words, {&name, &text}))
            return;
        TSearchResult result;
        result.Kind = TSearchKind::Note;
        result.Id = result.GroupId = id;
        result.Path = groups.Path(id);
        const auto [first, length] = FirstMatch(text, words);
        result.TextMatch = int(first);
        result.TextMatchLength = first >= 0 ? int(length) : 0;
        Snip(text, words, first, result);
        out.push_back(std::move(result));
    });
    SortByPath(out, from);
}

void SearchBookmarks(sqlite3* db, const QStringList& words, const TMatcher& matcher, std::vector<TSearchResult>& out)
{
    TGroupPaths groups(db, "IEType", "全部");
    TStmtHandle stmt =
        matcher.Prepare(db, "SELECT ID, TypeID, IEName, ReMark, IEUrl FROM IE WHERE " +
                                matcher.Where({"IEName", "ReMark", "IEUrl"}) + " ORDER BY ID");
    const size_t from = out.size();
    Step(db, stmt.get(), [&] {
        const QString title = Utf8Column(stmt.get(), 2);
        const QString remark = Utf8Column(stmt.get(), 3);
        const QString url = Utf8Column(stmt.get(), 4);
        if (!AllWordsIn(words, {&title, &remark, &url}))
            return;
        TSearchResult result;
        result.Kind = TSearchKind::Bookmark;
        result.Id = sqlite3_column_int(stmt.get(), 0);
        const int group = sqlite3_column_int(stmt.get(), 1);
        // "全部" lists every bookmark, also one whose group is gone.
        result.GroupId = groups.Contains(group) ? group : 0;
        result.Path = groups.Path(result.GroupId);
        SnipFirstMatching({&title, &remark, &url}, words, result);
        out.push_back(std::move(result));
    });
    SortByPath(out, from);
}

void SearchReminders(sqlite3* db, const QStringList& words, const TMatcher& matcher, std::vector<TSearchResult>& out)
{
    // The time as the reminder list writes it (format() is the Jet function
    // the connection carries).
    TStmtHandle stmt = matcher.Prepare(
        db, "SELECT ID, iif(ReDay, '每天  ' || format(AlamTime, 'HH:mm:ss'), "
            "format(AlamTime + AlamDate, 'yyyy-mm-dd HH:mm:ss')), ReMark FROM Alam WHERE " +
                matcher.Where({"ReMark"}) + " ORDER BY ID");
    Step(db, stmt.get(), [&] {
        const QString text = Utf8Column(stmt.get(), 2);
        if (!AllWordsIn(words, {&text}))
            return;
        TSearchResult result;
        result.Kind = TSearchKind::Reminder;
        result.Id = sqlite3_column_int(stmt.get(), 0);
        result.Time = Utf8Column(stmt.get(), 1);
        Snip(text, words, FirstMatch(text, words).first, result);
        out.push_back(std::move(result));
    });
}
} // namespace

QStringList SearchWords(const QString& query)
{
    // Any blank separates, the full-width one of Chinese input among them.
    QStringList words;
    QSet<QString> seen;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= query.size(); ++i) {
        if (i < query.size() && !query[i].isSpace())
            continue;
        const QString word = query.mid(start, i - start);
        if (!word.isEmpty() && !seen.contains(word.toCaseFolded())) {
            seen.insert(word.toCaseFolded());
            words.append(word);
        }
        start = i + 1;
    }
    // Longest first: the statement tests the first ones.
    std::stable_sort(words.begin(), words.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    // A word within another adds nothing (checked for a query of a few words
    // only, as the check takes the square of their number).
    if (words.size() > 64)
        return words;
    QStringList kept;
    for (const QString& word : words)
        if (std::none_of(kept.begin(), kept.end(), [&](const QString& k) { return k.contains(word, Qt::CaseInsensitive); }))
            kept.append(word);
    return kept;
}

std::vector<TSearchResult> Search(sqlite3* db, const QString& query)
{
    const QStringList words = SearchWords(query);
    std::vector<TSearchResult> results;
    if (words.isEmpty())
        return results;
    const TMatcher matcher(db, words);
    // One read transaction, so the three kinds come from one state of the file.
    // Within a transaction already open on the connection, that one serves.
    const bool own = sqlite3_get_autocommit(db) != 0;
    if (own)
        ExecNative(db, "BEGIN");
    try {
        SearchNotes(db, words, matcher, results);
        SearchBookmarks(db, words, matcher, results);
        SearchReminders(db, words, matcher, results);
    } catch (...) {
        if (own)
            ExecNative(db, "ROLLBACK");
        throw;
    }
    if (own)
        ExecNative(db, "COMMIT");
    return results;
}
