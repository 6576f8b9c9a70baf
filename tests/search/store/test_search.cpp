#include "data/DataSet.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "data/Schema.h"
#include "notes/UntNote.h"
#include "search/Search.h"
#include "support/StoreTest.h"

#include <memory>
#include <sqlite3.h>

// The search across notes, bookmarks and reminders, on the program's own
// connection.
class TestSearch : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

    static sqlite3* Db() { return DbAccess->Handle(); }

    // What stands before the items of init() in the results' order.
    enum TFillers { NoFillers, Items, EmptyGroups };

    // Each result as kind letter and ID ("N2", "B1", "R1"), in order.
    static QStringList Found(const QString& query)
    {
        QStringList found;
        for (const TSearchResult& result : Search(Db(), query).Items)
            found << QString("%1%2")
                         .arg(result.Kind == TSearchKind::Note       ? "N"
                              : result.Kind == TSearchKind::Bookmark ? "B"
                                                                     : "R")
                         .arg(result.Id);
        return found;
    }

    static TSearchResult Only(const QString& query)
    {
        const std::vector<TSearchResult> results = Search(Db(), query).Items;
        if (results.size() != 1)
            qFatal("%s: %d results", qPrintable(query), int(results.size()));
        return results.front();
    }

    static void AddQueryColumns()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<int>("fillers");
    }

    static QByteArray RowName(const char* name, int fillers)
    {
        const char* const how = fillers == Items         ? " (behind fillers)"
                                : fillers == EmptyGroups ? " (behind groups)"
                                                         : "";
        return QByteArray(name) + how;
    }

    // The row's query finds what it says, behind what it says.
    static void CompareFound()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, found);
        QFETCH(int, fillers);
        if (fillers == Items)
            AddFillersFirst();
        else if (fillers == EmptyGroups)
            AddEmptyGroupsFirst();
        QCOMPARE(Found(query), found);
    }

private slots:
    void init()
    {
        env = std::make_unique<TStoreEnv>();
        // Stored out of path order, so the order of the results is the
        // search's own. Note 99 and bookmark group 77 belong to no group.
        ExecNative(Db(), "INSERT INTO NoteType(SelfIndex,ParentIndex,TypeName) VALUES (3,0,'Travel "
                         "Plans'),(1,0,'工作'),(2,1,'会议'),(4,0,'空组');"
                         "INSERT INTO NoteBook VALUES (0,'根的记事' || char(13,10) || '第二行');"
                         "INSERT INTO NoteBook VALUES (1,'工作记事 Alpha beta');"
                         "INSERT INTO NoteBook VALUES (2,'会议纪要 XK 100% 完成_率 ''引号'' \"双引号\" @#@ "
                         "a.*b (x) [y] DROP TABLE NoteBook;');"
                         "INSERT INTO NoteBook VALUES (3,'Paris and Rome, été XK');"
                         "INSERT INTO NoteBook VALUES (99,'孤儿记事');"
                         "INSERT INTO IEType(SelfIndex,ParentIndex,TypeName) VALUES (1,0,'常用'),(2,1,'搜索引擎');"
                         "INSERT INTO IE(ID,TypeID,IEUrl,IEName,ReMark) VALUES "
                         "(1,2,'https://www.Example.com','Example Site','示例备注 XK'),"
                         "(2,0,'https://qt.io','Qt 文档','XK'),(3,77,'https://old.example','孤儿书签',''),"
                         "(4,1,'https://quotes.example','\"双引号\" 100%','');"
                         "UPDATE IE SET Tags='阅读,Favorites' WHERE ID=4");
        TStmtHandle alarm =
            PrepareNative(Db(), "INSERT INTO Alam(ID,AlamTime,AlamDate,ReDay,ReMark) VALUES (?1,?2,?3,?4,?5)");
        const auto add = [&](int id, QTime time, QDate date, const QString& text) {
            sqlite3_bind_int(alarm.get(), 1, id);
            sqlite3_bind_double(alarm.get(), 2, Ole::FromTime(time));
            if (date.isValid())
                sqlite3_bind_double(alarm.get(), 3, Ole::FromDate(date));
            else
                sqlite3_bind_null(alarm.get(), 3);
            sqlite3_bind_int(alarm.get(), 4, date.isValid() ? 0 : -1);
            const QByteArray utf8 = text.toUtf8();
            sqlite3_bind_text(alarm.get(), 5, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            RunToEnd(Db(), alarm.get());
            sqlite3_reset(alarm.get());
        };
        add(2, QTime(18, 0), QDate(2026, 12, 9), "pay 账单 XK");
        add(1, QTime(8, 30), QDate(), "Daily standup 站会 one two three four five six seven eight nine");
    }
    void cleanup() { env.reset(); }

    // Items that match nothing and come first in the results' order, more
    // than the search reads in that order before it reads everything: a
    // group named "0001" and so on, each with its note; bookmarks of "全部";
    // reminders after the two above.
    static void AddFillersFirst()
    {
        DbExecSQL("with recursive n(i) as (select 1 union all select i+1 from n where i < 3100) "
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) select 1000+i, 0, printf('%04d', i) from n");
        DbExecSQL("insert into NoteBook select SelfIndex, '填充' from NoteType where SelfIndex > 1000");
        DbExecSQL("with recursive n(i) as (select 1 union all select i+1 from n where i < 3100) "
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) select 0, 'u', '填充', '' from n");
        DbExecSQL("with recursive n(i) as (select 1 union all select i+1 from n where i < 3100) "
                  "insert into Alam(AlamTime,ReDay,ReMark) select 0.5, -1, '填充' from n");
    }

    // More groups than the search walks in order, empty ones (as an import
    // of empty folders leaves them), before the groups of init().
    static void AddEmptyGroupsFirst()
    {
        for (const char* table : {"NoteType", "IEType"})
            DbExecSQL(QString("with recursive n(i) as (select 1 union all select i+1 from n where i < 3100) "
                              "insert into ") +
                      table + "(SelfIndex,ParentIndex,TypeName) select 1000+i, 0, printf('%04d', i) from n");
    }

    // Each query three times: on the few items (read in order where its
    // words are short), behind the fillers (read by the statements), and
    // behind many empty groups.
    void matches_data()
    {
        AddQueryColumns();
        for (const int fillers : {NoFillers, Items, EmptyGroups})
            AddMatchRows(fillers);
    }

    static void AddMatchRows(int fillers)
    {
        const auto row = [&](const char* name) -> QTestData& { return QTest::newRow(RowName(name, fillers)); };
        const QStringList none;
        row("one Chinese character") << "记" << QStringList{"N0", "N1"} << fillers;
        row("Chinese word in a group path") << "示例" << QStringList{"B1"} << fillers;
        row("Latin case ignored") << "ALPHA" << QStringList{"N1"} << fillers;
        row("case ignored in an address") << "example.COM" << QStringList{"B1"} << fillers;
        row("accented case ignored") << "ÉTÉ" << QStringList{"N3"} << fillers;
        row("group name only") << "空组" << QStringList{"N4"} << fillers;
        row("group name and text") << "travel rome" << QStringList{"N3"} << fillers;
        row("words in one item") << "alpha 工作" << QStringList{"N1"} << fillers;
        row("words in two items") << "alpha rome" << none << fillers;
        row("full-width blank splits") << QStringLiteral("paris\u3000ROME") << QStringList{"N3"} << fillers;
        row("by kind, then path") << "xk" << QStringList{"N3", "N2", "B2", "B1", "R2"} << fillers;
        row("no group: not offered") << "孤儿记事" << none << fillers;
        row("bookmark of a group gone") << "孤儿书签" << QStringList{"B3"} << fillers;
        row("reminder") << "站会" << QStringList{"R1"} << fillers;
        row("bookmark's tag") << "favorites" << QStringList{"B4"} << fillers;
        row("tag and title") << "阅读 双引号" << QStringList{"B4"} << fillers;
        row("one character ending a title") << "签" << QStringList{"B3"} << fillers;
        row("two characters ending an address") << "IO" << QStringList{"B2"} << fillers;
        row("percent") << "100%" << QStringList{"N2", "B4"} << fillers;
        row("percent as wildcard") << "1%0" << none << fillers;
        row("underscore") << "完成_率" << QStringList{"N2"} << fillers;
        row("underscore as wildcard") << "完_成" << none << fillers;
        row("single quotes") << "'引号'" << QStringList{"N2"} << fillers;
        row("double quotes") << "\"双引号\"" << QStringList{"N2", "B4"} << fillers;
        row("statement separator") << "@#@" << QStringList{"N2"} << fillers;
        row("regular expression") << "a.*b (x) [y]" << QStringList{"N2"} << fillers;
        row("regular expression as pattern") << "a.b" << none << fillers;
        row("SQL text") << "DROP TABLE NoteBook;" << QStringList{"N2"} << fillers;
        row("SQL injection") << "' OR 1=1 --" << none << fillers;
        row("index query syntax") << "IEName:\"x\" OR qt* NEAR(a b)" << none << fillers;
        row("NUL") << QString("记") + QChar(0) << none << fillers;
        row("NUL alone") << QString(QChar(0)) << none << fillers;
        row("the index's end marks") << QString("签") + QChar(1) + QChar(1) << none << fillers;
        row("10,000 characters") << QString("x").repeated(10000) << none << fillers;
        row("5,000 repeated words") << QString("记 ").repeated(5000) << QStringList{"N0", "N1"} << fillers;
        row("nine words") << "three seven eight four five nine two one standup" << QStringList{"R1"} << fillers;
        // The ninth (shortest) word is checked after the statement.
        row("ninth word missing") << "three seven eight four five nine two one zzz" << none << fillers;
        QString many;
        for (int i = 0; i < 3000; ++i)
            many += QString("w%1 ").arg(i);
        row("3,000 different words") << many << none << fillers;
        row("empty") << "" << none << fillers;
        row("blank") << QStringLiteral(" \t\n\u3000") << none << fillers;
    }

    void matches() { CompareFound(); }

    // Letters find Chinese text by its readings, and an item is found by
    // the names of the groups above it; what matches as typed comes first,
    // then what matches by readings, then what only its groups' names hold.
    // Each query three times, as above.
    void readingsAndGroups_data()
    {
        AddQueryColumns();
        for (const int fillers : {NoFillers, Items, EmptyGroups}) {
            const auto row = [&](const char* name) -> QTestData& { return QTest::newRow(RowName(name, fillers)); };
            row("syllables: group name, path; as typed first")
                << "gongzuo" << QStringList{"N1", "N2", "B11", "B10"} << fillers;
            row("initials; as typed in \"Gongzuo\"") << "gz" << QStringList{"N1", "N2", "B11", "B10"} << fillers;
            row("syllables and initials") << "gongzjs" << QStringList{"N1"} << fillers;
            row("bookmark's remark and tag") << "shili yuedu" << QStringList() << fillers;
            row("bookmark's remark") << "shili" << QStringList{"B1"} << fillers;
            row("bookmark's tag") << "yuedu" << QStringList{"B4"} << fillers;
            row("reminder") << "zhanhui" << QStringList{"R1"} << fillers;
            row("s is not sh") << "sili" << QStringList() << fillers;
            row("group name by readings, bookmarks by their group") << "huiyi" << QStringList{"N2", "B12"} << fillers;
            row("bookmarks by their group's name") << "会议" << QStringList{"N2", "B12"} << fillers;
            row("bookmarks by the name of a group above") << "changyong" << QStringList{"B4", "B1", "B11"} << fillers;
            row("one word in the group, one in the title") << "会议 周会" << QStringList{"B12"} << fillers;
            row("a word nowhere") << "会议 周会 zzz" << QStringList() << fillers;
        }
    }

    void readingsAndGroups()
    {
        // A bookmark by readings before one as typed, in the results' order
        // of groups; a group whose name holds a word.
        DbExecSQL("insert into IEType(SelfIndex,ParentIndex,TypeName) values (3,0,'会议 资料')");
        DbExecSQL("insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values (10,0,'https://w.example','工作周报',''),"
                  "(11,2,'https://w.example/g','Gongzuo weekly',''),(12,3,'https://w.example/m','周会记录','')");
        CompareFound();
    }

    // What readings find among many bookmarks follows each change to them,
    // made here or by another program on the file.
    void readingsFollowChanges()
    {
        AddFillersFirst();
        DbExecSQL("insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values (9000,0,'u','工作周报','')");
        QCOMPARE(Found("zhoubao"), QStringList{"B9000"});
        DbExecSQL("update IE set IEName='工作月报' where ID=9000");
        QCOMPARE(Found("zhoubao"), QStringList());
        QCOMPARE(Found("yuebao"), QStringList{"B9000"});
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(sqlite3_db_filename(Db(), "main"), &other), SQLITE_OK);
        const TDbHandle otherProgram(other);
        ExecNative(other, "UPDATE IE SET IEName = '周报' WHERE ID = 9000");
        QCOMPARE(Found("yuebao"), QStringList());
        QCOMPARE(Found("zhoubao"), QStringList{"B9000"});
        DbExecSQL("insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values (8999,0,'u','','周报')");
        DbExecSQL("delete from IE where ID=9000");
        QCOMPARE(Found("zhoubao"), QStringList{"B8999"});
    }

    // What a result carries for the view and for the jump.
    void resultFields()
    {
        const TSearchResult note = Only("纪要");
        QCOMPARE(note.Path, QString("根目录->工作->会议"));
        QCOMPARE(note.GroupId, 2);
        QCOMPARE(note.TextMatch, 2);
        QCOMPARE(note.TextMatchLength, 2);
        QCOMPARE(note.Snippet.mid(note.Marks.at(0).Start, note.Marks.at(0).Length), QString("纪要"));

        // Every occurrence marked, whatever its case; a second line is its own snippet.
        const TSearchResult root = Only("第二");
        QCOMPARE(root.Path, QString("根目录"));
        QCOMPARE(root.Snippet, QString("第二行"));
        const TSearchResult paris = Only("rome PARIS");
        QCOMPARE(paris.Snippet, QString("Paris and Rome, été XK"));
        QCOMPARE(paris.Marks, (std::vector<TSearchMark>{{0, 5}, {10, 4}}));

        const TSearchResult groupOnly = Only("空组");
        QCOMPARE(groupOnly.TextMatch, -1);
        QVERIFY(groupOnly.Marks.empty());

        const TSearchResult bookmark = Only("示例");
        QCOMPARE(bookmark.Path, QString("全部->常用->搜索引擎"));
        QCOMPARE(bookmark.GroupId, 2);
        QCOMPARE(bookmark.Snippet, QString("示例备注 XK"));
        const TSearchResult orphan = Only("孤儿书签");
        QCOMPARE(orphan.Path, QString("全部"));
        QCOMPARE(orphan.GroupId, 0);

        QCOMPARE(Only("站会").Time, QString("每天  08:30:00"));
        // A reminder of some weekdays names them, as the reminder list does.
        DbExecSQL("update Alam set WeekDays=31 where ID=1");
        QCOMPARE(Only("站会").Time, QString("周一至周五  08:30:00"));
        DbExecSQL("update Alam set WeekDays=21 where ID=1");
        QCOMPARE(Only("站会").Time, QString("每周一、三、五  08:30:00"));
        DbExecSQL("update Alam set WeekDays=0, RepeatKind=5, RepeatMonth=8, RepeatDay=15 where ID=1");
        QCOMPARE(Only("站会").Time, QString("每年农历八月十五  08:30:00"));
        QCOMPARE(Only("账单").Time, QString("2026-12-09 18:00:00"));
    }

    // A long line shows a window around its match, cut with ellipses.
    void longLineIsCut()
    {
        const QString text = QString("前").repeated(300) + "目标" + QString("后").repeated(300);
        TNote note;
        note.TypeID = 4;
        note.ReMark = text;
        note.InsertNote();
        const TSearchResult result = Only("目标");
        QVERIFY(result.Snippet.startsWith("…") && result.Snippet.endsWith("…"));
        QVERIFY(result.Snippet.size() <= 102);
        QCOMPARE(result.Snippet.mid(result.Marks.at(0).Start, 2), QString("目标"));
        QCOMPARE(result.TextMatch, 300);
    }

    // A text just saved is found, a deleted group's note and a deleted
    // bookmark no longer; the search holds nothing between queries.
    void freshAfterEdits()
    {
        QCOMPARE(Found("刚刚写的"), QStringList());
        TNote note;
        note.TypeID = 1;
        note.ReMark = "工作记事 刚刚写的";
        note.UpdateNote();
        QCOMPARE(Found("刚刚写的"), QStringList{"N1"});

        DbExecSQL("delete from NoteType where selfIndex=2 @#@delete from NoteType where ParentIndex=2 "
                  "@#@delete from NoteBook where TypeID=2");
        QCOMPARE(Found("纪要"), QStringList());
        DbExecSQL("delete from IE where ID=1");
        QCOMPARE(Found("示例"), QStringList());
    }

    // A search while a list of the same connection is still being read (the
    // bookmark grid reads the rest of its rows when idle) finds as any other.
    void searchWhileAListIsBeingRead()
    {
        QCOMPARE(Found("示例"), QStringList{"B1"});
        QCOMPARE(Found("ÉTÉ"), QStringList{"N3"});
        TDataSet list([] { return DbAccess->Handle(); });
        list.SetPacketRecords(1);
        list.SetCommandText("select ID from IE");
        list.Open();
        QVERIFY(list.CanFetchMore());
        QCOMPARE(Found("示例"), QStringList{"B1"});
        QCOMPARE(Found("ÉTÉ"), QStringList{"N3"});
    }

    // Of more matches than are shown, the first in order are shown; the
    // rest is not read, and the count says there are more.
    void manyMatchesShowTheFirst()
    {
        DbExecSQL("insert into IE(TypeID,IEUrl,IEName,ReMark) select 1, 'u', '批量', '' from "
                  "(with recursive n(i) as (select 1 union all select i+1 from n where i < 250) select i from n)");
        DbExecSQL("insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values (1000, 0, 'u', '批量 最后', '')");
        const TSearchResults results = Search(Db(), "批量");
        QCOMPARE(results.FoundOf(TSearchKind::Bookmark), kShownPerKind);
        QVERIFY(results.MoreOf(TSearchKind::Bookmark));
        QVERIFY(!results.MoreOf(TSearchKind::Note));
        QCOMPARE(int(results.Items.size()), kShownPerKind);
        // "全部" sorts before "全部->常用", then by ID.
        QCOMPARE(results.Items.front().Id, 1000);
        QCOMPARE(results.Items.at(1).Id, 5);
        QCOMPARE(results.Items.back().Id, 5 + kShownPerKind - 2);
    }

    // Of more matches than are shown, those as typed are shown, also where
    // matches by pinyin come before them in the results' order.
    void manyMatchesShowThoseAsTyped()
    {
        DbExecSQL("insert into IE(TypeID,IEUrl,IEName,ReMark) select 0, 'u', '工作', '' from "
                  "(with recursive n(i) as (select 1 union all select i+1 from n where i < 150) select i from n)");
        DbExecSQL("insert into IE(TypeID,IEUrl,IEName,ReMark) select 1, 'u', 'gongzuo', '' from "
                  "(with recursive n(i) as (select 1 union all select i+1 from n where i < 250) select i from n)");
        const TSearchResults results = Search(Db(), "gongzuo");
        QCOMPARE(results.FoundOf(TSearchKind::Bookmark), kShownPerKind);
        QVERIFY(results.MoreOf(TSearchKind::Bookmark));
        for (const TSearchResult& result : results.Items)
            QVERIFY(result.Kind != TSearchKind::Bookmark || result.Snippet == "gongzuo");
    }

    // A search within a transaction of the caller's keeps nothing of what
    // it read: the transaction may be undone.
    void nothingKeptFromATransaction()
    {
        AddFillersFirst();
        DbExecSQL("insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values (9000,0,'u','月报','')");
        ExecNative(Db(), "BEGIN");
        DbExecSQL("update IE set IEName='周报' where ID=9000");
        QCOMPARE(Found("zhoubao"), QStringList{"B9000"});
        ExecNative(Db(), "ROLLBACK");
        QCOMPARE(Search(Db(), "zhoubao").FoundOf(TSearchKind::Bookmark), 0);
    }

    // A short word in more places than the index is worth asking about is
    // looked for in every bookmark; where another word of the query is
    // rarer, the index answers for that one.
    void shortWordInTooManyPlaces()
    {
        AddFillersFirst();
        DbExecSQL("insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values "
                  "(9000, 0, 'u', printf('%.*c', 100002, 'z'), ''), (9001, 0, 'u', 'zz 标记', '')");
        QCOMPARE(Found("ZZ"), QStringList({"B9000", "B9001"}));
        QCOMPARE(Found("zz 标"), QStringList{"B9001"});
    }

    // A file of the version before the index, restored, is searched through
    // the index built while it is upgraded, which every write keeps after.
    void restoredOlderFileIsSearchable()
    {
        const QString old = env->Path("old.dat");
        {
            sqlite3* raw = nullptr;
            QCOMPARE(sqlite3_open(old.toUtf8().constData(), &raw), SQLITE_OK);
            TDbHandle db(raw);
            ExecNative(raw, DatabaseSchema());
            ExecNative(
                raw,
                "INSERT INTO IE(ID,TypeID,IEUrl,IEName,ReMark) VALUES (7,0,'https://older.example','旧文件的书签','')");
        }
        DbRestore(old);
        QCOMPARE(SchemaVersion(Db()), CurrentSchemaVersion());
        QCOMPARE(Found("older.EXAMPLE"), QStringList{"B7"});
        DbExecSQL("update IE set IEUrl='https://newer.example' where ID=7");
        DbExecSQL("insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values (8,0,'https://older.example','','')");
        QCOMPARE(Found("older.example"), QStringList{"B8"});
        QCOMPARE(Found("newer.example"), QStringList{"B7"});
        DbExecSQL("delete from IE where ID=8");
        QCOMPARE(Found("older.example"), QStringList());
        ExecNative(Db(), "INSERT INTO IE_Search(IE_Search) VALUES ('integrity-check')");
    }
};

JOTTEREL_STORE_TEST_MAIN(TestSearch)
#include "test_search.moc"
