#pragma once

#include "search/Pinyin.h"

#include <QHash>
#include <QStringList>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

class TGroupTable;

// How the search finds the words of a query in the texts of an item: as
// typed, by the readings of Chinese characters, and in the names of the
// groups above the item.

// Whether a word has a letter whose case SQLite's lower() does not fold
// (lower() folds ASCII only).
bool NeedsUnicodeFold(const QString& word);
// The word with its Latin capitals A to Z made small.
QString LatinSmall(QString word);
// Whether the word occurs in the text, both in UTF-8, the word's Latin
// letters small: each of them matches either case, every other byte only
// itself.
bool ContainsFolded(const char* text, size_t length, const char* word, size_t wordLength);

// How an item holds every word of a query, the best first: each as typed
// (Latin letters in either case); some only by the readings of Chinese
// characters; some only in the name of a group it is filed under.
enum class TRank { AsTyped, ByReading, ByGroup, Missing };

// A range of a text in UTF-16 code units; Start -1: none.
struct TTextRange
{
    qsizetype Start = -1;
    qsizetype Length = 0;
};

// The words of a query as each item is checked against them. Read only
// once made, so the search's threads share it.
class TQueryWords
{
public:
    using TText = std::pair<const char*, size_t>; // UTF-8

    // Whether the words also match by readings.
    enum TReadings { WithReadings, AsTypedOnly };

    explicit TQueryWords(const QStringList& words, TReadings readings = WithReadings);
    const QStringList& Words() const { return m_words; }

    // How the texts hold every word, where for a word they do not hold as
    // typed inGroups(word) says how the names of the item's groups do.
    template <typename InGroups> TRank RankOf(std::initializer_list<TText> texts, InGroups inGroups) const
    {
        TRank rank = TRank::AsTyped;
        std::vector<QString> strings; // made for a word that needs them
        for (size_t word = 0; word < m_tests.size(); ++word) {
            // A word with readings matches as typed by them as well: where
            // they find it, it is told apart after.
            const bool reading = m_tests[word].Reading.has_value();
            TRank held = TRank::Missing;
            if (reading ? ByReading(word, texts) : AsTyped(word, texts, strings))
                held = !reading || AsTyped(word, texts, strings) ? TRank::AsTyped : TRank::ByReading;
            if (held != TRank::AsTyped)
                held = std::min(held, inGroups(qsizetype(word)));
            if (held == TRank::Missing)
                return TRank::Missing;
            rank = std::max(rank, held);
        }
        return rank;
    }
    TRank RankOf(std::initializer_list<TText> texts) const
    {
        return RankOf(texts, [](qsizetype) { return TRank::Missing; });
    }

    // How a text holds a word: as typed, by readings, or not.
    TRank RankIn(qsizetype word, const QString& text) const;
    // A word's readings; null for a word without.
    const TPinyinWord* Reading(qsizetype word) const
    {
        const std::optional<TPinyinWord>& reading = m_tests[size_t(word)].Reading;
        return reading ? &*reading : nullptr;
    }
    // Whether a word occurs as typed in a UTF-8 text.
    bool AsTypedIn(qsizetype word, TText text) const
    {
        std::vector<QString> strings;
        return AsTyped(size_t(word), {text}, strings);
    }
    // Where a word first occurs as typed, the earliest of all words; where
    // none does, the earliest by readings.
    TTextRange FirstMatch(const QString& text) const;
    // Every occurrence of a word in the text, as typed or by readings, in
    // order, those that overlap or touch made one.
    std::vector<TTextRange> Marks(const QString& text) const;

private:
    struct TTest
    {
        QByteArray Bytes;  // the word's Latin letters small; empty when Fold
        bool Fold = false; // a letter of another case pair: compared on strings
        std::optional<TPinyinWord> Reading;
    };
    bool AsTyped(size_t word, std::initializer_list<TText> texts, std::vector<QString>& strings) const;
    bool ByReading(size_t word, std::initializer_list<TText> texts) const;

    QStringList m_words;
    std::vector<TTest> m_tests;
};

// How the names of groups hold the words of a query (the root's caption is
// no name), each group worked out once for a word, when asked.
class TGroupWords
{
public:
    TGroupWords(const TQueryWords& words, const TGroupTable& groups);
    // How a note holds a word by its group's name (as that name holds it)
    // or by a name above (ByGroup).
    TRank NoteRank(qsizetype word, int group);
    // Whether the group's name or one above holds the word; for the root,
    // 0, and a group not in the table, false.
    bool Holds(qsizetype word, int group);
    // Every group that does. Where none does, the word costs no more for
    // each item from then on.
    std::vector<int> Holding(qsizetype word);

private:
    struct TKnown
    {
        TRank Own;  // how its own name holds the word
        bool Above; // whether a name above does
    };
    TKnown Known(qsizetype word, int group);

    const TQueryWords& m_words;
    const TGroupTable& m_groups;
    std::vector<QHash<int, TKnown>> m_known; // by word
    std::vector<bool> m_nowhere;             // by word: known that no name holds it
};
