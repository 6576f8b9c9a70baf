#include "app/Backup.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "groups/GroupTableStore.h"
#include "history/Trash.h"
#include "support/StoreTest.h"
#include "sync/Sync.h"
#include "sync/SyncFolder.h"
#include "sync/SyncItem.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
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
    QList<TSyncReport> reports; // of every round

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
        // A new file, not one truncated: the file system flushes a truncated
        // file to the disk when it is closed, which takes longer than the rest.
        QFile::remove(path);
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

    TSyncReport Round(int p)
    {
        Use(p);
        const TSyncReport report = TSync::Round();
        reports << report;
        return report;
    }

    // Some rounds go in steps of one item, with this computer's own edits
    // made between them, and now and then one is cut short there or killed
    // at another point.
    void SteppedRound(int p)
    {
        Use(p);
        TSync::SetBetweenSteps(
            [this, p] {
                if (random.bounded(20) == 0)
                    throw EAbort();
                if (random.bounded(4) == 0)
                    Act(p);
            },
            0);
        int hits = 0;
        const int killAt = random.bounded(4) == 0 ? 1 + random.bounded(12) : -1;
        TSync::SetKillPoints([&] {
            if (++hits == killAt)
                throw EAbort();
        });
        try {
            TSync::Round();
        } catch (const EAbort&) {
        }
        TSync::SetBetweenSteps(nullptr);
        TSync::SetKillPoints(nullptr);
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

    QString Token() { return QString(" t%1").arg(step); }

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
                    groups.DeleteBranch(
                        group, QString("delete from %1 where TypeID in %2")
                                   .arg(table == "NoteType" ? "NoteBook" : "IE", SqlInList(groups.Branch(group))));
                break;
            case 4:
            case 5:
                EditNote(group);
                break;
            case 6:
                DbExecSQL(
                    QString("insert into IE(TypeID, IEUrl, IEName, ReMark) values (%1, 'http://%2', '网址%2', '')")
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
                DbExecSQL(random.bounded(2)
                              ? QString("insert into Alam(AlamTime, AlamDate, ReDay, ReMark, bLook) values "
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
        const std::unique_ptr<TDataSet> alam =
            DbAccess->Query("select ReMark, bLook, RepeatKind, RepeatMonth, RepeatDay, AdvanceDays from Alam");
        for (alam->First(); !alam->Eof(); alam->Next()) {
            QStringList fields;
            for (int i = 0; i < 6; ++i)
                fields << alam->AsString(i);
            lines << "alam " + fields.join(':');
        }
        const std::unique_ptr<TDataSet> year = DbAccess->Query("select Year, Json from HolidayYear");
        for (year->First(); !year->Eof(); year->Next())
            lines << QString("holiday %1:%2").arg(year->AsInteger(0)).arg(year->AsString(1));
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

    // ---- A few computers and their actions, for the scenarios below

    // Joins the computers given (the first makes the folder) and delivers
    // every file everywhere until nothing moves.
    void Join(const QList<int>& who)
    {
        for (const int p : who) {
            if (p != who.first())
                QFile::copy(profiles[who.first()].Folder + "/jotterel-sync.json",
                            profiles[p].Folder + "/jotterel-sync.json");
            Use(p);
            TSync::Setup(profiles[p].Folder, QString());
            if (computers.size() <= p)
                computers.resize(p + 1);
            computers[p] = Computer(p);
            Round(p);
        }
        SyncAll(who);
    }

    // The author's files as they are in its own folder, in another's: what
    // it removed goes there too, unless `keep` wants it kept.
    void Deliver(int author, int to, const std::function<bool(const QString&)>& drop = {})
    {
        const QString id = computers[author];
        const QStringList there = Names(profiles[to].Folder);
        const QStringList here = Names(profiles[author].Folder);
        for (const QString& name : here)
            if (name.section('-', 1, 1) == id && !(drop && drop(name))) {
                QFile file(profiles[author].Folder + "/" + name);
                QVERIFY(file.open(QIODevice::ReadOnly));
                Put(profiles[to].Folder + "/" + name, file.readAll());
            }
        for (const QString& name : there)
            if (name.section('-', 1, 1) == id && !here.contains(name))
                QFile::remove(profiles[to].Folder + "/" + name);
    }

    void SyncAll(const QList<int>& who = {0, 1, 2}, int passes = 3)
    {
        for (int pass = 0; pass < passes; ++pass)
            for (const int p : who) {
                for (const int q : who)
                    if (q != p)
                        Deliver(q, p);
                Round(p);
            }
    }

    int GroupOf(int p, const QString& table, const QString& name)
    {
        Use(p);
        if (name.isEmpty())
            return 0;
        const std::unique_ptr<TDataSet> set =
            DbAccess->Query(QString("select SelfIndex from %1 where TypeName='%2'").arg(table, name));
        return set->Eof() ? -1 : set->AsInteger(0);
    }

    void AddGroup(int p, const QString& table, const QString& name, const QString& parent = QString())
    {
        const int under = GroupOf(p, table, parent);
        TGroupTable groups = Groups(table);
        groups.Add(under, name);
    }

    void Rename(int p, const QString& table, const QString& name, const QString& newName)
    {
        const int self = GroupOf(p, table, name);
        TGroupTable groups = Groups(table);
        groups.Rename(self, newName);
    }

    // As the window deletes: the branch, its notes or bookmarks, into the trash.
    void DeleteGroup(int p, const QString& table, const QString& name)
    {
        const int self = GroupOf(p, table, name);
        TGroupTable groups = Groups(table);
        TTrash().DeleteBranch(groups, self,
                              QString("delete from %1 where TypeID in %2")
                                  .arg(table == "NoteType" ? "NoteBook" : "IE", SqlInList(groups.Branch(self))));
    }

    QString Note(int p, const QString& group)
    {
        const int self = GroupOf(p, "NoteType", group);
        const std::unique_ptr<TDataSet> set =
            DbAccess->Query(QString("select ReMark from NoteBook where TypeID=%1").arg(self));
        return set->Eof() ? QString() : set->AsString(0);
    }

    void SetNote(int p, const QString& group, const QString& text)
    {
        const int self = GroupOf(p, "NoteType", group);
        const QString quoted = QString(text).replace("'", "''");
        DbExecSQL(Note(p, group).isNull() &&
                          DbGetIntValue(QString("select count(*) from NoteBook where TypeID=%1").arg(self)) == 0
                      ? QString("insert into NoteBook(TypeID, ReMark) values (%1, '%2')").arg(self).arg(quoted)
                      : QString("update NoteBook set ReMark='%2' where TypeID=%1").arg(self).arg(quoted));
    }

    void AddBookmark(int p, const QString& group, const QString& url)
    {
        const int self = GroupOf(p, "IEType", group);
        DbExecSQL(
            QString("insert into IE(TypeID, IEUrl, IEName, ReMark) values (%1, '%2', '%2', '')").arg(self).arg(url));
    }

    void MoveBookmark(int p, const QString& url, const QString& group)
    {
        const int self = GroupOf(p, "IEType", group);
        DbExecSQL(QString("update IE set TypeID=%1 where IEUrl='%2'").arg(self).arg(url));
    }

    int TrashEntries(int p)
    {
        Use(p);
        return DbGetIntValue("select count(*) from Trash");
    }

    // Every computer shows what the first does; returns that.
    QString Same(const QList<int>& who = {0, 1, 2})
    {
        const QString digest = Digest(who.first());
        for (const int p : who) {
            const QString other = Digest(p);
            if (other != digest)
                return "differs: " + FirstDifference(other, digest);
        }
        return digest;
    }

    // The first line of one digest that the other lacks (or holds fewer times).
    static QString FirstDifference(const QString& one, const QString& other)
    {
        QStringList a = one.split('\n');
        for (const QString& line : other.split('\n'))
            if (!a.removeOne(line))
                return "missing here: " + line;
        return a.isEmpty() ? QString() : "only here: " + a.first();
    }

    // The data files and folders as they are, to come back to.
    void Keep(const QString& snapshot)
    {
        for (TProfile& profile : profiles) {
            delete profile.Db;
            profile.Db = nullptr;
        }
        for (const TProfile& profile : std::as_const(profiles))
            for (const QString& dir : {profile.Dir, profile.Folder})
                CopyDir(dir, snapshot + "/" + QFileInfo(dir).fileName());
        Reopen();
    }

    void BackTo(const QString& snapshot)
    {
        for (TProfile& profile : profiles) {
            delete profile.Db;
            profile.Db = nullptr;
        }
        for (const TProfile& profile : std::as_const(profiles))
            for (const QString& dir : {profile.Dir, profile.Folder}) {
                QDir(dir).removeRecursively();
                CopyDir(snapshot + "/" + QFileInfo(dir).fileName(), dir);
            }
        Reopen();
    }

    static void CopyDir(const QString& from, const QString& to)
    {
        QDir().mkpath(to);
        for (const QString& name : QDir(from).entryList(QDir::Files | QDir::Hidden))
            QVERIFY(QFile::copy(from + "/" + name, to + "/" + name));
    }

    void Reopen()
    {
        for (TProfile& profile : profiles) {
            SetAppPath(profile.Dir);
            profile.Db = new TDbAccess;
            DbAccess = profile.Db;
            profile.Db->Connect();
            // The test is about what the computers end with, not about a
            // power cut: thousands of small transactions need no disk flush.
            ExecNative(profile.Db->Handle(), "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY");
        }
    }

private slots:
    void init()
    {
        env = std::make_unique<TStoreEnv>();
        InstallDeleteKeeper(std::make_unique<TTrash>()); // as the program does
        TSyncFolder::SetFlushToDisk(false);
        step = 0;
        archive.clear();
        computers.clear();
        reports.clear();
        ledger = TLedger();
        random.seed(
            quint32(qEnvironmentVariableIntValue("SYNC_SEED") ? qEnvironmentVariableIntValue("SYNC_SEED") : 27));
        start = QDateTime(QDate(2026, 12, 1), QTime(9, 0));
        const qint64 hour = 3600 * 1000;
        for (int p = 0; p < 3; ++p) {
            profiles << TProfile{env->Path(QString("p%1").arg(p)), env->Path(QString("f%1").arg(p)),
                                 QList<qint64>{0, 3 * hour, -2 * hour}[p], nullptr};
            QDir().mkpath(profiles[p].Dir);
            QDir().mkpath(profiles[p].Folder);
        }
        Reopen();
    }

    void cleanup()
    {
        for (TProfile& profile : profiles)
            delete profile.Db;
        profiles.clear();
        DbAccess = nullptr;
        InstallDeleteKeeper(nullptr);
        env.reset();
    }

    void allComputersEndWithTheSameData()
    {
        // The first computer brings groups whose notes are edited all along.
        Use(0);
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1, 0, '稳定甲')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (2, 1, '稳定乙')");
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
                random.bounded(3) == 0 ? SteppedRound(p) : void(Round(p));
            if (random.bounded(3) == 0) {
                const int from = random.bounded(3);
                Carry(from, (from + 1 + random.bounded(2)) % 3);
            }
        }
        Settle();
        const QString digest = Same();
        QVERIFY2(!digest.startsWith("differs"), qPrintable(digest));
        for (int p = 0; p < 3; ++p)
            CheckTrees(p);
        for (const QString& token : std::as_const(ledger.Tokens))
            QVERIFY2(digest.contains(QRegularExpression(token + "(?!\\d)")), qPrintable("lost:" + token));
        QVERIFY(digest.contains("【冲突】"));
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
        TSync::SetBetweenSteps(
            [&] {
                if (++steps == 1)
                    DbExecSQL("update IE set IEName='丙'");
            },
            0);
        TSync::Round();
        TSync::SetBetweenSteps(nullptr);
        QVERIFY(steps >= 1);
        QCOMPARE(Title(1), QString("丙"));
        Settle();
        QCOMPARE(Title(0), QString("丙"));
    }

    // What two or three people do to the same data at once, each case
    // ending with every computer the same and nothing lost.
    void editsBeatDeletesAndNothingIsLost_data()
    {
        QTest::addColumn<int>("scenario");
        const char* names[] = {
            "a group deleted while another edits its note comes back with the edit",
            "a group deleted while another adds a bookmark to it comes back with it",
            "a group deleted while another adds a group under it comes back",
            "a group deleted while another moves a bookmark into it comes back",
            "a delete from elsewhere goes through the trash here",
            "two lines added at the end of one note are both kept in one order",
            "the same line changed differently is kept twice, marked once",
            "the later of two edits wins though its round ran first",
            "a computer hours behind wins with an edit made after it saw the other",
            "a missing and a late file delay only what they carry",
            "one bad newer state file does not hold up the good ones",
            "a computer joining an emptied folder receives everything",
            "a file whose state has not come says what it waits for",
            "a file named after this computer that it did not write is left out",
            "of two saves of a row before a round, the later one's moment counts",
            "a reminder's repeat and an imported year reach everyone; the later import wins, a removal goes",
        };
        for (int i = 0; i < int(std::size(names)); ++i)
            QTest::newRow(names[i]) << i;
    }
    void editsBeatDeletesAndNothingIsLost()
    {
        QFETCH(int, scenario);
        const int a = 0, b = 1, c = 2;
        for (TProfile& profile : profiles)
            profile.ClockOffsetMs = 0;
        Use(a);
        AddGroup(a, "NoteType", "工作");
        SetNote(a, "工作", "第一行");
        SetNote(a, "", "根");
        AddGroup(a, "IEType", "网站");
        AddGroup(a, "IEType", "其他");
        AddBookmark(a, "网站", "http://a");
        AddBookmark(a, "其他", "http://b");
        Join(scenario == 11 ? QList<int>{a, b} : QList<int>{a, b, c});
        QStringList expected, absent;
        const auto notice = [&](const QString& text) {
            return std::any_of(reports.cbegin(), reports.cend(),
                               [&](const TSyncReport& report) { return report.Notices.contains(text); });
        };
        step = 100;
        switch (scenario) {
        case 0:
            DeleteGroup(a, "NoteType", "工作");
            SetNote(b, "工作", "第一行\r\n第二行");
            SyncAll();
            expected << "note 根目录->工作:第一行\r\n第二行";
            QVERIFY(notice("“工作”在另一台电脑上被删除，但本机有新的修改，已保留"));
            break;
        case 1:
            DeleteGroup(a, "IEType", "网站");
            AddBookmark(b, "网站", "http://c");
            SyncAll();
            expected << "ie 全部->网站:http://c:http://c";
            absent << "http://a:";
            QCOMPARE(TrashEntries(b), 1); // the bookmark deleted with the group
            break;
        case 2:
            DeleteGroup(a, "NoteType", "工作");
            AddGroup(c, "NoteType", "会议", "工作");
            SyncAll();
            expected << "NoteType 根目录->工作->会议"
                     << "note 根目录->工作:第一行";
            break;
        case 3:
            DeleteGroup(a, "IEType", "网站");
            MoveBookmark(b, "http://b", "网站");
            SyncAll();
            expected << "ie 全部->网站:http://b:http://b";
            absent << "http://a:";
            break;
        case 4:
            DeleteGroup(a, "NoteType", "工作");
            SyncAll();
            absent << "工作";
            for (const int p : {b, c}) {
                Use(p);
                QCOMPARE(TTrash().Entries().size(), 1);
            }
            Use(b);
            TTrash().Restore(TTrash().Entries().first().Id);
            SyncAll();
            expected << "note 根目录->工作:第一行";
            absent.clear();
            break;
        case 5:
            SetNote(a, "", "根\r\n甲");
            SetNote(b, "", "根\r\n乙");
            SyncAll();
            expected << "甲"
                     << "乙";
            absent << "【冲突】";
            break;
        case 6: {
            SetNote(a, "", "根甲");
            SetNote(b, "", "根乙");
            SyncAll();
            const QStringList lines = Note(c, "").split("\r\n");
            QCOMPARE(lines.filter(QRegularExpression("^【冲突】")).size(), 3); // before, between and after the versions
            QVERIFY(lines.contains("根甲") && lines.contains("根乙"));
            const int told = int(std::count_if(reports.cbegin(), reports.cend(),
                                               [](const TSyncReport& report) { return !report.Conflicts.isEmpty(); }));
            QCOMPARE(told, 3);      // once on each computer, at the round that met it
            SetNote(a, "", "根甲"); // settled by hand
            SyncAll();
            expected << "note 根目录:根甲";
            break;
        }
        case 7:
            Rename(a, "NoteType", "工作", "甲的");
            step = 700;
            Rename(b, "NoteType", "工作", "乙的");
            Round(b);
            step = 800;
            Round(a);
            SyncAll();
            expected << "NoteType 根目录->乙的";
            break;
        case 8:
            profiles[b].ClockOffsetMs = -5 * 3600 * 1000;
            Rename(a, "NoteType", "工作", "甲的");
            SyncAll();
            step = 200;
            Rename(b, "NoteType", "甲的", "乙的");
            SyncAll();
            expected << "NoteType 根目录->乙的";
            break;
        case 9:
            SetNote(b, "", "根\r\n乙一");
            Round(b);
            Deliver(b, c, [](const QString&) { return true; }); // lost on the way
            SetNote(b, "", "根\r\n乙一\r\n乙二");
            SetNote(c, "", "根\r\n丙");
            Round(b);
            Round(c);
            Deliver(c, b); // late to a
            Round(b);
            SetNote(a, "工作", "甲");
            Round(a);
            Deliver(a, b);
            Round(b);
            Deliver(b, a);
            Round(a);
            Use(a);
            QVERIFY(Note(a, "").contains("乙二"));
            SyncAll();
            expected << "乙一"
                     << "乙二"
                     << "丙"
                     << "note 根目录->工作:甲";
            break;
        case 10: {
            SetNote(b, "", "根\r\n乙");
            Round(b);
            Deliver(b, c);
            const QString bad = QString("jotterel-%1-9999999990.state.jsync").arg(computers[b]);
            Put(profiles[c].Folder + "/" + bad, "JSYNC\x01\x00 not what it says");
            const TSyncReport report = Round(c);
            QVERIFY(Note(c, "").contains("乙"));
            QVERIFY2(report.Skipped.join('\n').contains(bad), qPrintable(report.Skipped.join('\n')));
            SyncAll();
            expected << "乙";
            break;
        }
        case 11:
            for (const int p : {a, b})
                for (const QString& name : Names(profiles[p].Folder))
                    QFile::remove(profiles[p].Folder + "/" + name);
            SyncAll({a, b});
            for (const int p : {a, b})
                QVERIFY(Names(profiles[p].Folder).join(' ').contains(computers[p] + "-"));
            QFile::copy(profiles[a].Folder + "/jotterel-sync.json", profiles[c].Folder + "/jotterel-sync.json");
            Use(c);
            TSync::Setup(profiles[c].Folder, QString());
            computers << Computer(c);
            SyncAll();
            expected << "ie 全部->网站:http://a:http://a"
                     << "note 根目录->工作:第一行";
            break;
        case 12: {
            Use(b);
            TSync::Setup(profiles[b].Folder, QString()); // b writes its state anew
            Round(b);
            SetNote(b, "", "根\r\n乙");
            Round(b);
            Deliver(b, c, [](const QString& name) { return name.endsWith(".state.jsync"); });
            const TSyncReport report = Round(c);
            QVERIFY2(report.Waiting.join(' ').contains(QString("-%1-").arg(computers[b])) &&
                         report.Waiting.join(' ').contains(".state.jsync"),
                     qPrintable(report.Waiting.join(' ')));
            QVERIFY(TSync::Status().Waiting == report.Waiting);
            SyncAll();
            QVERIFY(reports.last().Waiting.isEmpty());
            expected << "乙";
            break;
        }
        case 14:
            Rename(a, "NoteType", "工作", "甲的");
            step = 400;
            Rename(b, "NoteType", "工作", "乙的");
            step = 700;
            Rename(a, "NoteType", "甲的", "甲又改");
            SyncAll();
            expected << "NoteType 根目录->甲又改";
            break;
        case 13: {
            Use(a);
            const qint64 seq = DbGetIntValue("select Value from SyncSet where Name='Seq'");
            const QString planted = QString("jotterel-%1-%2.jsync").arg(computers[a]).arg(seq + 5, 10, 10, QChar('0'));
            Put(profiles[a].Folder + "/" + planted, "JSYNC\x01\x00 planted");
            SetNote(a, "", "根\r\n甲");
            const TSyncReport report = Round(a);
            QVERIFY2(report.Skipped.join('\n').contains(planted + "：不是这台电脑写入的"),
                     qPrintable(report.Skipped.join('\n')));
            QCOMPARE(DbGetIntValue("select Value from SyncSet where Name='Seq'"), seq + 1);
            SyncAll();
            expected << "甲";
            break;
        }
        case 15:
            Use(a);
            DbExecSQL("insert into Alam(AlamTime, AlamDate, ReDay, ReMark, bLook, RepeatKind, RepeatMonth, "
                      "RepeatDay, AdvanceDays) values (0.5, 46000, 0, '中秋', 0, 5, 8, 15, 3)");
            Use(b);
            DbExecSQL("insert into HolidayYear(Year, Json) values (2027, '乙的'), (2028, '乙的')");
            Round(b); // the computers share this process's note of each row's latest save
            step = 200;
            Use(c);
            DbExecSQL("insert into HolidayYear(Year, Json) values (2027, '丙的')");
            SyncAll();
            QVERIFY2(Same().contains("holiday 2028:乙的"), qPrintable(Same()));
            expected << "alam 中秋:0:5:8:15:3"
                     << "holiday 2027:丙的";
            Use(a);
            DbExecSQL("delete from HolidayYear where Year=2028");
            SyncAll();
            absent << "holiday 2028";
            break;
        }
        const QString digest = Same();
        QVERIFY2(!digest.startsWith("differs"), qPrintable(digest));
        for (const QString& line : std::as_const(expected))
            QVERIFY2(digest.contains(line), qPrintable(line + " not in:\n" + digest));
        for (const QString& text : std::as_const(absent))
            QVERIFY2(!digest.contains(text), qPrintable(text + " still in:\n" + digest));
    }

    // A year's key is a whole number whatever another computer's file says
    // it is: a file cannot make every later round fail on it.
    void aYearOfAnotherTypeIsWrittenAsAWholeNumber()
    {
        Join({0});
        Use(0);
        const QByteArray key = DbAccess->Query("select Value from SyncSet where Name='Key'")->Value(0).toByteArray();
        TSyncItem item{"holiday-2027", skHolidayYear, 5, {}, {}, {}};
        item.Fields.insert("schedule", TSyncField{QString("外来"), 9, "00000000000000ff"});
        item.Fields.insert("year", TSyncField{2027.4, 9, "00000000000000ff"});
        TSyncFolder(profiles[0].Folder, key)
            .Write("00000000000000ff", 1, true, EncodeBatch({"00000000000000ff", "外来", 1, 1, true, {item}}));
        QCOMPARE(ErrorOf([&] { Round(0); }), QString());
        QCOMPARE(DbGetIntValue("select count(*) from HolidayYear where Year=2027 and typeof(Year)='integer'"), 1);
        QCOMPARE(ErrorOf([&] { Round(0); }), QString());
    }

    // A round killed at any of its points, followed by ordinary rounds,
    // ends with every computer the same and nothing lost: each point in turn.
    void aRoundKilledAtAnyPointLosesNothing()
    {
        const int a = 0, b = 1, c = 2;
        Use(a);
        AddGroup(a, "NoteType", "工作");
        SetNote(a, "工作", "第一行");
        SetNote(a, "", "根");
        AddGroup(a, "IEType", "网站");
        AddBookmark(a, "网站", "http://a");
        Join({a, b, c});
        step = 100;
        DeleteGroup(a, "NoteType", "工作");
        SetNote(b, "工作", "第一行\r\n乙");
        SetNote(a, "", "根\r\n甲");
        SetNote(c, "", "根\r\n丙");
        AddBookmark(b, "网站", "http://c");
        DeleteGroup(c, "IEType", "网站");
        Round(a);
        Round(b);
        Deliver(a, c);
        Deliver(b, c);
        const QString snapshot = env->Path("before");
        Keep(snapshot);
        int points = 0;
        for (int k = 1;; ++k) {
            BackTo(snapshot);
            int hits = 0;
            TSync::SetKillPoints([&] {
                if (++hits == k)
                    throw EAbort();
            });
            Use(c);
            try {
                TSync::Round();
            } catch (const EAbort&) {
            }
            TSync::SetKillPoints(nullptr);
            if (hits < k)
                break; // the round has fewer points
            ++points;
            SyncAll();
            const QString digest = Same();
            QVERIFY2(!digest.startsWith("differs"), qPrintable(QString("killed at %1: %2").arg(k).arg(digest)));
            for (const char* line : {"note 根目录->工作:第一行\r\n乙", "甲", "丙", "ie 全部->网站:http://c:http://c"})
                QVERIFY2(digest.contains(line), qPrintable(QString("killed at %1: %2 lost").arg(k).arg(line)));
        }
        QVERIFY2(points >= 8, qPrintable(QString::number(points)));
    }

    // Another computer's file that deletes more than a few dozen items or
    // most of a tree here waits for a yes, in a question naming that
    // computer; without anyone to ask (the command line) or with a no, it
    // waits and the report says so; with a yes it goes, through the trash.
    void aLargeDeleteWaitsForAYes_data()
    {
        QTest::addColumn<bool>("most");  // most of the tree, else many bookmarks
        QTest::addColumn<int>("answer"); // -1 nobody to ask, 0 no, 1 yes
        for (const bool most : {false, true})
            for (const int answer : {-1, 0, 1})
                QTest::addRow("%s, %s", most ? "most of the tree" : "40 bookmarks",
                              answer < 0 ? "nobody asked"
                              : answer   ? "yes"
                                         : "no")
                    << most << answer;
    }
    void aLargeDeleteWaitsForAYes()
    {
        QFETCH(bool, most);
        QFETCH(int, answer);
        const int a = 0, b = 1;
        Use(a);
        TSync::SetName("书房");
        for (const char* group : {"甲", "乙", "丙", "丁", "戊"})
            AddGroup(a, "IEType", group);
        for (int i = 0; i < 40; ++i)
            AddBookmark(a, "甲", QString("http://%1").arg(i));
        Join({a, b});
        for (const QString& group : most ? QStringList{"乙", "丙", "丁"} : QStringList{"甲"})
            DeleteGroup(a, "IEType", group);
        Round(a);
        Deliver(a, b);
        QStringList asked;
        if (answer >= 0)
            TSync::SetAskBeforeLoss([&](const QString& question) {
                asked << question;
                return answer == 1;
            });
        for (int again = 0; again < 2; ++again)
            Round(b);
        TSync::SetAskBeforeLoss(nullptr);
        QCOMPARE(asked.size(), answer >= 0 ? 1 : 0); // a no is not asked again
        if (answer >= 0)
            QVERIFY2(asked.first().contains("“书房”"), qPrintable(asked.first()));
        Use(b);
        const int groups = DbGetIntValue("select count(*) from IEType");
        QCOMPARE(groups, answer == 1 ? (most ? 2 : 4) : 5);
        QCOMPARE(DbGetIntValue("select count(*) from IE"), answer == 1 && !most ? 0 : 40);
        QCOMPARE(TrashEntries(b), answer == 1 ? (most ? 3 : 1) : 0);
        QCOMPARE(reports.last().Refused.isEmpty(), answer == 1);
        TSync::ForgetDeclined();
    }

    // A restore with sync on, asked to replace the other computers' data,
    // sends the restored data as new edits: afterwards every computer holds
    // it, and what came after the backup is deleted, through the trash.
    // Not asked to, it stops sync here and the others keep their data. The
    // computer goes on as itself: its files' numbers go on from before.
    void aRestoreReplacesEveryComputersDataOrStaysHere_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("replace the others' data") << true;
        QTest::newRow("only here") << false;
    }
    void aRestoreReplacesEveryComputersDataOrStaysHere()
    {
        QFETCH(bool, replace);
        const int a = 0, b = 1;
        Use(a);
        SetNote(a, "", "一");
        AddBookmark(a, "", "http://x");
        Join({a, b});
        const QString backup = env->Path("backup.bat");
        Use(a);
        DbBackup(backup);
        step = 100;
        SetNote(a, "", "一\r\n二");
        AddBookmark(b, "", "http://y");
        SyncAll({a, b});
        Use(a);
        const qint64 seq = DbGetIntValue("select Value from SyncSet where Name='Seq'");
        RestoreWithSafetyCopy(backup);
        ExecNative(DbAccess->Handle(), "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY");
        TSync::AfterRestore(SafetyCopyPath(), replace);
        QCOMPARE(TSync::Status().Folder.isEmpty(), !replace);
        if (replace) {
            SyncAll({a, b});
            Use(a);
            QVERIFY(DbGetIntValue("select Value from SyncSet where Name='Seq'") > seq);
            const QString digest = Same({a, b});
            QCOMPARE(digest, QString("IEType 全部\nNoteType 根目录\nie 全部:http://x:http://x\nnote 根目录:一"));
            QCOMPARE(TrashEntries(b), 1); // the bookmark made after the backup
        } else {
            QCOMPARE(Note(a, ""), QString("一"));
            QCOMPARE(Note(b, ""), QString("一\r\n二"));
        }
    }

    // A record kept by the version before (fields and their stamps, the
    // note's text only in the table) is read into the layout of now when
    // met: the note's edits go on merging line by line.
    void recordsOfTheLayoutBeforeAreRead()
    {
        const int a = 0, b = 1;
        Use(a);
        AddGroup(a, "NoteType", "工作");
        SetNote(a, "工作", "第一行");
        Join({a, b});
        Use(a);
        const QString gid = DbAccess->Query("select Gid from NoteType where TypeName='工作'")->AsString(0);
        QByteArray old;
        {
            QDataStream out(&old, QIODevice::WriteOnly);
            const auto text = [&out](const QString& value) { out << value.toUtf8(); };
            out << qint64(1 << 16) << qint32(3);
            for (const auto& [name, value] : {std::pair{"name", "工作"}, {"parent", ""}, {"text", ""}}) {
                text(name);
                out << qint64(2 << 16);
                text(computers[a]);
                out << qint8(3);
                text(value);
                out << quint64(0);
            }
            out << qint32(0);
        }
        TStmtHandle write = PrepareNative(DbAccess->Handle(), "update SyncMeta set Fields=? where Gid=?");
        BindVariant(write.get(), 1, old);
        BindVariant(write.get(), 2, gid);
        RunToEnd(DbAccess->Handle(), write.get());
        SetNote(a, "工作", "第一行\r\n第二行");
        SetNote(b, "工作", "第零行\r\n第一行");
        SyncAll({a, b});
        const QString digest = Same({a, b});
        QVERIFY2(digest.contains("note 根目录->工作:第零行\r\n第一行\r\n第二行"), qPrintable(digest));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestSyncConverge)
#include "test_syncconverge.moc"
