#include "controls/CardIcons.h"
#include "data/MD.h"
#include "data/UException.h"
#include "groups/UntTree.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QLineEdit>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <memory>

class TestCardTree : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<QTreeWidget> view;
    std::unique_ptr<TCardTree> tree;

    // A fresh tree over NoteType, loaded from the table.
    void Reload()
    {
        tree.reset();
        view = std::make_unique<QTreeWidget>();
        view->setHeaderHidden(true);
        tree = std::make_unique<TCardTree>(view.get(), "根目录", "NoteType");
        tree->LoadGroups();
    }

    // The table's rows as "SelfIndex/ParentIndex/TypeName", by SelfIndex.
    static QStringList Rows(const QString& table = "NoteType")
    {
        DbAccess->OpenQuery("select SelfIndex,ParentIndex,TypeName from " + table + " order by SelfIndex");
        QStringList rows;
        for (DbAccess->QuerySet->First(); !DbAccess->QuerySet->Eof(); DbAccess->QuerySet->Next())
            rows << QString("%1/%2/%3")
                        .arg(DbAccess->QuerySet->AsString("SelfIndex"), DbAccess->QuerySet->AsString("ParentIndex"),
                             DbAccess->QuerySet->AsString("TypeName"));
        return rows;
    }

    // The tree as indented labels, in display order, every branch's nodes made.
    QStringList Shape() const
    {
        QStringList lines;
        std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* node, int depth) {
            tree->CreateChildren(node);
            lines << QString(depth * 2, ' ') + node->text(0) + "#" + QString::number(TCardTree::SelfIndexOf(node));
            for (int i = 0; i < node->childCount(); ++i)
                walk(node->child(i), depth + 1);
        };
        walk(tree->RootNode, 0);
        return lines;
    }

    QTreeWidgetItem* Find(const QString& label) const
    {
        const auto found = view->findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }

    QTreeWidgetItem* Add(const QString& name, const QString& under = QString())
    {
        view->setCurrentItem(under.isEmpty() ? tree->RootNode : Find(under));
        return tree->AddGroup(name);
    }

    static void Insert(int self, int parent, const QString& name)
    {
        DbExecSQL(QString("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (%1,%2,'%3')")
                      .arg(self)
                      .arg(parent)
                      .arg(name));
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        Reload();
    }
    void cleanup()
    {
        tree.reset();
        view.reset();
        env.reset();
    }

    void emptyTableGivesTheRootAloneAndTheFirstGroupGetsOne()
    {
        QCOMPARE(view->topLevelItemCount(), 1);
        QCOMPARE(tree->RootNode->text(0), QString("根目录"));
        QVERIFY(tree->RootNode->isExpanded());
        QCOMPARE(tree->TableName, QString("NoteType"));
        QCOMPARE(tree->RootCaption, QString("根目录"));
        QCOMPARE(tree->TreeView, view.get());
        QCOMPARE(tree->MaxSelfIndex(), 0);
        QCOMPARE(tree->SelectedSelfIndex(), 0);
        view->setCurrentItem(nullptr);
        // Nothing selected: the group goes under the root.
        QTreeWidgetItem* node = tree->AddGroup("工作");
        QCOMPARE(node->parent(), tree->RootNode);
        QCOMPARE(TCardTree::SelfIndexOf(node), 1);
        QCOMPARE(TCardTree::ParentIndexOf(node), 0);
        QCOMPARE(Rows(), QStringList({"1/0/工作"}));
    }

    void loadingNestsGroupsInCreationOrder()
    {
        Insert(1, 0, "A");
        Insert(2, 1, "A1");
        Insert(3, 0, "B");
        Insert(4, 2, "A1x");
        Insert(5, 1, "A2");
        Insert(7, 6, "孤儿"); // its parent was never stored
        Reload();
        QCOMPARE(Shape(),
                 QStringList({"根目录#0", "  A#1", "    A1#2", "      A1x#4", "    A2#5", "  B#3", "  孤儿#7"}));
        QVERIFY(tree->RootNode->isExpanded());
        QVERIFY(!Find("A")->isExpanded());
        QCOMPARE(TCardTree::ParentIndexOf(Find("A1x")), 2);
        QCOMPARE(tree->MaxSelfIndex(), 7);
        // Images: the root's own picture; groups the folder, open while selected.
        QCOMPARE(tree->RootNode->icon(0).cacheKey(), TreeImages()[0].cacheKey());
        QCOMPARE(Find("A1")->icon(0).cacheKey(), GroupNodeIcon().cacheKey());
        QVERIFY(!GroupNodeIcon().pixmap(16, 16, QIcon::Selected).toImage().isNull());
        QVERIFY(GroupNodeIcon().pixmap(16, 16, QIcon::Selected).toImage() !=
                GroupNodeIcon().pixmap(16, 16, QIcon::Normal).toImage());
    }

    // Nodes are made only for what is shown; a deep group selected by its
    // identifier opens its branch, and a reading keeps what was open.
    void nodesAreMadeWhenTheirBranchIsShown()
    {
        for (int level = 1; level <= 6; ++level)
            Insert(level, level - 1, QString("层%1").arg(level));
        Insert(7, 0, "单");
        Insert(8, 1, "旁");
        Reload();
        const auto made = [&] {
            int count = 0;
            for (QTreeWidgetItemIterator it(view.get()); *it; ++it)
                ++count;
            return count;
        };
        QCOMPARE(made(), 3); // the root and the two top-level groups
        QCOMPARE(Find("层1")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        QCOMPARE(Find("单")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
        QVERIFY(!Find("层2"));

        // The user opens a branch: its groups appear, once.
        Find("层1")->setExpanded(true);
        QCOMPARE(made(), 5);
        Find("层1")->setExpanded(false);
        Find("层1")->setExpanded(true);
        QCOMPARE(made(), 5);

        QTreeWidgetItem* deep = tree->NodeOf(6);
        QVERIFY(deep);
        QCOMPARE(deep->text(0), QString("层6"));
        QCOMPARE(made(), 9);
        for (QTreeWidgetItem* up = deep->parent(); up; up = up->parent())
            QVERIFY(up->isExpanded());
        QVERIFY(!tree->NodeOf(99));
        view->setCurrentItem(deep);
        QCOMPARE(tree->PositionText(), QString("根目录->层1->层2->层3->层4->层5->层6"));

        // A group added under a branch never opened joins its siblings once.
        Find("层1")->setExpanded(false);
        view->setCurrentItem(Find("单"));
        Add("单下", "单");
        view->setCurrentItem(tree->NodeOf(8));
        QTreeWidgetItem* added = tree->AddGroup("旁下");
        QCOMPARE(added->parent(), tree->NodeOf(8));
        QCOMPARE(tree->NodeOf(8)->childCount(), 1);

        // Reading again keeps the selection and the open branches.
        Insert(20, 5, "新来");
        view->setCurrentItem(tree->NodeOf(6));
        tree->Reload();
        QCOMPARE(tree->SelectedSelfIndex(), 6);
        QVERIFY(tree->NodeOf(5)->isExpanded());
        QVERIFY(Find("新来"));
        QCOMPARE(tree->MaxSelfIndex(), 20);
    }

    void selfIndexIsReusedAfterTheLargestIsDeleted()
    {
        Add("一");
        Add("二");
        Add("三");
        view->setCurrentItem(Find("三"));
        env->Responder.Answers = {true};
        tree->DeleteGroup();
        QCOMPARE(TCardTree::SelfIndexOf(Add("四")), 3);
        // Deleting a smaller one leaves a hole that stays.
        view->setCurrentItem(Find("一"));
        env->Responder.Answers = {true};
        tree->DeleteGroup();
        QCOMPARE(TCardTree::SelfIndexOf(Add("五")), 4);
        QCOMPARE(Rows(), QStringList({"2/0/二", "3/0/四", "4/0/五"}));
    }

    void childGetsTheLargestIndexOfTheWholeTreePlusOne()
    {
        Add("A");
        Add("B");
        QTreeWidgetItem* child = Add("A-child", "A");
        QCOMPARE(TCardTree::SelfIndexOf(child), 3);
        QCOMPARE(TCardTree::ParentIndexOf(child), 1);
        QVERIFY(Find("A")->isExpanded());
        Reload();
        QCOMPARE(Shape(), QStringList({"根目录#0", "  A#1", "    A-child#3", "  B#2"}));
    }

    void addingUnderACollapsedParentExpandsIt()
    {
        Add("A");
        Add("A1", "A");
        Find("A")->setExpanded(false);
        Add("A2", "A");
        QVERIFY(Find("A")->isExpanded());
    }

    void duplicateNamesAreRefusedAnywhereInTheTree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused");
        QTest::newRow("root caption") << "根目录" << true;
        QTest::newRow("top level") << "工作" << true;
        QTest::newRow("two levels down") << "深处" << true;
        QTest::newRow("other case") << "Work" << false;
        QTest::newRow("same case") << "work" << true;
        QTest::newRow("leading blank") << " 工作" << false;
        QTest::newRow("trailing blank") << "工作 " << false;
        QTest::newRow("bookmark root caption") << "全部" << false;
    }

    void duplicateNamesAreRefusedAnywhereInTheTree()
    {
        QFETCH(QString, name);
        QFETCH(bool, refused);
        Add("工作");
        Add("work");
        Add("中间", "工作");
        Add("深处", "中间");
        const QStringList before = Rows();
        // Added under another branch than the existing name.
        view->setCurrentItem(Find("work"));
        const QString error = ErrorOf([&] { tree->AddGroup(name); });
        if (refused) {
            QCOMPARE(error, QString("该名称已经存在，请重新输入！"));
            QCOMPARE(Rows(), before);
            QCOMPARE(Find("work")->childCount(), 0);
        } else {
            QCOMPARE(error, QString());
            QCOMPARE(Rows().size(), before.size() + 1);
            QVERIFY(Rows().last().endsWith("/" + name)); // stored with its blanks
        }
    }

    void sameNameMayExistInBothTrees()
    {
        Add("新闻");
        QTreeWidget other;
        TCardTree bookmarks(&other, "全部", "IEType");
        bookmarks.LoadGroups();
        other.setCurrentItem(bookmarks.RootNode);
        QVERIFY(bookmarks.AddGroup("新闻"));
        QCOMPARE(Rows("IEType"), QStringList({"1/0/新闻"}));
        QVERIFY(bookmarks.NameExists("全部"));
        QVERIFY(!bookmarks.NameExists("根目录"));
    }

    void deleteChecksComeInTheirOrder_data()
    {
        QTest::addColumn<QString>("select");
        QTest::addColumn<bool>("withGroups");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing selected") << "" << true << "请选择要删除的分组！";
        QTest::newRow("root with groups") << "根目录" << true << "还有下级分组，不能删除该分组！";
        QTest::newRow("root alone") << "根目录" << false << "不能删除根分组！";
        QTest::newRow("group with a child") << "A" << true << "还有下级分组，不能删除该分组！";
    }

    void deleteChecksComeInTheirOrder()
    {
        QFETCH(QString, select);
        QFETCH(bool, withGroups);
        QFETCH(QString, message);
        if (withGroups) {
            Add("A");
            Add("A1", "A");
        }
        view->setCurrentItem(select.isEmpty() ? nullptr : Find(select));
        const QStringList before = Rows();
        env->Responder.Answers = {true};
        QCOMPARE(ErrorOf([&] { tree->DeleteGroup(); }), message);
        QCOMPARE(Rows(), before);
        QVERIFY(env->Responder.Shown.isEmpty()); // no question was asked
        QCOMPARE(view->topLevelItemCount(), 1);
    }

    void deleteAsksAndNoChangesNothing()
    {
        Add("A");
        Add("B");
        view->setCurrentItem(Find("A"));
        QCOMPARE(ErrorOf([&] { tree->DeleteGroup(); }), QString("abort"));
        QCOMPARE(env->Responder.Shown.size(), 1);
        QCOMPARE(env->Responder.Shown[0].kind, IDialogResponder::Kind::Question);
        QCOMPARE(env->Responder.LastText(), QString("确定要删除 A 分组吗？"));
        QCOMPARE(Rows(), QStringList({"1/0/A", "2/0/B"}));
        QVERIFY(Find("A"));
    }

    void deleteRemovesTheRowsAndTheExtraStatementsTogether()
    {
        Add("A");
        Add("B");
        Add("C");
        DbExecSQL(
            "insert into NoteBook(TypeID,ReMark) values (2,'b')@#@insert into NoteBook(TypeID,ReMark) values (3,'c')");
        // A stray row naming B as parent goes too.
        Insert(9, 2, "stray");
        view->setCurrentItem(Find("B"));
        env->Responder.Answers = {true};
        tree->DeleteGroup("delete from NoteBook where TypeID=2");
        QCOMPARE(Rows(), QStringList({"1/0/A", "3/0/C"}));
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook where TypeID=2"), 0);
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook where TypeID=3"), 1);
        QVERIFY(!Find("B"));
        // The tree picks a neighbour and shows it selected.
        QVERIFY(view->currentItem());
        QVERIFY(view->currentItem()->isSelected());
    }

    void failingExtraStatementKeepsTheGroup()
    {
        Add("A");
        view->setCurrentItem(Find("A"));
        env->Responder.Answers = {true};
        const QString error = ErrorOf([&] { tree->DeleteGroup("delete from NoSuchTable where TypeID=1"); });
        QCOMPARE(error, QString("DB:数据库操作失败！"));
        QCOMPARE(Rows(), QStringList({"1/0/A"}));
        QVERIFY(Find("A"));
    }

    void failingStatementsLeaveTheTreeAsItWas()
    {
        Add("A");
        DbExecSQL("drop table NoteType");
        view->setCurrentItem(Find("A"));
        QCOMPARE(ErrorOf([&] { tree->AddGroup("B"); }), QString("DB:数据库操作失败！"));
        QCOMPARE(ErrorOf([&] { tree->RenameGroup("C"); }), QString("DB:数据库操作失败！"));
        env->Responder.Answers = {true};
        QCOMPARE(ErrorOf([&] { tree->DeleteGroup(); }), QString("DB:数据库操作失败！"));
        QCOMPARE(Shape(), QStringList({"根目录#0", "  A#1"}));
        QCOMPARE(ErrorOf([&] { Reload(); }), QString("DB:数据库查询错误，请检查！"));
        QCOMPARE(Shape(), QStringList({"根目录#0"}));
    }

    void renameWritesTheTableThenTheLabel()
    {
        Add("A");
        Add("B");
        view->setCurrentItem(Find("A"));
        QVERIFY(tree->RenameGroup("甲"));
        QCOMPARE(tree->Selected()->text(0), QString("甲"));
        QCOMPARE(ErrorOf([&] { tree->RenameGroup("B"); }), QString("该名称已经存在，请重新输入！"));
        QCOMPARE(ErrorOf([&] { tree->RenameGroup("根目录"); }), QString("该名称已经存在，请重新输入！"));
        QCOMPARE(tree->Selected()->text(0), QString("甲"));
        // An empty name would leave a group that cannot be told apart.
        QCOMPARE(ErrorOf([&] { tree->RenameGroup(" "); }), QString("名称不能为空!"));
        QCOMPARE(tree->Selected()->text(0), QString("甲"));
        QCOMPARE(Rows(), QStringList({"1/0/甲", "2/0/B"}));
    }

    void renameNeedsASelectedGroup()
    {
        Add("A");
        view->setCurrentItem(nullptr);
        QVERIFY(!tree->RenameGroup("X"));
        view->setCurrentItem(tree->RootNode);
        QVERIFY(!tree->RenameGroup("X"));
        QCOMPARE(tree->RootNode->text(0), QString("根目录"));
        QCOMPARE(Rows(), QStringList({"1/0/A"}));
    }

    void awkwardNamesAreStoredExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("quotes") << "it's \"quoted\" ''";
        QTest::newRow("separator") << "a@#@b";
        QTest::newRow("statement") << "x'); drop table NoteType; --";
        QTest::newRow("emoji") << "📒 笔记 ✓";
        QTest::newRow("blanks") << "  两边  ";
    }

    void awkwardNamesAreStoredExactly()
    {
        QFETCH(QString, name);
        Add(name);
        Add("tmp");
        view->setCurrentItem(Find("tmp"));
        tree->RenameGroup(name + "2");
        Reload();
        QCOMPARE(Shape(), QStringList({"根目录#0", "  " + name + "#1", "  " + name + "2#2"}));
    }

    void positionTextRunsFromTheRoot()
    {
        Add("A");
        Add("B", "A");
        view->setCurrentItem(Find("B"));
        QCOMPARE(tree->PositionText(), QString("根目录->A->B"));
        view->setCurrentItem(tree->RootNode);
        QCOMPARE(tree->PositionText(), QString("根目录"));
        view->setCurrentItem(nullptr);
        QCOMPARE(tree->PositionText(), QString());
    }

    void labelsAreEditableOnlyDuringARename()
    {
        Add("A");
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        QStringList edited;
        tree->OnEdited = [&](QTreeWidgetItem* node, const QString& text) { edited << node->text(0) + ">" + text; };
        QTreeWidgetItem* node = Find("A");
        view->setCurrentItem(node);
        // The tree itself refuses editing.
        QTest::keyClick(view.get(), Qt::Key_F2);
        QVERIFY(!tree->IsEditing());
        QVERIFY(!view->findChild<QLineEdit*>());

        tree->EditSelected();
        QVERIFY(tree->IsEditing());
        auto* editor = view->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->selectAll();
        editor->insert("乙");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(edited, QStringList({"A>乙"}));
        QCOMPARE(node->text(0), QString("A")); // only the handler renames
        QTRY_VERIFY(!tree->IsEditing());
        QVERIFY(!(node->flags() & Qt::ItemIsEditable));
        QTest::keyClick(view.get(), Qt::Key_F2);
        QVERIFY(!tree->IsEditing());

        // Esc ends the edit without a text.
        tree->EditSelected();
        editor = view->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->insert("丙");
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!tree->IsEditing());
        QCOMPARE(edited.size(), 1);
        QVERIFY(!(node->flags() & Qt::ItemIsEditable));

        // The root is never edited.
        view->setCurrentItem(tree->RootNode);
        tree->EditSelected();
        QVERIFY(!tree->IsEditing());
    }

    void renamedLabelIsOneLine()
    {
        Add("A");
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        QStringList edited;
        tree->OnEdited = [&](QTreeWidgetItem*, const QString& text) { edited << text; };
        view->setCurrentItem(Find("A"));
        tree->EditSelected();
        auto* editor = view->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->selectAll();
        editor->insert("第一行\r\n第二行\n");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(edited, QStringList{"第一行 第二行 "});
    }

    void treeOutlivedByItsViewStaysQuiet()
    {
        Add("A");
        view->show();
        view->setCurrentItem(Find("A"));
        tree->EditSelected();
        auto* editor = view->findChild<QLineEdit*>();
        QVERIFY(editor);
        tree.reset();
        // The edit ends after the tree object has gone: nothing may call it.
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!view->findChild<QLineEdit*>());
        QCOMPARE(Find("A")->text(0), QString("A"));
    }
};

JOTTEREL_TEST_MAIN(TestCardTree)
#include "test_cardtree.moc"
