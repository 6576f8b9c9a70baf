#include "sync/Sync.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "sync/SyncEngine.h"
#include "sync/SyncFolder.h"
#include "sync/SyncItem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QSet>
#include <QSysInfo>
#include <QUuid>
#include <limits>
#include <optional>
#include <sqlite3.h>

namespace {
// How long the work of a step of taking this computer's changes or of
// reading its state may take, while the window waits between steps.
constexpr qint64 kStepWorkMs = 40;
// The file of changes since the state is written anew at each round; once
// it is larger than this and a quarter of the state, a new state replaces
// both.
constexpr qsizetype kChangesBytes = 64 * 1024;

QStringList g_changedReminders;
std::function<void()> g_betweenSteps;
qint64 g_stepMs = 0;
bool g_inRound = false;
std::function<bool(const QString&)> g_askBeforeLoss;
QSet<QString> g_declined; // "computer-seq" of files whose deletes the user declined
std::function<void()> g_killPoint;
qint64 g_lastRound = 0; // the last round's time, also when nothing was written

void KillPoint()
{
    if (g_killPoint)
        g_killPoint();
}

sqlite3* Db()
{
    return DbAccess->Handle();
}

QVariant Setting(const QString& name)
{
    TStmtHandle read = PrepareNative(Db(), "select Value from SyncSet where Name=?");
    BindText(read.get(), 1, name);
    return sqlite3_step(read.get()) == SQLITE_ROW ? ColumnVariant(read.get(), 0) : QVariant();
}

void SetSetting(const QString& name, const QVariant& value)
{
    TStmtHandle write = PrepareNative(Db(), "insert or replace into SyncSet(Name, Value) values (?, ?)");
    BindText(write.get(), 1, name);
    BindVariant(write.get(), 2, value);
    RunToEnd(Db(), write.get());
}

QString MyName()
{
    const QString name = Setting("Name").toString();
    return name.isEmpty() ? QSysInfo::machineHostName() : name;
}

// A batch of writes of this program's own that the change notes leave out.
void Applying(const std::function<void()>& writes)
{
    DbAccess->Batch([&] {
        ExecNative(Db(), "insert into SyncApplying values (1)");
        writes();
        ExecNative(Db(), "delete from SyncApplying");
        KillPoint();
    });
}

QHash<QString, QString> Hosts()
{
    QHash<QString, QString> hosts;
    TStmtHandle rows = PrepareNative(Db(), "select Computer, Host from SyncPeer");
    while (sqlite3_step(rows.get()) == SQLITE_ROW)
        hosts.insert(ColumnText(rows.get(), 0), ColumnText(rows.get(), 1));
    hosts.insert(Setting("Computer").toString(), MyName());
    return hosts;
}

qint64 AppliedSeq(const QString& computer)
{
    TStmtHandle read = PrepareNative(Db(), "select Seq from SyncPeer where Computer=?");
    BindText(read.get(), 1, computer);
    return sqlite3_step(read.get()) == SQLITE_ROW ? sqlite3_column_int64(read.get(), 0) : 0;
}

// Whether the item is a group of the same tree as the one before it.
bool SameGroups(const TSyncItem& before, const TSyncItem& item)
{
    return (item.Kind == skNoteGroup || item.Kind == skBookmarkGroup) && item.Kind == before.Kind;
}

void Between()
{
    if (g_betweenSteps)
        g_betweenSteps();
}

QString FileName(const TSyncFile& file)
{
    return QDir::toNativeSeparators(QFileInfo(file.Path).fileName());
}

class TRound
{
public:
    TRound()
        : m_computer(Setting("Computer").toString()),
          m_folder(Setting("Folder").toString(), Setting("Key").toByteArray())
    {
    }

    TSyncReport Run()
    {
        m_folder.CheckHeader();
        m_seq = Setting("Seq").toLongLong();
        for (const TSyncFile& file : m_folder.Files()) {
            if (file.Computer != m_computer)
                m_files << file;
            else if (file.Seq > m_seq) // named after this computer, not written by it
                m_folder.Note(FileName(file), "不是这台电脑写入的（序号比它写过的都大），已跳过");
            else
                m_own << file;
        }
        TakeOwn();
        // A computer that joins sends its own state before it merges the
        // others': it holds only what is its own then.
        if (Setting("NeedState").toInt() != 0)
            WriteState();
        ApplyOthers();
        Publish();
        m_report.Skipped = m_folder.Skipped();
        // A round with nothing new writes nothing: its time is kept in memory.
        const TSyncStatus before = TSync::Status();
        g_lastRound = QDateTime::currentMSecsSinceEpoch();
        if (m_report.Sent || m_report.Applied || before.Computers != m_report.Computers ||
            before.Skipped != m_report.Skipped || before.Waiting != m_report.Waiting || !before.LastRound.isValid())
            Applying([&] {
                SetSetting("LastRound", g_lastRound);
                SetSetting("Computers", m_report.Computers);
                SetSetting("Skipped", m_report.Skipped.join('\n'));
                SetSetting("Waiting", m_report.Waiting.join('\n'));
            });
        return m_report;
    }

private:
    TSyncEngine Engine(const QHash<QString, QString>& hosts) { return TSyncEngine(m_computer, MyName(), hosts); }

    // This computer's changes into the records, in steps of some thousand
    // rows (the first round of a large profile takes every row).
    void TakeOwn()
    {
        for (bool more = TSync::HasLocalChanges(); more;) {
            const qsizetype most = g_betweenSteps ? m_takeRows : -1;
            Applying([&] {
                QElapsedTimer work;
                work.start();
                TSyncEngine engine(m_computer, MyName(), Hosts());
                m_report.Sent += engine.TakeLocalChanges(most, &more);
                m_takeRows = Resized(most, work);
            });
            if (more)
                Between();
        }
    }

    // The size of the next step, from what this one took: about kStepWorkMs
    // of work (the commit after it comes on top).
    static qsizetype Resized(qsizetype size, const QElapsedTimer& work)
    {
        if (size <= 0)
            return size;
        return std::clamp<qsizetype>(size * kStepWorkMs * 1000000 / std::max<qint64>(1, work.nsecsElapsed()), 20,
                                     20000);
    }

    // ---- Other computers' files

    // Each computer's newest file of changes whose state is applied here or
    // can be; else its newest state. A file that cannot be read is named and
    // passed by for an older one of the same computer.
    void ApplyOthers()
    {
        QMap<QString, QList<TSyncFile>> byComputer;
        for (const TSyncFile& file : std::as_const(m_files))
            byComputer[file.Computer] << file;
        m_report.Computers = int(byComputer.size());
        for (auto it = byComputer.cbegin(); it != byComputer.cend(); ++it)
            ApplyComputer(it.value(), AppliedSeq(it.key()));
    }

    void ApplyComputer(QList<TSyncFile> files, qint64 applied)
    {
        std::sort(files.begin(), files.end(), [](const TSyncFile& a, const TSyncFile& b) { return a.Seq > b.Seq; });
        const auto find = [&](qint64 seq, bool state) -> const TSyncFile* {
            for (const TSyncFile& file : files)
                if (file.Seq == seq && file.State == state)
                    return &file;
            return nullptr;
        };
        QString waitingFor;
        for (const TSyncFile& file : files) {
            if (file.Seq <= applied)
                break;
            const std::optional<TSyncBatch> batch = Read(file);
            if (!batch)
                continue;
            if (!batch->State && applied < batch->Base) {
                // Its changes build on a state not applied here yet.
                const TSyncFile* state = find(batch->Base, true);
                const std::optional<TSyncBatch> base = state ? Read(*state) : std::nullopt;
                if (!base) {
                    if (waitingFor.isEmpty())
                        waitingFor = QString("jotterel-%1-%2.state.jsync")
                                         .arg(file.Computer)
                                         .arg(batch->Base, 10, 10, QChar('0'));
                    continue;
                }
                if (!Apply(*base))
                    return;
                applied = base->Seq;
            }
            Apply(*batch);
            return;
        }
        if (!waitingFor.isEmpty())
            m_report.Waiting << QString("“%1”的 %2").arg(HostOf(files.first().Computer), waitingFor);
    }

    QString HostOf(const QString& computer)
    {
        const QString host = Hosts().value(computer);
        return host.isEmpty() ? computer : host;
    }

    // The file's batch; nothing, with its name and the reason noted, when it
    // cannot be read whole or is not what its name says.
    std::optional<TSyncBatch> Read(const TSyncFile& file)
    {
        if (m_read.contains(file.Path))
            return m_read.value(file.Path);
        std::optional<TSyncBatch> batch;
        if (const std::optional<QByteArray> bytes = m_folder.Read(file)) {
            try {
                batch = DecodeBatch(*bytes);
                if (batch->Computer != file.Computer || batch->Seq != file.Seq || batch->State != file.State ||
                    (batch->State ? batch->Base != batch->Seq : batch->Base >= batch->Seq || batch->Base < 0)) {
                    m_folder.Note(FileName(file), "内容与文件名不符，已跳过");
                    batch.reset();
                }
            } catch (const EError& e) {
                m_folder.Note(FileName(file), e.Message() + "已跳过");
            }
        }
        m_read.insert(file.Path, batch);
        return batch;
    }

    // Merges the batch in steps; false when it waits for a yes that did not
    // come (its later files wait with it).
    bool Apply(const TSyncBatch& batch)
    {
        if (!MayLose(batch))
            return false;
        for (qsizetype next = 0;;) {
            Applying([&] { next = ApplyStep(batch, next); });
            if (next == batch.Items.size())
                return true;
            Between();
            TakeOwn();
        }
    }

    // A file that would delete or empty much here is applied after a yes.
    bool MayLose(const TSyncBatch& batch)
    {
        const QString key = QString("%1-%2").arg(batch.Computer).arg(batch.Seq);
        TSyncLoss loss;
        Applying([&] { loss = Engine(Hosts()).Loss(batch.Items); }); // reads only; its records are not stored
        if (loss.Items == 0 && !loss.MostOfATree)
            return true;
        const QString host = batch.Host.isEmpty() ? batch.Computer : batch.Host;
        if (!g_declined.contains(key) && g_askBeforeLoss &&
            g_askBeforeLoss(QString("另一台电脑“%1”要在这台电脑上删除或清空 %2。\n要照做吗？删除的内容会放进回收站。"
                                    "选“否”则这台电脑暂不接收“%1”的修改。")
                                .arg(host, loss.Detail)))
            return true;
        g_declined.insert(key);
        m_report.Refused << QString("“%1”要删除或清空 %2，等待确认").arg(host, loss.Detail);
        return false;
    }

    // Merges the batch's items from the given one on, all of them or, with
    // someone waiting between the steps, as many as fit in a step; the
    // computer counts as read up to the batch once its last item is in.
    // A batch's groups of one tree go in one step: every step that has a
    // group works out the whole tree again. Returns the index of the next item.
    qsizetype ApplyStep(const TSyncBatch& batch, qsizetype next)
    {
        QHash<QString, QString> hosts = Hosts();
        hosts.insert(batch.Computer, batch.Host);
        TSyncEngine engine = Engine(hosts);
        QElapsedTimer step;
        step.start();
        const qsizetype first = next;
        const qsizetype fits =
            g_betweenSteps ? std::max<qint64>(1, g_stepMs * 1000 / m_itemMicros) : batch.Items.size();
        while (next < batch.Items.size() &&
               (next - first < fits || SameGroups(batch.Items[next - 1], batch.Items[next])))
            engine.Merge(batch.Items[next++]);
        engine.Materialize();
        // What an item costs, merged and written, sizes the next step.
        m_itemMicros = std::max<qint64>(1, step.nsecsElapsed() / 1000 / (next - first + 1));
        if (next == batch.Items.size()) {
            TStmtHandle write =
                PrepareNative(Db(), "insert or replace into SyncPeer(Computer, Seq, Host) values (?, ?, ?)");
            BindText(write.get(), 1, batch.Computer);
            sqlite3_bind_int64(write.get(), 2, batch.Seq);
            BindText(write.get(), 3, batch.Host);
            RunToEnd(Db(), write.get());
        }
        m_report.Applied += engine.Applied;
        m_report.Conflicts << engine.Conflicts;
        m_report.Notices << engine.Notices;
        g_changedReminders << engine.ChangedReminders;
        return next;
    }

    // ---- This computer's files

    bool OwnThere(qint64 seq, bool state) const
    {
        return std::any_of(m_own.cbegin(), m_own.cend(),
                           [&](const TSyncFile& file) { return file.Seq == seq && file.State == state; });
    }

    // The file of changes since the state, written anew when there is
    // anything new in it or it went missing; a new state instead when there
    // is none yet, it went missing (an emptied folder), a new key wants it
    // or the changes outgrew it.
    void Publish()
    {
        TakeOwn();
        const qint64 base = Setting("Base").toLongLong();
        const qint64 baseClock = Setting("BaseClock").toLongLong();
        bool state = Setting("NeedState").toInt() != 0 || base == 0 || !OwnThere(base, true);
        if (!state) {
            const qint64 latest = Engine(Hosts()).LatestOwnChange();
            const qint64 published = Setting("Published").toLongLong();
            const bool missing = published > baseClock && !OwnThere(m_seq, false);
            if (latest <= published && !missing)
                return;
            QByteArray payload;
            Applying([&] {
                payload = EncodeBatch(
                    {m_computer, MyName(), m_seq + 1, base, false, Engine(Hosts()).ChangesSince(baseClock)});
            });
            state = payload.size() > std::max(kChangesBytes, Setting("StateBytes").toLongLong() / 4);
            if (!state) {
                WriteOwn(false, payload);
                Applying([&] { SetSetting("Published", latest); });
                RemoveOwnBefore(m_seq, base);
                return;
            }
        }
        WriteState();
    }

    // Everything known, built in steps; what is changed meanwhile is later
    // than the state's clock and goes in the next file of changes.
    void WriteState()
    {
        qint64 clock = 0;
        Applying([&] { clock = Engine(Hosts()).Clock(); });
        QByteArray items;
        qsizetype count = 0;
        qsizetype most = g_betweenSteps ? 500 : std::numeric_limits<int>::max();
        for (int part = 0; part < 3; ++part) {
            int kind = 0;
            QString gid;
            for (bool more = true; more;) {
                QList<TSyncItem> chunk;
                QElapsedTimer work;
                work.start();
                Applying([&] { chunk = Engine(Hosts()).State(part, kind, gid, most); });
                more = chunk.size() == most;
                TSyncWriter out;
                for (const TSyncItem& item : std::as_const(chunk))
                    out.Item(item);
                items += out.Take();
                if (g_betweenSteps)
                    most = Resized(most, work);
                count += chunk.size();
                if (more) {
                    kind = chunk.last().Kind;
                    gid = chunk.last().Gid;
                    Between();
                }
            }
        }
        const qint64 seq = m_seq + 1;
        const QByteArray payload = EncodeBatchParts({m_computer, MyName(), seq, seq, true, {}}, count, items);
        WriteOwn(true, payload);
        Applying([&] {
            SetSetting("Base", seq);
            SetSetting("BaseClock", clock);
            SetSetting("Published", clock);
            SetSetting("StateBytes", payload.size());
            SetSetting("NeedState", 0);
        });
        m_report.Sent = std::max<int>(m_report.Sent, int(count));
        RemoveOwnBefore(seq, seq);
    }

    // The number is kept before the file is written: a round killed between
    // the two leaves a gap, never two files of one number.
    void WriteOwn(bool state, const QByteArray& payload)
    {
        if (m_seq >= kMaxSyncSeq)
            RaiseError("这台电脑的同步文件序号已用完，请停止同步后重新开始。");
        ++m_seq;
        Applying([&] { SetSetting("Seq", m_seq); });
        m_folder.Write(m_computer, m_seq, state, payload);
        KillPoint();
        m_own << TSyncFile{m_computer, m_seq, state, QString()};
    }

    // This computer's files before the newest, but its state.
    void RemoveOwnBefore(qint64 newest, qint64 base)
    {
        for (const TSyncFile& file : std::as_const(m_own))
            if (file.Seq < newest && !(file.State && file.Seq == base) && !file.Path.isEmpty()) {
                m_folder.Remove(file);
                KillPoint();
            }
    }

    QString m_computer;
    TSyncFolder m_folder;
    QList<TSyncFile> m_files; // the other computers'
    QList<TSyncFile> m_own;
    QHash<QString, std::optional<TSyncBatch>> m_read;
    qint64 m_seq = 0;
    TSyncReport m_report;
    qint64 m_itemMicros = 100;
    qsizetype m_takeRows = 100;
};

// Every row noted as changed: the first round takes them all into the
// records (those already known and unchanged cost a comparison).
void NoteEverything()
{
    ExecNative(Db(), "insert or ignore into SyncDirty(Kind, RowKey) values (1, 0)"); // the root's note
    for (const TSyncTable& table : SyncTables())
        ExecNative(Db(), QString("insert or ignore into SyncDirty(Kind, RowKey) select %1, %2 from %3")
                             .arg(table.Kind)
                             .arg(table.Key, table.Table));
}
} // namespace

void TSync::Setup(const QString& folder, const QString& passphrase)
{
    RefuseInRound();
    const QString dir = QDir::cleanPath(QDir::fromNativeSeparators(folder.trimmed()));
    if (folder.trimmed().isEmpty())
        RaiseError("请选择同步文件夹。");
    const QByteArray key = TSyncFolder::Join(dir, passphrase);
    Applying([&] {
        if (Setting("Computer").toString().isEmpty())
            SetSetting("Computer", QString::fromLatin1(QUuid::createUuid().toRfc4122().toHex().left(16)));
        if (Setting("Folder").toString() != dir)
            ExecNative(Db(), "delete from SyncPeer");
        SetSetting("Folder", dir);
        SetSetting("Key", key);
        SetSetting("Encrypted", key.isEmpty() ? 0 : 1);
        // The first round sends everything there is.
        SetSetting("NeedState", 1);
        NoteEverything();
    });
}

void TSync::Stop()
{
    RefuseInRound();
    Applying([] {
        SetSetting("Folder", QString());
        SetSetting("Key", QByteArray());
    });
}

void TSync::SetName(const QString& name)
{
    Applying([&] { SetSetting("Name", name.simplified().left(40)); });
}

void TSync::ChangePassphrase(const QString& passphrase)
{
    RefuseInRound();
    const QString dir = Setting("Folder").toString();
    if (dir.isEmpty())
        RaiseError("同步未开启。");
    const QByteArray key = TSyncFolder::Rekey(dir, passphrase);
    Applying([&] {
        SetSetting("Key", key);
        SetSetting("Encrypted", key.isEmpty() ? 0 : 1);
        SetSetting("NeedState", 1);
    });
}

TSyncStatus TSync::Status()
{
    TSyncStatus status;
    status.Folder = Setting("Folder").toString();
    status.Name = MyName();
    status.Encrypted = Setting("Encrypted").toInt() != 0;
    const QVariant last = Setting("LastRound");
    if (!last.isNull())
        status.LastRound = QDateTime::fromMSecsSinceEpoch(std::max(last.toLongLong(), g_lastRound));
    status.Computers = Setting("Computers").toInt();
    const QString skipped = Setting("Skipped").toString();
    if (!skipped.isEmpty())
        status.Skipped = skipped.split('\n');
    const QString waiting = Setting("Waiting").toString();
    if (!waiting.isEmpty())
        status.Waiting = waiting.split('\n');
    return status;
}

TSyncReport TSync::Round()
{
    if (Setting("Folder").toString().isEmpty())
        RaiseError("同步未开启。");
    RefuseInRound();
    g_changedReminders.clear();
    const QScopedValueRollback inRound(g_inRound, true);
    // A round that merges a whole state touches most pages of the file: a
    // page cache that holds them keeps the transaction from spilling.
    const int cache = DbGetIntValue("PRAGMA cache_size");
    ExecNative(Db(), "PRAGMA cache_size = -65536");
    const auto restore = qScopeGuard([cache] { ExecNative(Db(), QString("PRAGMA cache_size = %1").arg(cache)); });
    TRound round;
    const TSyncReport report = round.Run();
    for (const QString& note : report.Skipped)
        WriteLog("同步跳过：" + note);
    return report;
}

void TSync::SetBetweenSteps(std::function<void()> wait, qint64 stepMs)
{
    g_betweenSteps = std::move(wait);
    g_stepMs = stepMs;
}

void TSync::SetKillPoints(std::function<void()> hit)
{
    g_killPoint = std::move(hit);
}

void TSync::SetAskBeforeLoss(std::function<bool(const QString&)> ask)
{
    g_askBeforeLoss = std::move(ask);
}

void TSync::ForgetDeclined()
{
    g_declined.clear();
}

bool TSync::InRound()
{
    return g_inRound;
}

void TSync::RefuseInRound()
{
    if (g_inRound)
        RaiseError("正在同步，请稍后再试。");
}

bool TSync::HasLocalChanges()
{
    return DbGetIntValue("select exists(select 1 from SyncDirty) or exists(select 1 from SyncGone)") != 0;
}

QStringList TSync::ChangedReminders()
{
    return g_changedReminders;
}

void TSync::AfterRestore(const QString& before, bool replaceOthers)
{
    RefuseInRound();
    TStmtHandle attach = PrepareNative(Db(), "ATTACH DATABASE ?1 AS prior");
    BindText(attach.get(), 1, before);
    RunToEnd(Db(), attach.get());
    const auto detach = qScopeGuard([] { ExecNative(Db(), "DETACH DATABASE prior"); });
    Applying([&] {
        for (const char* table : {"SyncMeta", "SyncPeer", "SyncSet", "SyncWaiting"})
            ExecNative(Db(), QString("DELETE FROM main.%1; INSERT INTO main.%1 SELECT * FROM prior.%1").arg(table));
        ExecNative(Db(), "DELETE FROM SyncDirty; DELETE FROM SyncGone");
        if (!replaceOthers) {
            SetSetting("Folder", QString());
            SetSetting("Key", QByteArray());
            return;
        }
        // Every restored row is compared with what was known, and every item
        // known and not restored is deleted: both stamped now.
        NoteEverything();
        for (const TSyncTable& table : SyncTables())
            ExecNative(Db(), QString("INSERT OR IGNORE INTO SyncGone(Gid, Kind) SELECT Gid, Kind FROM SyncMeta "
                                     "WHERE Kind = %1 AND Deleted = 0 AND Gid <> '%2' AND Gid NOT IN "
                                     "(SELECT Gid FROM %3 WHERE Gid IS NOT NULL)")
                                 .arg(table.Kind)
                                 .arg(kRootNoteGid, table.Table));
    });
}

QStringList TSync::NoticeLines(const TSyncReport& report)
{
    QStringList lines;
    for (const QString& name : report.Conflicts)
        lines << QString("“%1”的同一处在两台电脑上改得不同，两种改法都留在记事里，已用【冲突】标出。").arg(name);
    for (const QString& notice : report.Notices + report.Refused)
        lines << notice + "。";
    return lines;
}

QString TSync::ReportText(const TSyncReport& report)
{
    QString text = QString("同步完成：发出 %1 项，收到 %2 项，另有 %3 台电脑。")
                       .arg(report.Sent)
                       .arg(report.Applied)
                       .arg(report.Computers);
    for (const QString& line : NoticeLines(report))
        text += "\n" + line;
    for (const QString& waiting : report.Waiting)
        text += "\n还在等" + waiting + "。";
    for (const QString& skipped : report.Skipped)
        text += "\n跳过 " + skipped;
    return text;
}
