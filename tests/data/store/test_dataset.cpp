#include "data/MD.h"
#include "data/UntPublic.h"
#include "support/StoreTest.h"

#include <QSignalSpy>
#include <memory>
#include <sqlite3.h>

// The dataset reading a large result in packets, and writing back only what
// an edit changed.
class TestDataSet : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

    // Bookmarks 1..count, titled "t1".."tN" in reverse order of their IDs.
    static void AddBookmarks(int count)
    {
        QStringList inserts;
        for (int id = 1; id <= count; ++id)
            inserts << FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'u','t%s','') ",
                                 {QString::number(count + 1 - id)});
        DbExecSQL(inserts.join("@#@"));
    }

    static std::unique_ptr<TDataSet> Bookmarks(int packet)
    {
        auto set = std::make_unique<TDataSet>([] { return DbAccess->Handle(); });
        set->SetPacketRecords(packet);
        set->SetCommandText("select ID,IEName from IE");
        set->Open();
        return set;
    }

    // A write by another connection: refused while a statement of ours is
    // still being read, as that holds the file's read lock.
    bool OtherConnectionCanWrite()
    {
        sqlite3* other = nullptr;
        sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &other);
        const int rc = sqlite3_exec(other, "update SysSet set PassWord=''", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        return rc == SQLITE_OK;
    }

    static QStringList Ids(TDataSet& set)
    {
        QStringList ids;
        for (int row = 0; row < set.FetchedCount(); ++row)
            ids << set.ValueAt(row, 0).toString();
        return ids;
    }

    static QStringList Range(int first, int last)
    {
        QStringList ids;
        for (int id = first; id <= last; ++id)
            ids << QString::number(id);
        return ids;
    }

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    // Only a select over one table can take new rows (they are posted back
    // to that table by rowid); the others are read-only.
    void appendTakesOnlySelectsOverOneTable_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("appends");
        QTest::newRow("plain") << "select ID,IEName from IE" << true;
        QTest::newRow("any case and spaces") << "  SELECT\tID , IEName\r\nFROM  IE  " << true;
        QTest::newRow("where") << "select * from IE where TypeID=0 order by ID" << true;
        QTest::newRow("from inside a field") << "select IEName as fromage, ID from IE" << true;
        QTest::newRow("subquery before the table") << "select (select 1 from SysSet) as x, ID from IE" << true;
        QTest::newRow("brackets in a text") << "select ')' as x, ID from IE where IEName<>'(from'" << true;
        QTest::newRow("subquery as the table") << "select L.* from (select ID from IE where TypeID=0) L" << false;
        QTest::newRow("distinct") << "select distinct IEName from IE" << false;
        QTest::newRow("aggregate") << "select Count(*) from IE" << false;
        QTest::newRow("aggregate in a subquery") << "select (select max(ID) from IE) from SysSet" << false;
        QTest::newRow("two tables") << "select IE.ID from IE, IEType" << false;
        QTest::newRow("order without where") << "select ID from IE order by ID" << false;
        QTest::newRow("no select") << "pragma user_version" << false;
    }
    void appendTakesOnlySelectsOverOneTable()
    {
        QFETCH(QString, sql);
        QFETCH(bool, appends);
        TDataSet set([] { return DbAccess->Handle(); });
        set.SetCommandText(sql);
        set.Open();
        bool appended = true;
        try {
            set.Append();
        } catch (const TSqlError&) {
            appended = false;
        }
        QCOMPARE(appended, appends);
    }

    void recordsAreReadWhenAskedFor_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("fetched");
        QTest::addColumn<QString>("current"); // the current record's ID afterwards
        QTest::newRow("open") << "open" << 3 << "1";
        QTest::newRow("next past the packet") << "next x3" << 6 << "4";
        QTest::newRow("record count") << "count" << 10 << "1";
        QTest::newRow("last") << "last" << 10 << "10";
        QTest::newRow("record number beyond") << "recno 8" << 8 << "8";
        QTest::newRow("record number past the end") << "recno 11" << 10 << "1";
        QTest::newRow("sort") << "sort" << 10 << "10";
        QTest::newRow("five read as a whole packet") << "ensure 5" << 6 << "1";
        QTest::newRow("ensure no more than there are") << "ensure 20" << 10 << "1";
    }

    void recordsAreReadWhenAskedFor()
    {
        QFETCH(QString, action);
        QFETCH(int, fetched);
        QFETCH(QString, current);
        AddBookmarks(10);
        auto set = Bookmarks(3);
        if (action == "next x3") {
            for (int i = 0; i < 3; ++i)
                set->Next();
        } else if (action == "count") {
            QCOMPARE(set->RecordCount(), 10);
        } else if (action == "last") {
            set->Last();
            QVERIFY(!set->Eof());
        } else if (action.startsWith("recno")) {
            set->SetRecNo(action.mid(6).toInt());
        } else if (action == "sort") {
            set->SetSort("IEName"); // t1 is the last bookmark
        } else if (action.startsWith("ensure")) {
            QCOMPARE(set->EnsureFetched(action.mid(7).toInt()), std::min(action.mid(7).toInt(), 10));
        }
        QCOMPARE(set->FetchedCount(), fetched);
        QCOMPARE(set->CanFetchMore(), fetched < 10);
        QCOMPARE(set->AsString("ID"), current);
        // Sorted by title: t1, t10, t2, ... t9.
        const QStringList sorted{"10", "1", "9", "8", "7", "6", "5", "4", "3", "2"};
        QCOMPARE(Ids(*set), action == "sort" ? sorted : Range(1, fetched));
    }

    void walkingToTheEndReadsEveryRecordOnce()
    {
        AddBookmarks(10);
        auto set = Bookmarks(4);
        QSignalSpy fetched(set.get(), &TDataSet::RowsFetched);
        QStringList walked;
        for (set->First(); !set->Eof(); set->Next())
            walked << set->AsString(0);
        QCOMPARE(walked, Range(1, 10));
        QCOMPARE(fetched.size(), 2);
        QCOMPARE(fetched[0], (QList<QVariant>{4, 7}));
        QCOMPARE(fetched[1], (QList<QVariant>{8, 9}));
        set->Prior();
        QCOMPARE(set->AsString(0), QString("9"));
    }

    void idleTimeReadsTheRestAndLetsTheFileGo()
    {
        AddBookmarks(2500);
        auto set = Bookmarks(100);
        QVERIFY(set->CanFetchMore());
        QVERIFY(!OtherConnectionCanWrite());
        for (int turn = 0; turn < 100 && set->CanFetchMore(); ++turn)
            QCoreApplication::processEvents();
        QCOMPARE(set->FetchedCount(), 2500);
        QVERIFY(!set->CanFetchMore());
        QVERIFY(OtherConnectionCanWrite());
    }

    // What a statement being read shows of a write in the middle of it is
    // undefined in SQLite: the write waits until the reading is done.
    void aWriteWaitsForTheReadingToEnd()
    {
        AddBookmarks(300);
        DbAccess->OpenGrid("select ID,IEName as 标题 from IE");
        TDataSet& set = *DbAccess->GridSet;
        const QAbstractItemModel& grid = *DbAccess->GridSource;
        QVERIFY(set.CanFetchMore());
        DbExecSQL("delete from IE where ID>150");
        QVERIFY(!set.CanFetchMore());
        QCOMPARE(set.FetchedCount(), 300);
        QCOMPARE(grid.rowCount(), 300);
        DbAccess->RefreshGrid();
        QCOMPARE(set.RecordCount(), 150);
        QCOMPARE(grid.rowCount(), 150);
    }

    void theGridGrowsAsItsViewAsks()
    {
        AddBookmarks(700);
        DbAccess->OpenGrid("select ID,IEName as 标题 from IE");
        QAbstractItemModel* model = DbAccess->GridSource.get();
        QCOMPARE(model->rowCount(), 100);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        QVERIFY(model->canFetchMore({}));
        model->fetchMore({});
        QCOMPARE(model->rowCount(), 356);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0][1].toInt(), 100);
        QCOMPARE(inserted[0][2].toInt(), 355);
        QCOMPARE(model->index(355, 0).data().toString(), QString("356"));
        // A sort needs every record, and the grid then shows them all.
        DbAccess->GridSet->SetSort("标题");
        QCOMPARE(model->rowCount(), 700);
        QVERIFY(!model->canFetchMore({}));
        QCOMPARE(model->index(0, 1).data().toString(), QString("t1"));
    }

    // Texts ignore letter case and order by UTF-16 units, as the grid always
    // did; numbers order as numbers; empty values come first; equal values
    // keep the order the database gave. Values are written as SQL literals.
    void sortOrdersValues_data()
    {
        QTest::addColumn<QString>("sort");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("sorted");
        const QStringList urls{"'https://www.b.com/2'", "'https://www.a.com/10'", "'https://www.a.com/9'",
                               "'https://www.a.com/'"};
        QTest::newRow("shared beginning") << "v" << urls
                                          << QStringList{"'https://www.a.com/'", "'https://www.a.com/10'",
                                                         "'https://www.a.com/9'", "'https://www.b.com/2'"};
        QTest::newRow("one value begins another") << "v" << QStringList{"'abcd'", "'abc'", "'ab'", "'abce'", "'abc'"}
                                                  << QStringList{"'ab'", "'abc'", "'abc'", "'abcd'", "'abce'"};
        QTest::newRow("letter case, ties kept")
            << "v" << QStringList{"'b'", "'A'", "'a'", "'B'"} << QStringList{"'A'", "'a'", "'b'", "'B'"};
        QTest::newRow("descending, ties kept")
            << "v DESC" << QStringList{"'b'", "'A'", "'a'", "'B'"} << QStringList{"'b'", "'B'", "'A'", "'a'"};
        QTest::newRow("chinese with numbers")
            << "v" << QStringList{"'网页标题 9'", "'网页标题 10'", "'网页标题 1'", "'网页'"}
            << QStringList{"'网页'", "'网页标题 1'", "'网页标题 10'", "'网页标题 9'"};
        QTest::newRow("past sixteen bits")
            << "v" << QStringList{"'x！'", "'x😀'", "'xＡ'"} << QStringList{"'x😀'", "'x！'", "'xＡ'"};
        QTest::newRow("numbers") << "v" << QStringList{"10", "9", "2.5", "-1"} << QStringList{"-1", "2.5", "9", "10"};
        QTest::newRow("empty, numbers and texts")
            << "v" << QStringList{"'x'", "5", "NULL", "2"} << QStringList{"NULL", "2", "5", "'x'"};
    }

    void sortOrdersValues()
    {
        QFETCH(QString, sort);
        QFETCH(QStringList, values);
        QFETCH(QStringList, sorted);
        DbExecSQL("create temp table s(v)");
        for (const QString& value : values)
            DbExecSQL("insert into s(v) values (" + value + ")");
        TDataSet set([] { return DbAccess->Handle(); });
        set.SetCommandText("select quote(v) as q, v from s");
        set.Open();
        set.SetSort(sort);
        QStringList order;
        for (set.First(); !set.Eof(); set.Next())
            order << set.AsString("q");
        QCOMPARE(order, sorted);
    }

    void valuesKeepTheirKinds()
    {
        TDataSet set([] { return DbAccess->Handle(); });
        set.SetCommandText("select 7 as i, 2.5 as r, '记事 📒' as t, x'00ff41' as b, null as n, -3.0 as w");
        set.Open();
        QCOMPARE(set.Value("i"), QVariant(qlonglong(7)));
        QCOMPARE(set.AsInteger("i"), 7);
        QCOMPARE(set.Value("r"), QVariant(2.5));
        QCOMPARE(set.AsInteger("r"), QVariant(2.5).toInt());
        QCOMPARE(set.Value("t"), QVariant(QString("记事 📒")));
        QCOMPARE(set.Value("b"), QVariant(QByteArray("\x00\xff\x41", 3)));
        QVERIFY(set.Value("n").isNull());
        QCOMPARE(set.AsString("w"), QString("-3"));
    }

    void aPostWritesOnlyWhatChanged()
    {
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (4,'old text')");
        TDataSet& set = *DbAccess->QuerySet;
        sqlite3* db = DbAccess->Handle();
        DbAccess->OpenQuery("select * from NoteBook where TypeID=4");
        const int before = sqlite3_total_changes(db);
        set.Edit();
        set.SetValue("ReMark", QString("old text"));
        set.SetValue("TypeID", 4);
        set.Post();
        QCOMPARE(sqlite3_total_changes(db), before);

        set.Edit();
        set.SetValue("ReMark", QString("new text, longer"));
        QCOMPARE(set.AsString("ReMark"), QString("new text, longer"));
        QCOMPARE(set.AsInteger("TypeID"), 4);
        set.Post();
        QCOMPARE(sqlite3_total_changes(db), before + 1);
        QCOMPARE(set.AsString("ReMark"), QString("new text, longer"));
        set.Edit();
        set.SetValue("ReMark", QString("short"));
        set.Cancel();
        QCOMPARE(set.AsString("ReMark"), QString("new text, longer"));
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook where ReMark='new text, longer'"), 1);
    }

    void appendedRecordsFollowEveryRecordRead()
    {
        DbExecSQL(
            "insert into NoteBook(TypeID,ReMark) values (1,'a')@#@insert into NoteBook(TypeID,ReMark) values (2,'b')@#@"
            "insert into NoteBook(TypeID,ReMark) values (3,'c')");
        TDataSet set([] { return DbAccess->Handle(); });
        set.SetPacketRecords(1);
        set.SetCommandText("select * from NoteBook");
        set.Open();
        set.Append();
        set.SetValue("TypeID", 9);
        set.Post();
        QCOMPARE(set.FetchedCount(), 4);
        QCOMPARE(set.RecNo(), 4);
        QCOMPARE(set.AsInteger("TypeID"), 9);
        QVERIFY(set.Value("ReMark").isNull());
        QCOMPARE(set.ValueAt(2, 1).toString(), QString("c"));
    }

    void openGridFailingLeavesTheGridEmpty()
    {
        const QAbstractItemModel& grid = *DbAccess->GridSource;
        DbExecSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'u','n','r') ");
        DbAccess->OpenGrid("select ID,IEName as 标题 from IE");
        QCOMPARE(grid.rowCount(), 1);
        QCOMPARE(grid.headerData(1, Qt::Horizontal).toString(), QString("标题"));
        QCOMPARE(ErrorOf([] { DbAccess->OpenGrid("select broken from IE"); }), QString("DB:数据库查询错误，请检查！"));
        QCOMPARE(grid.rowCount(), 0);
    }

    void datasetAppendsAndEditsThroughTheTable()
    {
        TDataSet& set = *DbAccess->QuerySet;
        DbAccess->OpenQuery("select * from NoteBook where 1<> 1 ");
        QCOMPARE(set.RecordCount(), 0);
        QCOMPARE(set.FieldCount(), 2);
        set.Append();
        set.SetValue("TypeID", 3);
        set.SetValue("ReMark", "first");
        set.Post();
        QCOMPARE(DbGetIntValue("select count(TypeID) from NoteBook where TypeID= 3 "), 1);

        DbAccess->OpenQuery("select * from NoteBook where TypeId=3");
        set.Edit();
        set.SetValue("remark", "second, with 'quotes'");
        set.Post();
        DbAccess->OpenQuery("select * from NoteBook where TypeID=3 ");
        QCOMPARE(set.AsString("ReMark"), QString("second, with 'quotes'"));
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook"), 1);
    }

    void datasetNavigatesSortsAndRequeries()
    {
        for (const char* name : {"b", "C", "a"})
            DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'u','%s','') ", {name}));
        TDataSet& set = *DbAccess->GridSet;
        DbAccess->OpenGrid("select ID,IEName as 标题 from IE  ");
        QCOMPARE(set.RecNo(), 1);
        set.Next();
        set.Next();
        QCOMPARE(set.AsString("标题"), QString("a"));
        set.Next();
        QVERIFY(set.Eof());
        set.SetSort("标题");
        QCOMPARE(set.RecNo(), 1);
        QCOMPARE(set.AsString(1), QString("a"));
        set.SetSort("标题 DESC");
        QCOMPARE(set.AsString(1), QString("C"));
        set.SetSort("标题  DESC ");
        QCOMPARE(set.AsString(1), QString("C"));

        // A sort survives the requery, so the order keeps matching the title's mark.
        DbExecSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'u','d','') ");
        DbAccess->RefreshGrid();
        QCOMPARE(set.RecordCount(), 4);
        QCOMPARE(set.RecNo(), 1);
        QCOMPARE(set.AsString(1), QString("d"));
        QCOMPARE(DbAccess->GridSource->rowCount(), 4);
        QCOMPARE(DbAccess->GridSource->index(3, 1).data().toString(), QString("a"));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestDataSet)
#include "test_dataset.moc"
