#include "bookmarks/BookmarkPlaces.h"
#include "bookmarks/UntIE.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "exchange/BookmarkFile.h"
#include "groups/GroupTableStore.h"
#include "history/Trash.h"
#include "support/StoreTest.h"

#include <QFile>
#include <memory>

namespace {
// A browser's file with what a bookmark group holds beyond names and
// addresses: the toolbar's mark, a description, dates, a separator, tags,
// a keyword, and links and folders in an order of their own.
const char* const kBrowserFile =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
    "<DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000002\" PERSONAL_TOOLBAR_FOLDER=\"true\">工具栏</H3>\n"
    "<DD>常用的网址\n<DL><p>\n"
    "<DT><A HREF=\"https://b.example/\" ADD_DATE=\"1700000010\" TAGS=\"x,y\" SHORTCUTURL=\"bb\">乙</A>\n"
    "<HR>\n"
    "<DT><H3 ADD_DATE=\"1700000003\">子</H3>\n<DL><p>\n"
    "<DT><A HREF=\"https://c.example/\" ADD_DATE=\"1700000011\">丙</A>\n</DL><p>\n"
    "<DT><A HREF=\"https://a.example/\" ADD_DATE=\"1700000012\" LAST_MODIFIED=\"1700000013\">甲</A>\n"
    "<DD>说明\n"
    "</DL><p>\n</DL><p>\n";

// Every row of the tables a delete takes from, in a fixed order.
QStringList Everything()
{
    QStringList rows;
    for (const char* table :
         {"IEType order by SelfIndex", "IE order by ID", "LinkCheck order by IEID", "SiteIcon order by IEID",
          "NoteType order by SelfIndex", "NoteBook order by TypeID", "NoteVersion order by ID", "Alam order by ID"}) {
        const std::unique_ptr<TDataSet> set = DbAccess->Query(QString("select * from ") + table);
        for (; !set->Eof(); set->Next()) {
            QStringList values;
            for (int i = 0; i < set->FieldCount(); ++i)
                values << set->AsString(i);
            rows << QString(table).section(' ', 0, 0) + ": " + values.join('|');
        }
    }
    return rows;
}

QByteArray Exported(const QString& path)
{
    TGroupTable groups("IEType", "全部");
    groups.Load();
    ExportBookmarkFile(groups, path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The group a name now has in the table (0: none).
int GroupNamed(const TGroupTable& groups, const QString& name)
{
    for (int self : groups.Branch(0))
        if (self != 0 && groups.Name(self) == name)
            return self;
    return 0;
}

QString Row(const QString& sql)
{
    const std::unique_ptr<TDataSet> set = DbAccess->Query(sql);
    QStringList values;
    for (int i = 0; i < set->FieldCount(); ++i)
        values << set->AsString(i);
    return values.join('|');
}
} // namespace

class TestTrash : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void init()
    {
        env = std::make_unique<TStoreEnv>();
        InstallDeleteKeeper(std::make_unique<TTrash>());
        TClock::Set(QDateTime(QDate(2026, 3, 1), QTime(12, 0)));
    }
    void cleanup()
    {
        InstallDeleteKeeper(nullptr);
        env.reset();
        TClock::Release();
    }

    // A group B (with C under it and an item in each) deleted from under A,
    // then the tree changed, then B restored.
    void restoreGroup_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("change"); // what happens while B is in the trash
        QTest::addColumn<QString>("path");   // of C after the restore
        for (const char* name : {"NoteType", "IEType"}) {
            const QString table = name;
            const QString root = table == "NoteType" ? "根目录" : "全部";
            const char* kind = table == "NoteType" ? "notes: " : "bookmarks: ";
            QTest::newRow(qPrintable(kind + QString("back in place"))) << table << "" << root + "->A->B->C";
            QTest::newRow(qPrintable(kind + QString("parent gone"))) << table << "drop A" << root + "->B->C";
            QTest::newRow(qPrintable(kind + QString("parent's number given to another")))
                << table << "drop A, add X" << root + "->B->C";
            QTest::newRow(qPrintable(kind + QString("name and number taken")))
                << table << "add B" << root + "->A->B (2)->C";
        }
    }
    void restoreGroup()
    {
        QFETCH(QString, table);
        QFETCH(QString, change);
        QFETCH(QString, path);
        const bool notes = table == "NoteType";
        const QString items = notes ? "NoteBook" : "IE";
        const QString text = notes ? "ReMark" : "IEName";
        TGroupTable groups(table, notes ? "根目录" : "全部");
        groups.Load();
        const int a = groups.Add(0, "A"), b = groups.Add(a, "B"), c = groups.Add(b, "C");
        for (int group : {b, c})
            DbExecSQL(QString("insert into %1(TypeID, %2) values (%3, 'in %3')").arg(items, text).arg(group));
        if (notes)
            DbExecSQL(QString("insert into NoteVersion(TypeID, SavedAt, Text) values (%1, 1, x'00')").arg(c));

        TTrash().DeleteBranch(groups, b, QString("delete from %1 where TypeID in (%2,%3)").arg(items).arg(b).arg(c));
        QCOMPARE(groups.Count(), 1);
        QCOMPARE(DbGetIntValue("select count(*) from " + items), 0);
        QCOMPARE(DbGetIntValue("select count(*) from NoteVersion"), 0);
        const QList<TTrashEntry> entries = TTrash().Entries();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].Name, QString("B"));
        QCOMPARE(entries[0].Place, groups.PathText(a));

        if (change.contains("drop A"))
            groups.DeleteBranch(a);
        if (change.contains("add X"))
            QCOMPARE(groups.Add(0, "X"), a);
        if (change.contains("add B"))
            QCOMPARE(groups.Add(a, "B"), b);

        const TRestored restored = TTrash().Restore(entries[0].Id);
        QCOMPARE(int(restored.kind), int(notes ? TTrashEntry::NoteGroup : TTrashEntry::BookmarkGroup));
        QVERIFY(TTrash().Entries().isEmpty());
        groups.Load();
        const int newB = int(restored.Id);
        const int newC = GroupNamed(groups, "C");
        QCOMPARE(groups.PathText(newC), path);
        QCOMPARE(groups.ShownParent(newC), newB);
        // Parents are read before their children: the numbers keep that order.
        QVERIFY(newC > newB && newB > groups.ShownParent(newB));
        QCOMPARE(DbGetIntValue(QString("select TypeID from %1 where %2='in %3'").arg(items, text).arg(b)), newB);
        QCOMPARE(DbGetIntValue(QString("select TypeID from %1 where %2='in %3'").arg(items, text).arg(c)), newC);
        if (notes)
            QCOMPARE(DbGetIntValue("select TypeID from NoteVersion"), newC);
    }

    // A bookmark and a reminder come back whole, the bookmark under the root
    // once its group is gone.
    void restoreRows()
    {
        TGroupTable groups("IEType", "全部");
        groups.Load();
        const int a = groups.Add(0, "A");
        DbExecSQL(
            QString("insert into IE(TypeID, IEUrl, IEName, ReMark) values (%1, 'http://x', '书签', '备注')").arg(a));
        DbExecSQL("insert into Alam(AlamTime, AlamDate, ReDay, ReMark, bLook, WeekDays, SnoozeAt) "
                  "values (0.5, 46000, 1, '开会', 0, 5, 46000.25)");
        const QString bookmark = Row("select * from IE");
        const QString reminder = Row("select * from Alam");
        DbAccess->Batch([] {
            TTrash().KeepBookmarks({1});
            TTrash().KeepReminders({"1"});
            DbExecSQL("delete from IE@#@delete from Alam");
        });
        groups.DeleteBranch(a);
        const QList<TTrashEntry> entries = TTrash().Entries(); // the newest first
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].Name, QString("开会"));
        QCOMPARE(entries[1].Place, QString("全部->A"));
        for (const TTrashEntry& entry : entries)
            TTrash().Restore(entry.Id);
        QCOMPARE(Row("select * from Alam"), reminder);
        QCOMPARE(Row("select * from IE"), QString(bookmark).replace(QString("1|%1|").arg(a), "1|0|"));
    }

    // Whatever kind the trash holds, a restore (撤销 of the delete restores
    // the same way) gives back every row the delete took, every column of it: a bookmark
    // group's toolbar mark, description, dates, separators and order, its
    // bookmarks' site icons and last checks, a note group's versions, the
    // identity the sync knows each by. The
    // bookmark file exported before the delete is the one exported after.
    void restoreGivesBackEverything_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"bookmark group", "bookmarks", "note group", "reminder"})
            QTest::newRow(kind) << kind;
    }
    void restoreGivesBackEverything()
    {
        QFETCH(QString, kind);
        TGroupTable bookmarks("IEType", "全部");
        bookmarks.Load();
        QFile file(env->Path("in.html"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kBrowserFile) > 0);
        file.close();
        ImportBookmarkFile(bookmarks, 0, file.fileName());
        DbExecSQL(
            "insert into LinkCheck(IEID, Result, Code, CheckedAt, NewUrl) select ID, 1, 301, 1700000100, "
            "'https://new.example/' from IE@#@insert into SiteIcon(IEID, Icon, FetchedAt) select ID, x'89504e47', "
            "1700000200 from IE");
        TGroupTable notes("NoteType", "根目录");
        notes.Load();
        const int note = notes.Add(notes.Add(0, "甲"), "乙");
        DbExecSQL(QString("insert into NoteBook values (%1, '正文')@#@insert into NoteVersion(TypeID, SavedAt, Text) "
                          "values (%1, 1700000300, x'00000003789c')")
                      .arg(note));
        DbExecSQL("insert into Alam(AlamTime, AlamDate, ReDay, ReMark, bLook, WeekDays, SnoozeAt) "
                  "values (0.5, 46000, 1, '开会', -1, 5, 46000.25)");
        // Synced before: the sync knows each item by its identity.
        for (const char* table : {"IEType", "IE", "NoteType", "Alam"})
            DbExecSQL(QString("update %1 set Gid='%1-' || rowid").arg(table));
        const QStringList before = Everything();
        const QByteArray exported = Exported(env->Path("before.html"));

        QList<qint64> entries;
        if (kind == "bookmark group") {
            bookmarks.Load();
            const int top = bookmarks.Children(0).value(0);
            entries << TTrash().DeleteBranch(bookmarks, top,
                                             "delete from IE where TypeID in " + SqlInList(bookmarks.Branch(top)));
        } else if (kind == "bookmarks") {
            entries = TIE().DeleteIEs({1, 3});
        } else if (kind == "note group") {
            entries << TTrash().DeleteBranch(notes, notes.ShownParent(note),
                                             "delete from NoteBook where TypeID=" + QString::number(note));
        } else {
            DbAccess->Batch([&] {
                entries = TTrash().KeepReminders({"1"});
                DbExecSQL("delete from Alam");
            });
        }
        QVERIFY(Everything() != before);
        TTrash().RestoreAll(entries);
        QCOMPARE(Everything(), before);
        QCOMPARE(Exported(env->Path("after.html")), exported);
    }

    // Taking back a delete restores those of its entries still in the trash,
    // and says so once none is left.
    void takingBackADelete()
    {
        QList<qint64> entries;
        DbAccess->Batch([&] {
            for (const char* text : {"甲", "乙", "丙"})
                DbExecSQL(QString("insert into Alam(ReMark) values ('%1')").arg(text));
            entries = TTrash().KeepReminders({"1", "2", "3"});
            DbExecSQL("delete from Alam");
        });
        QCOMPARE(entries.size(), 3);
        TTrash().Remove(entries[1]);
        QCOMPARE(TTrash().RestoreAll(entries).size(), 2);
        QCOMPARE(Row("select group_concat(ReMark, '') from (select ReMark from Alam order by ID)"), QString("甲丙"));
        QCOMPARE(ErrorOf([&] { TTrash().RestoreAll(entries); }), QString("回收站中已没有这一项。"));
    }

    // Bookmarks moved go back to their groups; to the root where a group is
    // gone, or its number now names another; a bookmark deleted since stays so.
    void bookmarksPutBack()
    {
        TGroupTable groups("IEType", "全部");
        groups.Load();
        const int a = groups.Add(0, "A"), c = groups.Add(0, "C"), b = groups.Add(0, "B");
        const int d = groups.Add(0, "D");
        for (int group : {a, b, d, a})
            DbExecSQL(QString("insert into IE(TypeID, IEName) values (%1, 'in %1')").arg(group));
        const QList<TBookmarkPlace> places = BookmarkPlaces({1, 2, 3, 4});
        QCOMPARE(BookmarksText("移动", places), QString("移动 4 个网址"));
        QCOMPARE(BookmarksText("删除", places.mid(0, 1)), QString("删除网址“in %1”").arg(a));
        DbExecSQL(QString("update IE set TypeID=%1").arg(c));
        groups.DeleteBranch(d);
        QCOMPARE(groups.Add(0, "X"), d); // the freed number given again
        groups.DeleteBranch(b);
        DbExecSQL("delete from IE where ID=4");
        PutBookmarksBack(places);
        QCOMPARE(Row("select group_concat(TypeID) from (select TypeID from IE order by ID)"), QString("%1,0,0").arg(a));
    }

    // Expired entries go at 30 days; 彻底删除 takes one, 清空 all.
    void removedForGood()
    {
        const QDateTime now = TClock::Now();
        for (int age : {31, 30, 29, 0}) {
            TClock::Set(now.addDays(-age));
            DbAccess->Batch([&] {
                DbExecSQL(QString("insert into Alam(ReMark) values ('%1')").arg(age));
                TTrash().KeepReminders({QString::number(DbGetIntValue("select max(ID) from Alam"))});
            });
        }
        TTrash().Expire(now);
        QList<TTrashEntry> entries = TTrash().Entries();
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.last().Name, QString("30"));
        TTrash().Remove(entries.first().Id);
        QCOMPARE(TTrash().Entries().first().Name, QString("29"));
        TTrash().Clear();
        QVERIFY(TTrash().Entries().isEmpty());
    }
};

JOTTEREL_STORE_TEST_MAIN(TestTrash)
#include "test_trash.moc"
