#include "search/Search.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "groups/GroupTableStore.h"
#include "reminders/UntAlam.h"
#include "search/SearchMatch.h"

#include <QSet>
#include <algorithm>
#include <atomic>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <tuple>
#include <utility>

std::pair<qsizetype, qsizetype> FirstMatch(const QString& text, const QStringList& words)
{
    const TTextRange first = TQueryWords(words).FirstMatch(text);
    return {first.Start, first.Length};
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

// jotterel_reads(word, text, ...): 1 when the word (a TPinyinWord bound as
// a pointer) matches one of the texts by readings or as typed, else 0.
constexpr char kReadingPointer[] = "jotterel_reading";
void ReadsFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    const auto* word = static_cast<const TPinyinWord*>(sqlite3_value_pointer(argv[0], kReadingPointer));
    for (int i = 1; word && i < argc; ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
        if (text && word->In(text, size_t(sqlite3_value_bytes(argv[i])))) {
            sqlite3_result_int(ctx, 1);
            return;
        }
    }
    sqlite3_result_int(ctx, 0);
}

// Whether the bookmarks' index can answer for a word: it holds each text
// followed by two characters U+0001 (and cannot hold a NUL).
bool Indexable(const QString& word)
{
    return !word.contains(QChar(0)) && !word.contains(QChar(1));
}

// A connection keeps a function from its first search on. SQLite refuses
// to replace one while a statement of the connection is being read (the
// bookmark list reading the rest of its rows), and says so with SQLITE_BUSY,
// which it never does for a function it does not have yet: the function
// there is this one.
void InstallFunction(sqlite3* db, const char* name, int args, void (*function)(sqlite3_context*, int, sqlite3_value**))
{
    const int rc = sqlite3_create_function_v2(db, name, args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, function,
                                              nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && (rc & 0xff) != SQLITE_BUSY)
        ThrowSqlError(db);
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
        InstallFunction(db, "jotterel_has", -1, HasFunction);
        for (int i = 0; i < std::min<int>(int(words.size()), kStatementWords); ++i) {
            const QString& word = words[i];
            TWordTest test;
            if (NeedsUnicodeFold(word)) {
                if (!m_fold)
                    InstallFunction(db, "jotterel_fold", 1, FoldFunction);
                m_fold = true;
                test.Fold = true;
                test.Value = word.toCaseFolded();
            } else {
                test.Value = LatinSmall(word);
            }
            if (Indexable(word) && word.toUcs4().size() >= 3)
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
        QStringList phrases;
        for (size_t i = 0; i < std::min(words, m_words.size()); ++i) {
            const TWordTest& word = m_words[i];
            if (!index.isEmpty() && !word.Phrase.isEmpty()) {
                phrases.append(word.Phrase);
                continue;
            }
            const QString parameter = QString::number(values.size() + 1);
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
        // One query of the index for all its words: it steps through their
        // lists together, skipping what one of them lacks.
        if (!phrases.isEmpty()) {
            all.append(
                QString("%1 IN (SELECT rowid FROM %2 WHERE %2 MATCH ?%3)").arg(key, index).arg(values.size() + 1));
            values.append(phrases.join(" AND "));
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
        QString Value;     // bound for the scan
        bool Fold = false; // looked for in a folded copy of the text
        QString Phrase;    // for the index; empty when it cannot answer
    };
    std::vector<TWordTest> m_words;
    bool m_fold = false;
};

// A statement whose $WHERE is that a word with readings matches one of the
// columns by them (or as typed).
TStmtHandle PrepareReading(sqlite3* db, const QString& select, const QStringList& columns, const TPinyinWord& word)
{
    InstallFunction(db, "jotterel_reads", -1, ReadsFunction);
    TStmtHandle stmt =
        PrepareNative(db, QString(select).replace("$WHERE", QString("jotterel_reads(?1, %1)").arg(columns.join(", "))));
    if (sqlite3_bind_pointer(stmt.get(), 1, const_cast<TPinyinWord*>(&word), kReadingPointer, nullptr) != SQLITE_OK)
        ThrowSqlError(db);
    return stmt;
}

using TText = TQueryWords::TText;

TText BytesColumn(sqlite3_stmt* stmt, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return {text ? text : "", text ? size_t(sqlite3_column_bytes(stmt, column)) : 0};
}

bool IsLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

std::vector<TSearchMark> MarksOf(const std::vector<TTextRange>& ranges, qsizetype offset)
{
    std::vector<TSearchMark> marks;
    for (const TTextRange& range : ranges)
        marks.push_back({int(offset + range.Start), int(range.Length)});
    return marks;
}

// The words in a group's path, the root's caption left out.
std::vector<TSearchMark> PathMarks(const QString& path, const TGroupTable& groups, const TQueryWords& words)
{
    const qsizetype caption = groups.RootCaption().size();
    return MarksOf(words.Marks(path.mid(caption)), caption);
}

// The line around the first match (or the first line), cut to a window
// around the match when long, with every occurrence of a word in it marked.
void Snip(const QString& text, const TQueryWords& words, qsizetype first, TSearchResult& result)
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
    if (first >= 0)
        result.Marks = MarksOf(words.Marks(body), lead.size());
}

// The first of the texts that holds a match, else the first text.
void SnipFirstMatching(std::initializer_list<const QString*> texts, const TQueryWords& words, TSearchResult& result)
{
    for (const QString* text : texts) {
        const qsizetype first = words.FirstMatch(*text).Start;
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
    TText Bytes(int column) const { return BytesColumn(m_stmt.get(), column); }
    bool IsNull(int column) const { return sqlite3_column_type(m_stmt.get(), column) == SQLITE_NULL; }
    sqlite3_int64 Int64(int column) const { return sqlite3_column_int64(m_stmt.get(), column); }

private:
    sqlite3* m_db;
    TStmtHandle m_stmt;
};

// How many places of a short word in the bookmarks' index are worth
// reading; beyond them, reading every bookmark costs less.
constexpr size_t kMostIndexPlaces = 100000;
// How many words of a query are tried so, each costing at most that reading.
constexpr qsizetype kShortWordsTried = 3;

// The bookmarks in which a word of one or two characters may occur: those
// where the index has a trigram beginning with it (the index's texts end in
// two characters U+0001, so every place in a text begins one). None where
// the index cannot answer for the word, or where it occurs too often.
std::optional<std::vector<int>> ShortWordCandidates(sqlite3* db, const QString& word)
{
    if (word.toUcs4().size() > 2 || NeedsUnicodeFold(word) || !Indexable(word))
        return std::nullopt;
    ExecNative(db, "CREATE VIRTUAL TABLE IF NOT EXISTS temp.IE_SearchTerms USING fts5vocab(main, IE_Search, instance)");
    TStmtHandle places = PrepareNative(db, "SELECT doc FROM temp.IE_SearchTerms WHERE term >= ?1 AND term <= ?2");
    // From the word itself to the word followed by the last two characters.
    const QByteArray low = LatinSmall(word).toUtf8();
    const QByteArray high = low + "\xF4\x8F\xBF\xBF\xF4\x8F\xBF\xBF";
    sqlite3_bind_text(places.get(), 1, low.constData(), int(low.size()), SQLITE_STATIC);
    sqlite3_bind_text(places.get(), 2, high.constData(), int(high.size()), SQLITE_STATIC);
    std::vector<int> ids;
    int rc;
    while ((rc = sqlite3_step(places.get())) == SQLITE_ROW) {
        if (ids.size() == kMostIndexPlaces)
            return std::nullopt;
        ids.push_back(sqlite3_column_int(places.get(), 0));
    }
    if (rc != SQLITE_DONE)
        ThrowSqlError(db);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

// An item found, before it is shown.
struct TFound
{
    int Id;
    int GroupId;
    sqlite3_int64 Row; // where its texts are read
    QString Path;
    TRank Rank;
};

// The first items in the results' order, read group by group in the order
// of the groups' paths, while fewer than kShownPerKind match as typed. Where
// as many do among the first ones, the rest of a large file is not read,
// nor counted; where they do not, the statements read it all. Stops after
// this many items.
constexpr int kOrderedItems = 3000;

struct TOrderedWalk
{
    std::vector<TFound> Found;
    int AsTyped = 0;   // of Found
    bool Done = false; // Found holds the first matches in order: all of them unless More
    bool More = false; // stopped with kShownPerKind found as typed, others may follow

    // Whether as many match as typed as are shown: the walk then stops.
    bool Full()
    {
        if (AsTyped == kShownPerKind)
            More = Done = true;
        return More;
    }
    // Whether, of the items read, so few match as typed that as many as are
    // shown are not to be expected within kOrderedItems: the statements then
    // read it all at once.
    bool Hopeless(int read) const
    {
        return read >= kShownPerKind && AsTyped * kOrderedItems * 2 < read * kShownPerKind;
    }
    void Add(TFound found)
    {
        AsTyped += found.Rank == TRank::AsTyped;
        Found.push_back(std::move(found));
    }
};

// The walk's matches in the results' order, the best rank first, the first
// kShownPerKind of them; how many there are.
void TakeWalk(TOrderedWalk& walk, TSearchKind kind, TSearchResults& out)
{
    std::stable_sort(walk.Found.begin(), walk.Found.end(),
                     [](const TFound& a, const TFound& b) { return a.Rank < b.Rank; });
    out.Found[int(kind)] = walk.More ? kShownPerKind : int(walk.Found.size());
    out.More[int(kind)] = walk.More;
    walk.Found.resize(std::min<size_t>(walk.Found.size(), kShownPerKind));
}

// Whether the statement alone decides: it tests every word unless there are
// more than it takes, and then each row's texts are read and checked.
bool StatementDecides(const QStringList& words)
{
    return words.size() <= kStatementWords;
}

// What the statements of a kind look for, of the words they test (the
// first kStatementWords): every item found holds the plain ones as typed.
// A word with readings, or one that names of the kind's groups hold, may be
// missing from an item's texts. Where every word is such a word, the
// candidates are the items that hold one of them in their texts or their
// groups' names: Anchor, as typed, the first word that has no readings;
// where every word has readings (Anchor -1), the first word by them.
struct TStatementWords
{
    QStringList Plain;
    qsizetype Anchor = -1;
    bool Others = false; // some word is not plain: each row found is checked

    TStatementWords(const TQueryWords& words, TGroupWords* groups)
    {
        for (qsizetype i = 0; i < std::min<qsizetype>(words.Words().size(), kStatementWords); ++i) {
            const bool inGroups = groups && !groups->Holding(i).empty();
            if (!words.Reading(i) && !inGroups)
                Plain.append(words.Words()[i]);
            else
                Others = true;
            if (!words.Reading(i) && inGroups && Anchor < 0)
                Anchor = i;
        }
    }
    // The words the statements look for as typed; none where they look for
    // the first word by its readings.
    QStringList Read(const TQueryWords& words) const
    {
        return !Plain.isEmpty() || Anchor < 0 ? Plain : QStringList{words.Words()[Anchor]};
    }
};

void ShowNotes(sqlite3* db, const TQueryWords& words, const TGroupTable& groups, std::vector<TFound>& found,
               TSearchResults& out);

// How a note holds the words: its text and its group's own name as typed
// or by readings, the names above its group.
TRank NoteRank(const TQueryWords& words, TGroupWords& groupWords, int group, TText text)
{
    return words.RankOf({text}, [&](qsizetype word) { return groupWords.NoteRank(word, group); });
}

TOrderedWalk WalkNotes(sqlite3* db, const TQueryWords& words, TGroupWords& groupWords, const TGroupTable& groups)
{
    TOrderedWalk walk;
    TLookup note(db, "SELECT ReMark, rowid FROM NoteBook WHERE TypeID = ?1 ORDER BY rowid LIMIT 1");
    const std::vector<int> order = groups.InPathOrder(kOrderedItems + 1);
    for (size_t i = 0; i < order.size(); ++i) {
        if (walk.Full())
            return walk;
        if (i >= size_t(kOrderedItems) || walk.Hopeless(int(i)))
            return walk;
        const int group = order[i];
        const bool stored = note.Find(group);
        const TRank rank = NoteRank(words, groupWords, group, stored ? note.Bytes(0) : TText("", 0));
        if (rank != TRank::Missing)
            walk.Add({group, group, stored ? note.Int64(1) : -1, groups.PathText(group), rank});
    }
    walk.Done = true;
    return walk;
}

void SearchNotes(sqlite3* db, const TQueryWords& words, const TGroupTable& groups, TSearchResults& out)
{
    TGroupWords groupWords(words, groups);
    TOrderedWalk walk = WalkNotes(db, words, groupWords, groups);
    if (walk.Done) {
        TakeWalk(walk, TSearchKind::Note, out);
        ShowNotes(db, words, groups, walk.Found, out);
        return;
    }
    const TStatementWords statement(words, &groupWords);
    const QStringList read = statement.Read(words);
    std::vector<TFound> found;
    {
        // The groups the first word read (or, where every word has readings,
        // the first word by its readings) finds, by their note or by their
        // name (the root has none of its own); two plain statements read
        // less than one that joins every group to its note. A group shows
        // the first note stored for it; a note of no group cannot be reached.
        std::vector<std::pair<int, sqlite3_int64>> candidates; // group, its note's row (-1: not known)
        const TMatcher matcher(db, read);
        const auto prepare = [&](const QString& select, const QString& column) {
            return read.isEmpty() ? PrepareReading(db, select, {column}, *words.Reading(0))
                                  : matcher.Prepare(db, select, {column}, {}, {}, 1);
        };
        TStmtHandle notes = prepare("SELECT TypeID, rowid FROM NoteBook n WHERE $WHERE AND "
                                    "rowid = (SELECT min(rowid) FROM NoteBook WHERE TypeID = n.TypeID)",
                                    "ReMark");
        Step(db, notes.get(), [&] {
            const int group = sqlite3_column_int(notes.get(), 0);
            if (groups.Contains(group))
                candidates.emplace_back(group, sqlite3_column_int64(notes.get(), 1));
        });
        TStmtHandle names = prepare("SELECT SelfIndex FROM NoteType WHERE $WHERE", "TypeName");
        Step(db, names.get(), [&] {
            const int group = sqlite3_column_int(names.get(), 0);
            if (group != 0 && groups.Contains(group))
                candidates.emplace_back(group, -1);
        });
        // The notes of the groups under those whose names hold the word.
        if (statement.Plain.isEmpty())
            for (const int group : groupWords.Holding(std::max<qsizetype>(statement.Anchor, 0)))
                for (const int child : groups.Children(group))
                    candidates.emplace_back(child, -1);
        // One per group, the one that knows its note's row first.
        std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
            return a.first < b.first || (a.first == b.first && a.second > b.second);
        });
        candidates.erase(std::unique(candidates.begin(), candidates.end(),
                                     [](const auto& a, const auto& b) { return a.first == b.first; }),
                         candidates.end());

        TLookup firstNote(db, "SELECT min(rowid) FROM NoteBook WHERE TypeID = ?1");
        TLookup note(db, "SELECT ReMark FROM NoteBook WHERE rowid = ?1");
        for (auto& [group, row] : candidates) {
            TRank rank = TRank::AsTyped;
            // The other words, in the group's name or its note.
            if (words.Words().size() > 1 || statement.Others) {
                if (row < 0 && firstNote.Find(group) && !firstNote.IsNull(0))
                    row = firstNote.Int64(0);
                rank = NoteRank(words, groupWords, group, row >= 0 && note.Find(row) ? note.Bytes(0) : TText("", 0));
                if (rank == TRank::Missing)
                    continue;
            }
            found.push_back({group, group, row, {}, rank});
        }
    }
    out.Found[int(TSearchKind::Note)] = int(found.size());
    const auto shown = found.begin() + std::min<qsizetype>(qsizetype(found.size()), kShownPerKind);
    std::partial_sort(found.begin(), shown, found.end(), [&](const TFound& a, const TFound& b) {
        return std::pair(a.Rank, groups.PathRank(a.Id)) < std::pair(b.Rank, groups.PathRank(b.Id));
    });
    found.erase(shown, found.end());
    for (TFound& item : found)
        item.Path = groups.PathText(item.Id);
    ShowNotes(db, words, groups, found, out);
}

// The results of the notes found, in order (at most kShownPerKind).
void ShowNotes(sqlite3* db, const TQueryWords& words, const TGroupTable& groups, std::vector<TFound>& found,
               TSearchResults& out)
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
        result.PathMarks = PathMarks(result.Path, groups, words);
        const TTextRange first = words.FirstMatch(text);
        result.TextMatch = int(first.Start);
        result.TextMatchLength = int(first.Length);
        Snip(text, words, first.Start, result);
        out.Items.push_back(std::move(result));
    }
}

// How a bookmark holds the words: its texts as typed or by readings, the
// names of its group and those above.
TRank BookmarkRank(const TQueryWords& words, TGroupWords& groupWords, int group, std::initializer_list<TText> texts)
{
    return words.RankOf(
        texts, [&](qsizetype word) { return groupWords.Holds(word, group) ? TRank::ByGroup : TRank::Missing; });
}

TOrderedWalk WalkBookmarks(sqlite3* db, const TQueryWords& words, TGroupWords& groupWords, const TGroupTable& groups)
{
    TOrderedWalk walk;
    // "全部" comes first, with the bookmarks of no group and of a group gone.
    // The groups named are found by stepping through the index of TypeID from
    // one value to the next, not by reading every bookmark.
    QStringList loose{"0"};
    TStmtHandle types = PrepareNative(db, "WITH RECURSIVE t(id) AS (SELECT min(TypeID) FROM IE UNION ALL "
                                          "SELECT (SELECT min(TypeID) FROM IE WHERE TypeID > t.id) FROM t "
                                          "WHERE t.id IS NOT NULL) SELECT id FROM t WHERE id IS NOT NULL");
    Step(db, types.get(), [&] {
        const int group = sqlite3_column_int(types.get(), 0);
        if (group != 0 && !groups.Contains(group))
            loose.append(QString::number(group));
    });
    TStmtHandle root = PrepareNative(
        db, QString("SELECT ID, IEName, ReMark, IEUrl, Tags FROM IE WHERE TypeID IN (%1) OR TypeID IS NULL ORDER BY ID")
                .arg(loose.join(',')));
    TStmtHandle group =
        PrepareNative(db, "SELECT ID, IEName, ReMark, IEUrl, Tags FROM IE WHERE TypeID = ?1 ORDER BY ID");
    int read = 0;
    // Empty groups cost a statement each as well: the walk reads at most
    // kOrderedItems groups, and where there are more, the statements read it all.
    const std::vector<int> order = groups.InPathOrder(kOrderedItems + 1);
    for (size_t i = 0; i < order.size(); ++i) {
        if (i >= size_t(kOrderedItems))
            return walk;
        const int self = order[i];
        sqlite3_stmt* stmt = self == 0 ? root.get() : group.get();
        sqlite3_reset(stmt);
        if (self != 0)
            sqlite3_bind_int(stmt, 1, self);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (walk.Full())
                return walk;
            if (++read > kOrderedItems || walk.Hopeless(read))
                return walk;
            const TRank rank =
                BookmarkRank(words, groupWords, self,
                             {BytesColumn(stmt, 1), BytesColumn(stmt, 2), BytesColumn(stmt, 3), BytesColumn(stmt, 4)});
            if (rank != TRank::Missing) {
                const int id = sqlite3_column_int(stmt, 0);
                walk.Add({id, self, id, groups.PathText(self), rank});
            }
        }
        if (rc != SQLITE_DONE)
            ThrowSqlError(db);
    }
    walk.Done = true;
    return walk;
}

// The results of the bookmarks found, in order (at most kShownPerKind).
void ShowBookmarks(sqlite3* db, const TQueryWords& words, const TGroupTable& groups, std::vector<TFound>& found,
                   TSearchResults& out)
{
    TLookup bookmark(db, "SELECT IEName, ReMark, IEUrl, Tags FROM IE WHERE ID = ?1");
    for (TFound& item : found) {
        if (!bookmark.Find(item.Id))
            continue;
        const QString title = bookmark.Text(0);
        const QString remark = bookmark.Text(1);
        const QString url = bookmark.Text(2);
        const QString tags = bookmark.Text(3);
        TSearchResult result;
        result.Kind = TSearchKind::Bookmark;
        result.Id = item.Id;
        result.GroupId = item.GroupId;
        result.Path = std::move(item.Path);
        result.PathMarks = PathMarks(result.Path, groups, words);
        SnipFirstMatching({&title, &remark, &url, &tags}, words, result);
        out.Items.push_back(std::move(result));
    }
}

// The bookmarks with tags that match and that the index of the other texts
// missed: tags are not in that index, so the tagged bookmarks are read.
template <typename Take>
void AddTagged(sqlite3* db, const QStringList& words, const std::vector<std::pair<int, int>>& found, Take take)
{
    QSet<int> known;
    for (const auto& [group, id] : found)
        known.insert(id);
    TStmtHandle stmt =
        PrepareNative(db, "SELECT ID, TypeID, IEName, ReMark, IEUrl, Tags FROM IE WHERE Tags <> '' ORDER BY ID");
    const TQueryWords tests(words, TQueryWords::AsTypedOnly);
    Step(db, stmt.get(), [&] {
        const int id = sqlite3_column_int(stmt.get(), 0);
        if (!known.contains(id) &&
            tests.RankOf({BytesColumn(stmt.get(), 2), BytesColumn(stmt.get(), 3), BytesColumn(stmt.get(), 4),
                          BytesColumn(stmt.get(), 5)}) == TRank::AsTyped)
            take(sqlite3_column_int(stmt.get(), 1), id);
    });
}

// The bookmarks that hold the words as typed (the first kStatementWords of
// them), in their tags too where asked: their groups and IDs.
std::vector<std::pair<int, int>> BookmarksWith(sqlite3* db, const QStringList& words, bool inTags = true)
{
    std::vector<std::pair<int, int>> found; // group, ID
    const auto take = [&](int group, int id) { found.emplace_back(group, id); };
    // A short word may occur in too many places for the index to serve;
    // another may not.
    std::optional<std::vector<int>> candidates;
    for (qsizetype i = 0; i < std::min<qsizetype>(words.size(), kShortWordsTried) && !candidates; ++i)
        candidates = ShortWordCandidates(db, words[i]);
    if (candidates) {
        const TQueryWords tests(words, TQueryWords::AsTypedOnly);
        TLookup bookmark(db, "SELECT TypeID, IEName, ReMark, IEUrl FROM IE WHERE ID = ?1");
        for (const int id : *candidates)
            if (bookmark.Find(id) &&
                tests.RankOf({bookmark.Bytes(1), bookmark.Bytes(2), bookmark.Bytes(3)}) == TRank::AsTyped)
                take(int(bookmark.Int64(0)), id);
    } else {
        const TMatcher matcher(db, words);
        TStmtHandle stmt = matcher.Prepare(db, "SELECT ID, TypeID FROM IE WHERE $WHERE ORDER BY ID",
                                           {"IEName", "ReMark", "IEUrl"}, "IE_Search", "ID");
        Step(db, stmt.get(), [&] { take(sqlite3_column_int(stmt.get(), 1), sqlite3_column_int(stmt.get(), 0)); });
    }
    if (inTags)
        AddTagged(db, words, found, take);
    return found;
}

// The bookmarks whose texts hold a character beyond ASCII, with those
// texts, and their tags: where readings may find what the index, which
// holds the other texts as typed, does not. Reading every bookmark costs
// more than matching these texts, so they are kept from one search to the
// next: the connection tells of each bookmark it changes, which is read
// again, and SQLite counts the commits of other connections (another program
// on the file) in data_version, after which all are read again.
class TBookmarkTexts
{
public:
    // Those the connection reads now; kept where they may be (keep: not
    // within a transaction of the caller's, which may yet be undone).
    static std::shared_ptr<const TBookmarkTexts> Of(sqlite3* db, bool keep)
    {
        // Never destroyed: the connection may tell of a change at the very end.
        static TKept& kept = *new TKept;
        if (!keep)
            return Read(db);
        std::lock_guard lock(kept.Guard);
        // A connection that does not report to this one yet (the first, or
        // one opened anew after a restore) starts afresh.
        const bool reporting = sqlite3_update_hook(db, &TKept::Changed, &kept) == &kept;
        const sqlite3_int64 version = DataVersion(db);
        const auto [changed, all] = kept.TakeChanged();
        if (!reporting || all || !kept.Texts || kept.Db != db || kept.Version != version)
            kept.Texts = Read(db);
        else if (!changed.empty())
            kept.Texts = kept.Texts->With(db, changed);
        kept.Db = db;
        kept.Version = version;
        return kept.Texts;
    }

    // Each bookmark whose texts a word with readings matches:
    // take(group, ID, AsTyped or ByReading). The texts are scanned as one,
    // their line breaks ending each match.
    template <typename Take> void Matching(const TQueryWords& words, qsizetype word, Take take) const
    {
        const TPinyinWord& reading = *words.Reading(word);
        const char* const texts = m_texts.constData();
        qsizetype from = 0;
        for (qsizetype end; (end = reading.EndIn(texts + from, size_t(m_texts.size() - from))) >= 0;) {
            const auto row = std::upper_bound(m_rows.begin(), m_rows.end(), from + end - 1,
                                              [](qsizetype at, const TRow& row) { return at < row.End; });
            const qsizetype start = Start(row);
            const bool typed = words.AsTypedIn(word, {texts + start, size_t(row->End - start)});
            take(row->Group, row->Id, typed ? TRank::AsTyped : TRank::ByReading);
            from = row->End;
        }
    }

private:
    struct TRow
    {
        int Id;
        int Group;
        qsizetype End; // of its texts in m_texts
    };

    // What is kept, and which bookmarks changed since.
    struct TKept
    {
        // More changes than are worth reading one by one.
        static constexpr size_t kMostChanged = 1000;

        std::mutex Guard;
        std::shared_ptr<const TBookmarkTexts> Texts;
        sqlite3* Db = nullptr;
        sqlite3_int64 Version = 0;
        std::mutex ChangedGuard;
        std::vector<sqlite3_int64> ChangedIds;
        bool AllChanged = false;

        static void Changed(void* kept, int, const char*, const char* table, sqlite3_int64 id)
        {
            if (sqlite3_stricmp(table, "IE") != 0)
                return;
            auto& self = *static_cast<TKept*>(kept);
            std::lock_guard lock(self.ChangedGuard);
            if (self.ChangedIds.size() < kMostChanged)
                self.ChangedIds.push_back(id);
            else
                self.AllChanged = true;
        }
        std::pair<std::vector<sqlite3_int64>, bool> TakeChanged()
        {
            std::lock_guard lock(ChangedGuard);
            return {std::exchange(ChangedIds, {}), std::exchange(AllChanged, false)};
        }
    };

    static sqlite3_int64 DataVersion(sqlite3* db)
    {
        TStmtHandle stmt = PrepareNative(db, "PRAGMA data_version");
        if (sqlite3_step(stmt.get()) != SQLITE_ROW)
            ThrowSqlError(db);
        return sqlite3_column_int64(stmt.get(), 0);
    }

    static constexpr char kSelect[] = "SELECT ID, TypeID, IEName, ReMark, IEUrl, Tags FROM IE";

    static std::shared_ptr<const TBookmarkTexts> Read(sqlite3* db)
    {
        auto read = std::make_shared<TBookmarkTexts>();
        TStmtHandle stmt = PrepareNative(db, QString(kSelect) + " ORDER BY ID");
        Step(db, stmt.get(), [&] { read->Add(stmt.get()); });
        read->m_texts.squeeze();
        return read;
    }

    // These, with the bookmarks of the IDs read again.
    std::shared_ptr<const TBookmarkTexts> With(sqlite3* db, std::vector<sqlite3_int64> ids) const
    {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        auto made = std::make_shared<TBookmarkTexts>();
        TStmtHandle bookmark = PrepareNative(db, QString(kSelect) + " WHERE ID = ?1");
        const auto readAgain = [&](sqlite3_int64 id) {
            sqlite3_reset(bookmark.get());
            sqlite3_bind_int64(bookmark.get(), 1, id);
            Step(db, bookmark.get(), [&] { made->Add(bookmark.get()); });
        };
        auto next = ids.begin();
        for (auto row = m_rows.begin(); row != m_rows.end(); ++row) {
            for (; next != ids.end() && *next < row->Id; ++next)
                readAgain(*next);
            if (next != ids.end() && *next == row->Id) {
                readAgain(*next++);
            } else {
                made->m_texts.append(m_texts.constData() + Start(row), row->End - Start(row));
                made->m_rows.push_back({row->Id, row->Group, made->m_texts.size()});
            }
        }
        for (; next != ids.end(); ++next)
            readAgain(*next);
        return made;
    }

    // A row of kSelect's, where it has texts to keep.
    void Add(sqlite3_stmt* stmt)
    {
        const qsizetype start = m_texts.size();
        for (int column = 2; column <= 5; ++column) {
            const auto [text, length] = BytesColumn(stmt, column);
            // A line break ends a text: no word of readings holds one.
            if ((column == 5 && length > 0) || std::any_of(text, text + length, [](char c) { return c & 0x80; }))
                m_texts.append(text, qsizetype(length)).append('\n');
        }
        if (m_texts.size() > start)
            m_rows.push_back({sqlite3_column_int(stmt, 0), sqlite3_column_int(stmt, 1), m_texts.size()});
    }

    qsizetype Start(std::vector<TRow>::const_iterator row) const
    {
        return row == m_rows.begin() ? 0 : std::prev(row)->End;
    }

    QByteArray m_texts;
    std::vector<TRow> m_rows;
};

// keep: whether what is read may be kept for later searches.
void SearchBookmarks(sqlite3* db, const TQueryWords& words, const TGroupTable& groups, bool keep, TSearchResults& out)
{
    TGroupWords groupWords(words, groups);
    TOrderedWalk walk = WalkBookmarks(db, words, groupWords, groups);
    if (walk.Done) {
        TakeWalk(walk, TSearchKind::Bookmark, out);
        ShowBookmarks(db, words, groups, walk.Found, out);
        return;
    }
    // Ordered by rank, the group's path, then ID.
    std::vector<std::tuple<TRank, int, int, int>> found; // rank, the group's rank, ID, the group
    const auto take = [&](int group, int id, TRank rank) {
        // "全部" lists every bookmark, also one whose group is gone.
        const int shownGroup = groups.Contains(group) ? group : 0;
        found.emplace_back(rank, groups.PathRank(shownGroup), id, shownGroup);
    };
    const TStatementWords statement(words, &groupWords);
    const QStringList read = statement.Read(words);
    if (!statement.Others && StatementDecides(words.Words())) {
        for (const auto& [group, id] : BookmarksWith(db, words.Words()))
            take(group, id, TRank::AsTyped);
    } else {
        // The candidates, and how they hold the word looked for: as typed,
        // in the names of their groups and, where every word has readings,
        // by its readings (the kept texts hold every tag, so the tagged
        // bookmarks need not be read). That is how they rank for a query of
        // one word; otherwise each is read and checked.
        const qsizetype anchor = statement.Anchor >= 0 ? statement.Anchor : 0;
        std::vector<std::tuple<int, TRank, int>> candidates; // ID, rank, group
        for (const auto& [group, id] :
             BookmarksWith(db, read.isEmpty() ? QStringList{words.Words()[0]} : read, !read.isEmpty()))
            candidates.emplace_back(id, TRank::AsTyped, group);
        if (read.isEmpty())
            TBookmarkTexts::Of(db, keep)->Matching(
                words, 0, [&](int group, int id, TRank rank) { candidates.emplace_back(id, rank, group); });
        if (statement.Plain.isEmpty()) {
            TStmtHandle inGroup = PrepareNative(db, "SELECT ID FROM IE WHERE TypeID = ?1");
            for (const int group : groupWords.Holding(anchor)) {
                sqlite3_reset(inGroup.get());
                sqlite3_bind_int(inGroup.get(), 1, group);
                Step(db, inGroup.get(),
                     [&] { candidates.emplace_back(sqlite3_column_int(inGroup.get(), 0), TRank::ByGroup, group); });
            }
        }
        // Each once, with the best of its ranks.
        std::sort(candidates.begin(), candidates.end());
        candidates.erase(std::unique(candidates.begin(), candidates.end(),
                                     [](const auto& a, const auto& b) { return std::get<0>(a) == std::get<0>(b); }),
                         candidates.end());
        TLookup bookmark(db, "SELECT IEName, ReMark, IEUrl, Tags FROM IE WHERE ID = ?1");
        for (auto [id, rank, group] : candidates) {
            if (words.Words().size() > 1) {
                if (!bookmark.Find(id))
                    continue;
                rank = BookmarkRank(words, groupWords, group,
                                    {bookmark.Bytes(0), bookmark.Bytes(1), bookmark.Bytes(2), bookmark.Bytes(3)});
            }
            if (rank != TRank::Missing)
                take(group, id, rank);
        }
    }
    out.Found[int(TSearchKind::Bookmark)] = int(found.size());
    const auto shown = found.begin() + std::min<qsizetype>(qsizetype(found.size()), kShownPerKind);
    std::partial_sort(found.begin(), shown, found.end());
    std::vector<TFound> first;
    for (auto it = found.begin(); it != shown; ++it) {
        const auto [rank, pathRank, id, group] = *it;
        first.push_back({id, group, id, groups.PathText(group), rank});
    }
    ShowBookmarks(db, words, groups, first, out);
}

void ShowReminders(sqlite3* db, const TQueryWords& words, const std::vector<int>& found, TSearchResults& out);

void SearchReminders(sqlite3* db, const TQueryWords& words, TSearchResults& out)
{
    // In order of ID, the first ones first.
    TOrderedWalk walk;
    TStmtHandle ordered = PrepareNative(db, "SELECT ID, ReMark FROM Alam ORDER BY ID");
    int rc;
    int read = 0;
    bool gaveUp = false;
    while ((rc = sqlite3_step(ordered.get())) == SQLITE_ROW && !walk.Full()) {
        if ((gaveUp = ++read > kOrderedItems || walk.Hopeless(read)))
            break;
        const TRank rank = words.RankOf({BytesColumn(ordered.get(), 1)});
        if (rank != TRank::Missing)
            walk.Add({sqlite3_column_int(ordered.get(), 0), 0, 0, {}, rank});
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        ThrowSqlError(db);
    std::vector<int> found;
    if (!gaveUp) {
        TakeWalk(walk, TSearchKind::Reminder, out);
        for (const TFound& item : walk.Found)
            found.push_back(item.Id);
        ShowReminders(db, words, found, out);
        return;
    }
    std::vector<std::pair<TRank, int>> ranked;
    const TStatementWords statement(words, nullptr);
    const bool check = !StatementDecides(words.Words()) || statement.Others;
    const TMatcher matcher(db, statement.Plain);
    const QString select = QString("SELECT ID%1 FROM Alam WHERE $WHERE ORDER BY ID").arg(check ? ", ReMark" : "");
    TStmtHandle stmt = statement.Plain.isEmpty() ? PrepareReading(db, select, {"ReMark"}, *words.Reading(0))
                                                 : matcher.Prepare(db, select, {"ReMark"});
    Step(db, stmt.get(), [&] {
        const TRank rank = check ? words.RankOf({BytesColumn(stmt.get(), 1)}) : TRank::AsTyped;
        if (rank != TRank::Missing)
            ranked.emplace_back(rank, sqlite3_column_int(stmt.get(), 0));
    });
    out.Found[int(TSearchKind::Reminder)] = int(ranked.size());
    const auto shown = ranked.begin() + std::min<qsizetype>(qsizetype(ranked.size()), kShownPerKind);
    std::partial_sort(ranked.begin(), shown, ranked.end());
    for (auto it = ranked.begin(); it != shown; ++it)
        found.push_back(it->second);
    ShowReminders(db, words, found, out);
}

// The results of the reminders found, in order (the first kShownPerKind).
void ShowReminders(sqlite3* db, const TQueryWords& words, const std::vector<int>& found, TSearchResults& out)
{
    // The time as the reminder list writes it (format() is the Jet function
    // the connection carries).
    TLookup reminder(db, "SELECT iif(ReDay, '每天  ' || format(AlamTime, 'HH:mm:ss'), "
                         "format(AlamTime + AlamDate, 'yyyy-mm-dd HH:mm:ss')), ReMark, ReDay, WeekDays, "
                         "RepeatKind, RepeatMonth, RepeatDay, AdvanceDays FROM Alam WHERE ID = ?1");
    for (size_t i = 0; i < found.size() && i < size_t(kShownPerKind); ++i) {
        if (!reminder.Find(found[i]))
            continue;
        const QString text = reminder.Text(1);
        TSearchResult result;
        result.Kind = TSearchKind::Reminder;
        result.Id = found[i];
        const TAlamRepeat repeat{int(reminder.Int64(4)), int(reminder.Int64(5)), int(reminder.Int64(6)),
                                 int(reminder.Int64(7))};
        result.Time = TAlam::ListTimeText(reminder.Text(0), reminder.Int64(2) != 0, int(reminder.Int64(3)), repeat);
        Snip(text, words, words.FirstMatch(text).Start, result);
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

namespace {
// Runs the reading in one read transaction, so that what it reads comes
// from one state of the file; within a transaction already open on the
// connection, that one serves.
template <typename Read> void InReadTransaction(sqlite3* db, Read read)
{
    const bool own = sqlite3_get_autocommit(db) != 0;
    if (own)
        ExecNative(db, "BEGIN");
    try {
        read();
    } catch (...) {
        if (own)
            ExecNative(db, "ROLLBACK");
        throw;
    }
    if (own)
        ExecNative(db, "COMMIT");
}

// The notes' part of a search, on a read-only connection of its own to the
// file (SQLite's connections may each serve a thread of their own).
TSearchResults SearchNotesApart(const QString& path, const TQueryWords& words, const TGroupTable& groups)
{
    TDbHandle db = OpenReadOnly(path, TDbAccess::BusyTimeoutMs);
    TSearchResults found;
    InReadTransaction(db.get(), [&] { SearchNotes(db.get(), words, groups, found); });
    return found;
}
} // namespace

TSearchResults Search(sqlite3* db, const QString& query, const TGroupTable& noteGroups,
                      const TGroupTable& bookmarkGroups)
{
    TSearchResults results;
    const TQueryWords words(SearchWords(query));
    if (words.Words().isEmpty())
        return results;
    // On a large file the notes take about as long as the bookmarks and the
    // reminders together: they are read in a second thread meanwhile. The
    // caller writes nothing before the search returns, so both read the same
    // state. Within a transaction the caller has open, which may hold what
    // no other connection sees yet, and for a database without a file, all
    // is read here.
    const char* file = sqlite3_db_filename(db, "main");
    std::future<TSearchResults> notes;
    const bool own = sqlite3_get_autocommit(db) != 0;
    if (own && file && *file)
        notes = std::async(std::launch::async, SearchNotesApart, QString::fromUtf8(file), std::cref(words),
                           std::cref(noteGroups));
    InReadTransaction(db, [&] {
        if (!notes.valid())
            SearchNotes(db, words, noteGroups, results);
        SearchBookmarks(db, words, bookmarkGroups, own, results);
        SearchReminders(db, words, results);
    });
    if (notes.valid()) {
        TSearchResults found = notes.get();
        results.Items.insert(results.Items.begin(), std::make_move_iterator(found.Items.begin()),
                             std::make_move_iterator(found.Items.end()));
        const int kind = int(TSearchKind::Note);
        results.Found[kind] = found.Found[kind];
        results.More[kind] = found.More[kind];
    }
    return results;
}

TSearchResults Search(sqlite3* db, const QString& query)
{
    TGroupTable notes("NoteType", "根目录");
    TGroupTable bookmarks("IEType", "全部");
    if (!SearchWords(query).isEmpty()) {
        notes.LoadFrom(db);
        bookmarks.LoadFrom(db);
    }
    return Search(db, query, notes, bookmarks);
}
