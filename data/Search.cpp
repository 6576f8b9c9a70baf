#include "data/Search.h"

#include "data/SqliteDb.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <optional>
#include <sqlite3.h>

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

// Whether the word occurs at s, Latin letters A to Z of the text taken as
// small ones (the word's are small already).
bool EqualsFolded(const char* s, const char* word, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c + ('a' - 'A'));
        if (c != word[i])
            return false;
    }
    return true;
}

// Whether the word occurs in the text, both in UTF-8, the word's Latin
// letters small: each of them matches either case, every other byte only
// itself. The search runs (with memchr) to the word's last byte that is no
// letter, when it has one, and compares around it: the last byte of a
// Chinese character tells more characters apart than its first. A word of
// letters only is compared at each of its first letter's occurrences.
bool ContainsFolded(const char* text, size_t length, const char* word, size_t wordLength)
{
    if (wordLength == 0)
        return true;
    if (wordLength > length)
        return false;
    size_t anchor = wordLength;
    while (anchor > 0 && word[anchor - 1] >= 'a' && word[anchor - 1] <= 'z')
        --anchor;
    if (anchor > 0) {
        --anchor;
        const char* p = text + anchor;
        const char* const end = text + (length - wordLength) + anchor + 1;
        while (p < end) {
            p = static_cast<const char*>(memchr(p, word[anchor], size_t(end - p)));
            if (!p)
                return false;
            if (EqualsFolded(p - anchor, word, wordLength))
                return true;
            ++p;
        }
        return false;
    }
    const char small = word[0];
    const char capital = char(small - ('a' - 'A'));
    for (const char *p = text, *last = text + (length - wordLength); p <= last; ++p)
        if ((*p == small || *p == capital) && EqualsFolded(p, word, wordLength))
            return true;
    return false;
}

// jotterel_has(word, text, ...): 1 when the word (its Latin letters small)
// occurs in one of the texts, ignoring the case of Latin letters, else 0.
void HasFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    const auto* word = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const size_t wordLength = size_t(sqlite3_value_bytes(argv[0]));
    for (int i = 1; word && i < argc; ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
        if (text && ContainsFolded(text, size_t(sqlite3_value_bytes(argv[i])), word, wordLength)) {
            sqlite3_result_int(ctx, 1);
            return;
        }
    }
    sqlite3_result_int(ctx, 0);
}

QString LatinSmall(QString word)
{
    for (QChar& c : word)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return word;
}

// The statements' test of a word: jotterel_has() reads the texts in place,
// ignoring the case of Latin letters, and takes every character (NUL, "%",
// "_" among them) as itself. A word with a letter of another case pair is
// looked for in a folded copy of the text. Where a trigram index serves, a
// word of three characters or more is looked up in it as a phrase.
struct TMatcher
{
    explicit TMatcher(sqlite3* db, const QStringList& words)
    {
        if (sqlite3_create_function_v2(db, "jotterel_has", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                       HasFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
            ThrowSqlError(db);
        for (int i = 0; i < std::min<int>(int(words.size()), kStatementWords); ++i) {
            const QString& word = words[i];
            TWordTest test;
            if (NeedsUnicodeFold(word)) {
                if (!m_fold &&
                    sqlite3_create_function_v2(db, "jotterel_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                               FoldFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
                    ThrowSqlError(db);
                m_fold = true;
                test.Fold = true;
                test.Value = word.toCaseFolded();
            } else {
                test.Value = LatinSmall(word);
            }
            if (!word.contains(QChar(0)) && word.toUcs4().size() >= 3)
                test.Phrase = '"' + QString(word).replace('"', "\"\"") + '"';
            m_words.push_back(test);
        }
    }

    // Each word occurs in one of the columns; with an index, rows whose key
    // the index gives for the words it can answer.
    TStmtHandle Prepare(sqlite3* db, const QString& select, const QStringList& columns, const QString& index = {},
                        const QString& key = {}, size_t words = kStatementWords) const
    {
        QStringList all;
        QStringList values;
        for (size_t i = 0; i < std::min(words, m_words.size()); ++i) {
            const TWordTest& word = m_words[i];
            const QString parameter = QString::number(values.size() + 1);
            if (!index.isEmpty() && !word.Phrase.isEmpty()) {
                all.append(QString("%1 IN (SELECT rowid FROM %2 WHERE %2 MATCH ?%3)").arg(key, index, parameter));
                values.append(word.Phrase);
                continue;
            }
            if (word.Fold) {
                QStringList any;
                for (const QString& column : columns)
                    any.append(QString("instr(jotterel_fold(%1), ?%2) > 0").arg(column, parameter));
                all.append("(" + any.join(" OR ") + ")");
            } else {
                all.append(QString("jotterel_has(?%1, %2)").arg(parameter, columns.join(", ")));
            }
            values.append(word.Value);
        }
        TStmtHandle stmt = PrepareNative(db, QString(select).replace("$WHERE", all.join(" AND ")));
        for (int i = 0; i < values.size(); ++i) {
            const QByteArray utf8 = values[i].toUtf8();
            if (sqlite3_bind_text(stmt.get(), i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
                ThrowSqlError(db);
        }
        return stmt;
    }

    struct TWordTest
    {
        QString Value;  // bound for the scan
        bool Fold = false; // looked for in a folded copy of the text
        QString Phrase; // for the index; empty when it cannot answer
    };
    std::vector<TWordTest> m_words;
    bool m_fold = false;
};

// Every word occurs in one of the texts.
bool AllWordsIn(const QStringList& words, std::initializer_list<const QString*> texts)
{
    for (const QString& word : words) {
        const bool found = std::any_of(texts.begin(), texts.end(),
                                       [&](const QString* text) { return text->contains(word, Qt::CaseInsensitive); });
        if (!found)
            return false;
    }
    return true;
}

// The words as the byte search takes them, for checking rows read one by
// one without making strings of their texts; a word with a letter of
// another case pair is checked on the texts made strings.
class TWordBytes
{
public:
    using TText = std::pair<const char*, size_t>;

    explicit TWordBytes(const QStringList& words)
    {
        for (const QString& word : words) {
            if (NeedsUnicodeFold(word))
                m_fold.append(word);
            else
                m_bytes.push_back(LatinSmall(word).toUtf8());
        }
    }

    // Every word occurs in one of the UTF-8 texts.
    bool AllIn(std::initializer_list<TText> texts) const
    {
        for (const QByteArray& word : m_bytes) {
            const bool found = std::any_of(texts.begin(), texts.end(), [&](const TText& text) {
                return ContainsFolded(text.first, text.second, word.constData(), size_t(word.size()));
            });
            if (!found)
                return false;
        }
        if (m_fold.isEmpty())
            return true;
        std::vector<QString> strings;
        for (const TText& text : texts)
            strings.push_back(QString::fromUtf8(text.first, qsizetype(text.second)));
        for (const QString& word : m_fold)
            if (std::none_of(strings.begin(), strings.end(),
                             [&](const QString& text) { return text.contains(word, Qt::CaseInsensitive); }))
                return false;
        return true;
    }

private:
    std::vector<QByteArray> m_bytes;
    QStringList m_fold;
};

TWordBytes::TText BytesColumn(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return {text ? text : "", text ? size_t(sqlite3_column_bytes(stmt, column)) : 0};
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
    QString Name(int self) const
    {
        const int at = m_index.value(self, -1);
        return at < 0 ? QString() : m_groups[size_t(at)].Name;
    }

    QString Path(int self)
    {
        const int at = m_index.value(self, -1);
        return at < 0 ? m_root : PathAt(at);
    }

    // The first groups (at most `most`), the root (0) first, in the order
    // of their paths, then of their SelfIndex.
    std::vector<std::pair<QString, int>> Ordered(size_t most)
    {
        std::vector<std::pair<QString, int>> order;
        order.reserve(m_groups.size() + 1);
        for (auto it = m_index.cbegin(); it != m_index.cend(); ++it)
            order.emplace_back(PathAt(it.value()), it.key());
        if (order.size() >= most) {
            std::nth_element(order.begin(), order.begin() + qsizetype(most - 1), order.end());
            order.resize(most - 1);
        }
        std::sort(order.begin(), order.end());
        order.insert(order.begin(), {m_root, 0});
        return order;
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

// A statement run once per row, for the rows to be shown.
class TLookup
{
public:
    TLookup(sqlite3* db, const QString& sql) : m_db(db), m_stmt(PrepareNative(db, sql)) {}
    // Steps to the row of the key; false when there is none.
    bool Find(sqlite3_int64 key)
    {
        sqlite3_reset(m_stmt.get());
        sqlite3_bind_int64(m_stmt.get(), 1, key);
        const int rc = sqlite3_step(m_stmt.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            ThrowSqlError(m_db);
        return rc == SQLITE_ROW;
    }
    QString Text(int column) const { return Utf8Column(m_stmt.get(), column); }
    TWordBytes::TText Bytes(int column) const { return BytesColumn(m_stmt.get(), column); }
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt.get(), column) == SQLITE_NULL; }
    sqlite3_int64 Int64(int column) const { return sqlite3_column_int64(m_stmt.get(), column); }

private:
    sqlite3* m_db;
    TStmtHandle m_stmt;
};

// An item the statement found, before it is shown.
struct TFound
{
    int Id;
    int GroupId;
    sqlite3_int64 Row; // where its texts are read
    QString Path;
};

// The first items in the results' order, read group by group in the order
// of the groups' paths, while fewer than kShownPerKind match. Where as many
// match among the first ones, the rest of a large file is not read, nor
// counted; where they do not, the statements read it all. Stops after this
// many items.
constexpr int kOrderedItems = 3000;

// Whether the items are first read in order: for words of one or two
// characters, which the index cannot answer and which most often occur in
// many items. Longer words are looked for by the statements at once.
bool ReadInOrder(const QStringList& words)
{
    return words.first().toUcs4().size() <= 2;
}

struct TOrderedWalk
{
    std::vector<TFound> Found;
    bool Done = false; // Found holds the first matches in order: all of them unless More
    bool More = false; // stopped with kShownPerKind found, others may follow
};

// Whether the statement alone decides: it tests every word unless there are
// more than it takes, and then each row's texts are read and checked.
bool StatementDecides(const QStringList& words)
{
    return words.size() <= kStatementWords;
}

void ShowNotes(sqlite3* db, const QStringList& words, std::vector<TFound>& found, TSearchResults& out);

TOrderedWalk WalkNotes(sqlite3* db, const TWordBytes& words, TGroupPaths& groups)
{
    TOrderedWalk walk;
    TLookup note(db, "SELECT ReMark, rowid FROM NoteBook WHERE TypeID = ?1 ORDER BY rowid LIMIT 1");
    const std::vector<std::pair<QString, int>> order = groups.Ordered(kOrderedItems + 1);
    for (size_t i = 0; i < order.size(); ++i) {
        if (int(walk.Found.size()) == kShownPerKind) {
            walk.More = walk.Done = true;
            return walk;
        }
        if (i >= size_t(kOrderedItems))
            return walk;
        const int group = order[i].second;
        const bool stored = note.Find(group);
        const QByteArray name = groups.Name(group).toUtf8();
        const TWordBytes::TText text = stored ? note.Bytes(0) : TWordBytes::TText("", 0);
        if (words.AllIn({{name.constData(), size_t(name.size())}, text}))
            walk.Found.push_back({group, group, stored ? note.Int64(1) : -1, order[i].first});
    }
    walk.Done = true;
    return walk;
}

void SearchNotes(sqlite3* db, const QStringList& words, const TMatcher& matcher, TSearchResults& out)
{
    TGroupPaths groups(db, "NoteType", "根目录");
    TOrderedWalk walk = ReadInOrder(words) ? WalkNotes(db, TWordBytes(words), groups) : TOrderedWalk();
    if (walk.Done) {
        out.Found[int(TSearchKind::Note)] = int(walk.Found.size());
        out.More[int(TSearchKind::Note)] = walk.More;
        ShowNotes(db, words, walk.Found, out);
        return;
    }
    // The groups the first (longest) word finds, by their note or by their
    // name (the root has none of its own); two plain statements read less
    // than one that joins every group to its note. A group shows the first
    // note stored for it; a note of no group cannot be reached.
    std::vector<std::pair<int, sqlite3_int64>> candidates; // group, its note's row (-1: not known)
    TStmtHandle notes = matcher.Prepare(db,
                                        "SELECT TypeID, rowid FROM NoteBook n WHERE $WHERE AND "
                                        "rowid = (SELECT min(rowid) FROM NoteBook WHERE TypeID = n.TypeID)",
                                        {"ReMark"}, {}, {}, 1);
    Step(db, notes.get(), [&] {
        const int group = sqlite3_column_int(notes.get(), 0);
        if (groups.Contains(group))
            candidates.emplace_back(group, sqlite3_column_int64(notes.get(), 1));
    });
    TStmtHandle names =
        matcher.Prepare(db, "SELECT SelfIndex FROM NoteType WHERE $WHERE", {"TypeName"}, {}, {}, 1);
    Step(db, names.get(), [&] { candidates.emplace_back(sqlite3_column_int(names.get(), 0), -1); });
    // One per group, the one that knows its note's row first.
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        return a.first < b.first || (a.first == b.first && a.second > b.second);
    });
    candidates.erase(std::unique(candidates.begin(), candidates.end(),
                                 [](const auto& a, const auto& b) { return a.first == b.first; }),
                     candidates.end());

    TLookup firstNote(db, "SELECT min(rowid) FROM NoteBook WHERE TypeID = ?1");
    TLookup note(db, "SELECT ReMark FROM NoteBook WHERE rowid = ?1");
    const auto noteRow = [&](std::pair<int, sqlite3_int64>& candidate) {
        if (candidate.second < 0 && firstNote.Find(candidate.first) && !firstNote.IsNull(0))
            candidate.second = firstNote.Int64(0);
        return candidate.second;
    };
    const auto noteText = [&](std::pair<int, sqlite3_int64>& candidate) {
        const sqlite3_int64 row = noteRow(candidate);
        return row >= 0 && note.Find(row) ? note.Text(0) : QString();
    };
    std::vector<TFound> found;
    for (auto& candidate : candidates) {
        // The other words, in the group's name or its note.
        if (words.size() > 1) {
            const QString name = groups.Name(candidate.first);
            const QString text = noteText(candidate);
            if (!AllWordsIn(words, {&name, &text}))
                continue;
        }
        found.push_back({candidate.first, candidate.first, candidate.second, groups.Path(candidate.first)});
    }
    out.Found[int(TSearchKind::Note)] = int(found.size());
    const auto shown = found.begin() + std::min<qsizetype>(qsizetype(found.size()), kShownPerKind);
    std::partial_sort(found.begin(), shown, found.end(), [](const TFound& a, const TFound& b) {
        return a.Path < b.Path || (a.Path == b.Path && a.Id < b.Id);
    });
    found.erase(shown, found.end());
    ShowNotes(db, words, found, out);
}

// The results of the notes found, in order (at most kShownPerKind).
void ShowNotes(sqlite3* db, const QStringList& words, std::vector<TFound>& found, TSearchResults& out)
{
    TLookup firstNote(db, "SELECT min(rowid) FROM NoteBook WHERE TypeID = ?1");
    TLookup note(db, "SELECT ReMark FROM NoteBook WHERE rowid = ?1");
    for (auto it = found.begin(); it != found.end(); ++it) {
        if (it->Row < 0 && firstNote.Find(it->Id) && !firstNote.IsNull(0))
            it->Row = firstNote.Int64(0);
        const QString text = it->Row >= 0 && note.Find(it->Row) ? note.Text(0) : QString();
        TSearchResult result;
        result.Kind = TSearchKind::Note;
        result.Id = result.GroupId = it->Id;
        result.Path = std::move(it->Path);
        const auto [first, length] = FirstMatch(text, words);
        result.TextMatch = int(first);
        result.TextMatchLength = first >= 0 ? int(length) : 0;
        Snip(text, words, first, result);
        out.Items.push_back(std::move(result));
    }
}

TOrderedWalk WalkBookmarks(sqlite3* db, const TWordBytes& words, TGroupPaths& groups)
{
    TOrderedWalk walk;
    // "全部" comes first, with the bookmarks of no group and of a group gone.
    QStringList loose{"0"};
    TStmtHandle types = PrepareNative(db, "SELECT DISTINCT TypeID FROM IE WHERE TypeID IS NOT NULL");
    Step(db, types.get(), [&] {
        const int group = sqlite3_column_int(types.get(), 0);
        if (group != 0 && !groups.Contains(group))
            loose.append(QString::number(group));
    });
    TStmtHandle root = PrepareNative(
        db, QString("SELECT ID, IEName, ReMark, IEUrl FROM IE WHERE TypeID IN (%1) OR TypeID IS NULL ORDER BY ID")
                .arg(loose.join(',')));
    TStmtHandle group = PrepareNative(db, "SELECT ID, IEName, ReMark, IEUrl FROM IE WHERE TypeID = ?1 ORDER BY ID");
    int read = 0;
    for (const auto& [path, self] : groups.Ordered(kOrderedItems + 1)) {
        sqlite3_stmt* stmt = self == 0 ? root.get() : group.get();
        sqlite3_reset(stmt);
        if (self != 0)
            sqlite3_bind_int(stmt, 1, self);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (int(walk.Found.size()) == kShownPerKind) {
                walk.More = walk.Done = true;
                return walk;
            }
            if (++read > kOrderedItems)
                return walk;
            if (words.AllIn({BytesColumn(stmt, 1), BytesColumn(stmt, 2), BytesColumn(stmt, 3)})) {
                const int id = sqlite3_column_int(stmt, 0);
                walk.Found.push_back({id, self, id, path});
            }
        }
        if (rc != SQLITE_DONE)
            ThrowSqlError(db);
    }
    walk.Done = true;
    return walk;
}

// The results of the bookmarks found, in order (at most kShownPerKind).
void ShowBookmarks(sqlite3* db, const QStringList& words, std::vector<TFound>& found, TSearchResults& out)
{
    TLookup bookmark(db, "SELECT IEName, ReMark, IEUrl FROM IE WHERE ID = ?1");
    for (TFound& item : found) {
        if (!bookmark.Find(item.Id))
            continue;
        const QString title = bookmark.Text(0);
        const QString remark = bookmark.Text(1);
        const QString url = bookmark.Text(2);
        TSearchResult result;
        result.Kind = TSearchKind::Bookmark;
        result.Id = item.Id;
        result.GroupId = item.GroupId;
        result.Path = std::move(item.Path);
        SnipFirstMatching({&title, &remark, &url}, words, result);
        out.Items.push_back(std::move(result));
    }
}

void SearchBookmarks(sqlite3* db, const QStringList& words, const TMatcher& matcher, TSearchResults& out)
{
    TGroupPaths groups(db, "IEType", "全部");
    TOrderedWalk walk = ReadInOrder(words) ? WalkBookmarks(db, TWordBytes(words), groups) : TOrderedWalk();
    if (walk.Done) {
        out.Found[int(TSearchKind::Bookmark)] = int(walk.Found.size());
        out.More[int(TSearchKind::Bookmark)] = walk.More;
        ShowBookmarks(db, words, walk.Found, out);
        return;
    }
    const bool check = !StatementDecides(words);
    TStmtHandle stmt = matcher.Prepare(
        db, QString("SELECT ID, TypeID%1 FROM IE WHERE $WHERE ORDER BY ID").arg(check ? ", IEName, ReMark, IEUrl" : ""),
        {"IEName", "ReMark", "IEUrl"}, "IE_Search", "ID");
    // Ordered by the group's path, then by ID: the paths are ranked once.
    QHash<int, int> rank;
    std::vector<std::pair<int, int>> found; // rank, ID
    Step(db, stmt.get(), [&] {
        if (check) {
            const QString title = Utf8Column(stmt.get(), 2);
            const QString remark = Utf8Column(stmt.get(), 3);
            const QString url = Utf8Column(stmt.get(), 4);
            if (!AllWordsIn(words, {&title, &remark, &url}))
                return;
        }
        const int group = sqlite3_column_int(stmt.get(), 1);
        // "全部" lists every bookmark, also one whose group is gone.
        const int shownGroup = groups.Contains(group) ? group : 0;
        found.emplace_back(shownGroup, sqlite3_column_int(stmt.get(), 0));
        rank.insert(shownGroup, 0);
    });
    out.Found[int(TSearchKind::Bookmark)] = int(found.size());
    std::vector<std::pair<QString, int>> paths; // path, group
    for (auto it = rank.cbegin(); it != rank.cend(); ++it)
        paths.emplace_back(groups.Path(it.key()), it.key());
    std::sort(paths.begin(), paths.end());
    for (size_t i = 0; i < paths.size(); ++i)
        rank[paths[i].second] = int(i);
    for (auto& [group, id] : found)
        group = rank.value(group);
    const auto shown = found.begin() + std::min<qsizetype>(qsizetype(found.size()), kShownPerKind);
    std::partial_sort(found.begin(), shown, found.end());
    std::vector<TFound> first;
    for (auto it = found.begin(); it != shown; ++it)
        first.push_back({it->second, paths[size_t(it->first)].second, it->second, paths[size_t(it->first)].first});
    ShowBookmarks(db, words, first, out);
}

void ShowReminders(sqlite3* db, const QStringList& words, const std::vector<int>& found, TSearchResults& out);

void SearchReminders(sqlite3* db, const QStringList& words, const TMatcher& matcher, TSearchResults& out)
{
    std::vector<int> found;
    // In order of ID, the first ones first.
    const TWordBytes bytes(words);
    TStmtHandle ordered = PrepareNative(db, "SELECT ID, ReMark FROM Alam ORDER BY ID");
    int rc = SQLITE_DONE;
    int read = ReadInOrder(words) ? 0 : kOrderedItems + 1;
    while (read <= kOrderedItems && (rc = sqlite3_step(ordered.get())) == SQLITE_ROW) {
        if (int(found.size()) == kShownPerKind) {
            out.More[int(TSearchKind::Reminder)] = true;
            rc = SQLITE_DONE;
            break;
        }
        ++read;
        if (bytes.AllIn({BytesColumn(ordered.get(), 1)}))
            found.push_back(sqlite3_column_int(ordered.get(), 0));
    }
    if (read <= kOrderedItems && rc != SQLITE_DONE)
        ThrowSqlError(db);
    if (read <= kOrderedItems) {
        out.Found[int(TSearchKind::Reminder)] = int(found.size());
        ShowReminders(db, words, found, out);
        return;
    }
    found.clear();
    const bool check = !StatementDecides(words);
    TStmtHandle stmt =
        matcher.Prepare(db, QString("SELECT ID%1 FROM Alam WHERE $WHERE ORDER BY ID").arg(check ? ", ReMark" : ""),
                        {"ReMark"});
    Step(db, stmt.get(), [&] {
        if (check) {
            const QString text = Utf8Column(stmt.get(), 1);
            if (!AllWordsIn(words, {&text}))
                return;
        }
        found.push_back(sqlite3_column_int(stmt.get(), 0));
    });
    out.Found[int(TSearchKind::Reminder)] = int(found.size());
    ShowReminders(db, words, found, out);
}

// The results of the reminders found, in order (the first kShownPerKind).
void ShowReminders(sqlite3* db, const QStringList& words, const std::vector<int>& found, TSearchResults& out)
{
    // The time as the reminder list writes it (format() is the Jet function
    // the connection carries).
    TLookup reminder(db, "SELECT iif(ReDay, '每天  ' || format(AlamTime, 'HH:mm:ss'), "
                         "format(AlamTime + AlamDate, 'yyyy-mm-dd HH:mm:ss')), ReMark FROM Alam WHERE ID = ?1");
    for (size_t i = 0; i < found.size() && i < size_t(kShownPerKind); ++i) {
        if (!reminder.Find(found[i]))
            continue;
        const QString text = reminder.Text(1);
        TSearchResult result;
        result.Kind = TSearchKind::Reminder;
        result.Id = found[i];
        result.Time = reminder.Text(0);
        Snip(text, words, FirstMatch(text, words).first, result);
        out.Items.push_back(std::move(result));
    }
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
    std::stable_sort(words.begin(), words.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    // A word within another adds nothing (checked for a query of a few words
    // only, as the check takes the square of their number).
    if (words.size() > 64)
        return words;
    QStringList kept;
    for (const QString& word : words)
        if (std::none_of(kept.begin(), kept.end(),
                         [&](const QString& k) { return k.contains(word, Qt::CaseInsensitive); }))
            kept.append(word);
    return kept;
}

TSearchResults Search(sqlite3* db, const QString& query)
{
    const QStringList words = SearchWords(query);
    TSearchResults results;
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
