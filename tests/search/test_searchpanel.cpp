#include "controls/CardDBGrid.h"
#include "data/DataSet.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "groups/UntTree.h"
#include "search/SearchPanel.h"
#include "search/SearchWiring.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>

// The pages with the search over them, as the main window has it.
struct TSearchedPages : TPageFixture
{
    TSearchWiring Search{this, Targets()};
};

// The search field of the main window, driven by keys as a user would.
class TestSearchPanel : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TSearchedPages> form;
    QLineEdit* field = nullptr;
    QTimer* pause = nullptr;
    TSearchResultsModel* model = nullptr;
    // The results' list, made with the field's first text.
    QTreeView* Results() { return Child<QTreeView>("tvSearchResults"); }

    template <typename T> T* Child(const char* name) const { return Find<T>(form.get(), name); }

    // Key presses into the field, Chinese included.
    void Keys(const QString& text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    // Types into the field with Ctrl+Shift+F from the memo, and lets the
    // pause end (its timer fired at once, no time waited).
    void Type(const QString& text)
    {
        QTest::keyClick(Child<QPlainTextEdit>("mmoNote"), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(field->hasFocus());
        Keys(text);
        QVERIFY(pause->isActive());
        QMetaObject::invokeMethod(pause, "timeout");
    }

    // Rows of the results: "kind" for a kind's row, "  text" for a result.
    QStringList Rows() const
    {
        QStringList rows;
        for (int kind = 0; kind < model->rowCount(); ++kind) {
            const QModelIndex parent = model->index(kind, 0);
            rows << parent.data().toString();
            for (int i = 0; i < model->rowCount(parent); ++i)
                rows << "  " + model->index(i, 0, parent).data().toString();
        }
        return rows;
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        // A note whose match lies far below its top, a bookmark in a group,
        // a one-off reminder of another day than today.
        QString note;
        for (int i = 0; i < 200; ++i)
            note += QString("第 %1 行\r\n").arg(i);
        note += "这里是目标所在";
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (2,1,'会议')@#@"
                  "insert into NoteBook values (2,'" +
                  note +
                  "')@#@"
                  "insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'常用')@#@insert into "
                  "IEType(SelfIndex,ParentIndex,TypeName) values (2,1,'搜索引擎')");
        // The bookmark comes last in a list longer than the grid reads at first.
        for (int i = 1; i <= 300; ++i)
            DbExecSQL(QString("insert into IE(TypeID,IEUrl,IEName,ReMark) values (2,'https://x%1.example','填充','')")
                          .arg(i));
        DbExecSQL(
            "insert into IE(ID,TypeID,IEUrl,IEName,ReMark) values (1000,2,'https://target.example','书签目标','')");
        DbExecSQL(QString("insert into Alam(ID,AlamTime,AlamDate,ReDay,ReMark) values (5,%1,%2,0,'提醒目标')")
                      .arg(Ole::FromTime(QTime(9, 0)))
                      .arg(Ole::FromDate(QDate(2020, 1, 2))));
        form = std::make_unique<TSearchedPages>();
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        field = Child<QLineEdit>("edtSearch");
        pause = Child<QTimer>("tmrSearch");
        model = static_cast<TSearchResultsModel*>(Child<QAbstractItemModel>("searchResults"));
    }
    void cleanup()
    {
        form.reset();
        env.reset();
    }

    void fieldSearchesAfterThePauseAndEscClears()
    {
        QCOMPARE(field->placeholderText(), QString("搜索全部"));
        QCOMPARE(field->accessibleName(), QString("搜索全部"));
        // Every key restarts the pause; nothing is searched before it ends.
        QTest::keyClick(Child<QTreeWidget>("tvNote"), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(field->hasFocus());
        Keys("目");
        QVERIFY(pause->isActive());
        Keys("标");
        QVERIFY(field->isClearButtonEnabled()); // with the first text
        // The whole field, with the button at its end, lies within the window.
        QVERIFY(form->rect().contains(QRect(field->mapTo(form.get(), QPoint(0, 0)), field->size())));
        QCOMPARE(model->rowCount(), 0);
        QVERIFY(!Results()->isVisible());
        QMetaObject::invokeMethod(pause, "timeout");
        QCOMPARE(Rows(), QStringList({"记事本（1 条）", "  根目录->工作->会议  这里是目标所在", "网址管理（1 条）",
                                      "  全部->常用->搜索引擎  书签目标", "定时提醒（1 条）",
                                      "  2020-01-02 09:00:00  提醒目标"}));
        QVERIFY(Results()->isVisible());
        const QVariantList marks = model->index(0, 0, model->index(0, 0)).data(TSearchResultsModel::MarksRole).toList();
        QCOMPARE(marks, QVariantList({QPoint(QString("根目录->工作->会议  这里是").size(), 2)}));

        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(field->text().isEmpty());
        QVERIFY(!pause->isActive());
        QVERIFY(!Results()->isVisible());
        QCOMPARE(model->rowCount(), 0);
    }

    // Letters find the Chinese they stand for, in the group's name and in
    // the note; the characters that matched are marked in both.
    void readingsAreMarked()
    {
        Type("mubiao HUIYI");
        QCOMPARE(Rows(), QStringList({"记事本（1 条）", "  根目录->工作->会议  这里是目标所在"}));
        const QVariantList marks = model->index(0, 0, model->index(0, 0)).data(TSearchResultsModel::MarksRole).toList();
        QCOMPARE(marks, QVariantList({QPoint(QString("根目录->工作->").size(), 2),
                                      QPoint(QString("根目录->工作->会议  这里是").size(), 2)}));
    }

    // More matches than are shown: the kind's row says so.
    void kindRowSaysWhenCut()
    {
        Type("填充");
        QCOMPARE(Rows().first(), QString("网址管理（多于 %1 条，显示前 %1 条）").arg(kShownPerKind));
    }

    // Enter before the pause ends searches at once and opens the first result.
    void jumpGoesToTheItem_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("page");
        QTest::newRow("note") << "目标所在"
                              << "tsNote";
        QTest::newRow("note by pinyin") << "mbsz"
                                        << "tsNote";
        QTest::newRow("bookmark") << "书签目标"
                                  << "ts1";
        QTest::newRow("reminder") << "提醒目标"
                                  << "tsAlam";
    }
    void jumpGoesToTheItem()
    {
        QFETCH(QString, query);
        QFETCH(QString, page);
        Child<QTabWidget>("pgcMain")->setCurrentIndex(page == "tsNote" ? 1 : 0);
        QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        Keys(query);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(!pause->isActive());
        QCOMPARE(Child<QTabWidget>("pgcMain")->currentWidget()->objectName(), page);
        QVERIFY(!Results()->isVisible());
        if (page == "tsNote") {
            auto* memo = Child<QPlainTextEdit>("mmoNote");
            QCOMPARE(form->NoteTree->SelectedSelfIndex(), 2);
            QCOMPARE(memo->textCursor().selectedText(), QString("目标所在"));
            QVERIFY(memo->hasFocus());
            QVERIFY(memo->verticalScrollBar()->value() > 0);
            QVERIFY(memo->viewport()->rect().contains(memo->cursorRect()));
        } else if (page == "ts1") {
            auto* grid = Child<TCardDBGrid>("DBGrid1");
            QCOMPARE(form->IETree->SelectedSelfIndex(), 2);
            QCOMPARE(grid->DataSet()->AsString(0), QString("1000"));
            QCOMPARE(grid->currentIndex().row() + 1, grid->DataSet()->RecNo());
        } else {
            auto* list = Child<QTreeWidget>("lv1");
            QVERIFY(Child<QRadioButton>("rbAll")->isChecked());
            QVERIFY(list->currentItem());
            QCOMPARE(list->currentItem()->text(0), QString("5"));
            QVERIFY(list->currentItem()->isSelected());
        }
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    // An item deleted while its result shows: a message, the page stays,
    // and the results are read again.
    void deletedItemSaysSo_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("message");
        QTest::newRow("note group") << "目标所在"
                                    << "该记事所在的组已被删除。";
        QTest::newRow("bookmark") << "书签目标"
                                  << "该网址已被删除。";
        QTest::newRow("reminder") << "提醒目标"
                                  << "该提醒已被删除。";
    }
    void deletedItemSaysSo()
    {
        QFETCH(QString, query);
        QFETCH(QString, message);
        Type(query);
        QCOMPARE(model->rowCount(), 1);
        if (query == "目标所在") {
            // Through the tree's menu, as a user deletes a group.
            form->NoteTree->TreeView->setCurrentItem(form->NoteTree->NodeOf(2));
            env->Responder.Answers = {true};
            Child<QAction>("NDelNoteType")->trigger();
            QVERIFY(!form->NoteTree->NodeOf(2));
        } else {
            DbExecSQL(query == "书签目标" ? "delete from IE where ID=1000" : "delete from Alam where ID=5");
        }
        auto* pages = Child<QTabWidget>("pgcMain");
        pages->setCurrentIndex(1);
        env->Responder.Shown.clear();
        QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(Results()->isVisible());
        QTest::keyClick(field, Qt::Key_Down);
        QVERIFY(Results()->hasFocus());
        QTest::keyClick(Results(), Qt::Key_Return);
        QCOMPARE(env->Responder.Texts(), QStringList{message});
        QCOMPARE(pages->currentIndex(), 1);
        QCOMPARE(model->rowCount(), 0);
    }
};

JOTTEREL_TEST_MAIN(TestSearchPanel)
#include "test_searchpanel.moc"
