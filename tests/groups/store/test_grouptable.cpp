#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/StartupWork.h"
#include "data/UException.h"
#include "groups/DeleteKeeper.h"
#include "groups/GroupTableStore.h"
#include "support/StoreTest.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>

// The group hierarchy without any tree view: what an importer or a chooser sees.
class TestGroupTable : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

    static QStringList Rows(const QString& table = "NoteType")
    {
        DbAccess->OpenQuery2("select SelfIndex,ParentIndex,TypeName from " + table + " order by SelfIndex");
        QStringList rows;
        TDataSet& set = *DbAccess->QuerySet2;
        for (set.First(); !set.Eof(); set.Next())
            rows << QString("%1/%2/%3").arg(set.AsString(0), set.AsString(1), set.AsString(2));
        return rows;
    }

    // 工作(1) > 会议(2) > 周一(4); 生活(3); 孤儿(6) names a parent that
    // comes after it, 迟到(7) one that was never stored.
    static void Fill()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (2,1,'会议')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (3,0,'生活')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (4,2,'周一')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (6,8,'孤儿')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (7,5,'迟到')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (8,3,'后来')");
    }

    // Memory and a fresh reading of the table agree.
    static void CheckAgainstTable(const TGroupTable& groups)
    {
        TGroupTable fresh(groups.TableName(), groups.RootCaption());
        fresh.Load();
        QCOMPARE(groups.Count(), fresh.Count());
        QCOMPARE(groups.MaxSelfIndex(), fresh.MaxSelfIndex());
        for (int self = 0; self <= fresh.MaxSelfIndex() + 1; ++self) {
            QCOMPARE(groups.Contains(self), fresh.Contains(self));
            QCOMPARE(groups.Children(self), fresh.Children(self));
            QCOMPARE(groups.PathText(self), fresh.PathText(self));
        }
    }

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    void readsTheHierarchy()
    {
        Fill();
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QCOMPARE(groups.Count(), 7);
        // Rows whose parent is not read before them show under the root.
        QCOMPARE(groups.Children(0), QList<int>({1, 3, 6, 7}));
        QCOMPARE(groups.Children(1), QList<int>({2}));
        QCOMPARE(groups.Children(3), QList<int>({8}));
        QCOMPARE(groups.Children(8), QList<int>());
        QCOMPARE(groups.ParentIndex(6), 8);
        QCOMPARE(groups.ShownParent(6), 0);
        QCOMPARE(groups.PathText(4), QString("根目录->工作->会议->周一"));
        QCOMPARE(groups.PathText(2), QString("根目录->工作->会议"));
        QCOMPARE(groups.PathText(6), QString("根目录->孤儿"));
        QCOMPARE(groups.PathText(0), QString("根目录"));
        QCOMPARE(groups.Ancestors(4), QList<int>({1, 2}));
        QCOMPARE(groups.Name(0), QString("根目录"));
        QCOMPARE(groups.NextSelfIndex(), 9);
    }

    // The reading never goes through a dataset that another reader uses.
    void readingLeavesOtherReadersAlone()
    {
        Fill();
        DbAccess->OpenQuery("select SelfIndex from NoteType order by SelfIndex");
        DbAccess->QuerySet->Next();
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QCOMPARE(DbAccess->QuerySet->AsInteger(0), 2);
        QCOMPARE(DbAccess->QuerySet->RecordCount(), 7);
    }

    void addChecksTheNameAndHandsOutTheNextIndex_data()
    {
        QTest::addColumn<int>("parent");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("path");
        QTest::newRow("under the root") << 0 << "新"
                                        << ""
                                        << "9/0/新"
                                        << "根目录->新";
        QTest::newRow("three down") << 4 << "新"
                                    << ""
                                    << "9/4/新"
                                    << "根目录->工作->会议->周一->新";
        QTest::newRow("blanks kept") << 3 << " 新 "
                                     << ""
                                     << "9/3/ 新 "
                                     << "根目录->生活-> 新 ";
        QTest::newRow("one line") << 1 << "一\r\n二\n"
                                  << ""
                                  << "9/1/一 二 "
                                  << "根目录->工作->一 二 ";
        QTest::newRow("quote") << 1 << "it's"
                               << ""
                               << "9/1/it's"
                               << "根目录->工作->it's";
        QTest::newRow("other case") << 1 << "WORK"
                                    << ""
                                    << "9/1/WORK"
                                    << "根目录->工作->WORK";
        QTest::newRow("name deeper") << 3 << "周一"
                                     << "该名称已经存在，请重新输入！"
                                     << ""
                                     << "";
        QTest::newRow("root caption") << 1 << "根目录"
                                      << "该名称已经存在，请重新输入！"
                                      << ""
                                      << "";
        QTest::newRow("empty") << 1 << ""
                               << "名称不能为空!"
                               << ""
                               << "";
        QTest::newRow("blank") << 1 << " \t "
                               << "名称不能为空!"
                               << ""
                               << "";
        QTest::newRow("line breaks only") << 1 << "\r\n"
                                          << "名称不能为空!"
                                          << ""
                                          << "";
    }

    void addChecksTheNameAndHandsOutTheNextIndex()
    {
        QFETCH(int, parent);
        QFETCH(QString, name);
        QFETCH(QString, error);
        QFETCH(QString, row);
        QFETCH(QString, path);
        Fill();
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        const QStringList before = Rows();
        int added = 0;
        QCOMPARE(ErrorOf([&] { added = groups.Add(parent, name); }), error);
        if (!error.isEmpty()) {
            QCOMPARE(Rows(), before);
            QCOMPARE(groups.NextSelfIndex(), 9);
        } else {
            QCOMPARE(added, 9);
            QCOMPARE(Rows(), before + QStringList{row});
            QCOMPARE(groups.PathText(added), path);
            QCOMPARE(groups.Children(parent).last(), added);
            QCOMPARE(groups.NextSelfIndex(), 10);
            QVERIFY(groups.NameExists(groups.Name(added)));
        }
        CheckAgainstTable(groups);
    }

    void renameHasTheSameChecks()
    {
        Fill();
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QCOMPARE(ErrorOf([&] { groups.Rename(2, "生活"); }), QString("该名称已经存在，请重新输入！"));
        QCOMPARE(ErrorOf([&] { groups.Rename(2, "  "); }), QString("名称不能为空!"));
        groups.Rename(2, "例会\n");
        QCOMPARE(groups.PathText(4), QString("根目录->工作->例会 ->周一"));
        // The old name is free again, the new one taken.
        QVERIFY(!groups.NameExists("会议"));
        QCOMPARE(groups.Add(0, "会议"), 9);
        QCOMPARE(ErrorOf([&] { groups.Add(0, "例会 "); }), QString("该名称已经存在，请重新输入！"));
        CheckAgainstTable(groups);
    }

    void deleteTakesTheGroupAndItsNotesTogether()
    {
        Fill();
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (8,'a')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (3,'b')");
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QCOMPARE(ErrorOf([&] { groups.Delete(3); }), QString("还有下级分组，不能删除该分组！"));
        QCOMPARE(ErrorOf([&] { groups.Delete(0); }), QString("还有下级分组，不能删除该分组！"));
        // The largest identifier goes, and a row naming it as parent with it.
        QCOMPARE(groups.Delete(8, "delete from NoteBook where TypeID=8"), 2);
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook where TypeID=8"), 0);
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook where TypeID=3"), 1);
        QVERIFY(!groups.Contains(6));
        QVERIFY(!groups.NameExists("后来"));
        QCOMPARE(groups.NextSelfIndex(), 8);
        CheckAgainstTable(groups);
        QCOMPARE(groups.Add(3, "后来"), 8);
        CheckAgainstTable(groups);
    }

    void failedDeleteLeavesEverything()
    {
        Fill();
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (4,'a')");
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        const QStringList before = Rows();
        QCOMPARE(ErrorOf([&] { groups.Delete(4, "delete from NoteBook where TypeID=4@#@delete from NoSuchTable"); }),
                 QString("DB:数据库操作失败！"));
        QCOMPARE(Rows(), before);
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook where TypeID=4"), 1);
        QVERIFY(groups.Contains(4));
        QCOMPARE(groups.Children(2), QList<int>({4}));
        QVERIFY(groups.NameExists("周一"));
        CheckAgainstTable(groups);
    }

    // A move takes the branch along in one transaction; under a parent read
    // after it the branch is numbered anew and its notes follow.
    void moveKeepsParentsBeforeTheirGroups_data()
    {
        QTest::addColumn<int>("self");
        QTest::addColumn<int>("parent");
        QTest::addColumn<QString>("itemTable");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("rows"); // empty: as before
        QTest::addColumn<QString>("notes");    // the notes' groups after
        QTest::addColumn<QString>("path");     // of the moved group, read afresh
        const QString refused = "不能把分组移到它自己或它的下级分组中！";
        QTest::newRow("under a later group")
            << 1 << 3 << "NoteBook"
            << "" << QStringList{"3/0/生活", "6/8/孤儿", "7/5/迟到", "8/3/后来", "9/3/工作", "10/9/会议", "11/10/周一"}
            << "9 10 11 3"
            << "根目录->生活->工作";
        QTest::newRow("under an earlier group")
            << 8 << 1 << "NoteBook"
            << "" << QStringList{"1/0/工作", "2/1/会议", "3/0/生活", "4/2/周一", "6/8/孤儿", "7/5/迟到", "8/1/后来"}
            << "1 2 4 3"
            << "根目录->工作->后来";
        QTest::newRow("to the root") << 4 << 0 << "NoteBook"
                                     << "" << QStringList{"1/0/工作", "2/1/会议", "3/0/生活", "4/0/周一",
                                                          "6/8/孤儿", "7/5/迟到", "8/3/后来"}
                                     << "1 2 4 3"
                                     << "根目录->周一";
        QTest::newRow("into itself") << 1 << 1 << "NoteBook" << refused << QStringList() << "1 2 4 3"
                                     << "";
        QTest::newRow("into its branch") << 1 << 4 << "NoteBook" << refused << QStringList() << "1 2 4 3"
                                         << "";
        QTest::newRow("the root") << 0 << 3 << "NoteBook"
                                  << "不能移动根分组！" << QStringList() << "1 2 4 3"
                                  << "";
        QTest::newRow("a group that is gone") << 5 << 0 << "NoteBook"
                                              << "要移动的分组或目标分组已不存在！" << QStringList() << "1 2 4 3"
                                              << "";
        QTest::newRow("a failing step changes nothing") << 1 << 3 << "NoSuchTable"
                                                        << "DB:数据库操作失败！" << QStringList() << "1 2 4 3"
                                                        << "";
    }

    void moveKeepsParentsBeforeTheirGroups()
    {
        QFETCH(int, self);
        QFETCH(int, parent);
        QFETCH(QString, itemTable);
        QFETCH(QString, error);
        QFETCH(QStringList, rows);
        QFETCH(QString, notes);
        QFETCH(QString, path);
        Fill();
        DbExecSQL(
            "insert into NoteBook(TypeID,ReMark) values (1,'a')@#@insert into NoteBook(TypeID,ReMark) values (2,'b')@#@"
            "insert into NoteBook(TypeID,ReMark) values (4,'c')@#@insert into NoteBook(TypeID,ReMark) values (3,'d')");
        const QStringList before = Rows();
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        int moved = -1;
        QCOMPARE(ErrorOf([&] { moved = groups.Move(self, parent, itemTable); }), error);
        QCOMPARE(Rows(), rows.isEmpty() ? before : rows);
        QStringList noteGroups;
        const std::unique_ptr<TDataSet> query = DbAccess->Query("select TypeID from NoteBook order by ReMark");
        TDataSet& set = *query;
        for (set.First(); !set.Eof(); set.Next())
            noteGroups << set.AsString(0);
        QCOMPARE(noteGroups.join(" "), notes);
        CheckAgainstTable(groups);
        if (!path.isEmpty()) {
            TGroupTable fresh("NoteType", "根目录");
            fresh.Load();
            QCOMPARE(fresh.PathText(moved), path);
        }
    }

    void deleteBranchTakesEveryGroupUnderIt()
    {
        Fill();
        DbExecSQL(
            "insert into NoteBook(TypeID,ReMark) values (4,'a')@#@insert into NoteBook(TypeID,ReMark) values (3,'b')");
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QCOMPARE(groups.Branch(1), QList<int>({1, 2, 4}));
        QCOMPARE(ErrorOf([&] { groups.DeleteBranch(0); }), QString("不能删除根分组！"));
        // With no keeper installed the delete keeps nothing.
        QVERIFY(DeleteKeeper()
                    .DeleteBranch(groups, 1, "delete from NoteBook where TypeID in " + SqlInList(groups.Branch(1)))
                    .isEmpty());
        QCOMPARE(Rows(), QStringList({"3/0/生活", "6/8/孤儿", "7/5/迟到", "8/3/后来"}));
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook"), 1);
        CheckAgainstTable(groups);
    }

    // The order of the paths, worked out without making them, is the order
    // of the path texts (then of SelfIndex), also where names begin with one
    // another, hold the "->" of a path, or repeat.
    void pathOrderIsTheOrderOfThePathTexts_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<bool>("rename");
        const QString prefixes =
            "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'a'),(2,0,'a b'),(3,0,'a-'),(4,0,'ab'),"
            "(5,1,'c'),(6,2,'d'),(7,3,'e'),(8,4,'f')";
        QTest::newRow("names beginning with another") << prefixes << false;
        QTest::newRow("a name holding \"->\"")
            << "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'x'),(2,0,'x->y'),(3,1,'z'),(4,2,'w')"
            << false;
        QTest::newRow("two of one name") << "insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                                            "(1,0,'同名'),(2,0,'同名'),(3,1,'k'),(4,2,'j')"
                                         << false;
        QTest::newRow("rows under the root for a missing parent")
            << "insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
               "(1,0,'工作'),(2,1,'会议'),(6,8,'孤儿'),(7,5,'迟到'),(8,3,'后来'),(3,0,'生活')"
            << false;
        QTest::newRow("after a rename") << prefixes << true;
        // Names of a few pieces that begin with one another, under random parents.
        QString random = "with recursive n(i) as (select 1 union all select i+1 from n where i < 400) "
                         "insert into NoteType(SelfIndex,ParentIndex,TypeName) select i, abs(random()) % i, "
                         "substr('a a-b->', 1 + abs(random()) % 6, 1 + abs(random()) % 4) from n";
        QTest::newRow("random names and parents") << random << false;
    }
    void pathOrderIsTheOrderOfThePathTexts()
    {
        QFETCH(QString, rows);
        QFETCH(bool, rename);
        DbExecSQL(rows);
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QCOMPARE(groups.InPathOrder(1), std::vector<int>{0});
        if (rename) {
            groups.Rename(1, "zz");
        }
        std::vector<std::pair<QString, int>> byText{{groups.PathText(0), 0}};
        for (int self = 1; self <= groups.MaxSelfIndex(); ++self)
            if (groups.Contains(self))
                byText.emplace_back(groups.PathText(self), self);
        std::sort(byText.begin(), byText.end());
        std::vector<int> expected;
        for (const auto& [text, self] : byText)
            expected.push_back(self);
        const std::vector<int> order = groups.InPathOrder(expected.size() + 5);
        QCOMPARE(order, expected);
        for (size_t i = 0; i < order.size(); ++i)
            QCOMPARE(groups.PathRank(order[i]), int(i));
        QCOMPARE(groups.InPathOrder(3), std::vector<int>(expected.begin(), expected.begin() + 3));
    }

    void failedStatementsChangeNothingInMemory()
    {
        Fill();
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        DbExecSQL("drop table NoteType");
        QCOMPARE(ErrorOf([&] { groups.Add(1, "新"); }), QString("DB:数据库操作失败！"));
        QCOMPARE(ErrorOf([&] { groups.Rename(1, "新"); }), QString("DB:数据库操作失败！"));
        QCOMPARE(ErrorOf([&] { groups.Load(); }), QString("DB:数据库查询错误，请检查！"));
        QCOMPARE(groups.Count(), 7);
        QCOMPARE(groups.Name(1), QString("工作"));
        QVERIFY(!groups.NameExists("新"));
        QCOMPARE(groups.NextSelfIndex(), 9);
    }

    // Pieces of the start's background work run one after the other, in the
    // order begun, and a piece that fails does not hold up the next.
    void startupWorkRunsInTheOrderBegun()
    {
        std::atomic<int> finished{0};
        std::future<void> first = BeginStartupWork([&finished] {
            QThread::msleep(50);
            finished = 1;
            throw std::runtime_error("failed");
        });
        std::future<int> second = BeginStartupWork([&finished] { return finished.load(); });
        QCOMPARE(second.get(), 1);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, first.get());
    }

    // What the reading beside the window's building found is taken only
    // while nothing has written to the database since it began.
    void prefetchIsTakenOnlyWhileNothingWrote_data()
    {
        QTest::addColumn<QString>("write");
        QTest::addColumn<bool>("taken");
        QTest::newRow("nothing") << QString() << true;
        QTest::newRow("this connection") << "program" << false;
        QTest::newRow("another program") << "other" << false;
    }
    void prefetchIsTakenOnlyWhileNothingWrote()
    {
        QFETCH(QString, write);
        QFETCH(bool, taken);
        Fill();
        TGroupPrefetch prefetch(DbAccess, {"IEType", "NoteType"});
        if (write == "program") {
            DbExecSQL("update NoteType set TypeName='改' where SelfIndex=1");
        } else if (write == "other") {
            TDbHandle other = OpenDatabaseFile(DbAccess->DatabasePath(), 2000);
            ExecNative(other.get(), "update NoteType set TypeName='改' where SelfIndex=1");
        }
        TGroupTable groups("NoteType", "根目录");
        QCOMPARE(prefetch.Take(groups), taken);
        if (!taken)
            return;
        QCOMPARE(groups.RootCaption(), QString("根目录"));
        CheckAgainstTable(groups);
        QVERIFY(!prefetch.Take(groups)); // handed over once
    }
};

JOTTEREL_STORE_TEST_MAIN(TestGroupTable)
#include "test_grouptable.moc"
