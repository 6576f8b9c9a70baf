#include "search/Pinyin.h"

#include "search/PinyinTable.h"

#include <QChar>
#include <QList>
#include <bit>
#include <cstring>

namespace {
using namespace PinyinTable;

// The set of readings of a character, 0 for none.
int SetOf(char32_t c)
{
    if (c >= kBmpFirst && c < kBmpEnd)
        return kBmp[c - kBmpFirst];
    if (c >= kBlocksEnd)
        return 0;
    const int block = kBlockOf[c / kBlock];
    if (block == 0)
        return 0;
    const uint64_t bits = kBlockBits[block - 1];
    const uint64_t bit = uint64_t(1) << (c % kBlock);
    if (!(bits & bit))
        return 0;
    return kBlockSets[kBlockFirst[block - 1] + std::popcount(bits & (bit - 1))];
}

struct TSyllable
{
    const char* Text;
    int Length;
    bool TwoLetterInitial; // zh, ch, sh
};

const std::vector<TSyllable>& Syllables()
{
    static const std::vector<TSyllable> syllables = [] {
        std::vector<TSyllable> all;
        for (int i = 0; i < kSyllableCount; ++i) {
            const char* text = kSyllables[i];
            const bool twoLetters = std::strchr("zcs", text[0]) && text[1] == 'h';
            all.push_back({text, int(std::strlen(text)), twoLetters});
        }
        return all;
    }();
    return syllables;
}

// The next character of a UTF-16 text and how many code units it takes.
std::pair<char32_t, qsizetype> CharAt(const QString& text, qsizetype at)
{
    const QChar c = text[at];
    if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return {QChar::surrogateToUcs4(c, text[at + 1]), 2};
    return {c.unicode(), 1};
}
} // namespace

std::optional<TPinyinWord> TPinyinWord::Of(const QString& word)
{
    TPinyinWord pinyin;
    bool letter = false;
    for (const char32_t c : word.toUcs4()) {
        if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) {
            pinyin.m_word += char32_t(c | 0x20);
            letter = true;
        } else if (QChar::script(c) == QChar::Script_Han) {
            pinyin.m_word += c;
        } else {
            return std::nullopt;
        }
    }
    const size_t length = pinyin.m_word.size();
    if (!letter || length > size_t(kMostLetters))
        return std::nullopt;
    pinyin.m_end = uint64_t(1) << length;
    pinyin.m_first = pinyin.m_word[0] < 128 ? pinyin.m_word[0] : 0;
    for (size_t j = 0; j < length; ++j) {
        const char32_t c = pinyin.m_word[j];
        const uint64_t at = uint64_t(1) << j;
        if (c < 128) {
            pinyin.m_ascii[c] |= at;
            pinyin.m_ascii[c & ~char32_t(0x20)] |= at; // the capital
        } else {
            pinyin.m_hans.emplace_back(c, at);
        }
    }
    pinyin.FitSyllables();
    pinyin.FindBeginnings();
    return pinyin;
}

// Where each syllable fits the word: wherever the word has its first
// letter, then as far as they agree.
void TPinyinWord::FitSyllables()
{
    const std::vector<TSyllable>& syllables = Syllables();
    const size_t length = m_word.size();
    m_syllables.resize(syllables.size());
    for (size_t s = 0; s < syllables.size(); ++s) {
        const TSyllable& syllable = syllables[s];
        TSyllableMasks& masks = m_syllables[s];
        for (size_t j = 0; j < length; ++j) {
            if (m_word[j] != char32_t(syllable.Text[0]))
                continue;
            size_t same = 0;
            while (same < size_t(syllable.Length) && j + same < length &&
                   m_word[j + same] == char32_t(syllable.Text[same]))
                ++same;
            const uint64_t at = uint64_t(1) << j;
            masks.First |= at;
            if (syllable.TwoLetterInitial && same >= 2)
                masks.Initial |= at;
            if (same == size_t(syllable.Length))
                masks.Whole |= at;
            else if (j + same == length)
                masks.Ending |= at;
        }
    }
}

// Which characters of the Basic Multilingual Plane begin a match: worked
// out once for each set of readings.
void TPinyinWord::FindBeginnings()
{
    std::vector<bool> setBegins(static_cast<size_t>(kSetCount));
    for (int set = 1; set < kSetCount; ++set)
        for (int i = kSetStart[set]; i < kSetStart[set + 1] && !setBegins[size_t(set)]; ++i)
            setBegins[size_t(set)] = m_syllables[kSetSyllables[i]].First & 1;
    m_beginsBmp.assign(0x10000 / 64, 0);
    const auto mark = [this](char32_t c) { m_beginsBmp[c / 64] |= uint64_t(1) << (c % 64); };
    for (char32_t c = kBmpFirst; c < kBmpEnd; ++c)
        if (setBegins[kBmp[c - kBmpFirst]])
            mark(c);
    for (char32_t block = 0; block < std::min<char32_t>(kBlocksEnd, 0x10000) / kBlock; ++block)
        if (const int at = kBlockOf[block])
            for (int bit = 0, i = kBlockFirst[at - 1]; bit < kBlock; ++bit)
                if (kBlockBits[at - 1] >> bit & 1)
                    if (setBegins[kBlockSets[i++]])
                        mark(block * kBlock + char32_t(bit));
    for (const auto& [c, at] : m_hans)
        if (c < 0x10000 && at == 1)
            mark(c);
}

uint64_t TPinyinWord::Step(uint64_t states, char32_t c) const
{
    if (c < 128)
        return (states & m_ascii[c]) << 1;
    uint64_t next = 0;
    for (const auto& [han, at] : m_hans)
        if (han == c)
            next |= (states & at) << 1;
    const int set = SetOf(c);
    if (set == 0)
        return next;
    const std::vector<TSyllable>& syllables = Syllables();
    for (int i = kSetStart[set]; i < kSetStart[set + 1]; ++i) {
        const int s = kSetSyllables[i];
        const TSyllableMasks& masks = m_syllables[size_t(s)];
        next |= (states & masks.First) << 1;
        next |= (states & masks.Initial) << 2;
        next |= (states & masks.Whole) << syllables[size_t(s)].Length;
        if (states & masks.Ending)
            next |= m_end;
    }
    return next;
}

bool TPinyinWord::CanBegin(char32_t c) const
{
    if (c < 128)
        return m_ascii[c] & 1;
    return c < 0x10000 ? BeginsInBmp(c) : Step(1, c) != 0;
}

namespace {
constexpr uint64_t kEachByte = 0x0101010101010101;
constexpr uint64_t kHighBits = 0x8080808080808080;

bool HasZeroByte(uint64_t bytes)
{
    return (bytes - kEachByte) & ~bytes & kHighBits;
}

// A character of three bytes in UTF-8.
char32_t Decode3(const unsigned char* p)
{
    return char32_t(p[0] & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | char32_t(p[2] & 0x3F);
}
} // namespace

// Passes over ASCII that cannot begin a match, eight bytes at a time where
// none of them is beyond ASCII or the word's first letter.
const unsigned char* TPinyinWord::SkipAscii(const unsigned char* p, const unsigned char* end) const
{
    while (end - p >= 8) {
        uint64_t bytes;
        std::memcpy(&bytes, p, 8);
        if ((bytes & kHighBits) || (m_first && (HasZeroByte(bytes ^ (m_first * kEachByte)) ||
                                                HasZeroByte(bytes ^ ((m_first & ~0x20u) * kEachByte)))))
            break;
        p += 8;
    }
    return p;
}

// A match may begin at every character: the first place of the word is
// reached before each one (the states of all beginnings are kept at once).
// Characters that begin nothing while nothing is under way are passed over
// by a look at a bit map; a broken UTF-8 sequence is passed over.
qsizetype TPinyinWord::EndIn(const char* text, size_t length) const
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* const end = p + length;
    uint64_t states = 0;
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            if (states == 0 && !(m_ascii[b] & 1)) {
                p = SkipAscii(p, end);
                continue;
            }
            states = ((states | 1) & m_ascii[b]) << 1;
        } else if ((b & 0xF0) == 0xE0 && end - p >= 3) {
            const char32_t c = Decode3(p);
            if (states == 0 && !BeginsInBmp(c)) {
                // Chinese text runs on: what begins nothing is passed over.
                do
                    p += 3;
                while (end - p >= 3 && (*p & 0xF0) == 0xE0 && !BeginsInBmp(Decode3(p)));
                continue;
            }
            p += 3;
            states = Step(states | 1, c);
        } else if (b >= 0xF0 && end - p >= 4) {
            const char32_t c = char32_t(b & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 |
                               char32_t(p[3] & 0x3F);
            p += 4;
            states = Step(states | 1, c);
        } else {
            // Two bytes (no Han character) or a broken sequence.
            p += b >= 0xC0 && end - p >= 2 ? 2 : 1;
            states = 0;
        }
        if (states & m_end)
            return qsizetype(p - reinterpret_cast<const unsigned char*>(text));
    }
    return -1;
}

std::pair<qsizetype, qsizetype> TPinyinWord::Find(const QString& text, qsizetype from) const
{
    for (qsizetype start = std::max<qsizetype>(from, 0); start < text.size();) {
        const auto [first, width] = CharAt(text, start);
        if (CanBegin(first)) {
            uint64_t states = 1;
            for (qsizetype at = start; at < text.size() && states && !(states & m_end);) {
                const auto [c, size] = CharAt(text, at);
                states = Step(states, c);
                at += size;
                if (states & m_end)
                    return {start, at - start};
            }
        }
        start += width;
    }
    return {-1, 0};
}
