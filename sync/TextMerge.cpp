#include "sync/TextMerge.h"

#include <QHash>
#include <algorithm>
#include <vector>

namespace {
// Beyond this many lines removed and added the middle is replaced whole: the
// search costs the square of it in memory.
constexpr int kMostChanges = 1000;

// The lines' numbers: equal lines get the same one, so that comparing them
// costs nothing.
void Number(const QStringList& before, const QStringList& after, std::vector<int>& a, std::vector<int>& b)
{
    QHash<QString, int> numbers;
    const auto number = [&](const QString& line) {
        return *numbers.insert(line, numbers.value(line, int(numbers.size())));
    };
    for (const QString& line : before)
        a.push_back(number(line));
    for (const QString& line : after)
        b.push_back(number(line));
}

// Which of a's lines go and which of b's come, by Myers' shortest edit
// script; false when there are more than kMostChanges of them.
bool Marks(const std::vector<int>& a, const std::vector<int>& b, std::vector<bool>& gone, std::vector<bool>& come)
{
    const int n = int(a.size()), m = int(b.size());
    const int most = std::min(n + m, kMostChanges);
    std::vector<int> v(2 * size_t(most) + 3, 0);
    const int offset = most + 1;
    std::vector<std::vector<int>> trace;
    for (int d = 0; d <= most; ++d) {
        trace.emplace_back(v.begin() + offset - d - 1, v.begin() + offset + d + 2);
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            int y = x - k;
            while (x < n && y < m && a[size_t(x)] == b[size_t(y)])
                ++x, ++y;
            v[offset + k] = x;
            if (x < n || y < m)
                continue;
            // Back from the end, one step of d at a time.
            for (int step = d; step > 0; --step) {
                const std::vector<int>& before = trace[size_t(step)];
                const auto at = [&](int kk) { return before[size_t(kk + step + 1)]; };
                const int kk = x - y;
                const bool down = kk == -step || (kk != step && at(kk - 1) < at(kk + 1));
                const int previousK = down ? kk + 1 : kk - 1;
                const int previousX = at(previousK);
                const int previousY = previousX - previousK;
                while (x > previousX && y > previousY)
                    --x, --y;
                if (down)
                    come[size_t(previousY)] = true;
                else
                    gone[size_t(previousX)] = true;
                x = previousX;
                y = previousY;
            }
            return true;
        }
    }
    return false;
}
} // namespace

QStringList SplitLines(const QString& text)
{
    QStringList lines;
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(u'\n'); at >= 0; at = text.indexOf(u'\n', at + 1)) {
        const qsizetype end = at > from && text[at - 1] == u'\r' ? at - 1 : at;
        lines << text.mid(from, end - from);
        from = end;
    }
    lines << text.mid(from);
    return lines;
}

QList<THunk> DiffLines(const QStringList& before, const QStringList& after)
{
    qsizetype prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const QStringList a = before.mid(prefix, before.size() - prefix - suffix);
    const QStringList b = after.mid(prefix, after.size() - prefix - suffix);
    if (a.isEmpty() && b.isEmpty())
        return {};
    std::vector<int> na, nb;
    Number(a, b, na, nb);
    std::vector<bool> gone(na.size(), false), come(nb.size(), false);
    if (a.isEmpty() || b.isEmpty() || !Marks(na, nb, gone, come))
        return {THunk{prefix, a.size(), prefix, b.size()}};
    QList<THunk> hunks;
    size_t i = 0, j = 0;
    while (i < gone.size() || j < come.size()) {
        if (i < gone.size() && j < come.size() && !gone[i] && !come[j]) {
            ++i, ++j;
            continue;
        }
        const size_t oldStart = i, newStart = j;
        while (i < gone.size() && gone[i])
            ++i;
        while (j < come.size() && come[j])
            ++j;
        hunks << THunk{prefix + qsizetype(oldStart), qsizetype(i - oldStart), prefix + qsizetype(newStart),
                       qsizetype(j - newStart)};
    }
    return hunks;
}

QList<TTextEdit> TextEdits(const QString& before, const QString& after)
{
    const QStringList a = SplitLines(before), b = SplitLines(after);
    std::vector<qsizetype> startA{0}, startB{0};
    for (const QString& line : a)
        startA.push_back(startA.back() + line.size());
    for (const QString& line : b)
        startB.push_back(startB.back() + line.size());
    QList<TTextEdit> edits;
    for (const THunk& hunk : DiffLines(a, b)) {
        qsizetype from = startA[size_t(hunk.Old)], to = startA[size_t(hunk.Old + hunk.From)];
        qsizetype newFrom = startB[size_t(hunk.New)], newTo = startB[size_t(hunk.New + hunk.To)];
        while (from < to && newFrom < newTo && before[from] == after[newFrom])
            ++from, ++newFrom;
        while (from < to && newFrom < newTo && before[to - 1] == after[newTo - 1])
            --to, --newTo;
        edits << TTextEdit{from, to - from, after.mid(newFrom, newTo - newFrom)};
    }
    return edits;
}

QString MergeTexts(const QString& base, const QString& mine, const QString& theirs)
{
    const QStringList b = SplitLines(base);
    const QStringList sides[2] = {SplitLines(mine), SplitLines(theirs)};
    const QList<THunk> hunks[2] = {DiffLines(b, sides[0]), DiffLines(b, sides[1])};
    qsizetype next[2] = {0, 0};
    // A side's version of the base's lines [start, end): its hunks there applied.
    const auto version = [&](int side, qsizetype start, qsizetype end, qsizetype firstHunk, qsizetype lastHunk) {
        QStringList lines;
        qsizetype at = start;
        for (qsizetype h = firstHunk; h < lastHunk; ++h) {
            const THunk& hunk = hunks[side][h];
            lines << b.mid(at, hunk.Old - at) << sides[side].mid(hunk.New, hunk.To);
            at = hunk.Old + hunk.From;
        }
        return lines << b.mid(at, end - at);
    };
    QStringList merged;
    qsizetype at = 0;
    while (next[0] < hunks[0].size() || next[1] < hunks[1].size()) {
        const auto startOf = [&](int side) {
            return next[side] < hunks[side].size() ? hunks[side][next[side]].Old : b.size() + 1;
        };
        // A region of the base that either side changed, grown while a hunk
        // of the other side begins inside it (or at the same place).
        const qsizetype start = std::min(startOf(0), startOf(1));
        qsizetype end = start;
        qsizetype last[2] = {next[0], next[1]};
        for (bool grew = true; grew;) {
            grew = false;
            for (int side = 0; side < 2; ++side)
                while (last[side] < hunks[side].size() &&
                       (hunks[side][last[side]].Old < end || hunks[side][last[side]].Old == start)) {
                    end = std::max(end, hunks[side][last[side]].Old + hunks[side][last[side]].From);
                    ++last[side];
                    grew = true;
                }
        }
        merged << b.mid(at, start - at);
        const QStringList one = version(0, start, end, next[0], last[0]);
        const QStringList other = version(1, start, end, next[1], last[1]);
        const QStringList original = b.mid(start, end - start);
        if (one == other || other == original) {
            merged << one;
        } else if (one == original) {
            merged << other;
        } else {
            // Both versions, each on lines of its own.
            QStringList second = other;
            if (!one.join(QString()).isEmpty() && !second.isEmpty() && !second.first().startsWith(u'\n') &&
                !second.first().startsWith(u'\r'))
                second.first().prepend("\r\n");
            merged << one << second;
        }
        at = end;
        next[0] = last[0];
        next[1] = last[1];
    }
    merged << b.mid(at);
    return merged.join(QString());
}
