#include "app/SingleInstance.h"
#include "bookmarks/AddIE.h"
#include "bookmarks/ModIE.h"
#include "bookmarks/UntIE.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "exchange/TransferMenu.h"
#include "groups/UntTree.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProgressDialog>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

// Import and export from the 软件设置 menu and from the command line, and
// the question about an address already stored.
namespace {
const QByteArray kBookmarks = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                              "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
                              "<DL><p>\n"
                              "    <DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\">书签栏</H3>\n"
                              "    <DL><p>\n"
                              "        <DT><A HREF=\"https://example.com/\" ADD_DATE=\"1\">例子</A>\n"
                              "    </DL><p>\n"
                              "</DL><p>\n";

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

QStringList Rows(const QString& sql)
{
    QStringList rows;
    const auto set = DbAccess->Query(sql);
    for (; !set->Eof(); set->Next()) {
        QStringList fields;
        for (int i = 0; i < set->FieldCount(); ++i)
            fields << set->AsString(i);
        rows << fields.join('|');
    }
    return rows;
}

// Presses 取消 in the progress box as soon as it shows.
void CancelProgress()
{
    QTimer::singleShot(0, [] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QProgressDialog*>(top->findChild<QProgressDialog*>("dlgProgress")))
                box->cancel();
    });
}

QAction* Item(QWidget* window, const char* name)
{
    auto* action = new QAction(window);
    action->setObjectName(name);
    return action;
}

// The pages with the import and export commands over them, the file
// dialogs answered as the test says.
struct TTransferPages : TPageFixture
{
    QTimer Tick;
    TTransferMenu Menu{TTransferActions{Item(this, "NImportNotes"), Item(this, "NExportNotesTree"),
                                        Item(this, "NExportNotesMd"), Item(this, "NImportIE"), Item(this, "NExportIE")},
                       TTransferParts{this, &Tick, Dialogs(), Note, NoteTree, IETree, *Notepad, *Bookmarks}};

    TTransferDialogs Dialogs()
    {
        return {[this] { return AskFolderName(this); },
                [this](const QString& filter, const QString&, const QString&) { return AskSaveFileName(this, filter); },
                [this](const QString& filter) { return AskOpenFileName(this, filter); }};
    }
};

struct TRun
{
    int status = -1;
    QString out;
    QString err;
};
} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    static void Trigger(TTransferPages& form, const char* action) { form.findChild<QAction*>(action)->trigger(); }

    // The built program, copied into the test's data folder (a portable
    // copy uses the folder it is in), run without any display.
    TRun RunProgram(const QStringList& arguments)
    {
        const QString exe = env->Path("jotterel");
        if (!QFile::exists(exe))
            QFile::copy(JOTTEREL_EXE, exe);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(env->Dir.path());
        program.start(exe, arguments);
        program.waitForFinished(60000);
        return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
                QString::fromUtf8(program.readAllStandardOutput()), QString::fromUtf8(program.readAllStandardError())};
    }

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    // Adding or changing a bookmark to an address stored already asks,
    // naming the group; No saves nothing and keeps the dialog open. Changing
    // only the title of a bookmark asks nothing.
    void duplicateAddressIsQuestioned_data()
    {
        QTest::addColumn<QString>("edit"); // empty: a new bookmark
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("questions");
        QTest::addColumn<QStringList>("rows");
        const QString asked = "这个网址已经保存在分组“新闻”中，仍要保存吗？";
        const QStringList stored{"1|https://example.com/|A", "0|https://other.example|B"};
        QTest::newRow("add, yes") << ""
                                  << "HTTPS://Example.COM" << true << QStringList{asked}
                                  << (stored + QStringList{"0|HTTPS://Example.COM|"});
        QTest::newRow("add, no") << ""
                                 << "https://example.com" << false << QStringList{asked} << stored;
        QTest::newRow("add, other path") << ""
                                         << "https://example.com/x" << false << QStringList()
                                         << (stored + QStringList{"0|https://example.com/x|"});
        QTest::newRow("modify, no") << "2"
                                    << "https://example.com" << false << QStringList{asked} << stored;
        QTest::newRow("modify, yes") << "2"
                                     << "https://example.com" << true << QStringList{asked}
                                     << QStringList{"1|https://example.com/|A", "0|https://example.com|B"};
        QTest::newRow("modify, address kept") << "1"
                                              << "https://example.com/" << false << QStringList() << stored;
    }

    void duplicateAddressIsQuestioned()
    {
        QFETCH(QString, edit);
        QFETCH(QString, url);
        QFETCH(bool, yes);
        QFETCH(QStringList, questions);
        QFETCH(QStringList, rows);
        DbExecSQL("insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'新闻')@#@insert into "
                  "IE(TypeID,IEUrl,IEName) values "
                  "(1,'https://example.com/','A')@#@insert into IE(TypeID,IEUrl,IEName) values "
                  "(0,'https://other.example','B')");
        env->Responder.Answers << yes;
        bool stayedOpen = false;
        Drive([&](QWidget* dialog) {
            Find<QLineEdit>(dialog, "edtIE")->setText(url);
            Click(dialog, "btnOK");
            stayedOpen = dialog->isVisible();
        });
        TIE ie;
        const int result = edit.isEmpty() ? AskNewIE(ie, 0, "全部") : AskModIE(ie, edit);
        QCOMPARE(env->Responder.Texts(), questions);
        QCOMPARE(stayedOpen, !questions.isEmpty() && !yes);
        QCOMPARE(result, int(stayedOpen ? mrCancel : mrOk));
        QCOMPARE(Rows("select TypeID,IEUrl,IEName from IE order by ID"), rows);
    }

    // From the menu: under the selected group, with the closing message; a
    // cancel in the progress box imports nothing and says so.
    void importFromTheMenu_data()
    {
        QTest::addColumn<bool>("notes");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("groups");
        const QString cancelled = "导入已取消，没有导入任何内容。";
        QTest::newRow("notes") << true << false << "已导入 2 个分组、1 条记事。"
                               << QStringList{"1|0|甲", "2|1|资料", "3|2|笔记"};
        QTest::newRow("notes cancelled") << true << true << cancelled << QStringList{"1|0|甲"};
        QTest::newRow("bookmarks") << false << false << "已导入 1 个分组、1 个网址。"
                                   << QStringList{"1|0|甲", "2|1|书签栏"};
        QTest::newRow("bookmarks cancelled") << false << true << cancelled << QStringList{"1|0|甲"};
    }

    void importFromTheMenu()
    {
        QFETCH(bool, notes);
        QFETCH(bool, cancel);
        QFETCH(QString, message);
        QFETCH(QStringList, groups);
        const QString table = notes ? "NoteType" : "IEType";
        DbExecSQL("insert into " + table + "(SelfIndex,ParentIndex,TypeName) values (1,0,'甲')");
        Write(env->Path("资料/笔记.md"), "内容");
        Write(env->Path("bookmarks.html"), kBookmarks);
        TTransferPages form;
        form.show();
        if (!notes)
            OnShownPage<QTreeWidget>(&form, "tvIE");
        TCardTree& tree = notes ? *form.NoteTree : *form.IETree;
        tree.TreeView->setCurrentItem(tree.NodeOf(1));
        env->Responder.FileNames << env->Path(notes ? "资料" : "bookmarks.html");
        if (cancel)
            CancelProgress();
        Trigger(form, notes ? "NImportNotes" : "NImportIE");
        QCOMPARE(env->Responder.Texts(), QStringList{message});
        QCOMPARE(Rows("select SelfIndex, ParentIndex, TypeName from " + table + " order by SelfIndex"), groups);
        // The tree shows what is stored.
        QCOMPARE(tree.Groups.Count(), groups.size());
        QCOMPARE(bool(FindNode(tree.TreeView, notes ? "笔记" : "书签栏")), !cancel);
        QVERIFY(tree.TreeView->currentItem() == tree.NodeOf(1));
    }

    // The selected group's branch, as a folder named after it in the chosen
    // folder (a second export beside the first), or as one Markdown file;
    // all bookmarks as a bookmark file; the extension added when none was typed.
    void exportFromTheMenu()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (2,1,'会议')@#@"
                  "insert into NoteBook values (2,'周一')@#@insert into IE(TypeID,IEUrl,IEName) values "
                  "(0,'https://a.example','A')");
        TTransferPages form;
        form.show();
        form.NoteTree->TreeView->setCurrentItem(form.NoteTree->NodeOf(1));
        QVERIFY(QDir().mkpath(env->Path("out")));
        env->Responder.FileNames << env->Path("out") << env->Path("out") << env->Path("out/notes")
                                 << env->Path("out/bookmarks");
        Trigger(form, "NExportNotesTree");
        Trigger(form, "NExportNotesTree");
        Trigger(form, "NExportNotesMd");
        Trigger(form, "NExportIE");
        QCOMPARE(env->Responder.Texts(),
                 QStringList(
                     {"已导出 2 个分组、1 条记事到：\n" + QDir::toNativeSeparators(env->Path("out/工作")),
                      "已导出 2 个分组、1 条记事到：\n" + QDir::toNativeSeparators(env->Path("out/工作 (2)")),
                      "已导出 2 个分组、1 条记事到：\n" + QDir::toNativeSeparators(env->Path("out/notes.md")),
                      "已导出 0 个分组、1 个网址到：\n" + QDir::toNativeSeparators(env->Path("out/bookmarks.html"))}));
        QVERIFY(QFile::exists(env->Path("out/工作 (2)/会议.md")));
        QCOMPARE(QDir(env->Path("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"bookmarks.html", "notes.md", "工作", "工作 (2)"}));
    }

    // Without a display: what it did on the standard output and 0, or why
    // on the standard error and not 0; 2 while the program runs on the data.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("made");
        QTest::newRow("export notes") << QStringList{"--export-notes", "tree"} << 0 << "已导出 1 个分组、1 条记事到"
                                      << "tree/甲.md";
        QTest::newRow("export notes as Markdown")
            << QStringList{"--export-notes-md", "notes.md"} << 0 << "已导出 1 个分组、1 条记事到"
            << "notes.md";
        QTest::newRow("export bookmarks")
            << QStringList{"--export-bookmarks", "b.html"} << 0 << "已导出 0 个分组、0 个网址到"
            << "b.html";
        QTest::newRow("import notes") << QStringList{"--import-notes", "in"} << 0 << "已导入 2 个分组、1 条记事。"
                                      << "";
        QTest::newRow("import bookmarks")
            << QStringList{"--import-bookmarks", "bookmarks.html"} << 0 << "已导入 1 个分组、1 个网址。"
            << "";
        QTest::newRow("import a foreign file") << QStringList{"--import-bookmarks", "in/n.md"} << 1
                                               << "导入失败，没有导入任何内容。\n不是浏览器导出的书签文件"
                                               << "";
        QTest::newRow("export into a full folder") << QStringList{"--export-notes", "in"} << 1 << "不是空的"
                                                   << "";
        QTest::newRow("no file named") << QStringList{"--export-notes"} << 1 << "用法"
                                       << "";
        QTest::newRow("running") << QStringList{"--import-bookmarks", "bookmarks.html"} << 2 << "正在运行"
                                 << "";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--export-bookmarks 文件"
                              << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "Jotterel "
                                 << "";
        QTest::newRow("export onto a file")
            << QStringList{"--export-bookmarks", "old.html"} << 1 << "old.html 已经存在。要覆盖它，请加上 --force。"
            << "";
        QTest::newRow("export onto a file, forced")
            << QStringList{"--export-bookmarks", "old.html", "--force"} << 0 << "已导出 0 个分组、0 个网址到"
            << "";
        QTest::newRow("export onto the data file, forced")
            << QStringList{"--force", "--export-notes-md", "bookkeep.dat"} << 1 << "本程序的数据文件"
            << "";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(QString, made);
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'甲')@#@insert into NoteBook "
                  "values (1,'文字')");
        Write(env->Path("in/n.md"), "导入的");
        Write(env->Path("bookmarks.html"), kBookmarks);
        Write(env->Path("old.html"), "mine");
        const QStringList notesBefore = Rows("select * from NoteType");
        std::unique_ptr<TSingleInstance> running;
        if (status == 2) {
            running = std::make_unique<TSingleInstance>(env->Dir.path());
            QCOMPARE(running->Start(), TSingleInstance::TStart::Run);
        }
        const TRun run = RunProgram(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2((status == 0 ? run.out : run.err).contains(said), qPrintable(run.out + run.err));
        if (!made.isEmpty())
            QVERIFY(QFile::exists(env->Path(made)));
        const bool imported = status == 0 && arguments[0].startsWith("--import");
        QCOMPARE(Rows("select * from NoteType") != notesBefore || !Rows("select * from IEType").isEmpty(), imported);
        // Only a forced export onto it replaces a file.
        const bool replaced = arguments.contains("old.html") && arguments.contains("--force");
        QCOMPARE(QFileInfo(env->Path("old.html")).size() == 4, !replaced);
    }
};

JOTTEREL_TEST_MAIN(TestTransfer)
#include "test_transfer.moc"
