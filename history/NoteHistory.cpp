#include "history/NoteHistory.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "history/TextDelta.h"

#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <sqlite3.h>
#include <vector>

namespace {
sqlite3* Db()
{
    return DbAccess->Handle();
}

QStringList Lines(const QString& text)
{
    QString unified = text;
    unified.replace("\r\n", "\n");
    unified.replace('\r', '\n');
    return unified.split('\n');
}

// A version as stored: the text compressed whole (qCompress, which puts the
// text's length in front, big-endian), or a delta against the next newer
// version of its note, with the text's length in front in the same way. The
// newest version of a note is always whole.
struct TStoredVersion
{
    qint64 Id = 0;
    qint64 SavedAt = 0;
    bool Delta = false;
};

QByteArray WholeBlob(const QByteArray& text)
{
    // zlib's fastest level for a large text: a third of the time of its
    // default (a second for 10 MB), for a few per cent more bytes.
    return qCompress(text, text.size() > 1024 * 1024 ? 1 : -1);
}

QByteArray DeltaBlob(const TDelta& delta)
{
    QByteArray blob(4, '\0');
    qToBigEndian<quint32>(quint32(DeltaLength(delta)), blob.data());
    return blob + PackDelta(delta);
}

QByteArray WholeText(const QByteArray& blob)
{
    const QByteArray text = qUncompress(blob);
    if (text.isEmpty())
        RaiseError("历史版本已损坏，无法读出。");
    return text;
}

QByteArray Blob(sqlite3* db, qint64 id)
{
    TStmtHandle statement = PrepareNative(db, "select Text from NoteVersion where ID=?");
    sqlite3_bind_int64(statement.get(), 1, id);
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        ThrowSqlError(db);
    return ColumnBytes(statement.get(), 0);
}

// A note's versions, the newest first, without their texts.
QList<TStoredVersion> Chain(sqlite3* db, int typeId)
{
    TStmtHandle statement =
        PrepareNative(db, "select ID, SavedAt, Delta from NoteVersion where TypeID=? order by SavedAt desc, ID desc");
    sqlite3_bind_int(statement.get(), 1, typeId);
    QList<TStoredVersion> chain;
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        chain.append({sqlite3_column_int64(statement.get(), 0), sqlite3_column_int64(statement.get(), 1),
                      sqlite3_column_int(statement.get(), 2) != 0});
    return chain;
}

// The texts of a note's versions in turn, the newest first, each made from
// the one before it.
class TTextWalk
{
public:
    TTextWalk(sqlite3* db, int typeId) : m_db(db), m_chain(Chain(db, typeId)) {}
    bool Next(qint64& savedAt, QByteArray& text)
    {
        if (m_at >= m_chain.size())
            return false;
        const TStoredVersion& version = m_chain[m_at++];
        const QByteArray blob = Blob(m_db, version.Id);
        m_text = version.Delta ? ApplyDelta(UnpackDelta(blob.mid(4)), m_text) : WholeText(blob);
        savedAt = version.SavedAt;
        text = m_text;
        return true;
    }

private:
    sqlite3* m_db;
    QList<TStoredVersion> m_chain;
    qsizetype m_at = 0;
    QByteArray m_text;
};

void Insert(int typeId, qint64 savedAt, const QByteArray& blob, bool delta)
{
    TStmtHandle statement =
        PrepareNative(Db(), "insert into NoteVersion(TypeID, SavedAt, Text, Delta) values (?, ?, ?, ?)");
    sqlite3_bind_int(statement.get(), 1, typeId);
    sqlite3_bind_int64(statement.get(), 2, savedAt);
    BindBlob(statement.get(), 3, blob);
    sqlite3_bind_int(statement.get(), 4, delta ? 1 : 0);
    RunToEnd(Db(), statement.get());
}

void Replace(qint64 id, const QByteArray& blob, bool delta)
{
    TStmtHandle statement = PrepareNative(Db(), "update NoteVersion set Text=?, Delta=? where ID=?");
    BindBlob(statement.get(), 1, blob);
    sqlite3_bind_int(statement.get(), 2, delta ? 1 : 0);
    sqlite3_bind_int64(statement.get(), 3, id);
    RunToEnd(Db(), statement.get());
}

void Remove(qint64 id)
{
    TStmtHandle statement = PrepareNative(Db(), "delete from NoteVersion where ID=?");
    sqlite3_bind_int64(statement.get(), 1, id);
    RunToEnd(Db(), statement.get());
}

// Writes a note's versions anew from their texts, the newest first: the
// newest whole, each older one as a delta against the one written before
// it. Their moments only go down, so the order stays.
class TChainWriter
{
public:
    explicit TChainWriter(int typeId) : m_typeId(typeId) {}
    void Add(qint64 savedAt, const QByteArray& text)
    {
        if (m_any && text == m_previous)
            return;
        if (m_any)
            savedAt = std::min(savedAt, m_savedAt - 1);
        if (m_any)
            Insert(m_typeId, savedAt, DeltaBlob(MakeDelta(m_previous, text)), true);
        else
            Insert(m_typeId, savedAt, WholeBlob(text), false);
        m_any = true;
        m_previous = text;
        m_savedAt = savedAt;
    }

private:
    int m_typeId;
    bool m_any = false;
    QByteArray m_previous;
    qint64 m_savedAt = 0;
};

// One version on the walk down a note's chain while some are removed: whole
// (its text, or its blob not read yet), or a delta against the nearest
// newer version that stays.
struct TWalked
{
    bool Removed = false;
    bool Whole = true;
    QByteArray Blob;
    QByteArray Text;
    TDelta Delta;
    QByteArray WholeText() const { return Text.isEmpty() ? ::WholeText(Blob) : Text; }
};

// Removes the versions named, each older one that was a delta against a
// removed one made against the next newer that stays (its delta composed
// with the removed one's, or, below a removed whole one, whole).
void RemoveFromChain(int typeId, const QSet<qint64>& gone)
{
    TWalked before;
    for (const TStoredVersion& version : Chain(Db(), typeId)) {
        TWalked walked;
        walked.Removed = gone.contains(version.Id);
        const QByteArray blob = Blob(Db(), version.Id);
        bool changed = false;
        if (!version.Delta) {
            walked.Blob = blob;
        } else {
            const TDelta delta = UnpackDelta(blob.mid(4));
            walked.Whole = false;
            walked.Delta = delta;
            if (before.Removed && before.Whole) {
                walked.Whole = true;
                walked.Text = ApplyDelta(delta, before.WholeText());
                changed = true;
            } else if (before.Removed) {
                walked.Delta = ComposeDeltas(delta, before.Delta);
                changed = true;
            }
        }
        if (walked.Removed)
            Remove(version.Id);
        else if (changed)
            Replace(version.Id, walked.Whole ? WholeBlob(walked.Text) : DeltaBlob(walked.Delta), !walked.Whole);
        before = std::move(walked);
    }
}

// Past the note's budget, its oldest versions go (nothing is made from
// them), the newest always stays.
void KeepWithinBudget(int typeId)
{
    TStmtHandle statement = PrepareNative(
        Db(), "select ID, length(Text), substr(Text, 1, 4) from NoteVersion where TypeID=? order by SavedAt, ID");
    sqlite3_bind_int(statement.get(), 1, typeId);
    QList<QPair<qint64, qint64>> oldestFirst;
    qint64 total = 0;
    qint64 largest = 0;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const qint64 length = sqlite3_column_int64(statement.get(), 1);
        const QByteArray head = ColumnBytes(statement.get(), 2);
        if (head.size() == 4)
            largest = std::max<qint64>(largest, qFromBigEndian<quint32>(head.constData()));
        oldestFirst.append({sqlite3_column_int64(statement.get(), 0), length});
        total += length;
    }
    statement.reset();
    const qint64 budget = std::max(TNoteHistory::kBudgetFactor * largest, TNoteHistory::kBudgetFloor);
    for (qsizetype i = 0; i + 1 < oldestFirst.size() && total > budget; ++i) {
        Remove(oldestFirst[i].first);
        total -= oldestFirst[i].second;
    }
}

QByteArray NoteText(sqlite3* db, int typeId)
{
    TStmtHandle statement = PrepareNative(db, "select ReMark from NoteBook where TypeID=?");
    sqlite3_bind_int(statement.get(), 1, typeId);
    return sqlite3_step(statement.get()) == SQLITE_ROW ? ColumnBytes(statement.get(), 0) : QByteArray();
}

QSet<int> Numbers(sqlite3* db, const char* sql)
{
    TStmtHandle statement = PrepareNative(db, sql);
    QSet<int> numbers;
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        numbers.insert(sqlite3_column_int(statement.get(), 0));
    return numbers;
}

// Merges the versions of one note from the other file, with the note's
// text there as one more version, into this file's. Both are read a version
// at a time; the merged ones are written under a number no group has, and
// take the note's number once the old ones are gone.
void MergeNote(sqlite3* other, int typeId, qint64 now)
{
    const QByteArray otherNote = NoteText(other, typeId);
    TTextWalk mine(Db(), typeId);
    TTextWalk theirs(other, typeId);
    qint64 myAt = 0, theirAt = now;
    QByteArray myText, theirText = otherNote;
    bool haveMine = mine.Next(myAt, myText);
    bool haveTheirs = !otherNote.isEmpty() && otherNote != NoteText(Db(), typeId);
    if (!haveTheirs)
        haveTheirs = theirs.Next(theirAt, theirText);
    if (!haveTheirs)
        return;
    const int aside = -2 - typeId;
    TChainWriter writer(aside);
    while (haveMine || haveTheirs) {
        if (haveMine && (!haveTheirs || myAt >= theirAt)) {
            writer.Add(myAt, myText);
            // The same version in both files is kept once.
            if (haveTheirs && myAt == theirAt && myText == theirText)
                haveTheirs = theirs.Next(theirAt, theirText);
            haveMine = mine.Next(myAt, myText);
        } else {
            writer.Add(theirAt, theirText);
            haveTheirs = theirs.Next(theirAt, theirText);
        }
    }
    ExecNative(Db(), QString("delete from NoteVersion where TypeID=%1").arg(typeId));
    ExecNative(Db(), QString("update NoteVersion set TypeID=%1 where TypeID=%2").arg(typeId).arg(aside));
    KeepWithinBudget(typeId);
}
} // namespace

bool TNoteHistory::Keep(int typeId, const QByteArray& text, const QDateTime& at)
{
    if (text.isEmpty())
        return false;
    const QList<TStoredVersion> chain = Chain(Db(), typeId);
    const QByteArray newest = chain.isEmpty() ? QByteArray() : Blob(Db(), chain.first().Id);
    const bool whole = !chain.isEmpty() && !chain.first().Delta;
    const QByteArray previous = whole ? WholeText(newest) : QByteArray();
    if (whole && previous == text)
        return false;
    DbAccess->Batch([&] {
        // After the newest, also when the clock was set back: the versions'
        // order is their moments'.
        const qint64 savedAt =
            chain.isEmpty() ? at.toSecsSinceEpoch() : std::max(at.toSecsSinceEpoch(), chain.first().SavedAt + 1);
        Insert(typeId, savedAt, WholeBlob(text), false);
        if (whole) {
            const QByteArray delta = DeltaBlob(MakeDelta(text, previous));
            if (delta.size() < newest.size())
                Replace(chain.first().Id, delta, true);
        }
        KeepWithinBudget(typeId);
    });
    return true;
}

QList<TNoteVersion> TNoteHistory::Versions(int typeId) const
{
    // The text's length stands in front of each version, big-endian: the
    // list reads those four bytes, not the texts.
    TStmtHandle statement = PrepareNative(
        Db(), "select ID, SavedAt, substr(Text, 1, 4) from NoteVersion where TypeID=? order by SavedAt desc, ID desc");
    sqlite3_bind_int(statement.get(), 1, typeId);
    QList<TNoteVersion> versions;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        const QByteArray head = ColumnBytes(statement.get(), 2);
        const qint64 size = head.size() == 4 ? qFromBigEndian<quint32>(head.constData()) : 0;
        versions.append({sqlite3_column_int64(statement.get(), 0),
                         QDateTime::fromSecsSinceEpoch(sqlite3_column_int64(statement.get(), 1)), size});
    }
    return versions;
}

QString TNoteHistory::Text(qint64 versionId) const
{
    TStmtHandle statement = PrepareNative(Db(), "select TypeID from NoteVersion where ID=?");
    sqlite3_bind_int64(statement.get(), 1, versionId);
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        return QString();
    // The deltas down from the newest whole version are composed, and the
    // text made once.
    QByteArray whole;
    TDelta composed;
    bool any = false;
    for (const TStoredVersion& version : Chain(Db(), sqlite3_column_int(statement.get(), 0))) {
        const QByteArray blob = Blob(Db(), version.Id);
        if (!version.Delta) {
            whole = blob;
            any = false;
        } else {
            const TDelta delta = UnpackDelta(blob.mid(4));
            composed = any ? ComposeDeltas(delta, composed) : delta;
            any = true;
        }
        if (version.Id == versionId)
            return QString::fromUtf8(any ? ApplyDelta(composed, WholeText(whole)) : WholeText(whole));
    }
    return QString();
}

void TNoteHistory::Thin(const QDateTime& now)
{
    // Per group: a day or week of one group keeps its own newest version.
    QHash<int, QList<qint64>> moments;
    QHash<int, QList<qint64>> ids;
    {
        TStmtHandle statement = PrepareNative(Db(), "select TypeID, SavedAt, ID from NoteVersion");
        while (sqlite3_step(statement.get()) == SQLITE_ROW) {
            const int typeId = sqlite3_column_int(statement.get(), 0);
            moments[typeId] << sqlite3_column_int64(statement.get(), 1);
            ids[typeId] << sqlite3_column_int64(statement.get(), 2);
        }
    }
    QHash<int, QSet<qint64>> gone;
    for (auto group = moments.constBegin(); group != moments.constEnd(); ++group) {
        const QList<qint64> kept = KeptVersionMoments(group.value(), now.toSecsSinceEpoch());
        QSet<qint64> keptOnce(kept.begin(), kept.end());
        for (qsizetype i = 0; i < group.value().size(); ++i)
            if (!keptOnce.remove(group.value()[i]))
                gone[group.key()].insert(ids[group.key()][i]);
    }
    if (gone.isEmpty())
        return;
    DbAccess->Batch([&] {
        for (auto group = gone.constBegin(); group != gone.constEnd(); ++group)
            RemoveFromChain(group.key(), group.value());
    });
}

void TNoteHistory::MergeFrom(const QString& path, const QDateTime& now)
{
    TDbHandle other;
    try {
        other = OpenReadOnly(path, 2000);
    } catch (const TSqlError& e) {
        RaiseError("历史版本未能合并：" + e.Message);
    }
    const QSet<int> groups = Numbers(Db(), "select SelfIndex from NoteType") + QSet<int>{0};
    const QSet<int> there = Numbers(other.get(), "select TypeID from NoteVersion union select TypeID from NoteBook");
    DbAccess->Batch([&] {
        for (int typeId : there)
            if (groups.contains(typeId))
                MergeNote(other.get(), typeId, now.toSecsSinceEpoch());
    });
}

QList<qint64> KeptVersionMoments(QList<qint64> moments, qint64 now)
{
    constexpr qint64 kDay = 24 * 60 * 60;
    std::sort(moments.begin(), moments.end(), std::greater<qint64>());
    QList<qint64> kept;
    QSet<qint64> periods;
    for (qint64 moment : moments) {
        const qint64 age = now - moment;
        if (age <= 30 * kDay) {
            kept << moment;
            continue;
        }
        if (age > 365 * kDay)
            continue;
        // Days and weeks counted back from now, so a period never straddles the rule's edge.
        const qint64 period = age <= 90 * kDay ? age / kDay : 1000 + age / (7 * kDay);
        if (!periods.contains(period)) {
            periods.insert(period);
            kept << moment;
        }
    }
    return kept;
}

QList<TDiffLine> DiffLines(const QString& version, const QString& current)
{
    const QStringList a = Lines(version);
    const QStringList b = Lines(current);
    qsizetype head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    qsizetype tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    QList<TDiffLine> lines;
    for (qsizetype i = 0; i < head; ++i)
        lines.append({TDiffLine::Same, a[i]});
    const qsizetype n = a.size() - head - tail;
    const qsizetype m = b.size() - head - tail;
    if (n * m <= 4'000'000) {
        // The longest common subsequence of the changed middle, by a table
        // of the lengths from each pair of positions to the end.
        std::vector<std::vector<int>> length(n + 1, std::vector<int>(m + 1, 0));
        for (qsizetype i = n - 1; i >= 0; --i)
            for (qsizetype j = m - 1; j >= 0; --j)
                length[i][j] = a[head + i] == b[head + j] ? length[i + 1][j + 1] + 1
                                                          : std::max(length[i + 1][j], length[i][j + 1]);
        qsizetype i = 0, j = 0;
        while (i < n || j < m) {
            if (i < n && j < m && a[head + i] == b[head + j]) {
                lines.append({TDiffLine::Same, a[head + i]});
                ++i, ++j;
            } else if (j == m || (i < n && length[i + 1][j] >= length[i][j + 1])) {
                lines.append({TDiffLine::OnlyInVersion, a[head + i++]});
            } else {
                lines.append({TDiffLine::OnlyInCurrent, b[head + j++]});
            }
        }
    } else {
        for (qsizetype i = 0; i < n; ++i)
            lines.append({TDiffLine::OnlyInVersion, a[head + i]});
        for (qsizetype j = 0; j < m; ++j)
            lines.append({TDiffLine::OnlyInCurrent, b[head + j]});
    }
    for (qsizetype i = a.size() - tail; i < a.size(); ++i)
        lines.append({TDiffLine::Same, a[i]});
    return lines;
}
