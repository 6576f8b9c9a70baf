#include "history/NoteHistory.h"

#include "data/MD.h"
#include "data/SqliteDb.h"

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

QByteArray NewestText(int typeId)
{
    TStmtHandle statement =
        PrepareNative(Db(), "select Text from NoteVersion where TypeID=? order by SavedAt desc, ID desc limit 1");
    sqlite3_bind_int(statement.get(), 1, typeId);
    return sqlite3_step(statement.get()) == SQLITE_ROW ? qUncompress(ColumnBytes(statement.get(), 0)) : QByteArray();
}

QStringList Lines(const QString& text)
{
    QString unified = text;
    unified.replace("\r\n", "\n");
    return unified.split('\n');
}
} // namespace

bool TNoteHistory::Keep(int typeId, const QByteArray& text, const QDateTime& at)
{
    if (text.isEmpty() || NewestText(typeId) == text)
        return false;
    DbAccess->Batch([&] {
        TStmtHandle statement = PrepareNative(Db(), "insert into NoteVersion(TypeID, SavedAt, Text) values (?, ?, ?)");
        sqlite3_bind_int(statement.get(), 1, typeId);
        sqlite3_bind_int64(statement.get(), 2, at.toSecsSinceEpoch());
        BindBlob(statement.get(), 3, qCompress(text));
        RunToEnd(Db(), statement.get());
    });
    return true;
}

QList<TNoteVersion> TNoteHistory::Versions(int typeId) const
{
    // qCompress puts the text's length in front, big-endian: the list reads
    // those four bytes, not the texts.
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
    TStmtHandle statement = PrepareNative(Db(), "select Text from NoteVersion where ID=?");
    sqlite3_bind_int64(statement.get(), 1, versionId);
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        return QString();
    return QString::fromUtf8(qUncompress(ColumnBytes(statement.get(), 0)));
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
    QList<qint64> gone;
    for (auto group = moments.constBegin(); group != moments.constEnd(); ++group) {
        const QList<qint64> kept = KeptVersionMoments(group.value(), now.toSecsSinceEpoch());
        QSet<qint64> keptOnce(kept.begin(), kept.end());
        for (qsizetype i = 0; i < group.value().size(); ++i)
            if (!keptOnce.remove(group.value()[i]))
                gone << ids[group.key()][i];
    }
    if (gone.isEmpty())
        return;
    DbAccess->Batch([&] {
        TStmtHandle statement = PrepareNative(Db(), "delete from NoteVersion where ID=?");
        for (qint64 id : gone) {
            sqlite3_bind_int64(statement.get(), 1, id);
            RunToEnd(Db(), statement.get());
            sqlite3_reset(statement.get());
        }
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
