#pragma once

#include <cstdint>

// The Mandarin readings of the Han characters, made at build time from the
// Unicode Han database (scripts/pinyin-table.py says how it is laid out).
// Search/Pinyin reads it; nothing else should.
namespace PinyinTable {
// The characters whose sets kBmp holds directly.
inline constexpr char32_t kBmpFirst = 0x3400;
inline constexpr char32_t kBmpEnd = 0xA000;
inline constexpr int kBlock = 64;

extern const int kSyllableCount;
extern const int kSetCount;
extern const char32_t kBlocksEnd;
extern const char kSyllables[][8];
extern const std::uint16_t kSetStart[];
extern const std::uint16_t kSetSyllables[];
extern const std::uint16_t kBmp[];
extern const std::uint16_t kBlockOf[];
extern const std::uint64_t kBlockBits[];
extern const std::uint16_t kBlockFirst[];
extern const std::uint16_t kBlockSets[];
} // namespace PinyinTable
