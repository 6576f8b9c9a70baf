#include "bookmarks/IEList.h"
#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"
#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFile>
#include <memory>

namespace {
// The store these tests read and write, as a page or dialog would be handed it.
TIE IE;
} // namespace

namespace {
void AddGroup(int self, int parent, const QString& name)
{
    DbExecSQL(FormatSQL("insert into IEType(SelfIndex,ParentIndex,TypeName) values (%s,%s,'%s')",
                        {QString::number(self), QString::number(parent), name}));
}

// Stores a bookmark through the store and returns its identifier.
QString Insert(int typeId, const QString& url, const QString& name, const QString& remark = QString(),
               const QString& tags = QString())
{
    IE.TypeID = typeId;
    IE.IEUrl = url;
    IE.IEName = name;
    IE.ReMark = remark;
    IE.Tags = tags;
    IE.InsertIE();
    return QString::number(DbGetIntValue("select max(ID) from IE"));
}
} // namespace

class TestUntIE : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TCardDBGrid> grid;

    QStringList Column(int column) const
    {
        QStringList values;
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            values << grid->model()->index(row, column).data(Qt::ToolTipRole).toString();
        values.sort();
        return values;
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        grid = std::make_unique<TCardDBGrid>();
        AddTagsColumn(IE);
    }
    void cleanup()
    {
        grid.reset();
        env.reset();
    }

    void statementsAreBuiltExactly()
    {
        AddGroup(5, 0, "新闻");
        const QString id = Insert(5, "http://a.cn", "A", "r");
        QCOMPARE(IE.LastSQL,
                 QString("Insert into IE(TypeID,IEUrl,IEName,ReMark,Tags)  values(5,'http://a.cn','A','r','') "));
        ShowGroupIE(IE, grid.get(), 0);
        QCOMPARE(IE.LastSQL, QString("select ID,IEName as 标题,Remark as 备注,IEUrl as 网址 from IE  "));
        ShowGroupIE(IE, grid.get(), 5);
        QCOMPARE(IE.LastSQL,
                 QString("select ID,IEName as 标题,Remark as 备注,IEUrl as 网址 from IE   where TypeID=5 "));
        QCOMPARE(IE.LoadTypeName(5), QString("新闻"));
        QCOMPARE(IE.LastSQL, QString("select TypeName from IEType where Selfindex=5 "));
        IE.TypeID = -3;
        IE.UpdateIE(id);
        QCOMPARE(
            IE.LastSQL,
            QString("update IE set TypeID=-3,IEUrl='http://a.cn',IEName='A',ReMark='r',Tags='' where ID=%1  ").arg(id));
        IE.DeleteGroupIE("-3");
        QCOMPARE(IE.LastSQL, QString("delete from IE where TypeID=-3 "));
        IE.DeleteIE(id);
        QCOMPARE(IE.LastSQL, QString("delete from IE where ID=%1 ").arg(id));
    }

    void valuesAreStoredAndShownExactly_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("quotes") << "It's \"quoted\" ''twice''";
        QTest::newRow("separator") << "a@#@b@#@";
        QTest::newRow("statement") << "x'); delete from IE; --";
        QTest::newRow("lines") << "first\r\nsecond\nthird\n";
        QTest::newRow("long") << QString(6000, QChar(u'长')) + "end";
        QTest::newRow("blanks") << "  padded  ";
    }

    void valuesAreStoredAndShownExactly()
    {
        QFETCH(QString, value);
        const QString other = Insert(0, "keep", "keep", "keep", "keep");
        const QString id = Insert(0, value, value, value, value);
        IE.LoadIE(id);
        QCOMPARE(IE.IEUrl, value);
        QCOMPARE(IE.IEName, value);
        QCOMPARE(IE.ReMark, value);
        QCOMPARE(IE.Tags, value);

        ShowGroupIE(IE, grid.get(), 0);
        QStringList shown = {"keep", value};
        shown.sort();
        QCOMPARE(Column(1), shown);
        QCOMPARE(Column(2), shown);
        QCOMPARE(Column(3), shown);
        QCOMPARE(Column(4), shown);

        IE.IEName = value + value;
        IE.UpdateIE(id);
        IE.LoadIE(id);
        QCOMPARE(IE.IEName, value + value);
        QCOMPARE(IE.IEUrl, value);
        IE.LoadIE(other);
        QCOMPARE(IE.IEName, QString("keep"));
    }

    void tagsAsTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("commas") << "a,b"
                                << "a,b";
        QTest::newRow("blanks") << "  a  b\tc "
                                << "a,b,c";
        QTest::newRow("full-width and enumeration commas") << "工作，参考、阅读；x;y"
                                                           << "工作,参考,阅读,x,y";
        QTest::newRow("a blank within a tag") << "my tag, b"
                                              << "my tag,b";
        QTest::newRow("each once, empty ones dropped") << "a,,b, a ,b,"
                                                       << "a,b";
        QTest::newRow("nothing") << " ， "
                                 << "";
    }

    void tagsAsTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QCOMPARE(JoinedTags(typed), stored);
    }

    // The 标签 column stays hidden from group to group once hidden.
    void tagsColumnCanBeHidden()
    {
        Insert(0, "http://a.cn", "A", "", "x,y");
        ShowGroupIE(IE, grid.get(), 0);
        QVERIFY(!grid->isColumnHidden(4));
        SetTagsColumnShown(grid.get(), false);
        QVERIFY(grid->isColumnHidden(4));
        ShowGroupIE(IE, grid.get(), 0);
        const bool hiddenAgain = grid->isColumnHidden(4);
        SetTagsColumnShown(grid.get(), true);
        QVERIFY(hiddenAgain);
        QVERIFY(!grid->isColumnHidden(4));
        QVERIFY(!grid->isColumnHidden(3));
    }

    void groupListHoldsOnlyItsOwnBookmarks()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 1, "B");
        Insert(0, "u0", "root");
        Insert(1, "u1", "in A");
        Insert(2, "u2", "in B");

        ShowGroupIE(IE, grid.get(), 1);
        QCOMPARE(Column(1), QStringList({"in A"}));
        ShowGroupIE(IE, grid.get(), 2);
        QCOMPARE(Column(1), QStringList({"in B"}));
        ShowGroupIE(IE, grid.get(), 0);
        QCOMPARE(Column(1), QStringList({"in A", "in B", "root"}));
        QCOMPARE(Column(3), QStringList({"u0", "u1", "u2"}));

        QVERIFY(grid->isColumnHidden(0));
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QString("ID"));
        QStringList titles;
        for (int i = 1; i < grid->model()->columnCount(); ++i)
            titles << grid->model()->headerData(i, Qt::Horizontal).toString();
        QCOMPARE(titles, QStringList({"标题", "备注", "网址", "标签"}));
    }

    // Another part's columns, joins and condition go around the list's
    // statement, in the order first put; putting one again replaces it.
    void listExtensionsGoAroundTheStatement()
    {
        AddGroup(1, 0, "A");
        for (const char* name : {"a1", "a2", "a3"})
            Insert(1, "u", name, "", QString(name) + "-tag");
        Insert(0, "u", "root");
        DbExecSQL("create table Marks(IEID integer, Mark text)");
        DbExecSQL("insert into Marks values (1, 'x'), (3, 'y')");
        TIE store;
        AddTagsColumn(store);
        store.SetListExtension("marks", {"M.Mark as 记号", "left join Marks M on M.IEID = L.ID", "M.Mark is not null"});
        ShowGroupIE(store, grid.get(), 1);
        QCOMPARE(store.LastSQL,
                 QString("select ID,IEName as 标题,Remark as 备注,IEUrl as 网址 from IE   where TypeID=1 "));
        QCOMPARE(grid->model()->headerData(5, Qt::Horizontal).toString(), QString("记号"));
        QCOMPARE(Column(1), QStringList({"a1", "a3"}));
        QCOMPARE(Column(4), QStringList({"a1-tag", "a3-tag"}));
        QCOMPARE(Column(5), QStringList({"x", "y"}));

        store.SetListExtension("marks", {"M.Mark as 记号", "left join Marks M on M.IEID = L.ID", QString()});
        ShowGroupIE(store, grid.get(), 0);
        QCOMPARE(grid->model()->columnCount(), 6);
        QCOMPARE(Column(1), QStringList({"a1", "a2", "a3", "root"}));
    }

    void loadIENamesItsGroup_data()
    {
        QTest::addColumn<int>("typeId");
        QTest::addColumn<QString>("typeName");
        QTest::newRow("root") << 0 << "";
        QTest::newRow("group") << 1 << "新闻";
        QTest::newRow("group gone") << 9 << "";
    }

    void loadIENamesItsGroup()
    {
        QFETCH(int, typeId);
        QFETCH(QString, typeName);
        AddGroup(1, 0, "新闻");
        const QString id = Insert(typeId, "u", "n", "r");
        IE.TypeName = "stale";
        IE.LoadIE(id);
        QCOMPARE(IE.TypeID, typeId);
        QCOMPARE(IE.TypeName, typeName);
        QCOMPARE(IE.IEUrl, QString("u"));
        QCOMPARE(IE.ReMark, QString("r"));
    }

    void deletesRefreshTheGridAndSpareOtherGroups()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 1, "B");
        const QString first = Insert(1, "u", "a1");
        Insert(1, "u", "a2");
        Insert(2, "u", "b");
        Insert(0, "u", "root");
        ShowGroupIE(IE, grid.get(), 0);
        QCOMPARE(grid->model()->rowCount(), 4);

        IE.DeleteIE(first);
        QCOMPARE(Column(1), QStringList({"a2", "b", "root"}));
        IE.DeleteGroupIE("1");
        QCOMPARE(Column(1), QStringList({"b", "root"}));
        QCOMPARE(DbGetIntValue("select count(*) from IE where TypeID=1"), 0);
    }

    // What the desktop opens as a web page or a mail, and what it would run
    // or open otherwise.
    void webAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("web");
        QTest::newRow("http") << "http://example.com/a?b=1" << true;
        QTest::newRow("https, capitals, blanks") << " HTTPS://Example.COM \t" << true;
        QTest::newRow("ftp") << "ftp://files.example.com/x.zip" << true;
        QTest::newRow("mailto") << "mailto:someone@example.com" << true;
        QTest::newRow("host without a scheme") << "www.example.com/path" << true;
        QTest::newRow("host and port") << "localhost:8080" << true;
        QTest::newRow("script") << "javascript:alert(1)" << false;
        QTest::newRow("script, mixed case, leading blank") << " JavaScript:alert(1)" << false;
        QTest::newRow("inline data") << "data:text/html,<script>x</script>" << false;
        QTest::newRow("file address") << "file:///etc/passwd" << false;
        QTest::newRow("program path") << "/usr/bin/xterm" << false;
        QTest::newRow("Windows program") << "C:\\Windows\\System32\\calc.exe" << false;
        QTest::newRow("network share") << "\\\\server\\share\\run.exe" << false;
        QTest::newRow("home path") << "~/bin/run" << false;
        QTest::newRow("host-less scheme-relative") << "//server/run" << false;
        QTest::newRow("other scheme") << "smb://server/share" << false;
        QTest::newRow("blank") << " " << false;
    }

    void webAddresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, web);
        QCOMPARE(IsWebAddress(address), web);
    }

    // A name that is an existing file opens that file, however it looks.
    void existingFileIsNoWebAddress()
    {
        const QString before = QDir::currentPath();
        QDir::setCurrent(env->Dir.path());
        QVERIFY(IsWebAddress("www.example.com"));
        QFile(env->Path("www.example.com")).open(QIODevice::WriteOnly);
        const bool web = IsWebAddress("www.example.com");
        QDir::setCurrent(before);
        QVERIFY(!web);
    }

    // Several rows of the grid deleted or moved: all picked ones and only
    // those, or none of them when the statement fails on one.
    void severalBookmarksGoTogetherOrNotAtAll_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<QList<int>>("picked");
        QTest::addColumn<QString>("lock");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("after");
        QTest::newRow("delete two") << false << QList<int>{1, 3} << ""
                                    << "delete from IE where ID in (1,3) "
                                    << "a2:1 r:0";
        QTest::newRow("delete one") << false << QList<int>{2} << ""
                                    << "delete from IE where ID=2 "
                                    << "a1:1 a3:1 r:0";
        QTest::newRow("move three") << true << QList<int>{1, 3, 4} << ""
                                    << "update IE set TypeID=2 where ID in (1,3,4) "
                                    << "a1:2 a2:1 a3:2 r:2";
        QTest::newRow("move one") << true << QList<int>{4} << ""
                                  << "update IE set TypeID=2 where ID=4 "
                                  << "a1:1 a2:1 a3:1 r:2";
        QTest::newRow("delete fails on the last") << false << QList<int>{1, 3} << "before delete"
                                                  << ""
                                                  << "a1:1 a2:1 a3:1 r:0";
        QTest::newRow("move fails on the last") << true << QList<int>{1, 3} << "before update"
                                                << ""
                                                << "a1:1 a2:1 a3:1 r:0";
    }

    void severalBookmarksGoTogetherOrNotAtAll()
    {
        QFETCH(bool, move);
        QFETCH(QList<int>, picked);
        QFETCH(QString, lock);
        QFETCH(QString, statement);
        QFETCH(QString, after);
        AddGroup(1, 0, "A");
        AddGroup(2, 0, "B");
        for (const char* name : {"a1", "a2", "a3"})
            Insert(1, "u", name);
        Insert(0, "u", "r");
        if (!lock.isEmpty())
            DbExecSQL("create trigger lockIE " + lock +
                      " on IE when old.IEName='a3' begin select raise(abort, 'locked'); end");
        try {
            if (move)
                IE.MoveIEs(picked, 2);
            else
                IE.DeleteIEs(picked);
            QVERIFY(lock.isEmpty());
            QCOMPARE(IE.LastSQL, statement);
        } catch (const EDBException& error) {
            QVERIFY2(!lock.isEmpty(), qPrintable(error.Message()));
        }
        QStringList rows;
        const std::unique_ptr<TDataSet> set = DbAccess->Query("select IEName,TypeID from IE order by ID");
        for (; !set->Eof(); set->Next())
            rows << set->AsString(0) + ":" + set->AsString(1);
        QCOMPARE(rows.join(" "), after);
    }

    void failingStatementKeepsTheFieldsAndTheGrid()
    {
        Insert(0, "u", "n");
        ShowGroupIE(IE, grid.get(), 0);
        DbExecSQL("create trigger lockIE before delete on IE begin select raise(abort, 'locked'); end");
        try {
            IE.DeleteIE("1");
            QFAIL("the delete did not fail");
        } catch (const EDBException& error) {
            QCOMPARE(error.UserMessage, QString("数据库操作失败！"));
            QCOMPARE(error.SQLText, QString("delete from IE where ID=1 "));
        }
        QCOMPARE(grid->model()->rowCount(), 1);
        QCOMPARE(IE.IEName, QString("n"));
    }
};

JOTTEREL_TEST_MAIN(TestUntIE)
#include "test_untie.moc"
