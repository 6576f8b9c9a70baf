#include "ShellTestSupport.h"
#include "app/Main.h"
#include "app/Stores.h"
#include "data/MD.h"
#include "groups/GroupTableStore.h"
#include "groups/UntTree.h"
#include "history/Trash.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <memory>
#include <optional>

// What a daily user meets first: the hints in empty views, the keys, the
// deletes that say what they take, moving groups and bookmarks, and the
// window coming back as it was left.
class TestDailyUse : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    // 工作(1) > 项目(2) in both trees; 生活(3) in the bookmark tree; three
    // bookmarks in 工作 and one in 项目; a note in 工作 and in 项目; a
    // daily reminder.
    static void Fill()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (2,1,'项目')@#@"
                  "insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')@#@insert into "
                  "IEType(SelfIndex,ParentIndex,TypeName) values (2,1,'项目')@#@"
                  "insert into IEType(SelfIndex,ParentIndex,TypeName) values (3,0,'生活')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'http://a.example','甲','')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'http://b.example','乙','')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'http://c.example','丙','')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (2,'http://d.example','丁','')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (1,'一')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (2,'二')");
        TAlam alam;
        alam.AlamTime = QTime(8, 0);
        alam.AlamDate = QDate::currentDate();
        alam.ReDay = true;
        alam.ReMark = "晨会";
        alam.InsertAlam();
    }

    struct TWindow
    {
        TFormMain form;
        QTreeWidget* tvNote = Find<QTreeWidget>(&form, "tvNote");
        QTabWidget* pages = Find<QTabWidget>(&form, "pgcMain");
        QTreeWidget* tvIE = nullptr;
        QTableView* grid = nullptr;
        QTreeWidget* lv1 = nullptr;

        // Each page is looked at once, unless the start is to show only its first.
        explicit TWindow(bool everyPage = true)
        {
            form.tmr1->stop();
            form.show();
            form.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&form));
            if (!everyPage)
                return;
            // The page and the focus of the start come back.
            const int shown = pages->currentIndex();
            QWidget* const focused = QApplication::focusWidget();
            tvIE = OnShownPage<QTreeWidget>(&form, "tvIE");
            grid = OnShownPage<QTableView>(&form, "DBGrid1");
            lv1 = OnShownPage<QTreeWidget>(&form, "lv1");
            pages->setCurrentIndex(shown);
            if (focused)
                focused->setFocus();
        }
        QWidget* View(const QString& name) { return Find<QWidget>(&form, name.toLatin1().constData()); }
        void Select(QTreeWidget* tree, int group)
        {
            TCardTree& cards = tree == tvNote ? *form.NoteTree : *form.IETree;
            tree->setCurrentItem(cards.NodeOf(group));
        }
    };

    static QLabel* Hint(QWidget* view) { return view->findChild<QLabel*>("lblEmptyHint"); }

    // Drags the text in the format onto a group's node, as the desktop would
    // deliver it, and lets the move run; false when the node refuses it (the
    // desktop then shows the forbidden cursor and drops nothing).
    static bool Drop(QTreeWidget* tree, QTreeWidgetItem* target, const QString& format, const QString& text)
    {
        QMimeData data;
        data.setData(format, text.toUtf8());
        const QPoint at = tree->visualItemRect(target).center();
        QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &enter);
        QDragMoveEvent move(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &move);
        if (!move.isAccepted())
            return false;
        QDropEvent drop(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &drop);
        QCoreApplication::processEvents();
        return true;
    }

    static QString Rows(const QString& table)
    {
        QStringList rows;
        const std::unique_ptr<TDataSet> query =
            DbAccess->Query("select SelfIndex,ParentIndex from " + table + " order by SelfIndex");
        TDataSet& set = *query;
        for (set.First(); !set.Eof(); set.Next())
            rows << set.AsString(0) + "/" + set.AsString(1);
        return rows.join(" ");
    }

    // Every group by its path, every note, bookmark and reminder with its
    // group's path: what the user sees, whatever the numbers.
    static QString Snapshot()
    {
        QStringList lines;
        for (const QString table : {"NoteType", "IEType"}) {
            TGroupTable groups(table, "/");
            groups.Load();
            for (int self : groups.Branch(0))
                lines << table + " " + groups.PathText(self);
            const QString items =
                table == "NoteType" ? "select TypeID, ReMark from NoteBook" : "select TypeID, IEName from IE";
            const std::unique_ptr<TDataSet> query = DbAccess->Query(items);
            for (query->First(); !query->Eof(); query->Next())
                lines << groups.PathText(query->AsInteger(0)) + " " + query->AsString(1);
        }
        const std::unique_ptr<TDataSet> query = DbAccess->Query("select * from Alam");
        for (query->First(); !query->Eof(); query->Next())
            for (int i = 0; i < query->FieldCount(); ++i)
                lines << query->AsString(i);
        lines.sort();
        return lines.join('\n');
    }

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    // Each empty view says how to fill it; a view with something in it says nothing.
    void hintsShowOnlyInEmptyViews_data()
    {
        QTest::addColumn<bool>("filled");
        QTest::newRow("new file") << false;
        QTest::newRow("with data") << true;
    }

    void hintsShowOnlyInEmptyViews()
    {
        QFETCH(bool, filled);
        if (filled)
            Fill();
        TWindow w;
        Find<QRadioButton>(&w.form, "rbAll")->click();
        const QList<QPair<QWidget*, QString>> hints = {{w.tvNote, "右键单击分组可新建分组（Ctrl+N）"},
                                                       {w.lv1, "右键单击可新建提醒（Ctrl+N）"},
                                                       {w.tvIE, "右键单击分组可新建分组（Ctrl+N）"},
                                                       {w.grid, "右键单击可添加网址（Ctrl+N）"}};
        for (const auto& [view, text] : hints) {
            // As the user sees it: on the page shown.
            w.pages->setCurrentIndex(view == w.tvNote ? 0 : view == w.lv1 ? 1 : 2);
            QCoreApplication::processEvents();
            QLabel* hint = Hint(view);
            QVERIFY2(hint, qPrintable(view->objectName()));
            QCOMPARE(hint->text(), text);
            QVERIFY2(hint->isVisibleTo(view) == !filled, qPrintable(view->objectName()));
        }
        // The first group (or row) takes the hint away at once.
        if (!filled) {
            w.pages->setCurrentIndex(0);
            w.Select(w.tvNote, 0);
            w.form.NoteTree->AddGroup("新");
            QVERIFY(!Hint(w.tvNote)->isVisibleTo(w.tvNote));
        }
    }

    // The menus' items on the keys of the view that has the focus; what each
    // key did shows as a dialog, a question, an opened address or an edit.
    void keysRunTheMenuItems_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("view");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("effect");
        const int ctrl = Qt::ControlModifier;
        const int none = Qt::NoModifier;
        QTest::newRow("Ctrl+N on the note tree") << 0 << "tvNote" << int(Qt::Key_N) << ctrl << "dialog:新建组";
        QTest::newRow("F2 on the note tree") << 0 << "tvNote" << int(Qt::Key_F2) << none << "editing";
        QTest::newRow("Delete on the note tree")
            << 0 << "tvNote" << int(Qt::Key_Delete) << none
            << "asked:确定要删除 项目 分组吗？（其中 1 篇记事也将被删除）" + QString(kTrashNotice);
        QTest::newRow("Ctrl+N on the bookmark tree") << 2 << "tvIE" << int(Qt::Key_N) << ctrl << "dialog:新建组";
        QTest::newRow("F2 on the bookmark tree") << 2 << "tvIE" << int(Qt::Key_F2) << none << "editing";
        QTest::newRow("Delete on the bookmark tree")
            << 2 << "tvIE" << int(Qt::Key_Delete) << none
            << "asked:确定要删除 项目 分组吗？（其中 1 个网址也将被删除）" + QString(kTrashNotice);
        QTest::newRow("Ctrl+N on the grid") << 2 << "DBGrid1" << int(Qt::Key_N) << ctrl << "dialog:新建网址";
        QTest::newRow("Enter on the grid")
            << 2 << "DBGrid1" << int(Qt::Key_Return) << none << "opened:http://d.example";
        QTest::newRow("Delete on the grid") << 2 << "DBGrid1" << int(Qt::Key_Delete) << none
                                            << QString::fromUtf8("asked:确实要删除：＂丁＂吗?") + QString(kTrashNotice);
        QTest::newRow("Ctrl+N on the reminders") << 1 << "lv1" << int(Qt::Key_N) << ctrl << "dialog:新建提醒";
        QTest::newRow("Enter on a reminder") << 1 << "lv1" << int(Qt::Key_Return) << none << "dialog:修改提醒";
        QTest::newRow("Delete on a reminder")
            << 1 << "lv1" << int(Qt::Key_Delete) << none << "asked:确实要删除 晨会 吗？" + QString(kTrashNotice);
    }

    void keysRunTheMenuItems()
    {
        QFETCH(int, page);
        QFETCH(QString, view);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, effect);
        Fill();
        TWindow w;
        w.pages->setCurrentIndex(page);
        // The group 项目 in the trees; its one bookmark in the grid.
        w.Select(w.tvNote, 2);
        w.Select(w.tvIE, 2);
        // A click on the group lists its bookmarks.
        QTest::mouseClick(w.tvIE->viewport(), Qt::LeftButton, {},
                          w.tvIE->visualItemRect(w.form.IETree->NodeOf(2)).center());
        Find<QRadioButton>(&w.form, "rbAll")->click();
        w.lv1->setCurrentItem(w.lv1->topLevelItem(0));
        QWidget* target = w.View(view);
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);

        TModalDriver driver;
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCoreApplication::processEvents();
        QStringList effects;
        for (const QString& caption : driver.Captions)
            effects << "dialog:" + caption;
        for (const auto& shown : env->Responder.Shown)
            effects << (shown.kind == IDialogResponder::Kind::Question ? "asked:" : "shown:") + shown.text;
        for (const QString& opened : env->Responder.Opened_)
            effects << "opened:" + opened;
        if ((view == "tvNote" ? w.form.NoteTree : w.form.IETree)->IsEditing())
            effects << "editing";
        QVERIFY2(effects.size() == 1 && effects[0].startsWith(effect), qPrintable(effects.join(" | ")));
    }

    // Tab from the tabs goes into the page shown and from its last control
    // to the strip below, on pages whose controls are made when first shown.
    void tabWalksThroughTheShownPage_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::newRow("reminders") << 1 << "edtQuickAdd"
                                   << "rbAll";
        QTest::newRow("bookmarks") << 2 << "tvIE"
                                   << "DBGrid1";
    }

    void tabWalksThroughTheShownPage()
    {
        QFETCH(int, page);
        QFETCH(QString, first);
        QFETCH(QString, last);
        TWindow w(false);
        w.pages->setCurrentIndex(page);
        w.pages->tabBar()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), first);
        w.View(last)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("chk1"));
    }

    // Tab leaves the reminder's text for the next field; the memo takes it as text.
    void tabMovesOnInTheReminderButNotInTheMemo()
    {
        TWindow w;
        auto* memo = Find<QPlainTextEdit>(&w.form, "mmoNote");
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_Tab);
        QCOMPARE(memo->toPlainText(), QString("\t"));

        w.pages->setCurrentIndex(1);
        QString typed;
        bool movedOn = false;
        Drive([&](QWidget* dialog) {
            auto* text = Find<QPlainTextEdit>(dialog, "mmoNote");
            text->setFocus();
            QTest::keyClick(text, Qt::Key_Tab);
            typed = text->toPlainText();
            movedOn = !text->hasFocus();
        });
        Find<QAction>(&w.form, "NAddAlam")->trigger();
        QCOMPARE(typed, QString());
        QVERIFY(movedOn);
    }

    // The question names what a group takes with it; the old wording stays
    // for an empty group. Yes takes the whole branch and its items.
    void deleteSaysWhatGoesWithTheGroup_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("group");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("groupsLeft");
        QTest::addColumn<int>("itemsLeft");
        QTest::newRow("bookmark group with a subgroup")
            << "NDelIEType" << 1
            << "确定要删除 工作 分组吗？（其中 1 个下级分组、4 个网址也将被删除）" + QString(kTrashNotice) << "3/0"
            << 0;
        QTest::newRow("empty bookmark group")
            << "NDelIEType" << 3 << "确定要删除 生活 分组吗？" + QString(kTrashNotice) << "1/0 2/1" << 4;
        QTest::newRow("note group with a subgroup")
            << "NDelNoteType" << 1
            << "确定要删除 工作 分组吗？（其中 1 个下级分组、2 篇记事也将被删除）" + QString(kTrashNotice) << "" << 0;
    }

    void deleteSaysWhatGoesWithTheGroup()
    {
        QFETCH(QString, action);
        QFETCH(int, group);
        QFETCH(QString, question);
        QFETCH(QString, groupsLeft);
        QFETCH(int, itemsLeft);
        Fill();
        TWindow w;
        const bool notes = action == "NDelNoteType";
        w.Select(notes ? w.tvNote : w.tvIE, group);
        env->Responder.Answers = {true};
        Find<QAction>(&w.form, action.toLatin1().constData())->trigger();
        QCOMPARE(env->Responder.Texts(), QStringList{question});
        QCOMPARE(Rows(notes ? "NoteType" : "IEType"), groupsLeft);
        QCOMPARE(DbGetIntValue(notes ? "select count(*) from NoteBook" : "select count(*) from IE"), itemsLeft);
        QCOMPARE((notes ? w.form.NoteTree : w.form.IETree)->NodeOf(group), nullptr);
    }

    // Groups move by a drop on another group (in either tree) and by 移动到…;
    // bookmarks by a drop from the grid. A group never goes into its own branch.
    void movesByDropAndCommand_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("moved");
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("rows"); // the group table after, or the bookmarks' groups
        QTest::newRow("bookmark group dropped on a later one") << "ie" << 1 << 3 << ""
                                                               << "3/0 4/3 5/4";
        QTest::newRow("bookmark group dropped on the root") << "ie" << 2 << 0 << ""
                                                            << "1/0 2/0 3/0";
        QTest::newRow("group dropped on itself") << "ie" << 1 << 1 << ""
                                                 << "1/0 2/1 3/0";
        QTest::newRow("group dropped into its own branch") << "ie" << 1 << 2 << ""
                                                           << "1/0 2/1 3/0";
        QTest::newRow("note group dropped on the root") << "note" << 2 << 0 << ""
                                                        << "1/0 2/0";
        QTest::newRow("note group by 移动到…") << "note-command" << 2 << 0 << ""
                                               << "1/0 2/0";
        QTest::newRow("bookmark dropped from the grid") << "bookmark" << 4 << 3 << ""
                                                        << "1 1 1 3";
        QTest::newRow("bookmark by 移动到…") << "bookmark-command" << 4 << 0 << ""
                                             << "1 1 1 0";
    }

    void movesByDropAndCommand()
    {
        QFETCH(QString, how);
        QFETCH(int, moved);
        QFETCH(int, target);
        QFETCH(QString, message);
        QFETCH(QString, rows);
        Fill();
        TWindow w;
        w.pages->setCurrentIndex(how.startsWith("note") ? 0 : 2);
        // The chooser starts where the moved group or bookmarks are now.
        const int startsAt = how == "note-command" ? 1 : 2;
        const auto choose = [&](const char* action) {
            Drive([&](QWidget* dialog) {
                auto* chooser = Find<QTreeWidget>(dialog, "tv1");
                QVERIFY(chooser->currentItem());
                QCOMPARE(TCardTree::SelfIndexOf(chooser->currentItem()), startsAt);
                chooser->setCurrentItem(chooser->topLevelItem(0)); // the root
                qobject_cast<TFormBaseDlg*>(dialog)->OkButton()->click();
            });
            Find<QAction>(&w.form, action)->trigger();
        };
        QString after;
        if (how == "ie" || how == "note") {
            QTreeWidget* tree = how == "ie" ? w.tvIE : w.tvNote;
            TCardTree& cards = how == "ie" ? *w.form.IETree : *w.form.NoteTree;
            const QString before = Rows(how == "ie" ? "IEType" : "NoteType");
            const bool taken = Drop(tree, cards.NodeOf(target),
                                    "application/x-jotterel-" + QString(how == "ie" ? "bookmark" : "note") + "-group",
                                    QString::number(moved));
            after = Rows(how == "ie" ? "IEType" : "NoteType");
            // A drop that would change nothing or break the tree is refused.
            QCOMPARE(taken, after != before);
            if (taken)
                QCOMPARE(cards.Selected()->text(0), QString(moved == 1 ? "工作" : "项目"));
        } else if (how == "note-command") {
            w.Select(w.tvNote, moved);
            choose("NMoveNoteType");
            after = Rows("NoteType");
        } else {
            w.Select(w.tvIE, 2);
            QTest::mouseClick(w.tvIE->viewport(), Qt::LeftButton, {},
                              w.tvIE->visualItemRect(w.form.IETree->NodeOf(2)).center());
            if (how == "bookmark")
                QVERIFY(Drop(w.tvIE, w.form.IETree->NodeOf(target), "application/x-jotterel-bookmark",
                             QString::number(moved)));
            else
                choose("NMoveIE");
            QStringList groups;
            const std::unique_ptr<TDataSet> query = DbAccess->Query("select TypeID from IE order by ID");
            TDataSet& set = *query;
            for (set.First(); !set.Eof(); set.Next())
                groups << set.AsString(0);
            after = groups.join(" ");
            // The group's list no longer holds the moved bookmark.
            QCOMPARE(w.grid->model()->rowCount(), 0);
        }
        QCOMPARE(env->Responder.LastText(), message);
        QCOMPARE(after, rows);
    }

    // Ctrl+Z in the view takes back its last delete or move, whole, and only
    // once; the view's menu names the step.
    void ctrlZTakesBackTheLastDeleteOrMove_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("undo"); // the view's 撤销 item, and its text
        QTest::addColumn<QString>("text");
        QTest::newRow("note group deleted") << "NDelNoteType"
                                            << "tvNote"
                                            << "NUndoNoteType"
                                            << "撤销删除分组“工作”";
        QTest::newRow("note group moved") << "NMoveNoteType"
                                          << "tvNote"
                                          << "NUndoNoteType"
                                          << "撤销移动分组“工作”";
        QTest::newRow("bookmark group deleted") << "NDelIEType"
                                                << "tvIE"
                                                << "NUndoIEType"
                                                << "撤销删除分组“工作”";
        QTest::newRow("bookmark group moved") << "NMoveIEType"
                                              << "tvIE"
                                              << "NUndoIEType"
                                              << "撤销移动分组“工作”";
        QTest::newRow("bookmarks deleted") << "N3"
                                           << "DBGrid1"
                                           << "NUndoIE"
                                           << "撤销删除 3 个网址";
        QTest::newRow("bookmarks moved") << "NMoveIE"
                                         << "DBGrid1"
                                         << "NUndoIE"
                                         << "撤销移动 3 个网址";
        QTest::newRow("reminder deleted") << "NDelAlam"
                                          << "lv1"
                                          << "NUndoAlam"
                                          << "撤销删除提醒“晨会”";
    }

    void ctrlZTakesBackTheLastDeleteOrMove()
    {
        QFETCH(QString, action);
        QFETCH(QString, view);
        QFETCH(QString, undo);
        QFETCH(QString, text);
        Fill();
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (3,0,'生活')");
        TWindow w;
        w.pages->setCurrentIndex(view == "tvNote" ? 0 : view == "lv1" ? 1 : 2);
        w.Select(w.tvNote, 1);
        w.Select(w.tvIE, 1);
        QTest::mouseClick(w.tvIE->viewport(), Qt::LeftButton, {},
                          w.tvIE->visualItemRect(w.form.IETree->NodeOf(1)).center());
        w.grid->selectAll();
        Find<QRadioButton>(&w.form, "rbAll")->click();
        w.lv1->setCurrentItem(w.lv1->topLevelItem(0));
        const QString before = Snapshot();
        env->Responder.Answers = {true};
        // A move goes under 生活, the last group of the chooser, which offers
        // 新建分组 for bookmark groups only.
        std::optional<bool> newGroupOffered;
        Drive([&](QWidget* dialog) {
            newGroupOffered = dialog->findChild<QPushButton*>("btn1") != nullptr;
            auto* chooser = Find<QTreeWidget>(dialog, "tv1");
            QTreeWidgetItem* root = chooser->topLevelItem(0);
            chooser->setCurrentItem(root->child(root->childCount() - 1));
            qobject_cast<TFormBaseDlg*>(dialog)->OkButton()->click();
        });
        Find<QAction>(&w.form, action.toLatin1().constData())->trigger();
        QVERIFY(Snapshot() != before);
        if (action.startsWith("NMove"))
            QCOMPARE(newGroupOffered, std::optional<bool>(view != "tvNote"));

        auto* item = Find<QAction>(&w.form, undo.toLatin1().constData());
        QCOMPARE(item->text(), text);
        QWidget* target = w.View(view);
        // The window is active again once the chooser has closed.
        w.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.form));
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Snapshot(), before);
        QVERIFY(!item->isEnabled());
        QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Snapshot(), before);
        QVERIFY(TTrash().Entries().isEmpty());
    }

    // Size, place, page, groups, open branches and column widths come back.
    void windowComesBackAsItWasLeft()
    {
        Fill();
        {
            TWindow w;
            w.form.resize(600, 400);
            w.form.move(20, 30);
            w.pages->setCurrentIndex(2);
            w.Select(w.tvNote, 2);
            w.Select(w.tvIE, 2);
            w.form.IETree->NodeOf(2)->setExpanded(true);
            w.form.IETree->NodeOf(1)->setExpanded(true);
            w.grid->horizontalHeader()->resizeSection(1, 123);
            env->Responder.Answers = {true};
            w.form.close();
        }
        TWindow w;
        QCOMPARE(w.form.size(), QSize(600, 400));
        QCOMPARE(w.form.pos(), QPoint(20, 30));
        QCOMPARE(w.pages->currentIndex(), 2);
        QCOMPARE(QApplication::focusWidget(), w.tvIE);
        QCOMPARE(w.form.NoteTree->SelectedSelfIndex(), 2);
        QCOMPARE(w.form.IETree->SelectedSelfIndex(), 2);
        QVERIFY(w.form.IETree->NodeOf(1)->isExpanded());
        QVERIFY(!w.form.IETree->NodeOf(3)->isExpanded());
        QCOMPARE(w.grid->model()->rowCount(), 1); // 项目's bookmarks
        QCOMPARE(w.grid->horizontalHeader()->sectionSize(1), 123);
        QCOMPARE(Find<QPlainTextEdit>(&w.form, "mmoNote")->toPlainText(), QString("二"));
    }

    // A start that never shows the bookmark page keeps what was remembered
    // of it for the next one.
    void bookmarkPlacesOutliveAStartThatNeverShowsThem()
    {
        Fill();
        {
            TWindow w;
            w.pages->setCurrentIndex(2);
            w.Select(w.tvIE, 2);
            w.grid->horizontalHeader()->resizeSection(1, 123);
            w.pages->setCurrentIndex(0);
            env->Responder.Answers = {true};
            w.form.close();
        }
        {
            TWindow w(false); // on the notepad page
            QVERIFY(!w.form.IETree);
            env->Responder.Answers = {true};
            w.form.close();
        }
        TWindow w;
        ShowPageOf(w.tvIE);
        QCOMPARE(w.form.IETree->SelectedSelfIndex(), 2);
        QVERIFY(w.form.IETree->NodeOf(1)->isExpanded());
        QCOMPARE(w.grid->model()->rowCount(), 1); // 项目's bookmarks
        QCOMPARE(w.grid->horizontalHeader()->sectionSize(1), 123);
    }

    // A place and size kept from a larger screen never leave the window off this one.
    void keptPlaceFitsASmallerScreen_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<QSize>("size"); // empty: the whole screen, frame included
        QTest::newRow("off to the bottom right")
            << R"({"x":3000,"y":2000,"width":2400,"height":1500,"page":1})" << false << QSize();
        QTest::newRow("off to the top left")
            << R"({"x":-900,"y":-700,"width":700,"height":450})" << false << QSize(700, 450);
        QTest::newRow("maximised") << R"({"x":10,"y":10,"width":700,"height":450,"maximized":true})" << true << QSize();
    }

    void keptPlaceFitsASmallerScreen()
    {
        QFETCH(QString, state);
        QFETCH(bool, maximized);
        QFETCH(QSize, size);
        TConfig().SaveWindowState(state);
        TWindow w;
        QCoreApplication::processEvents();
        const QRect area = w.form.screen()->availableGeometry();
        QVERIFY2(area.contains(w.form.frameGeometry()),
                 qPrintable(
                     QString("%1,%2 %3x%4").arg(w.form.x()).arg(w.form.y()).arg(w.form.width()).arg(w.form.height())));
        QCOMPARE(w.form.isMaximized(), maximized);
        if (size.isEmpty())
            QCOMPARE(w.form.frameGeometry().size(), area.size());
        else
            QCOMPARE(w.form.size(), size);
        // The focus is in the tree or list of the page shown.
        QCOMPARE(QApplication::focusWidget(), w.pages->currentIndex() == 1 ? static_cast<QWidget*>(w.lv1) : w.tvNote);
    }
};

JOTTEREL_TEST_MAIN(TestDailyUse)
#include "test_dailyuse.moc"
