#include "sync/NoteLines.h"

#include "sync/TextMerge.h"

#include <QSet>
#include <algorithm>

namespace {
const QString kBreak = QStringLiteral("\r\n");

// FNV-1a: the same on every computer, as the numbers of lines met written are.
quint64 Fnv(const QByteArray& bytes)
{
    quint64 hash = 1469598103934665603ULL;
    for (const char c : bytes) {
        hash ^= quint8(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

bool Earlier(const TLineMark& one, const TLineMark& other)
{
    return one.Stamp != other.Stamp ? one.Stamp < other.Stamp : one.Origin < other.Origin;
}

// The earlier of two marks of the same line (removed twice: by the first),
// so that every computer keeps the same one.
bool TakeMark(TLineMark& mark, const TLineMark& incoming)
{
    if (!incoming.IsSet() || (mark.IsSet() && !Earlier(incoming, mark)))
        return false;
    mark = incoming;
    return true;
}

void See(TStamps& seen, const TLineMark& mark)
{
    if (mark.IsSet())
        Include(seen, ComputerText(mark.Origin), mark.Stamp);
}

bool StartsWithBreak(const QString& text)
{
    return text.startsWith(u'\n') || text.startsWith(kBreak);
}
} // namespace

TNoteLines::TNoteLines(const QList<TNoteLine>& lines)
{
    for (const TNoteLine& line : lines)
        m_lines.insert(line.Id, line);
}

TNoteLines TNoteLines::FromText(const QString& text)
{
    TNoteLines note;
    if (text.isEmpty())
        return note;
    QHash<QString, int> seen;
    TLineId after;
    for (const QString& line : SplitLines(text)) {
        const int occurrence = seen[line]++;
        TNoteLine record;
        record.Id.Origin = std::max<quint64>(1, Fnv(line.toUtf8() + '\x1f' + QByteArray::number(occurrence)));
        record.After = after;
        record.Text = line;
        note.m_lines.insert(record.Id, record);
        after = record.Id;
    }
    return note;
}

QList<TNoteLine> TNoteLines::All() const
{
    QList<TNoteLine> lines = m_lines.values();
    std::sort(lines.begin(), lines.end(), [](const TNoteLine& a, const TNoteLine& b) { return a.Id < b.Id; });
    return lines;
}

QList<TNoteLine> TNoteLines::ChangedBy(quint64 origin, qint64 since) const
{
    QList<TNoteLine> lines;
    for (const TNoteLine& line : All()) {
        const bool made = line.Id.Origin == origin && line.Id.Stamp > since;
        const bool marked = (line.Gone.Origin == origin && line.Gone.Stamp > since) ||
                            (line.Settled.Origin == origin && line.Settled.Stamp > since);
        if (made || marked)
            lines << line;
    }
    return lines;
}

void TNoteLines::AddStamps(TStamps& seen) const
{
    for (const TNoteLine& line : m_lines) {
        if (line.Id.Stamp != 0)
            Include(seen, ComputerText(line.Id.Origin), line.Id.Stamp);
        See(seen, line.Gone);
        See(seen, line.Settled);
    }
}

bool TNoteLines::Merge(const QList<TNoteLine>& lines)
{
    bool changed = false;
    for (TNoteLine line : lines) {
        if (line.Gone.IsSet())
            line.Text.clear();
        auto known = m_lines.find(line.Id);
        if (known == m_lines.end()) {
            m_lines.insert(line.Id, line);
            changed = true;
            continue;
        }
        // A line met written on two computers after different lines: the
        // earlier of the two places, the same everywhere.
        if (line.After != known->After && line.After < known->After) {
            known->After = line.After;
            changed = true;
        }
        if (TakeMark(known->Gone, line.Gone)) {
            known->Text.clear();
            changed = true;
        }
        if (known->Replaces.isEmpty() && !line.Replaces.isEmpty()) {
            known->Replaces = line.Replaces;
            known->By = line.By;
            changed = true;
        }
        changed |= TakeMark(known->Settled, line.Settled);
    }
    return changed;
}

// The lines in the text's order: after each line the lines added after it,
// newest first, then what follows it. A line whose place is not known yet
// (it came before the line it follows) goes at the end until it is.
QList<TLineId> TNoteLines::Order() const
{
    QHash<TLineId, QList<TLineId>> children;
    for (const TNoteLine& line : m_lines)
        children[line.After] << line.Id;
    for (QList<TLineId>& list : children)
        std::sort(list.begin(), list.end(), [](const TLineId& a, const TLineId& b) { return b < a; });
    QList<TLineId> order;
    QSet<TLineId> visited;
    const auto walk = [&](const TLineId& start) {
        // Iterative: a note of many lines is one long chain.
        QList<QPair<TLineId, qsizetype>> stack{{start, 0}};
        while (!stack.isEmpty()) {
            auto& [id, next] = stack.last();
            const QList<TLineId> below = children.value(id); // shared, not copied
            if (next == below.size()) {
                stack.removeLast();
                continue;
            }
            const TLineId child = below[next++];
            if (visited.contains(child))
                continue;
            visited.insert(child);
            order << child;
            stack.append({child, 0});
        }
    };
    walk(TLineId());
    if (order.size() < m_lines.size()) {
        QList<TLineId> rest;
        for (const TNoteLine& line : m_lines)
            if (!visited.contains(line.Id))
                rest << line.Id;
        std::sort(rest.begin(), rest.end());
        for (const TLineId& id : rest)
            if (!visited.contains(id)) {
                visited.insert(id);
                order << id;
                walk(id);
            }
    }
    return order;
}

// The lines one edit added: the first, then each added after the one before
// it with the next number.
QList<TLineId> TNoteLines::Run(const TLineId& first) const
{
    QList<TLineId> run{first};
    for (TLineId at = first;;) {
        const TLineId next{at.Stamp + 1, at.Origin};
        const auto line = m_lines.constFind(next);
        if (line == m_lines.cend() || line->After != at)
            return run;
        run << next;
        at = next;
    }
}

QList<TNoteLines::TPiece> TNoteLines::Pieces(QList<TConflict>* conflictsOut) const
{
    const QList<TLineId> order = Order();
    QHash<TLineId, qsizetype> place;
    for (qsizetype i = 0; i < order.size(); ++i)
        place.insert(order[i], i);
    const auto alive = [&](const TLineId& id) {
        const auto line = m_lines.constFind(id);
        return line != m_lines.cend() && !line->Gone.IsSet();
    };

    // Edits that replaced a common line, grouped.
    QHash<TLineId, QList<TLineId>> replacers;
    for (const TNoteLine& line : m_lines) {
        for (const TLineId& replaced : line.Replaces)
            replacers[replaced] << line.Id;
    }
    QList<TConflict> conflicts;
    QHash<TLineId, QStringList> before, after; // marker lines around a line
    QSet<TLineId> grouped;
    QList<TLineId> keys = replacers.keys();
    std::sort(keys.begin(), keys.end());
    for (const TLineId& key : keys) {
        if (replacers[key].size() < 2 || grouped.contains(key))
            continue;
        // Every replaced line reachable through a shared edit.
        QList<TLineId> edits, replaced{key};
        QSet<TLineId> metEdits, metReplaced{key}; // a file may hold thousands of them
        for (qsizetype i = 0; i < replaced.size(); ++i)
            for (const TLineId& edit : replacers.value(replaced[i]))
                if (!metEdits.contains(edit)) {
                    metEdits.insert(edit);
                    edits << edit;
                    for (const TLineId& other : m_lines.value(edit).Replaces)
                        if (!metReplaced.contains(other)) {
                            metReplaced.insert(other);
                            replaced << other;
                        }
                }
        for (const TLineId& id : replaced)
            grouped.insert(id);
        const bool settled = std::any_of(replaced.begin(), replaced.end(),
                                         [&](const TLineId& id) { return m_lines.value(id).Settled.IsSet(); });
        QList<QPair<QList<TLineId>, QString>> runs; // the shown lines of each version, and whose
        for (const TLineId& edit : edits) {
            QList<TLineId> shown;
            for (const TLineId& id : Run(edit))
                if (alive(id))
                    shown << id;
            if (!shown.isEmpty()) {
                std::sort(shown.begin(), shown.end(),
                          [&](const TLineId& a, const TLineId& b) { return place[a] < place[b]; });
                // A name from another computer's file: one line, of a sensible length.
                runs.append({shown, m_lines.value(edit).By.simplified().left(40)});
            }
        }
        if (settled || runs.size() < 2)
            continue;
        std::sort(runs.begin(), runs.end(),
                  [&](const auto& a, const auto& b) { return place[a.first.first()] < place[b.first.first()]; });
        const int index = int(conflicts.size());
        std::sort(replaced.begin(), replaced.end());
        conflicts << TConflict{replaced.first(), replaced};
        TLineId last = runs.first().first.last();
        for (qsizetype r = 0; r < runs.size(); ++r) {
            const QString label =
                r == 0 ? QString("【冲突】下面是“%1”的改法（两台电脑同时改了这里：留下要的内容，再删去【冲突】这几行）")
                       : QString("【冲突】下面是“%1”的改法");
            before[runs[r].first.first()] << QString::number(index) + ":" + label.arg(runs[r].second);
            for (const TLineId& id : runs[r].first)
                if (place[id] > place[last])
                    last = id;
        }
        after[last] << QString::number(index) + ":【冲突】以上";
    }
    if (conflictsOut)
        *conflictsOut = conflicts;

    // Each piece is one line of the text it makes, its line break first.
    QList<TPiece> pieces;
    QString previous;
    const auto add = [&](QString text, const TLineId& line, int conflict) {
        if (pieces.isEmpty() && StartsWithBreak(text))
            pieces << TPiece{QString(), TLineId(), -2}; // the empty first line before it
        if (!pieces.isEmpty() && !StartsWithBreak(text))
            text.prepend(kBreak);
        else if (text.startsWith(u'\n') && previous.endsWith(u'\r'))
            text.prepend(u'\r');
        previous = text;
        pieces << TPiece{text, line, conflict};
    };
    const auto markers = [&](const QStringList& list) {
        for (const QString& marker : list)
            add(marker.section(':', 1), TLineId(), marker.section(':', 0, 0).toInt());
    };
    for (const TLineId& id : order) {
        if (!alive(id))
            continue;
        markers(before.value(id));
        add(m_lines.value(id).Text, id, -1);
        markers(after.value(id));
    }
    return pieces;
}

QString TNoteLines::Text() const
{
    QString text;
    for (const TPiece& piece : Pieces())
        text += piece.Text;
    return text;
}

QList<TLineId> TNoteLines::Conflicts() const
{
    QList<TConflict> conflicts;
    Pieces(&conflicts);
    QList<TLineId> keys;
    for (const TConflict& conflict : conflicts)
        keys << conflict.Key;
    return keys;
}

// Once more where the lines do not show the text yet: an edited marker line
// settles its conflict, and the other marker lines, still in the text,
// become lines of it.
bool TNoteLines::Take(const QString& text, quint64 me, const QString& myName, const std::function<qint64()>& next)
{
    bool changed = false;
    for (int pass = 0; pass < 3; ++pass) {
        if (!TakeOnce(text, me, myName, next))
            break;
        changed = true;
    }
    return changed;
}

bool TNoteLines::TakeOnce(const QString& text, quint64 me, const QString& myName, const std::function<qint64()>& next)
{
    QList<TConflict> conflicts;
    const QList<TPiece> pieces = Pieces(&conflicts);
    QStringList shown;
    for (const TPiece& piece : pieces)
        shown << piece.Text;
    const QStringList typed = text.isEmpty() && pieces.isEmpty() ? QStringList() : SplitLines(text);
    const QList<THunk> hunks = DiffLines(shown, typed);
    for (const THunk& hunk : hunks) {
        QList<TLineId> removed;
        for (qsizetype i = hunk.Old; i < hunk.Old + hunk.From; ++i) {
            const TPiece& piece = pieces[i];
            if (piece.Conflict >= 0) {
                const TLineMark settled{next(), me};
                for (const TLineId& id : conflicts[piece.Conflict].Replaced)
                    TakeMark(m_lines[id].Settled, settled);
            } else if (piece.Conflict == -1) {
                TNoteLine& line = m_lines[piece.Line];
                line.Gone = TLineMark{next(), me};
                line.Text.clear();
                removed << piece.Line;
            }
        }
        if (hunk.To == 0)
            continue;
        // Added after the nearest line before the hunk (the root when none).
        TLineId after;
        for (qsizetype i = hunk.Old - 1; i >= 0; --i)
            if (pieces[i].Conflict == -1) {
                after = pieces[i].Line;
                break;
            }
        // One stamp per line, one after another: the lines of one edit are
        // told apart from later ones by their numbers (see Run).
        const qint64 first = next();
        for (qsizetype j = 1; j < hunk.To; ++j)
            next();
        for (qsizetype j = 0; j < hunk.To; ++j) {
            TNoteLine line;
            line.Id = TLineId{first + j, me};
            line.After = after;
            line.Text = typed[hunk.New + j];
            if (j == 0 && !removed.isEmpty()) {
                line.Replaces = removed;
                line.By = myName;
            }
            m_lines.insert(line.Id, line);
            after = line.Id;
        }
    }
    return !hunks.isEmpty();
}
