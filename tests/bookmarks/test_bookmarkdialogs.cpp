#include "bookmarks/AddIE.h"
#include "bookmarks/ModIE.h"
#include "bookmarks/UntIE.h"
#include "bookmarks/ViewIEType.h"
#include "controls/CardEdtBut.h"
#include "data/MD.h"
#include "data/UntPublic.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
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

// The group's node in the chooser.
QTreeWidgetItem* Node(QWidget* dialog, const QString& label)
{
    return FindNode(Find<QTreeWidget>(dialog, "tv1"), label);
}

void Fill(QWidget* dialog, const QString& url, const QString& name, const QString& remark)
{
    Find<QLineEdit>(dialog, "edtIE")->setText(url);
    Find<QLineEdit>(dialog, "edtName")->setText(name);
    Find<QPlainTextEdit>(dialog, "mmoRemark")->setPlainText(remark);
}

QStringList StoredRows()
{
    QStringList rows;
    DbAccess->OpenQuery("select TypeID,IEUrl,IEName,ReMark from IE order by ID");
    TDataSet& set = *DbAccess->QuerySet;
    for (set.First(); !set.Eof(); set.Next())
        rows << QStringList({set.AsString(0), set.AsString(1), set.AsString(2), set.AsString(3)}).join('|');
    return rows;
}
} // namespace

class TestBookmarkDialogs : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        QGuiApplication::clipboard()->clear();
    }
    void cleanup() { env.reset(); }

    void clipboardProposal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("proposed");
        QTest::newRow("www in a sentence") << "看看 www.example.org 吧" << true;
        QTest::newRow("http with lines") << "http://a\nsecond line" << true;
        QTest::newRow("com") << "shop.com" << true;
        QTest::newRow("cn") << "  site.cn  " << true;
        QTest::newRow("net") << "x.net" << true;
        QTest::newRow("gov") << "x.gov" << true;
        QTest::newRow("capitals only") << "HTTP://WWW.EXAMPLE.COM" << false;
        QTest::newRow("no marker") << "just some words" << false;
        QTest::newRow("empty") << "" << false;
    }

    void clipboardProposal()
    {
        QFETCH(QString, text);
        QFETCH(bool, proposed);
        QGuiApplication::clipboard()->setText(text);
        QCOMPARE(TFormAddIE::GetClipboardUrl(), proposed ? text : QString());
    }

    void clipboardWithoutTextProposesNothing()
    {
        auto* data = new QMimeData;
        data->setData("application/x-test", "www.example.com");
        QGuiApplication::clipboard()->setMimeData(data);
        QCOMPARE(TFormAddIE::GetClipboardUrl(), QString());
    }

    void addDialogOpensWithGroupAndClipboardAddress()
    {
        QGuiApplication::clipboard()->setText("看看 www.example.org 吧");
        QString title, group, address;
        bool readOnly = false, focused = false, checked = true, checkAtLeft = false;
        Drive([&](QWidget* dialog) {
            title = dialog->windowTitle();
            auto* edtGoup = Find<TCardEdtBut>(dialog, "EdtGoup");
            group = edtGoup->text();
            readOnly = edtGoup->isReadOnly() && edtGoup->ButtonBmp() == CardFind;
            address = Find<QLineEdit>(dialog, "edtIE")->text();
            focused = dialog->focusWidget() == Find<QLineEdit>(dialog, "edtIE");
            auto* chk1 = Find<QCheckBox>(dialog, "chk1");
            checked = chk1->isChecked();
            checkAtLeft =
                chk1->mapTo(dialog, QPoint()).x() < Find<QPushButton>(dialog, "btnOK")->mapTo(dialog, QPoint()).x();
            Click(dialog, "btnCancel");
        });
        int saved = -1;
        QCOMPARE(AskNewIE(IE, 3, "新闻", &saved), int(mrCancel));
        QCOMPARE(title, QString("新建网址"));
        QCOMPARE(group, QString("新闻"));
        QVERIFY(readOnly);
        QCOMPARE(address, QString("看看 www.example.org 吧"));
        QVERIFY(focused);
        QVERIFY(!checked);
        QVERIFY(checkAtLeft);
        QCOMPARE(saved, 0);
        QVERIFY(StoredRows().isEmpty());
    }

    void saveAndContinueStoresEachAndKeepsTheGroup()
    {
        QStringList afterFirst;
        Drive([&](QWidget* dialog) {
            Find<QCheckBox>(dialog, "chk1")->setChecked(true);
            Fill(dialog, "www.one.com", "One", "r1\nline 2");
            Click(dialog, "btnOK");
            afterFirst << QString::number(dialog->isVisible()) << Find<QLineEdit>(dialog, "edtIE")->text()
                       << Find<QLineEdit>(dialog, "edtName")->text()
                       << Find<QPlainTextEdit>(dialog, "mmoRemark")->toPlainText()
                       << Find<QLineEdit>(dialog, "EdtGoup")->text();
            Fill(dialog, "www.two.com", "", "");
            Click(dialog, "btnOK");
            Click(dialog, "btnCancel");
        });
        int saved = 0;
        QCOMPARE(AskNewIE(IE, 2, "B", &saved), int(mrCancel));
        QCOMPARE(afterFirst, QStringList({"1", "", "", "", "B"}));
        QCOMPARE(saved, 2);
        QCOMPARE(StoredRows(), QStringList({"2|www.one.com|One|r1\nline 2", "2|www.two.com||"}));
    }

    void blankAddressIsRefusedAndPaddedOneStoredAsTyped()
    {
        bool stayedOpen = false;
        QString nameAfterRefusal;
        Drive([&](QWidget* dialog) {
            Fill(dialog, " \t ", "title", "remark");
            Click(dialog, "btnOK");
            stayedOpen = dialog->isVisible();
            nameAfterRefusal = Find<QLineEdit>(dialog, "edtName")->text();
            Find<QLineEdit>(dialog, "edtIE")->setText("  www.padded.cn ");
            Click(dialog, "btnOK");
        });
        QCOMPARE(AskNewIE(IE, 0, "全部"), int(mrOk));
        QVERIFY(stayedOpen);
        QCOMPARE(nameAfterRefusal, QString("title"));
        QCOMPARE(env->Responder.Texts(), QStringList({"网址不能为空！"}));
        QCOMPARE(StoredRows(), QStringList({"0|  www.padded.cn |title|remark"}));
    }

    void modifyShowsStoredValuesAndKeepsTheGroup_data()
    {
        QTest::addColumn<int>("typeId");
        QTest::addColumn<QString>("groupText");
        QTest::newRow("root") << 0 << "全部";
        QTest::newRow("group") << 1 << "新闻";
        QTest::newRow("group gone") << 7 << "全部";
    }

    void modifyShowsStoredValuesAndKeepsTheGroup()
    {
        QFETCH(int, typeId);
        QFETCH(QString, groupText);
        AddGroup(1, 0, "新闻");
        IE.TypeID = typeId;
        IE.IEUrl = "http://it's.cn";
        IE.IEName = "Title";
        IE.ReMark = "line 1\nline 2";
        IE.Tags = "工作,参考";
        IE.InsertIE();
        QGuiApplication::clipboard()->setText("www.clipboard.com");
        QStringList shown;
        Drive([&](QWidget* dialog) {
            shown << dialog->windowTitle() << Find<QLineEdit>(dialog, "EdtGoup")->text()
                  << Find<QLineEdit>(dialog, "edtIE")->text() << Find<QLineEdit>(dialog, "edtName")->text()
                  << Find<QPlainTextEdit>(dialog, "mmoRemark")->toPlainText()
                  << Find<QLineEdit>(dialog, "edtTags")->text();
            Find<QLineEdit>(dialog, "edtName")->setText("Renamed");
            Find<QLineEdit>(dialog, "edtTags")->setText("工作 阅读");
            Click(dialog, "btnOK");
        });
        QCOMPARE(AskModIE(IE, "1"), int(mrOk));
        QCOMPARE(shown, QStringList({"修改网址", groupText, "http://it's.cn", "Title", "line 1\nline 2", "工作,参考"}));
        IE.LoadIE("1");
        QCOMPARE(IE.Tags, QString("工作,阅读"));
        QCOMPARE(StoredRows(), QStringList({QString::number(typeId) + "|http://it's.cn|Renamed|line 1\nline 2"}));
    }

    void chooserGivesTheChosenGroup_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::newRow("root") << "全部" << false << 0 << "全部";
        QTest::newRow("group") << "新闻" << false << 1 << "新闻";
        QTest::newRow("sub-group, double-click") << "国内" << true << 2 << "国内";
    }

    void chooserGivesTheChosenGroup()
    {
        QFETCH(QString, label);
        QFETCH(bool, doubleClick);
        QFETCH(int, id);
        QFETCH(QString, name);
        AddGroup(1, 0, "新闻");
        AddGroup(2, 1, "国内");
        QString title;
        Drive([&](QWidget* dialog) {
            title = dialog->windowTitle();
            auto* tree = Find<QTreeWidget>(dialog, "tv1");
            QTreeWidgetItem* node = Node(dialog, label);
            tree->scrollToItem(node);
            tree->setCurrentItem(node);
            if (doubleClick)
                emit tree->itemDoubleClicked(node, 0);
            else
                Click(dialog, "btnOK");
        });
        int chosen = -1;
        QString chosenName = "x";
        QCOMPARE(AskIEType(chosen, chosenName), int(mrOk));
        QCOMPARE(title, QString("选择组"));
        QCOMPARE(chosen, id);
        QCOMPARE(chosenName, name);
    }

    void chooserWithoutSelectionStaysOpen()
    {
        AddGroup(1, 0, "新闻");
        bool stayedOpen = false;
        bool askedName = true;
        Drive([&](QWidget* dialog) {
            // The focus gives the tree a current group (a focus frame), which
            // is not a selection.
            auto* tree = Find<QTreeWidget>(dialog, "tv1");
            tree->setFocus();
            QVERIFY(tree->currentItem());
            QVERIFY(tree->selectedItems().isEmpty());
            Click(dialog, "btnOK");
            stayedOpen = dialog->isVisible();
            TNoModalGuard guard;
            Click(dialog, "btn1");
            askedName = guard.Opened();
            Click(dialog, "btnCancel");
        });
        int chosen = -1;
        QString chosenName = "x";
        QCOMPARE(AskIEType(chosen, chosenName), int(mrCancel));
        QVERIFY(stayedOpen);
        QVERIFY(!askedName);
        QCOMPARE(DbGetIntValue("select count(*) from IEType"), 1);
        QCOMPARE(chosen, -1);
        QCOMPARE(chosenName, QString());
    }

    void chooserAddsGroupsWithoutSelectingThem()
    {
        AddGroup(1, 0, "新闻");
        const int addedBefore = ChooserGroupsAdded();
        QStringList positions;
        QString currentAfterAdd;
        bool stayedOpen = false;
        Drive([&](QWidget* dialog) {
            auto* tree = Find<QTreeWidget>(dialog, "tv1");
            tree->setCurrentItem(Node(dialog, "全部"));
            Drive([&](QWidget* ask) {
                positions << Find<QLineEdit>(ask, "edtPos")->text();
                Find<QLineEdit>(ask, "edtName")->setText("工作");
                Click(ask, "btnOK");
            });
            Click(dialog, "btn1");
            currentAfterAdd = tree->currentItem()->text(0);
            // A name the tree holds anywhere is refused; the chooser stays.
            tree->setCurrentItem(Node(dialog, "新闻"));
            Drive([&](QWidget* ask) {
                positions << Find<QLineEdit>(ask, "edtPos")->text();
                Find<QLineEdit>(ask, "edtName")->setText("工作");
                Click(ask, "btnOK");
                // The name dialog stays open for a correction; given up here.
                if (ask->isVisible())
                    Click(ask, "btnCancel");
            });
            Click(dialog, "btn1");
            stayedOpen = dialog->isVisible();
            Click(dialog, "btnCancel");
        });
        int chosen = -1;
        QString chosenName;
        QCOMPARE(AskIEType(chosen, chosenName), int(mrCancel));
        QCOMPARE(positions, QStringList({"全部", "全部->新闻"}));
        QCOMPARE(currentAfterAdd, QString("全部"));
        QVERIFY(stayedOpen);
        QCOMPARE(env->Responder.Texts(), QStringList({"该名称已经存在，请重新输入！"}));
        QCOMPARE(DbGetIntValue("select count(*) from IEType where SelfIndex=2 and ParentIndex=0 and TypeName='工作'"),
                 1);
        QCOMPARE(DbGetIntValue("select count(*) from IEType"), 2);
        QCOMPARE(ChooserGroupsAdded(), addedBefore + 1);

        // The next showing reads the table afresh.
        bool listed = false;
        Drive([&](QWidget* dialog) { listed = Node(dialog, "工作") != nullptr; });
        AskIEType(chosen, chosenName);
        QVERIFY(listed);
    }

    void groupFieldButtonChoosesTheGroup()
    {
        AddGroup(1, 0, "新闻");
        QStringList groupTexts;
        bool focusBack = false;
        Drive([&](QWidget* dialog) {
            auto* edtGoup = Find<TCardEdtBut>(dialog, "EdtGoup");
            Drive([&](QWidget* chooser) {
                Find<QTreeWidget>(chooser, "tv1")->setCurrentItem(Node(chooser, "新闻"));
                Click(chooser, "btnOK");
            });
            edtGoup->Button()->click();
            groupTexts << edtGoup->text();
            focusBack = dialog->focusWidget() == Find<QLineEdit>(dialog, "edtIE");
            // A cancelled choice keeps the group.
            Drive([&](QWidget* chooser) { Click(chooser, "btnCancel"); });
            edtGoup->Button()->click();
            groupTexts << edtGoup->text();
            Fill(dialog, "www.news.cn", "News", "");
            Click(dialog, "btnOK");
        });
        QCOMPARE(AskNewIE(IE, 0, "全部"), int(mrOk));
        QCOMPARE(groupTexts, QStringList({"新闻", "新闻"}));
        QVERIFY(focusBack);
        QCOMPARE(StoredRows(), QStringList({"1|www.news.cn|News|"}));
    }

    void pictureOpensTheTypedAddressWithoutSaving()
    {
        QString tooltip;
        Drive([&](QWidget* dialog) {
            auto* img3 = Find<QLabel>(dialog, "img3");
            tooltip = img3->toolTip();
            Find<QLineEdit>(dialog, "edtIE")->setText("  ");
            QTest::mouseClick(img3, Qt::LeftButton);
            Find<QLineEdit>(dialog, "edtIE")->setText(" www.typed.com ");
            QTest::mouseClick(img3, Qt::LeftButton);
            // A script is asked about first; the answer here is No.
            Find<QLineEdit>(dialog, "edtIE")->setText("javascript:alert(1)");
            QTest::mouseClick(img3, Qt::LeftButton);
            Click(dialog, "btnCancel");
        });
        QCOMPARE(AskNewIE(IE, 0, "全部"), int(mrCancel));
        QCOMPARE(tooltip, QString("打开IE"));
        QCOMPARE(env->Responder.Opened_, QStringList({"www.typed.com"}));
        QVERIFY(env->Responder.LastText().contains("javascript:alert(1)"));
        QVERIFY(StoredRows().isEmpty());
    }
};

JOTTEREL_TEST_MAIN(TestBookmarkDialogs)
#include "test_bookmarkdialogs.moc"
