#include "sync/Sync.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "sync/SyncEngine.h"
#include "sync/SyncFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QHash>
#include <QMap>
#include <QSysInfo>
#include <QUuid>
#include <sqlite3.h>

namespace {
// A computer writes its whole state and drops its older files once it has
// this many files of changes in the folder.
constexpr int kCompactAfter = 50;

QStringList g_changedReminders;
std::function<void()> g_betweenSteps;
qint64 g_stepMs = 0;
bool g_inRound = false;

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

QString HostName()
{
    return QSysInfo::machineHostName();
}

// A batch of writes of this program's own that the change notes leave out.
void Applying(const std::function<void()>& writes)
{
    DbAccess->Batch([&] {
        ExecNative(Db(), "insert into SyncApplying values (1)");
        writes();
        ExecNative(Db(), "delete from SyncApplying");
    });
}

QHash<QString, QString> Hosts()
{
    QHash<QString, QString> hosts;
    TStmtHandle rows = PrepareNative(Db(), "select Computer, Host from SyncPeer");
    while (sqlite3_step(rows.get()) == SQLITE_ROW)
        hosts.insert(ColumnText(rows.get(), 0), ColumnText(rows.get(), 1));
    hosts.insert(Setting("Computer").toString(), HostName());
    return hosts;
}

qint64 AppliedSeq(const QString& computer)
{
    TStmtHandle read = PrepareNative(Db(), "select Seq from SyncPeer where Computer=?");
    BindText(read.get(), 1, computer);
    return sqlite3_step(read.get()) == SQLITE_ROW ? sqlite3_column_int64(read.get(), 0) : 0;
}

// The files of one computer still to apply, in order: each next change, or,
// where the next is missing (its writer had dropped it), its newest state.
QList<TSyncFile> Chain(const QList<TSyncFile>& files, qint64 applied)
{
    QMap<qint64, TSyncFile> changes, states;
    for (const TSyncFile& file : files)
        (file.State ? states : changes).insert(file.Seq, file);
    QList<TSyncFile> chain;
    for (qint64 next = applied + 1;;) {
        if (changes.contains(next)) {
            chain << changes.value(next);
            ++next;
            continue;
        }
        const auto newest = states.lowerBound(next) == states.end() ? states.end() : std::prev(states.end());
        if (newest == states.end())
            break;
        chain << newest.value();
        next = newest.key() + 1;
    }
    return chain;
}

// Whether the item is a group of the same tree as the one before it.
bool SameGroups(const TSyncItem& before, const TSyncItem& item)
{
    return (item.Kind == skNoteGroup || item.Kind == skBookmarkGroup) && item.Kind == before.Kind;
}

class TRound
{
public:
    TRound() : m_computer(Setting("Computer").toString()), m_folder(Setting("Folder").toString(), Setting("Key").toByteArray())
    {
    }

    TSyncReport Run()
    {
        m_folder.CheckHeader();
        m_files = m_folder.Files();
        m_seq = Setting("Seq").toLongLong();
        for (const TSyncFile& file : std::as_const(m_files))
            if (file.Computer == m_computer)
                m_seq = std::max(m_seq, file.Seq);
        SendOwn();
        ApplyOthers();
        Applying([&] {
            if (!m_created.isEmpty())
                Write(false, m_created);
            SendOutbox();
        });
        Compact();
        m_report.Skipped = m_folder.Skipped() + m_extraSkipped;
        Applying([&] {
            SetSetting("LastRound", QDateTime::currentMSecsSinceEpoch());
            SetSetting("Computers", m_report.Computers);
            SetSetting("Skipped", m_report.Skipped.join('\n'));
        });
        return m_report;
    }

private:
    void Write(bool state, const QList<TSyncItem>& items)
    {
        ++m_seq;
        m_folder.Write(m_computer, m_seq, state, EncodeBatch(TSyncBatch{m_computer, HostName(), m_seq, state, items}));
        m_files << TSyncFile{m_computer, m_seq, state, QString()};
        SetSetting("Seq", m_seq);
    }

    // The file goes out inside the transaction: should it fail, the
    // changes stay noted for the next round.
    void SendOwn()
    {
        Applying([&] {
            TSyncEngine engine(m_computer, Hosts());
            QList<TSyncItem> items = engine.TakeLocalChanges();
            m_report.Sent = int(items.size());
            const bool state = Setting("NeedState").toInt() != 0;
            if (state)
                items = engine.WholeState();
            else
                items = Outbox() + items;
            if (!items.isEmpty())
                Write(state, items);
            SetSetting("NeedState", 0);
            SetSetting("Outbox", QVariant());
        });
    }

    // What was changed here between the steps of the round is stamped
    // before the next step merges, so no older change from elsewhere
    // overwrites it. It goes out in one file at the round's end; until then
    // it waits in the settings, so that a round cut short sends it next time.
    void TakeOwnChanges()
    {
        if (!TSync::HasLocalChanges())
            return;
        Applying([&] {
            TSyncEngine engine(m_computer, Hosts());
            const QList<TSyncItem> items = engine.TakeLocalChanges();
            m_report.Sent += int(items.size());
            SetSetting("Outbox", EncodeBatch(TSyncBatch{m_computer, HostName(), 0, false, Outbox() + items}));
        });
    }

    QList<TSyncItem> Outbox()
    {
        const QByteArray bytes = Setting("Outbox").toByteArray();
        return bytes.isEmpty() ? QList<TSyncItem>() : DecodeBatch(bytes).Items;
    }

    void SendOutbox()
    {
        const QList<TSyncItem> items = Outbox();
        if (items.isEmpty())
            return;
        Write(false, items);
        SetSetting("Outbox", QVariant());
    }

    void ApplyOthers()
    {
        QMap<QString, QList<TSyncFile>> byComputer;
        for (const TSyncFile& file : std::as_const(m_files))
            if (file.Computer != m_computer)
                byComputer[file.Computer] << file;
        m_report.Computers = int(byComputer.size());
        for (auto it = byComputer.cbegin(); it != byComputer.cend(); ++it)
            ApplyChain(it.value(), AppliedSeq(it.key()));
    }

    // A file that cannot be read (half delivered, damaged) holds up its
    // computer's later changes, unless a later state of that computer
    // covers it.
    void ApplyChain(const QList<TSyncFile>& files, qint64 applied)
    {
        for (bool again = true; again;) {
            again = false;
            for (const TSyncFile& file : Chain(files, applied)) {
                if (Apply(file)) {
                    applied = file.Seq;
                    continue;
                }
                const TSyncFile* state = nullptr;
                for (const TSyncFile& later : files)
                    if (later.State && later.Seq > file.Seq && (!state || later.Seq > state->Seq))
                        state = &later;
                if (state && state->Seq != file.Seq && Apply(*state)) {
                    applied = state->Seq;
                    again = true;
                }
                break;
            }
        }
    }

    // False when the file cannot be applied (yet): the computer's later
    // files wait for it.
    bool Apply(const TSyncFile& file)
    {
        const std::optional<QByteArray> bytes = m_folder.Read(file);
        if (!bytes)
            return false;
        TSyncBatch batch;
        try {
            batch = DecodeBatch(*bytes);
        } catch (const EError& e) {
            m_extraSkipped << QDir::toNativeSeparators(file.Path) + "：" + e.Message();
            return false;
        }
        if (batch.Computer != file.Computer || batch.Seq != file.Seq || batch.State != file.State) {
            m_extraSkipped << QDir::toNativeSeparators(file.Path) + "：内容与文件名不符，已跳过";
            return false;
        }
        for (qsizetype next = 0;;) {
            Applying([&] { next = ApplyStep(batch, next); });
            if (next == batch.Items.size())
                return true;
            g_betweenSteps();
            TakeOwnChanges();
        }
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
        TSyncEngine engine(m_computer, hosts);
        QElapsedTimer step;
        step.start();
        const qsizetype first = next;
        const qsizetype fits = g_betweenSteps ? std::max<qint64>(1, g_stepMs * 1000 / m_itemMicros) : batch.Items.size();
        while (next < batch.Items.size() && (next - first < fits || SameGroups(batch.Items[next - 1], batch.Items[next])))
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
        m_created << engine.Created;
        g_changedReminders << engine.ChangedReminders;
        return next;
    }

    // Many small files become one: this computer's whole state, after
    // which its older files go. A computer that had not read them yet
    // reads the state instead.
    void Compact()
    {
        QList<TSyncFile> own;
        for (const TSyncFile& file : std::as_const(m_files))
            if (file.Computer == m_computer && !file.State)
                own << file;
        if (own.size() < kCompactAfter)
            return;
        Applying([&] {
            TSyncEngine engine(m_computer, Hosts());
            Write(true, engine.WholeState());
        });
        for (const TSyncFile& file : m_folder.Files())
            if (file.Computer == m_computer && file.Seq < m_seq)
                m_folder.Remove(file);
    }

    QString m_computer;
    TSyncFolder m_folder;
    QList<TSyncFile> m_files;
    qint64 m_seq = 0;
    TSyncReport m_report;
    QList<TSyncItem> m_created;
    QStringList m_extraSkipped;
    qint64 m_itemMicros = 100;
};
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
        ExecNative(Db(), "insert or ignore into SyncDirty select 1, rowid from NoteType");
        ExecNative(Db(), "insert or ignore into SyncDirty values (1, 0)");
        ExecNative(Db(), "insert or ignore into SyncDirty select 2, rowid from IEType");
        ExecNative(Db(), "insert or ignore into SyncDirty select 3, ID from IE");
        ExecNative(Db(), "insert or ignore into SyncDirty select 4, ID from Alam");
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

TSyncStatus TSync::Status()
{
    TSyncStatus status;
    status.Folder = Setting("Folder").toString();
    status.Encrypted = Setting("Encrypted").toInt() != 0;
    const QVariant last = Setting("LastRound");
    if (!last.isNull())
        status.LastRound = QDateTime::fromMSecsSinceEpoch(last.toLongLong());
    status.Computers = Setting("Computers").toInt();
    const QString skipped = Setting("Skipped").toString();
    if (!skipped.isEmpty())
        status.Skipped = skipped.split('\n');
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

QString TSync::ReportText(const TSyncReport& report)
{
    QString text = QString("同步完成：发出 %1 项，收到 %2 项，另有 %3 台电脑。")
                       .arg(report.Sent)
                       .arg(report.Applied)
                       .arg(report.Computers);
    if (!report.Conflicts.isEmpty())
        text += "\n同时修改的记事已另存为：" + report.Conflicts.join("、");
    for (const QString& skipped : report.Skipped)
        text += "\n跳过 " + skipped;
    return text;
}
