#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"
#include "controls/CardEdtBut.h"
#include "controls/ItemDrag.h"
#include "data/MD.h"
#include "data/UntPublic.h"
#include "groups/UntTree.h"
#include "history/Trash.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDrag>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <memory>

namespace {
void AddGroup(int self, int parent, const QString& name)
{
    DbExecSQL(FormatSQL("insert into IEType(SelfIndex,ParentIndex,TypeName) values (%s,%s,'%s')",
                        {QString::number(self), QString::number(parent), name}));
}

void AddBookmark(int typeId, const QString& title, const QString& address = "www.example.com")
{
    DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(%s,'%s','%s','') ",
                        {QString::number(typeId), SqlText(address), SqlText(title)}));
}

QTreeWidgetItem* Node(QTreeWidget* tree, const QString& label)
{
    const auto found = tree->findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

QTreeWidgetItem* Node(QWidget* dialog, const QString& label)
{
    return Node(Find<QTreeWidget>(dialog, "tv1"), label);
}

} // namespace

class TestBookmarkPage : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TPageFixture> form;
    QTreeWidget* tree = nullptr;
    TCardDBGrid* grid = nullptr;

    void Show()
    {
        form = std::make_unique<TPageFixture>();
        Find<QTabWidget>(form.get(), "pgcMain")->setCurrentIndex(2);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        tree = Find<QTreeWidget>(form.get(), "tvIE");
        grid = Find<TCardDBGrid>(form.get(), "DBGrid1");
    }

    void Trigger(const char* action) { Find<QAction>(form.get(), action)->trigger(); }

    void ClickNode(const QString& label)
    {
        QTreeWidgetItem* node = Node(tree, label);
        QVERIFY(node);
        tree->scrollToItem(node);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
        QCOMPARE(tree->currentItem(), node);
    }

    void ClickRow(int row)
    {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(grid->model()->index(row, 1)).center());
    }

    QStringList Titles() const
    {
        QStringList titles;
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            titles << grid->model()->index(row, 1).data().toString();
        return titles;
    }

    static QStringList Sorted(QStringList list)
    {
        list.sort();
        return list;
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        QGuiApplication::clipboard()->clear();
    }
    void cleanup()
    {
        form.reset();
        env.reset();
    }

    void startupListsEveryBookmarkWithNoGroupSelected()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 1, "B");
        AddBookmark(0, "root");
        AddBookmark(1, "in A");
        AddBookmark(2, "in B");
        Show();
        QCOMPARE(Sorted(Titles()), QStringList({"in A", "in B", "root"}));
        QVERIFY(grid->isColumnHidden(0));
        // No group is selected (the window puts the keyboard in the tree:
        // tests/app/test_dailyuse).
        QVERIFY(tree->selectedItems().isEmpty());
        QCOMPARE(grid->GridEvenColor(), QColor(255, 251, 240));
        for (const char* name : {"N1", "N2", "N3", "N5", "N8", "NAddIEType", "NModIeType", "NDelIEType"})
            QVERIFY2(Find<QAction>(form.get(), name)->isEnabled(), name);
    }

    // The grid on the page not shown at the start fits its columns when the
    // page is first shown.
    void hiddenGridFitsItsColumnsWhenShown()
    {
        AddBookmark(0, "a title much wider than the column's own title");
        form = std::make_unique<TPageFixture>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(!form->findChild<TCardDBGrid*>("DBGrid1"));
        Find<QTabWidget>(form.get(), "pgcMain")->setCurrentIndex(2);
        grid = Find<TCardDBGrid>(form.get(), "DBGrid1");
        QCOMPARE(grid->columnWidth(1),
                 QFontMetrics(grid->font()).horizontalAdvance("a title much wider than the column's own title") + 4);
    }

    void treeClickListsTheGroupsOwnBookmarks()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 1, "B");
        AddBookmark(0, "root");
        AddBookmark(1, "in A");
        AddBookmark(2, "in B");
        Show();
        ClickNode("A");
        QCOMPARE(Titles(), QStringList({"in A"}));
        tree->expandAll();
        ClickNode("B");
        QCOMPARE(Titles(), QStringList({"in B"}));
        QVERIFY(grid->isColumnHidden(0));
        ClickNode("全部");
        QCOMPARE(Titles().size(), 3);
    }

    void newBookmarkGoesToTheSelectedGroup_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QString>("groupText");
        QTest::addColumn<int>("typeId");
        QTest::newRow("nothing selected") << "" << QByteArray("N1") << "全部" << 0;
        QTest::newRow("root, tree menu") << "全部" << QByteArray("N5") << "全部" << 0;
        QTest::newRow("group") << "A" << QByteArray("N1") << "A" << 1;
    }

    void newBookmarkGoesToTheSelectedGroup()
    {
        QFETCH(QString, selected);
        QFETCH(QByteArray, item);
        QFETCH(QString, groupText);
        QFETCH(int, typeId);
        AddGroup(1, 0, "A");
        AddBookmark(0, "old");
        Show();
        if (!selected.isEmpty())
            ClickNode(selected);
        QString shownGroup;
        Drive([&](QWidget* dialog) {
            shownGroup = Find<QLineEdit>(dialog, "EdtGoup")->text();
            Find<QLineEdit>(dialog, "edtIE")->setText("www.new.com");
            Find<QLineEdit>(dialog, "edtName")->setText("new");
            Click(dialog, "btnOK");
        });
        Trigger(item.constData());
        QCOMPARE(shownGroup, groupText);
        QCOMPARE(DbGetIntValue(FormatSQL("select TypeID from IE where IEName='new'", {})), typeId);
        QVERIFY(Titles().contains("new"));
    }

    void savedThenCancelledAddStillShowsInTheGrid()
    {
        Show();
        Drive([&](QWidget* dialog) {
            Find<QCheckBox>(dialog, "chk1")->setChecked(true);
            for (const char* title : {"the first bookmark's title", "two"}) {
                Find<QLineEdit>(dialog, "edtIE")->setText(QString("www.x.com/%1").arg(title));
                Find<QLineEdit>(dialog, "edtName")->setText(title);
                Click(dialog, "btnOK");
            }
            Click(dialog, "btnCancel");
        });
        Trigger("N1");
        QCOMPARE(Sorted(Titles()), QStringList({"the first bookmark's title", "two"}));
        // The columns fit what was added to the empty list.
        QCOMPARE(grid->columnWidth(1), QFontMetrics(grid->font()).horizontalAdvance("the first bookmark's title") + 4);
    }

    void bookmarkMovedToAnotherGroupLeavesTheOldList()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 0, "B");
        AddBookmark(1, "moving");
        AddBookmark(1, "staying");
        Show();
        ClickNode("A");
        ClickRow(Titles().indexOf("moving"));
        QCOMPARE(DbAccess->GridSet->AsString(1), QString("moving"));
        QString shownTitle;
        Drive([&](QWidget* dialog) {
            shownTitle = Find<QLineEdit>(dialog, "edtName")->text();
            Drive([&](QWidget* chooser) {
                Find<QTreeWidget>(chooser, "tv1")->setCurrentItem(Node(chooser, "B"));
                Click(chooser, "btnOK");
            });
            Find<TCardEdtBut>(dialog, "EdtGoup")->Button()->click();
            Click(dialog, "btnOK");
        });
        Trigger("N2");
        QCOMPARE(shownTitle, QString("moving"));
        QCOMPARE(Titles(), QStringList({"staying"}));
        ClickNode("B");
        QCOMPARE(Titles(), QStringList({"moving"}));
        ClickNode("全部");
        QCOMPARE(Sorted(Titles()), QStringList({"moving", "staying"}));
    }

    void deleteAsksAboutTheCurrentRow_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("answer");
        QTest::newRow("no") << "Second" << false;
        QTest::newRow("yes") << "Second" << true;
        QTest::newRow("empty title") << "" << true;
    }

    void deleteAsksAboutTheCurrentRow()
    {
        QFETCH(QString, title);
        QFETCH(bool, answer);
        AddBookmark(0, "First");
        AddBookmark(0, title);
        AddBookmark(0, "Third");
        Show();
        ClickRow(1);
        env->Responder.Answers = {answer};
        Trigger("N3");
        QCOMPARE(env->Responder.Texts(), QStringList({QString::fromUtf16(u"确实要删除\uFF1A\uFF02") + title +
                                                      QString::fromUtf16(u"\uFF02吗?") + QString(kTrashNotice)}));
        QCOMPARE(Titles(), answer ? QStringList({"First", "Third"}) : QStringList({"First", title, "Third"}));
        QCOMPARE(DbGetIntValue("select count(*) from IE"), answer ? 2 : 3);
    }

    void menuItemsOnAnEmptyListDoNothing()
    {
        AddGroup(1, 0, "empty");
        AddBookmark(0, "elsewhere");
        Show();
        ClickNode("empty");
        QCOMPARE(Titles(), QStringList());
        TNoModalGuard guard;
        for (const char* item : {"N2", "N3", "N8"})
            Trigger(item);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(!guard.Opened());
        QVERIFY(env->Responder.Shown.isEmpty());
        QVERIFY(env->Responder.Opened_.isEmpty());
        QCOMPARE(DbGetIntValue("select count(*) from IE"), 1);
    }

    void openingHandsTheStoredAddressToTheDesktop()
    {
        AddBookmark(0, "site", " www.site.cn ");
        AddBookmark(0, "blank", " \t ");
        Show();
        ClickRow(0);
        Trigger("N8");
        emit grid->doubleClicked(grid->currentIndex());
        ClickRow(1);
        Trigger("N8");
        emit grid->doubleClicked(grid->currentIndex());
        QCOMPARE(env->Responder.Opened_, QStringList({"www.site.cn", "www.site.cn"}));
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    // An address that is no web page is named in a question first; one
    // that no program takes is said so.
    void openingAnAddressThatIsNoWebPage_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("openFails");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<QString>("shown");
        const QString question =
            "这个地址不是网页，打开它可能会运行程序或脚本，或打开本机的文件：\r\n%1\r\n确实要打开吗？";
        const QString noProgram = "没有可以打开这个地址的程序：\r\n%1";
        QTest::newRow("web page") << "https://example.com/a" << false << false << QStringList{"https://example.com/a"}
                                  << "";
        QTest::newRow("script, No") << "javascript:alert(1)" << false << false << QStringList()
                                    << question.arg("javascript:alert(1)");
        QTest::newRow("inline page, Yes") << "data:text/html,x" << true << false << QStringList{"data:text/html,x"}
                                          << question.arg("data:text/html,x");
        QTest::newRow("no program for a mail")
            << "mailto:a@b.cn" << false << true << QStringList{"mailto:a@b.cn"} << noProgram.arg("mailto:a@b.cn");
        const QString long_ = "data:text/html," + QString("x").repeated(1000);
        QTest::newRow("long address cut in the box")
            << long_ << false << false << QStringList() << question.arg(long_.left(300) + "…");
    }

    void openingAnAddressThatIsNoWebPage()
    {
        QFETCH(QString, address);
        QFETCH(bool, yes);
        QFETCH(bool, openFails);
        QFETCH(QStringList, opened);
        QFETCH(QString, shown);
        AddBookmark(0, "site", address);
        Show();
        ClickRow(0);
        env->Responder.Answers = {yes};
        env->Responder.OpenFails = openFails;
        Trigger("N8");
        QCOMPARE(env->Responder.Opened_, opened);
        QCOMPARE(env->Responder.Texts(), shown.isEmpty() ? QStringList() : QStringList{shown});
    }

    void groupMenuAddsRenamesAndDeletesWithTheGridFollowing()
    {
        AddGroup(1, 0, "A");
        AddBookmark(0, "root");
        AddBookmark(1, "in A");
        Show();
        ClickNode("A");
        QString position;
        Drive([&](QWidget* ask) {
            position = Find<QLineEdit>(ask, "edtPos")->text();
            Find<QLineEdit>(ask, "edtName")->setText("A2");
            Click(ask, "btnOK");
        });
        Trigger("NAddIEType");
        QCOMPARE(position, QString("全部->A"));
        QCOMPARE(tree->currentItem()->text(0), QString("A2"));
        QCOMPARE(TCardTree::SelfIndexOf(tree->currentItem()), 2);
        QVERIFY(form->IE.LastSQL.endsWith(" where TypeID=2 "));
        QCOMPARE(Titles(), QStringList());

        ClickNode("A");
        Trigger("NModIeType");
        auto* editor = tree->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText("Renamed");
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents(); // the editor commits through a queued call
        QCOMPARE(Node(tree, "A"), nullptr);
        QVERIFY(Node(tree, "Renamed"));
        QCOMPARE(DbGetIntValue("select count(*) from IEType where TypeName='Renamed' and SelfIndex=1"), 1);

        // A group with sub-groups names them and its bookmarks in the
        // question (answered No here); an empty one goes with its bookmarks.
        ClickNode("Renamed");
        Trigger("NDelIEType");
        QCOMPARE(env->Responder.Texts(),
                 QStringList(
                     {"确定要删除 Renamed 分组吗？（其中 1 个下级分组、1 个网址也将被删除）" + QString(kTrashNotice)}));
        ClickNode("A2");
        AddBookmark(2, "in A2");
        env->Responder.Answers = {true};
        Trigger("NDelIEType");
        QCOMPARE(DbGetIntValue("select count(*) from IEType where SelfIndex=2"), 0);
        QCOMPARE(DbGetIntValue("select count(*) from IE where TypeID=2"), 0);
        QCOMPARE(DbGetIntValue("select count(*) from IE"), 2);
        QCOMPARE(tree->currentItem()->text(0), QString("Renamed"));
        QCOMPARE(Titles(), QStringList({"in A"}));
    }

    // The tree gets the focus (Qt then gives it a current group, framed but
    // not highlighted), or Ctrl+click takes the highlight away: either way
    // nothing is selected and the group menu does nothing.
    void groupMenuWithoutSelectionDoesNothing()
    {
        AddGroup(1, 0, "A");
        Show();
        form->activateWindow();
        tree->setFocus();
        QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
        QVERIFY(tree->selectedItems().isEmpty());
        for (int step = 0; step < 2; ++step) {
            TNoModalGuard guard;
            for (const char* item : {"NAddIEType", "NModIeType", "NDelIEType"})
                Trigger(item);
            QVERIFY(!guard.Opened());
            QVERIFY(!form->IETree->IsEditing());
            QVERIFY(env->Responder.Shown.isEmpty());
            QCOMPARE(DbGetIntValue("select count(*) from IEType"), 1);
            ClickNode("A");
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              tree->visualItemRect(Node(tree, "A")).center());
            QCOMPARE(tree->currentItem(), Node(tree, "A"));
            QVERIFY(tree->selectedItems().isEmpty());
        }
    }

    // The menu acts on the group under the mouse, not on the one selected before.
    void rightClickSelectsTheGroupUnderTheMouse()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 0, "B");
        AddBookmark(1, "in A");
        Show();
        ClickNode("A");
        auto* menu = Find<QMenu>(form.get(), "pmIEType");
        const auto rightClick = [&](const QPoint& at) {
            QTest::mousePress(tree->viewport(), Qt::RightButton, {}, at);
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
            QApplication::sendEvent(tree->viewport(), &event);
            QTest::mouseRelease(tree->viewport(), Qt::RightButton, {}, at);
        };
        // Empty space keeps the selection.
        rightClick(QPoint(tree->viewport()->width() - 2, tree->viewport()->height() - 2));
        QTRY_VERIFY(menu->isVisible());
        menu->close();
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{Node(tree, "A")});
        QCOMPARE(Titles(), QStringList({"in A"}));

        rightClick(tree->visualItemRect(Node(tree, "B")).center());
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{Node(tree, "B")});
        QCOMPARE(Titles(), QStringList()); // the grid shows the highlighted group
        env->Responder.Answers = {true};
        QAction* del = Find<QAction>(form.get(), "NDelIEType");
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(del).center());
        QCOMPARE(env->Responder.Texts(), QStringList({"确定要删除 B 分组吗？" + QString(kTrashNotice)}));
        QVERIFY(Node(tree, "A"));
        QVERIFY(!Node(tree, "B"));
        QCOMPARE(DbGetIntValue("select count(*) from IEType where TypeName='A'"), 1);
    }

    // A group highlighted by the keyboard is the one the grid lists (a
    // right-click: see above).
    void gridShowsTheHighlightedGroup()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 0, "B");
        AddBookmark(1, "in A");
        AddBookmark(1, "in A too");
        AddBookmark(2, "in B");
        Show();
        ClickNode("A");
        QTest::keyClick(tree, Qt::Key_Down);
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{Node(tree, "B")});
        QCOMPARE(Titles(), QStringList({"in B"}));
        QTest::keyClick(tree, Qt::Key_Home);
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{Node(tree, "全部")});
        QCOMPARE(Sorted(Titles()), QStringList({"in A", "in A too", "in B"}));
    }

    void groupAndItsBookmarksGoTogetherOrNotAtAll()
    {
        AddGroup(1, 0, "A");
        AddBookmark(1, "in A");
        Show();
        ClickNode("A");
        DbExecSQL("create trigger lockIE before delete on IE begin select raise(abort, 'locked'); end");
        env->Responder.Answers = {true};
        Trigger("NDelIEType");
        QVERIFY(env->Responder.LastText().startsWith("数据库操作失败！"));
        QCOMPARE(form->IE.LastSQL, QString("delete from IE where TypeID in (1) "));
        QCOMPARE(DbGetIntValue("select count(*) from IEType where SelfIndex=1"), 1);
        QVERIFY(Node(tree, "A"));
        QCOMPARE(Titles(), QStringList({"in A"}));
    }

    void mainTreeShowsGroupsAddedInTheChooser()
    {
        AddGroup(1, 0, "新闻");
        Show();
        ClickNode("新闻");
        Drive([&](QWidget* dialog) {
            Drive([&](QWidget* chooser) {
                Find<QTreeWidget>(chooser, "tv1")->setCurrentItem(Node(chooser, "全部"));
                Drive([&](QWidget* ask) {
                    Find<QLineEdit>(ask, "edtName")->setText("工作");
                    Click(ask, "btnOK");
                });
                Click(chooser, "btn1");
                Click(chooser, "btnCancel");
            });
            Find<TCardEdtBut>(dialog, "EdtGoup")->Button()->click();
            Click(dialog, "btnCancel");
        });
        Trigger("N1");
        QVERIFY(Node(tree, "工作"));
        QCOMPARE(TCardTree::SelfIndexOf(Node(tree, "工作")), 2);
        QCOMPARE(tree->currentItem(), Node(tree, "新闻"));

        // The main tree now refuses that name and numbers the next group after it.
        tree->setCurrentItem(Node(tree, "全部"));
        for (const char* name : {"工作", "其他"}) {
            Drive([&](QWidget* ask) {
                Find<QLineEdit>(ask, "edtName")->setText(name);
                Click(ask, "btnOK");
                // A refused name keeps the dialog open; given up here.
                if (ask->isVisible())
                    Click(ask, "btnCancel");
            });
            Trigger("NAddIEType");
        }
        QCOMPARE(env->Responder.Texts(), QStringList({"该名称已经存在，请重新输入！"}));
        QCOMPARE(DbGetIntValue("select count(*) from IEType"), 3);
        QCOMPARE(DbGetIntValue("select count(distinct SelfIndex) from IEType"), 3);
        QCOMPARE(DbGetIntValue("select SelfIndex from IEType where TypeName='其他'"), 3);
    }

    // Ctrl and Shift with clicks and arrows select several rows; 删除 asks
    // once, naming how many, and 移动到… files them all.
    void severalSelectedRowsAreDeletedAndMovedTogether()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 0, "B");
        for (const char* title : {"r0", "r1", "r2", "r3", "r4", "r5"})
            AddBookmark(1, title);
        Show();
        ClickNode("A");
        ClickRow(0);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          grid->visualRect(grid->model()->index(2, 1)).center());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          grid->visualRect(grid->model()->index(3, 1)).center());
        QCOMPARE(grid->SelectedRows(), QList<int>({0, 2, 3}));
        env->Responder.Answers = {false};
        Trigger("N3");
        QCOMPARE(env->Responder.Texts(), QStringList({"确定要删除选中的 3 个网址吗？" + QString(kTrashNotice)}));
        QCOMPARE(Titles().size(), 6);
        env->Responder.Answers = {true};
        Trigger("N3");
        QCOMPARE(Titles(), QStringList({"r1", "r4", "r5"}));

        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(grid->SelectedRows(), QList<int>({0, 1}));
        Drive([&](QWidget* chooser) {
            Find<QTreeWidget>(chooser, "tv1")->setCurrentItem(Node(chooser, "B"));
            Click(chooser, "btnOK");
        });
        Trigger("NMoveIE");
        QCOMPARE(Titles(), QStringList({"r5"}));
        QCOMPARE(DbGetIntValue("select count(*) from IE where TypeID=2 and IEName in ('r1','r4')"), 2);
    }

    // The row below the deleted ones takes their place, the one above when
    // they were the last.
    void deleteMakesTheNextRowCurrent_data()
    {
        QTest::addColumn<QList<int>>("deleted");
        QTest::addColumn<QString>("current");
        QTest::newRow("middle row") << QList<int>{1} << "r2";
        QTest::newRow("middle rows") << QList<int>{1, 2} << "r3";
        QTest::newRow("last row") << QList<int>{3} << "r2";
        QTest::newRow("last rows") << QList<int>{2, 3} << "r1";
    }

    void deleteMakesTheNextRowCurrent()
    {
        QFETCH(QList<int>, deleted);
        QFETCH(QString, current);
        for (const char* title : {"r0", "r1", "r2", "r3"})
            AddBookmark(0, title);
        Show();
        ClickRow(deleted.first());
        for (int row : deleted.mid(1))
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              grid->visualRect(grid->model()->index(row, 1)).center());
        env->Responder.Answers = {true};
        Trigger("N3");
        QCOMPARE(Titles().size(), 4 - deleted.size());
        QCOMPARE(DbAccess->GridSet->AsString(1), current);
        QCOMPARE(grid->currentIndex().row(), Titles().indexOf(current));
        QCOMPARE(grid->SelectedRows(), QList<int>({int(Titles().indexOf(current))}));
    }

    // Rows dragged from the grid carry every selected bookmark; the tree
    // highlights the group under the pointer when the drop would change
    // something there and refuses the drop (the forbidden cursor) elsewhere.
    void draggedRowsShowTheirTargetGroup()
    {
        AddGroup(1, 0, "A");
        AddGroup(2, 0, "B");
        AddGroup(3, 2, "B1");
        for (const char* title : {"x", "y", "z"})
            AddBookmark(1, title);
        Show();
        tree->expandAll();
        ClickNode("A");
        ClickRow(0);
        const QPoint z = grid->visualRect(grid->model()->index(2, 1)).center();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier, z);
        // The press on a selected row and a move short of a drag keep both.
        QMouseEvent press(QEvent::MouseButtonPress, z, grid->viewport()->mapToGlobal(z), Qt::LeftButton, Qt::LeftButton,
                          {});
        QApplication::sendEvent(grid->viewport(), &press);
        for (const QPoint step : {QPoint(1, 0), QPoint(40, 0)}) {
            QMouseEvent move(QEvent::MouseMove, z + step, grid->viewport()->mapToGlobal(z + step), Qt::NoButton,
                             Qt::LeftButton, {});
            QApplication::sendEvent(grid->viewport(), &move);
        }
        auto* drag = grid->findChild<QDrag*>();
        QVERIFY(drag);
        const QMimeData* carried = drag->mimeData();
        const QString format = carried->formats().value(0);
        QCOMPARE(QString::fromUtf8(carried->data(format)),
                 QString("%1,%2")
                     .arg(DbGetIntValue("select ID from IE where IEName='x'"))
                     .arg(DbGetIntValue("select ID from IE where IEName='z'")));

        const auto over = [&](const QString& label) {
            QTreeWidgetItem* node = label.isEmpty() ? nullptr : Node(tree, label);
            return node ? tree->visualItemRect(node).center()
                        : QPoint(tree->viewport()->width() / 2, tree->viewport()->height() - 2);
        };
        const auto dragTo = [&](const QString& label, const QMimeData* data) {
            QDragEnterEvent enter(over(label), Qt::MoveAction, data, Qt::LeftButton, {});
            QApplication::sendEvent(tree->viewport(), &enter);
            QDragMoveEvent move(over(label), Qt::MoveAction, data, Qt::LeftButton, {});
            QApplication::sendEvent(tree->viewport(), &move);
            return move.isAccepted();
        };
        const QModelIndex b = tree->indexFromItem(Node(tree, "B"));
        const QImage plain = tree->viewport()->grab().toImage();
        QVERIFY(dragTo("B", carried));
        QCOMPARE(DropTargetOf(tree), b);
        const QPoint inB = tree->visualRect(b).topLeft() + QPoint(2, 2);
        QVERIFY(tree->viewport()->grab().toImage().pixelColor(inB) != plain.pixelColor(inB));
        // Their own group and empty space take nothing, and show no target.
        for (const QString& label : {QString("A"), QString()}) {
            QVERIFY2(!dragTo(label, carried), qPrintable(label));
            QVERIFY(!DropTargetOf(tree).isValid());
        }
        // A group goes neither into its own branch nor under its own parent.
        QMimeData group;
        group.setData("application/x-jotterel-bookmark-group", "2");
        for (const char* label : {"B", "B1", "全部"})
            QVERIFY2(!dragTo(label, &group), label);
        QVERIFY(dragTo("A", &group));

        QVERIFY(dragTo("B", carried));
        QDropEvent drop(over("B"), Qt::MoveAction, carried, Qt::LeftButton, {});
        QApplication::sendEvent(tree->viewport(), &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(!DropTargetOf(tree).isValid());
        QTRY_COMPARE(Titles(), QStringList({"y"}));
        QCOMPARE(DbGetIntValue("select count(*) from IE where TypeID=2"), 2);
    }

    void sortStaysAfterAnAdd()
    {
        AddBookmark(0, "b");
        AddBookmark(0, "c");
        Show();
        QHeaderView* header = grid->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        Drive([&](QWidget* dialog) {
            Find<QLineEdit>(dialog, "edtIE")->setText("www.a.com");
            Find<QLineEdit>(dialog, "edtName")->setText("a");
            Click(dialog, "btnOK");
        });
        Trigger("N1");
        QCOMPARE(grid->model()->headerData(1, Qt::Horizontal).toString(), QString("▲标题"));
        QCOMPARE(Titles(), QStringList({"a", "b", "c"}));
    }
};

JOTTEREL_TEST_MAIN(TestBookmarkPage)
#include "test_bookmarkpage.moc"
