#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A word of a query that also finds Chinese text by its Mandarin readings
// (pinyin without tones, ü written v), as the Unicode Han database gives
// them.
//
// The word is made of Latin letters (their case ignored) and Han
// characters. Along the text, each Han character takes from the word its
// whole reading ("gongzuo": 工作), its first letter ("gz") or its initial
// where that has two letters ("zhq" as well as "zq": 重庆), by any of its
// readings where it has several (银行: "yinhang" and "yinxing"), or else
// itself ("gong作"); the last character of a match may take any beginning
// of its reading ("gongzu"). No letter stands for another: "zong" does not
// find 中 (zhong), nor "sen" 深 (shen). Every other character of the text
// takes itself, a Latin letter in either case ("qtwd": Qt文档).
class TPinyinWord
{
public:
    // A longer word matches as it is typed only.
    static constexpr int kMostLetters = 63;

    // None for a word that cannot match by reading: without a Latin letter,
    // with a character that is neither a Latin letter nor a Han character,
    // or longer than kMostLetters.
    static std::optional<TPinyinWord> Of(const QString& word);

    // Whether the word matches somewhere in a UTF-8 text.
    bool In(const char* text, size_t length) const { return EndIn(text, length) >= 0; }
    // Where in a UTF-8 text the first match to end ends (after its last
    // byte); -1 where the word matches nowhere.
    qsizetype EndIn(const char* text, size_t length) const;
    // The first match from a place of the text on: its start and its length
    // (the shortest that begins there), in UTF-16 code units; start -1 when
    // there is none.
    std::pair<qsizetype, qsizetype> Find(const QString& text, qsizetype from = 0) const;

private:
    void FitSyllables();
    void FindBeginnings();
    // What a character does to the places of the word reached so far (bit
    // j: the first j characters of the word match up to the character).
    uint64_t Step(uint64_t states, char32_t c) const;
    bool CanBegin(char32_t c) const;
    const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end) const;
    // For a character of the Basic Multilingual Plane.
    bool BeginsInBmp(char32_t c) const { return (m_beginsBmp[c / 64] >> (c % 64)) & 1; }

    // Where in the word a syllable's first letter, its initial of two
    // letters (zh, ch, sh) or its whole reading may follow, and where the
    // rest of the word begins the reading.
    struct TSyllableMasks
    {
        uint64_t First = 0;
        uint64_t Initial = 0;
        uint64_t Whole = 0;
        uint64_t Ending = 0;
    };

    std::u32string m_word;                             // Latin letters small
    uint64_t m_end = 0;                                // the bit of the whole word matched
    uint32_t m_first = 0;                              // the first letter, 0 for a Han character
    std::array<uint64_t, 128> m_ascii{};               // where each ASCII character may follow
    std::vector<std::pair<char32_t, uint64_t>> m_hans; // the same for the word's Han characters
    std::vector<TSyllableMasks> m_syllables;           // by the table's syllable number
    std::vector<uint64_t> m_beginsBmp;                 // whether each character of the plane begins a match
};
