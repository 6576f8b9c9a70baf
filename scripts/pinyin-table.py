#!/usr/bin/env python3
"""Writes the pinyin table of the search (a C++ source for the store library)
from the Unicode Han database's readings: Unihan.zip, Unihan_Readings.txt, or
that file compressed with bzip2 (as Debian's unicode-data ships it).

Usage: pinyin-table.py UNIHAN OUTPUT.cpp

Each character with a reading (kMandarin, kHanyuPinyin and the fields below)
gets the set of its readings without tones, ü written v (lü -> lv; lüe also lue, as input
methods take it), ê written e. The table:
- kSyllables: every reading, in alphabetical order;
- kSetStart, kSetSyllables: the distinct sets of readings, as runs of
  syllable numbers; set 0 is empty (a character without a reading);
- kBmp: the set of every character from U+3400 to U+9FFF, where nearly every
  character has one;
- kBlockOf, kBlockBits, kBlockFirst, kBlockSets: the sets of the characters
  elsewhere (〇, the compatibility ideographs, the supplementary planes), by
  blocks of 64 characters: a block's bit map says which characters have a set,
  and its sets follow one another."""
import bz2
import io
import sys
import unicodedata
import zipfile

BMP_FIRST, BMP_END = 0x3400, 0xA000
BLOCK = 64


def readings_file(path):
    if path.endswith(".zip"):
        archive = zipfile.ZipFile(path)
        return io.TextIOWrapper(archive.open("Unihan_Readings.txt"), encoding="utf-8")
    if path.endswith(".bz2"):
        return bz2.open(path, "rt", encoding="utf-8")
    return open(path, encoding="utf-8")


def toneless(reading):
    """"lǜ" -> "lv", "ế" -> "e", "zhòng" -> "zhong"."""
    letters = unicodedata.normalize("NFD", reading.lower()).replace("u\u0308", "v")
    plain = "".join(c for c in letters if not unicodedata.combining(c))
    if not plain.isascii() or not plain.isalpha():
        raise ValueError(f"unexpected reading {reading!r}")
    return plain


def read_readings(path):
    readings = {}  # code point -> readings in order, kMandarin's first
    # kMandarin gives the most common reading; kHanyuPinyin every reading of
    # the traditional form, which a simplified character (长, 乐, 发) lacks:
    # the dictionaries of today's language (kXHC1983, kTGHZ2013) and the
    # frequencies of kHanyuPinlu give theirs (长: chang besides zhang).
    kinds = {"kMandarin": 0, "kHanyuPinyin": 1, "kXHC1983": 2, "kTGHZ2013": 3, "kHanyuPinlu": 4}
    rows = []
    with readings_file(path) as lines:
        for line in lines:
            if line.startswith("#") or not line.strip():
                continue
            code, field, value = line.rstrip("\n").split("\t")
            if field not in kinds:
                continue
            if field == "kMandarin":
                values = value.split()
            elif field == "kHanyuPinlu":  # "zhǎng(1879) cháng(1179)"
                values = [part.split("(", 1)[0] for part in value.split()]
            else:  # "10134.060:zuò,zuō,zuó 10135.010:..."
                values = [r for part in value.split() for r in part.split(":", 1)[1].split(",")]
            rows.append((int(code[2:], 16), kinds[field], values))
    for code, _, values in sorted(rows, key=lambda row: row[:2]):
        known = readings.setdefault(code, [])
        for value in values:
            syllable = toneless(value)
            for spelling in (syllable, syllable.replace("ve", "ue")):
                if spelling not in known:
                    known.append(spelling)
    return readings


def c_array(kind, name, values, per_line=16):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + ", ".join(str(v) for v in values[i : i + per_line]) + ",")
    return f"const {kind} {name}[] = {{\n" + "\n".join(lines) + "\n};\n"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    readings = read_readings(sys.argv[1])
    syllables = sorted({s for rs in readings.values() for s in rs})
    number = {s: i for i, s in enumerate(syllables)}
    sets = [()]
    set_number = {(): 0}
    char_set = {}
    for code in sorted(readings):
        key = tuple(number[s] for s in readings[code])
        if key not in set_number:
            set_number[key] = len(sets)
            sets.append(key)
        char_set[code] = set_number[key]

    set_start, set_syllables = [], []
    for key in sets:
        set_start.append(len(set_syllables))
        set_syllables.extend(key)
    set_start.append(len(set_syllables))
    bmp = [char_set.get(code, 0) for code in range(BMP_FIRST, BMP_END)]

    others = sorted(code for code in char_set if not BMP_FIRST <= code < BMP_END)
    block_count = others[-1] // BLOCK + 1
    block_of = [0] * block_count  # 1 + the block's number among those with sets
    block_bits, block_first, block_sets = [], [], []
    for code in others:
        block = code // BLOCK
        if not block_of[block]:
            block_bits.append(0)
            block_first.append(len(block_sets))
            block_of[block] = len(block_bits)
        block_bits[-1] |= 1 << (code % BLOCK)
        block_sets.append(char_set[code])
    for values in (set_start, set_syllables, bmp, block_of, block_first, block_sets):
        assert max(values) < 1 << 16

    size = (
        len(syllables) * 8
        + 2 * (len(set_start) + len(set_syllables) + len(bmp) + len(block_of) + len(block_first) + len(block_sets))
        + 8 * len(block_bits)
    )
    source = "\n".join(
        [
            f"// Made by scripts/pinyin-table.py from {sys.argv[1].rsplit('/', 1)[-1]} at build time:",
            f"// {len(readings)} characters, {len(syllables)} readings, {len(sets) - 1} sets of readings, {size} bytes.",
            '#include "search/PinyinTable.h"',
            "",
            "namespace PinyinTable {",
            f"const int kSyllableCount = {len(syllables)};",
            f"const int kSetCount = {len(sets)};",
            f"const char32_t kBlocksEnd = {block_count * BLOCK:#x};",
            "const char kSyllables[][8] = {\n"
            + "\n".join(f'    "{s}",' for s in syllables)
            + "\n};",
            c_array("std::uint16_t", "kSetStart", set_start),
            c_array("std::uint16_t", "kSetSyllables", set_syllables),
            c_array("std::uint16_t", "kBmp", bmp),
            c_array("std::uint16_t", "kBlockOf", block_of),
            c_array("std::uint64_t", "kBlockBits", [f"{bits:#x}u" for bits in block_bits], 4),
            c_array("std::uint16_t", "kBlockFirst", block_first),
            c_array("std::uint16_t", "kBlockSets", block_sets),
            "} // namespace PinyinTable",
            "",
        ]
    )
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(source)
    print(f"pinyin table: {len(readings)} characters, {len(syllables)} readings, {size} bytes")


if __name__ == "__main__":
    main()
