#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "groups/GroupTableStore.h"
#include "support/StoreTest.h"
#include "sync/Sync.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <memory>

namespace {
// One computer: its data file, its copy of the shared folder and its clock,
// off by hours from the others'.
struct TProfile
{
    QString Dir;
    QString Folder;
    qint64 ClockOffsetMs = 0;
    TDbAccess* Db = nullptr;
};

// Note texts grow by a token per edit, so a later text holds every token of
// the ones it replaced: a token found nowhere at the end was lost.
struct TLedger
{
    QSet<QString> Tokens;
    QSet<QString> StableGids;
};
} // namespace

// Three computers edit the same data while a transport that delays,
// reorders, duplicates, half-delivers and re-delivers old files carries
// their files; at the end all hold the same data.
class TestSyncConverge : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;
    QList<TProfile> profiles;
    QRandomGenerator random;
    QDateTime start;
    int step = 0;
    QHash<QString, QByteArray> archive; // every file ever written, by name
    QStringList computers;
    TLedger ledger;

    void Use(int p)
    {
        SetAppPath(profiles[p].Dir);
        DbAccess = profiles[p].Db;
        TClock::Set(start.addMSecs(profiles[p].ClockOffsetMs + qint64(step) * 1000));
    }

    static QStringList Names(const QString& folder)
    {
        return QDir(folder).entryList({"jotterel-*.jsync"}, QDir::Files);
    }

    static void Put(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // Every file as its writer wrote it (other folders may hold half of it).
    void Archive()
    {
        for (int p = 0; p < 3; ++p)
            for (const QString& name : Names(profiles[p].Folder)) {
                QFile file(profiles[p].Folder + "/" + name);
                if (name.section('-', 1, 1) == computers[p] && file.open(QIODevice::ReadOnly))
                    archive.insert(name, file.readAll());
            }
    }

    // One move of the transport between two folders: some new files cross,
    // now and then half of one first, an old one again, or one its writer
    // removed (by compaction) goes there too.
    void Carry(int from, int to)
    {
        Archive();
        const QStringList there = Names(profiles[to].Folder);
        for (const QString& name : Names(profiles[from].Folder)) {
            const QByteArray bytes = archive.value(name);
            const QString target = profiles[to].Folder + "/" + name;
            const int dice = random.bounded(100);
            if (there.contains(name) && dice < 3)
                Put(target, bytes); // delivered twice
            else if (!there.contains(name) && dice < 8)
                Put(target, bytes.left(bytes.size() / 2)); // half, the rest later
            else if (dice < 45)
                Put(target, bytes);
        }
        for (const QString& name : there)
            if (!QFile::exists(profiles[from].Folder + "/" + name) && random.bounded(100) < 20 &&
                name.section('-', 1, 1) == computers[from])
                QFile::remove(profiles[to].Folder + "/" + name);
        if (!archive.isEmpty() && random.bounded(100) < 5) {
            const QStringList names = archive.keys();
            const QString old = names[random.bounded(int(names.size()))];
            Put(profiles[to].Folder + "/" + old, archive.value(old)); // an old copy comes back
        }
    }

    QString Computer(int p)
    {
        Use(p);
        const std::unique_ptr<TDataSet> set = DbAccess->Query("select Value from SyncSet where Name='Computer'");
        return set->AsString(0);
    }

    // The first computer starts the folder; the others join it.
    void JoinAll()
    {
        Use(0);
        TSync::Setup(profiles[0].Folder, QString());
        TSync::Round();
        for (int p = 1; p < 3; ++p) {
            QFile::copy(profiles[0].Folder + "/jotterel-sync.json", profiles[p].Folder + "/jotterel-sync.json");
            Use(p);
            TSync::Setup(profiles[p].Folder, QString());
        }
        for (int p = 0; p < 3; ++p)
            computers << Computer(p);
        Settle();
    }

    QString Title(int p)
    {
        Use(p);
        return DbAccess->Query("select IEName from IE")->AsString(0);
    }

    void Round(int p)
    {
        Use(p);
        TSync::Round();
    }

    // Some rounds go in steps of one item, with this computer's own edits
    // made between them, and now and then one is cut short there.
    void SteppedRound(int p)
    {
        Use(p);
        {
            TSync::SetBetweenSteps(
                [this, p] {
                    if (random.bounded(20) == 0)
                        throw EAbort();
                    if (random.bounded(4) == 0)
                        Act(p);
                },
                0);
        }
        try {
            TSync::Round();
        } catch (const EAbort&) {
        }
        TSync::SetBetweenSteps(nullptr);
    }

    TGroupTable Groups(const QString& table)
    {
        TGroupTable groups(table, table == "NoteType" ? "根目录" : "全部");
        groups.Load();
        return groups;
    }

    int RandomGroup(const TGroupTable& groups)
    {
        const QList<int> all = groups.Branch(0);
        return all[random.bounded(int(all.size()))];
    }

    QString Token()
    {
        return QString(" t%1").arg(step);
    }

    // One user action of a random kind on the computer.
    void Act(int p)
    {
        Use(p);
        const QString names[] = {"工作", "生活", "项目", "学习"};
        const QString table = random.bounded(2) ? "NoteType" : "IEType";
        TGroupTable groups = Groups(table);
        const int group = RandomGroup(groups);
        try {
            switch (random.bounded(10)) {
            case 0:
                groups.Add(group, names[random.bounded(4)] + QString::number(random.bounded(3)));
                break;
            case 1:
                if (group != 0 && !groups.Name(group).contains("冲突副本"))
                    groups.Rename(group, names[random.bounded(4)] + QString::number(step));
                break;
            case 2:
                groups.Move(group, RandomGroup(groups), table == "NoteType" ? "NoteBook" : "IE");
                break;
            case 3:
                if (group != 0 && !BranchHoldsStable(groups, table, group))
                    groups.DeleteBranch(group, QString("delete from %1 where TypeID in %2")
                                                   .arg(table == "NoteType" ? "NoteBook" : "IE",
                                                        SqlInList(groups.Branch(group))));
                break;
            case 4:
            case 5:
                EditNote(group);
                break;
            case 6:
                DbExecSQL(QString("insert into IE(TypeID, IEUrl, IEName, ReMark) values (%1, 'http://%2', '网址%2', '')")
                              .arg(RandomGroup(Groups("IEType")))
                              .arg(step));
                break;
            case 7:
                DbExecSQL(QString("update IE set IEName='改%1', TypeID=%2 where ID=%3")
                              .arg(step)
                              .arg(RandomGroup(Groups("IEType")))
                              .arg(RandomId("IE")));
                break;
            case 8:
                DbExecSQL(random.bounded(2) ? QString("insert into Alam(AlamTime, AlamDate, ReDay, ReMark, bLook) values "
                                                      "(0.5, 46000, 0, '提醒%1', 0)")
                                                  .arg(step)
                                            : QString("update Alam set bLook=1 where ID=%1").arg(RandomId("Alam")));
                break;
            default: {
                const QString items = random.bounded(2) ? "IE" : "Alam";
                DbExecSQL(QString("delete from %1 where ID=%2").arg(items).arg(RandomId(items)));
            }
            }
        } catch (const EError&) {
            // A move into its own branch or a taken name: refused here as in the window.
        }
    }

    // One of the table's rows, chosen by the seed (0 when there is none).
    int RandomId(const QString& table)
    {
        QList<int> ids;
        const std::unique_ptr<TDataSet> set = DbAccess->Query("select ID from " + table + " order by ID");
        for (set->First(); !set->Eof(); set->Next())
            ids << set->AsInteger(0);
        return ids.isEmpty() ? 0 : ids[random.bounded(int(ids.size()))];
    }

    QString GidOf(const QString& table, int group)
    {
        if (group == 0)
            return QString();
        const std::unique_ptr<TDataSet> set =
            DbAccess->Query(QString("select Gid from %1 where SelfIndex=%2").arg(table).arg(group));
        return set->AsString(0);
    }

    bool BranchHoldsStable(const TGroupTable& groups, const QString& table, int group)
    {
        for (int member : groups.Branch(group))
            if (ledger.StableGids.contains(GidOf(table, member)) || groups.Name(member).contains("冲突副本"))
                return true;
        return false;
    }

    void EditNote(int group)
    {
        if (group != 0 && !ledger.StableGids.contains(GidOf("NoteType", group)))
            return;
        const QString token = Token();
        const std::unique_ptr<TDataSet> set =
            DbAccess->Query(QString("select count(*) from NoteBook where TypeID=%1").arg(group));
        if (set->AsInteger(0) == 0)
            DbExecSQL(QString("insert into NoteBook(TypeID, ReMark) values (%1, '%2')").arg(group).arg(token));
        else
            DbExecSQL(QString("update NoteBook set ReMark=ReMark||'%2' where rowid=(select min(rowid) from NoteBook "
                              "where TypeID=%1)")
                          .arg(group)
                          .arg(token));
        ledger.Tokens.insert(token);
    }

    // Everything delivered whole, in every direction, and every computer's
    // round run, until nothing moves.
    void Settle()
    {
        for (int again = 0; again < 8; ++again) {
            Archive();
            for (int to = 0; to < 3; ++to)
                for (auto it = archive.cbegin(); it != archive.cend(); ++it) {
                    const int author = int(computers.indexOf(it.key().section('-', 1, 1)));
                    if (author == to)
                        continue;
                    if (QFile::exists(profiles[author].Folder + "/" + it.key()))
                        Put(profiles[to].Folder + "/" + it.key(), it.value());
                    else if (again > 3) // removals arrive late
                        QFile::remove(profiles[to].Folder + "/" + it.key());
                }
            for (int p = 0; p < 3; ++p)
                Round(p);
        }
    }

    // What a user sees: groups by path, notes by their group's path,
    // bookmarks and reminders by their fields.
    QString Digest(int p)
    {
        Use(p);
        QStringList lines;
        for (const QString table : {"NoteType", "IEType"}) {
            const TGroupTable groups = Groups(table);
            for (int self : groups.Branch(0))
                lines << table + " " + groups.PathText(self);
        }
        const TGroupTable notes = Groups("NoteType"), marks = Groups("IEType");
        // An empty note and none look the same.
        const std::unique_ptr<TDataSet> note = DbAccess->Query("select TypeID, ReMark from NoteBook where ReMark<>''");
        for (note->First(); !note->Eof(); note->Next())
            lines << "note " + notes.PathText(note->AsInteger(0)) + ":" + note->AsString(1);
        const std::unique_ptr<TDataSet> mark = DbAccess->Query("select TypeID, IEUrl, IEName, ReMark from IE");
        for (mark->First(); !mark->Eof(); mark->Next())
            lines << "ie " + marks.PathText(mark->AsInteger(0)) + ":" + mark->AsString(1) + ":" + mark->AsString(2);
        const std::unique_ptr<TDataSet> alam = DbAccess->Query("select AlamTime, AlamDate, ReDay, ReMark, bLook from Alam");
        for (alam->First(); !alam->Eof(); alam->Next())
            lines << "alam " + alam->AsString(3) + ":" + alam->AsString(4);
        lines.sort();
        return lines.join('\n');
    }

    // Each table is a tree: unique names, every parent read before its
    // children (no cycle, no stray group).
    void CheckTrees(int p)
    {
        Use(p);
        for (const QString table : {"NoteType", "IEType"}) {
            const std::unique_ptr<TDataSet> names =
                DbAccess->Query(QString("select count(*) - count(distinct TypeName) from %1").arg(table));
            QCOMPARE(names->AsInteger(0), 0);
            const std::unique_ptr<TDataSet> strays = DbAccess->Query(
                QString("select count(*) from %1 c where ParentIndex<>0 and not exists (select 1 from %1 p where "
                        "p.SelfIndex=c.ParentIndex and p.SelfIndex<c.SelfIndex)")
                    .arg(table));
            QCOMPARE(strays->AsInteger(0), 0);
        }
    }

private slots:
    void init()
    {
        env = std::make_unique<TStoreEnv>();
        step = 0;
        archive.clear();
        computers.clear();
        ledger = TLedger();
        random.seed(quint32(qEnvironmentVariableIntValue("SYNC_SEED") ? qEnvironmentVariableIntValue("SYNC_SEED") : 27));
        start = QDateTime(QDate(2026, 12, 1), QTime(9, 0));
        const qint64 hour = 3600 * 1000;
        for (int p = 0; p < 3; ++p) {
            TProfile profile{env->Path(QString("p%1").arg(p)), env->Path(QString("f%1").arg(p)),
                             QList<qint64>{0, 3 * hour, -2 * hour}[p], nullptr};
            QDir().mkpath(profile.Dir);
            SetAppPath(profile.Dir);
            profile.Db = new TDbAccess;
            DbAccess = profile.Db;
            profile.Db->Connect();
            // The test is about what the computers end with, not about a
            // power cut: thousands of small transactions need no disk flush.
            ExecNative(profile.Db->Handle(), "PRAGMA synchronous=OFF");
            profiles << profile;
        }
    }

    void cleanup()
    {
        for (TProfile& profile : profiles)
            delete profile.Db;
        profiles.clear();
        DbAccess = nullptr;
        env.reset();
    }

    void allComputersEndWithTheSameData()
    {
        // The first computer brings groups whose notes are edited all along.
        Use(0);
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1, 0, '稳定甲')@#@insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2, 1, '稳定乙')");
        JoinAll();
        Use(0);
        const std::unique_ptr<TDataSet> stable = DbAccess->Query("select Gid from NoteType");
        for (stable->First(); !stable->Eof(); stable->Next())
            ledger.StableGids.insert(stable->AsString(0));
        QCOMPARE(ledger.StableGids.size(), 2);

        for (step = 1; step <= 1500; ++step) {
            const int p = random.bounded(3);
            Act(p);
            if (random.bounded(4) == 0)
                random.bounded(3) == 0 ? SteppedRound(p) : Round(p);
            if (random.bounded(3) == 0) {
                const int from = random.bounded(3);
                Carry(from, (from + 1 + random.bounded(2)) % 3);
            }
        }
        Settle();
        QString digest;
        digest = Digest(0);
        for (int p = 1; p < 3; ++p)
            QCOMPARE(Digest(p), digest);
        for (int p = 0; p < 3; ++p)
            CheckTrees(p);
        for (const QString& token : std::as_const(ledger.Tokens))
            QVERIFY2(digest.contains(token + " ") || digest.contains(token + "\n") || digest.endsWith(token),
                     qPrintable("lost:" + token));
        QVERIFY(digest.contains("冲突副本"));
    }

    // A round applies a large file in steps while the user goes on: an edit
    // made between two steps is newer than what the later steps bring.
    void anEditBetweenStepsIsKept()
    {
        Use(0);
        DbExecSQL("insert into IE(TypeID, IEUrl, IEName, ReMark) values (0, 'https://a.example', '甲', '')");
        JoinAll();
        step = 10;
        Use(0);
        // The note comes before the bookmark in the file.
        DbExecSQL("update IE set IEName='乙'@#@insert into NoteBook(TypeID, ReMark) values (0, '根')");
        TSync::Round();
        Archive();
        for (auto it = archive.cbegin(); it != archive.cend(); ++it)
            Put(profiles[1].Folder + "/" + it.key(), it.value());
        step = 20;
        Use(1);
        int steps = 0;
        TSync::SetBetweenSteps([&] {
            if (++steps == 1)
                DbExecSQL("update IE set IEName='丙'");
        }, 0);
        TSync::Round();
        TSync::SetBetweenSteps(nullptr);
        QVERIFY(steps >= 1);
        QCOMPARE(Title(1), QString("丙"));
        Settle();
        QCOMPARE(Title(0), QString("丙"));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestSyncConverge)
#include "test_syncconverge.moc"
