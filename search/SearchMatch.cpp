#include "search/SearchMatch.h"

#include "groups/GroupTableStore.h"

#include <QSet>
#include <algorithm>
#include <cstring>

bool NeedsUnicodeFold(const QString& word)
{
    for (const QChar c : word)
        if (c.unicode() > 0x7F && !c.isSurrogate() && (c.toCaseFolded() != c || c.toUpper() != c))
            return true;
    return false;
}

QString LatinSmall(QString word)
{
    for (QChar& c : word)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return word;
}

namespace {
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
} // namespace

// The search runs (with memchr) to the word's last byte that is no letter,
// when it has one, and compares around it: the last byte of a Chinese
// character tells more characters apart than its first. A word of letters
// only is compared at each occurrence of its first letter, small ones
// first, then capitals.
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
    const char* const last = text + (length - wordLength);
    for (const char first : {word[0], char(word[0] - ('a' - 'A'))}) {
        for (const char* p = text; p <= last; ++p) {
            p = static_cast<const char*>(memchr(p, first, size_t(last - p) + 1));
            if (!p)
                break;
            if (EqualsFolded(p, word, wordLength))
                return true;
        }
    }
    return false;
}

TQueryWords::TQueryWords(const QStringList& words, TReadings readings) : m_words(words)
{
    for (const QString& word : words) {
        TTest test;
        test.Fold = NeedsUnicodeFold(word);
        if (!test.Fold)
            test.Bytes = LatinSmall(word).toUtf8();
        if (readings == WithReadings)
            test.Reading = TPinyinWord::Of(word);
        m_tests.push_back(std::move(test));
    }
}

bool TQueryWords::AsTyped(size_t word, std::initializer_list<TText> texts, std::vector<QString>& strings) const
{
    const TTest& test = m_tests[word];
    if (!test.Fold)
        return std::any_of(texts.begin(), texts.end(), [&](const TText& text) {
            return ContainsFolded(text.first, text.second, test.Bytes.constData(), size_t(test.Bytes.size()));
        });
    if (strings.empty())
        for (const TText& text : texts)
            strings.push_back(QString::fromUtf8(text.first, qsizetype(text.second)));
    return std::any_of(strings.begin(), strings.end(), [&](const QString& text) {
        return text.contains(m_words[qsizetype(word)], Qt::CaseInsensitive);
    });
}

bool TQueryWords::ByReading(size_t word, std::initializer_list<TText> texts) const
{
    const std::optional<TPinyinWord>& reading = m_tests[word].Reading;
    return reading && std::any_of(texts.begin(), texts.end(),
                                  [&](const TText& text) { return reading->In(text.first, text.second); });
}

TRank TQueryWords::RankIn(qsizetype word, const QString& text) const
{
    if (text.contains(m_words[word], Qt::CaseInsensitive))
        return TRank::AsTyped;
    const std::optional<TPinyinWord>& reading = m_tests[size_t(word)].Reading;
    return reading && reading->Find(text).first >= 0 ? TRank::ByReading : TRank::Missing;
}

TTextRange TQueryWords::FirstMatch(const QString& text) const
{
    TTextRange first;
    for (const QString& word : m_words) {
        const qsizetype at = text.indexOf(word, 0, Qt::CaseInsensitive);
        if (at >= 0 && (first.Start < 0 || at < first.Start))
            first = {at, word.size()};
    }
    if (first.Start >= 0)
        return first;
    for (const TTest& test : m_tests) {
        if (!test.Reading)
            continue;
        const auto [at, length] = test.Reading->Find(text);
        if (at >= 0 && (first.Start < 0 || at < first.Start))
            first = {at, length};
    }
    return first;
}

std::vector<TTextRange> TQueryWords::Marks(const QString& text) const
{
    std::vector<TTextRange> found;
    for (size_t i = 0; i < m_tests.size(); ++i) {
        const QString& word = m_words[qsizetype(i)];
        for (qsizetype at = text.indexOf(word, 0, Qt::CaseInsensitive); at >= 0 && !word.isEmpty();
             at = text.indexOf(word, at + 1, Qt::CaseInsensitive))
            found.push_back({at, word.size()});
        if (const std::optional<TPinyinWord>& reading = m_tests[i].Reading)
            for (auto [at, length] = reading->Find(text); at >= 0;
                 std::tie(at, length) = reading->Find(text, at + length))
                found.push_back({at, length});
    }
    std::sort(found.begin(), found.end(), [](const TTextRange& a, const TTextRange& b) { return a.Start < b.Start; });
    std::vector<TTextRange> marks;
    for (const TTextRange& range : found) {
        if (!marks.empty() && range.Start <= marks.back().Start + marks.back().Length) {
            TTextRange& last = marks.back();
            last.Length = std::max(last.Start + last.Length, range.Start + range.Length) - last.Start;
        } else {
            marks.push_back(range);
        }
    }
    return marks;
}

TGroupWords::TGroupWords(const TQueryWords& words, const TGroupTable& groups)
    : m_words(words), m_groups(groups), m_known(size_t(words.Words().size())), m_nowhere(size_t(words.Words().size()))
{
}

// The groups above it that are not known yet are worked out from the top
// down (a deep tree would not fit a call for each level).
TGroupWords::TKnown TGroupWords::Known(qsizetype word, int group)
{
    if (m_nowhere[size_t(word)])
        return {TRank::Missing, false};
    QHash<int, TKnown>& known = m_known[size_t(word)];
    if (const auto it = known.constFind(group); it != known.constEnd())
        return *it;
    std::vector<int> chain;
    TKnown above{TRank::Missing, false};
    for (int up = group; up != 0 && m_groups.Contains(up); up = m_groups.ShownParent(up)) {
        if (const auto it = known.constFind(up); it != known.constEnd()) {
            above = *it;
            break;
        }
        chain.push_back(up);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        above = {m_words.RankIn(word, m_groups.Name(*it)), above.Own != TRank::Missing || above.Above};
        known.insert(*it, above);
    }
    return above;
}

TRank TGroupWords::NoteRank(qsizetype word, int group)
{
    const TKnown known = Known(word, group);
    return known.Own != TRank::Missing ? known.Own : known.Above ? TRank::ByGroup : TRank::Missing;
}

bool TGroupWords::Holds(qsizetype word, int group)
{
    const TKnown known = Known(word, group);
    return known.Own != TRank::Missing || known.Above;
}

// The groups whose own names hold the word, and those under them: the
// names are looked at once, without keeping an answer for each group.
std::vector<int> TGroupWords::Holding(qsizetype word)
{
    std::vector<int> holding;
    QSet<int> seen;
    for (const int group : m_groups.InPathOrder(size_t(m_groups.Count()) + 1)) {
        if (group == 0 || seen.contains(group) || m_words.RankIn(word, m_groups.Name(group)) == TRank::Missing)
            continue;
        for (const int below : m_groups.Branch(group)) {
            seen.insert(below);
            holding.push_back(below);
        }
    }
    m_nowhere[size_t(word)] = holding.empty();
    return holding;
}
