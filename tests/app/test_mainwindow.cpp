#include "app/Main.h"
#include "data/MD.h"
#include "groups/UntTree.h"
#include "support/DamagedFile.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    static QStringList MenuTexts(QMenu* menu)
    {
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QString("-") : action->text());
        return texts;
    }

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    void windowHasItsPagesAndControls()
    {
        TFormMain form;
        QCOMPARE(form.windowTitle(), QString("Jotterel"));
        QCOMPARE(form.size(), QSize(800, 520));
        auto* pages = form.findChild<QTabWidget*>("pgcMain");
        QVERIFY(pages);
        QCOMPARE(pages->count(), 3);
        QCOMPARE(pages->tabText(0), QString("记事本"));
        QCOMPARE(pages->tabText(1), QString("定时提醒"));
        QCOMPARE(pages->tabText(2), QString("网址管理"));
        QCOMPARE(pages->currentIndex(), 0);
        for (const char* name : {"tvNote", "mmoNote", "Label1", "edtQuery", "btn2", "chk1", "btnSystem"})
            QVERIFY2(form.findChild<QWidget*>(name), name);
        // The other pages' controls are made when each is first shown.
        form.show();
        for (const char* name : {"lv1", "rbAll", "tvIE", "DBGrid1", "spl1"})
            QVERIFY2(!form.findChild<QWidget*>(name), name);
        for (const char* name : {"lv1", "tvIE", "DBGrid1", "pnl2", "pnl3", "spl1"})
            QVERIFY2(OnShownPage<QWidget>(&form, name)->isVisible(), name);

        auto* list = form.findChild<QTreeWidget*>("lv1");
        QCOMPARE(list->columnCount(), 4);
        const QList<QPair<QString, int>> columns = {{"ID", 1}, {"▲提醒时间", 200}, {"内容", 450}, {"状态", 100}};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(list->headerItem()->text(i), columns[i].first);
            // The last column takes the rest of the shown list's width.
            if (i < 3)
                QCOMPARE(list->columnWidth(i), columns[i].second);
            else
                QVERIFY(list->columnWidth(i) >= columns[i].second);
        }
        const QStringList radios = {"rbToDay", "rbTomorrow", "rbMiss", "rb1", "rb2", "rbAll"};
        const QStringList captions = {"今天的提醒", "明天的提醒", "错过的提醒", "看过的提醒", "每天的提醒", "全部提醒"};
        for (int i = 0; i < radios.size(); ++i) {
            auto* radio = form.findChild<QRadioButton*>(radios[i]);
            QCOMPARE(radio->text(), captions[i]);
            QCOMPARE(radio->isChecked(), i == 0);
            QCOMPARE(radio->parentWidget()->layout()->indexOf(radio), i);
        }
        QCOMPARE(form.findChild<QCheckBox*>("chk1")->text(), QString("开机运行"));
        QCOMPARE(form.findChild<QPushButton*>("btnSystem")->text(), QString("软件设置"));
        QCOMPARE(form.tmr1->interval(), 1000);
        QVERIFY(form.tmr1->isActive());
    }

    void menusHoldTheirItemsInOrder()
    {
        TFormMain form;
        QCOMPARE(MenuTexts(form.pmNoteType),
                 QStringList({"新建组", "重命名组", "删除组", "移动到…", "撤销", "-", "历史版本", "-", "回收站…"}));
        QCOMPARE(MenuTexts(form.pmIEType), QStringList({"新建组", "重命名组", "删除组", "移动到…", "撤销", "-",
                                                        "新建网址", "-", "检查网址", "-", "回收站…"}));
        QCOMPARE(MenuTexts(form.pmIE), QStringList({"新建", "修改", "删除", "移动到…", "撤销", "-", "打开网页", "-",
                                                    "检查网址", "更新为新网址", "只看失效的", "-", "回收站…"}));
        QCOMPARE(MenuTexts(form.pmAlam), QStringList({"新建提醒", "修改", "删除", "撤销", "-", "回收站…"}));
        QCOMPARE(MenuTexts(form.pmSystem), QStringList({"软件主页", "-", "软件设置", "-", "数据备份", "数据恢复", "-",
                                                        "导入记事", "导出记事", "导入网址", "导出网址"}));
        QCOMPARE(MenuTexts(form.findChild<QMenu*>("pmExportNotes")),
                 QStringList({"为文件夹（每个分组一个文件夹）", "为一个 Markdown 文件"}));
        QCOMPARE(MenuTexts(form.pmTray), QStringList({"软件主页", "-", "显示窗口", "关闭"}));
    }

    void firstShowLoadsBothTreesAndSelectsTheNoteRoot()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,1,'项目')@#@"
                  "insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'新闻')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'https://news.example','新闻网','')");
        TFormMain form;
        // Nothing is read before the window is shown.
        QCOMPARE(form.NoteTree->RootNode->childCount(), 0);
        form.show();
        QVERIFY(!form.TerminateRequested());
        auto* notes = form.findChild<QTreeWidget*>("tvNote");
        QCOMPARE(notes->topLevelItemCount(), 1);
        QCOMPARE(notes->topLevelItem(0)->text(0), QString("根目录"));
        QCOMPARE(notes->currentItem(), form.NoteTree->RootNode);
        // A group's sub-groups are made when its branch is first shown.
        QCOMPARE(form.NoteTree->RootNode->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        QCOMPARE(form.NoteTree->NodeOf(2)->text(0), QString("项目"));
        // The bookmark tree, its groups and the list of every bookmark wait
        // for their page.
        QVERIFY(!form.IETree);
        auto* grid = OnShownPage<QTableView>(&form, "DBGrid1");
        QCOMPARE(form.IETree->Groups.Name(1), QString("新闻"));
        QCOMPARE(form.IETree->RootNode->text(0), QString("全部"));
        QVERIFY(form.IETree->RootNode->isExpanded());
        QCOMPARE(form.IETree->RootNode->child(0)->text(0), QString("新闻"));
        QCOMPARE(grid->model()->rowCount(), 1);
    }

    // The memo and the reminder list write in 13-pixel letters; the list
    // takes them, and the lists their title rows, when their pages are first shown.
    void pagesShowTheirFontsAndTitles()
    {
        TFormMain form;
        form.show();
        QCOMPARE(form.findChild<QPlainTextEdit*>("mmoNote")->font().pixelSize(), 13);
        form.findChild<QTabWidget*>("pgcMain")->setCurrentWidget(form.findChild<QWidget*>("tsAlam"));
        auto* list = form.findChild<QTreeWidget*>("lv1");
        QVERIFY(list->isVisible());
        QCOMPARE(list->font().pixelSize(), 13);
        QVERIFY(list->header()->isVisible());
        QCOMPARE(list->header()->font().pixelSize(), 13);
        form.findChild<QTabWidget*>("pgcMain")->setCurrentWidget(form.findChild<QWidget*>("ts1"));
        QVERIFY(form.findChild<QTableView*>("DBGrid1")->horizontalHeader()->isVisible());
    }

    void failingFirstShowEndsTheProgram()
    {
        DbExecSQL("drop table NoteType");
        TFormMain form;
        form.show();
        QVERIFY(form.TerminateRequested());
        QCOMPARE(form.ExitCode(), 1);
        QCOMPARE(env->Responder.Shown.size(), 1);
        QVERIFY(env->Responder.LastText().contains("NoteType"));
    }

    // The program checks the pages beside its event loop: the window stands
    // at once, a write and the reminders' tick wait for the verdict, and a
    // damaged file is reported and ends the program.
    void windowLearnsTheVerdictBesideTheEventLoop_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<bool>("checkBegun"); // when the write comes
        QTest::newRow("intact") << false << true;
        QTest::newRow("damaged, a write while the check runs") << true << true;
        QTest::newRow("damaged, a write before it begins") << true << false;
    }
    void windowLearnsTheVerdictBesideTheEventLoop()
    {
        QFETCH(bool, damaged);
        QFETCH(bool, checkBegun);
        const QByteArray before = damaged ? ConnectDamaged() : QByteArray();
        TFormMain form;
        form.show();
        QVERIFY(!form.TerminateRequested());
        form.WatchIntegrity();
        QVERIFY(!form.tmr1->isActive()); // the tick writes: it waits for the verdict
        if (checkBegun)
            QTest::qWait(20); // the window paints, the check begins
        const QString write = ErrorOf([] { DbExecSQL("update SysSet set bPass=0"); });
        QCOMPARE(write.startsWith("DB:数据库操作失败！"), damaged);
        // The verdict: the tick goes on, or the program ends.
        QTRY_VERIFY(form.tmr1->isActive() || form.TerminateRequested());
        QCOMPARE(form.TerminateRequested(), damaged);
        QCOMPARE(form.tmr1->isActive(), !damaged);
        if (damaged) {
            QCOMPARE(form.ExitCode(), 1);
            QVERIFY2(env->Responder.LastText().startsWith("数据库连接失败！\r\n详细信息：数据库文件已损坏："),
                     qPrintable(env->Responder.LastText()));
            QCOMPARE(FileHash(env->Path("bookkeep.dat")), before);
        }
    }

    void homePageOpensTheShippedPage()
    {
        TFormMain form;
        form.findChild<QAction*>("NHomePage")->trigger();
        form.findChild<QAction*>("NTrayHomePage")->trigger();
        QCOMPARE(env->Responder.Opened_.size(), 2);
        const QString page = env->Responder.Opened_[0];
        QVERIFY(page.endsWith(".html"));
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Jotterel"));
        // No page is installed beside this test: the copy lies in a folder
        // that no other user can write to, so none can plant a page there.
        QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + "/home.html"));
        const QFileInfo folder(QFileInfo(page).absolutePath());
        QVERIFY2(!(folder.permissions() & (QFile::WriteGroup | QFile::WriteOther)), qPrintable(page));
    }
};

JOTTEREL_TEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
