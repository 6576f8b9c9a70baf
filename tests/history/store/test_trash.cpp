#include "data/Clock.h"
#include "data/MD.h"
#include "groups/GroupTableStore.h"
#include "history/Trash.h"
#include "history/Undo.h"
#include "support/StoreTest.h"

#include <memory>

namespace {
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
        TClock::Set(QDateTime(QDate(2026, 3, 1), QTime(12, 0)));
    }
    void cleanup()
    {
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
        QCOMPARE(Row("select group_concat(TypeID) from (select TypeID from IE order by ID)"),
                 QString("%1,0,0").arg(a));
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
