#include "data/MD.h"
#include "exchange/NoteTransfer.h"
#include "groups/GroupTableStore.h"
#include "notes/UntNote.h"
#include "support/StoreTest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {
// The note tree as "path|text" lines, in the tree's order; texts as stored.
QStringList Dump()
{
    TGroupTable groups("NoteType", "根目录");
    groups.Load();
    const QHash<int, QString> notes = ReadAllNotes();
    QStringList lines;
    std::function<void(int)> walk = [&](int group) {
        lines << groups.PathText(group) + "|" + notes.value(group, "<none>");
        for (int child : groups.Children(group))
            walk(child);
    };
    walk(0);
    return lines;
}

// Every file and folder under a folder, relative, sorted.
QStringList Files(const QString& dir)
{
    QStringList found;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(dir).relativeFilePath(it.next());
    found.sort();
    return found;
}

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

int AddGroup(TGroupTable& groups, int parent, const QString& name, const QString& note = QString())
{
    const int group = groups.Add(parent, name);
    if (!note.isNull()) {
        TNote store;
        store.TypeID = group;
        store.ReMark = note;
        store.InsertNote();
    }
    return group;
}
} // namespace

class TestNoteTransfer : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    // Export, import into a fresh profile: the same groups under the same
    // parents with the same texts (CR LF breaks, as the memo stores them; an
    // empty note and none alike, as the memo shows them). A group with
    // subgroups is a folder holding its note, one without a file; the
    // root's empty note is left out and the hidden mark still makes the
    // folder the whole tree again.
    void folderTreeRoundTrip_data()
    {
        QTest::addColumn<QString>("rootNote");
        QTest::newRow("root with a note") << "首页\r\n第二行";
        QTest::newRow("root without") << QString();
    }

    void folderTreeRoundTrip()
    {
        QFETCH(QString, rootNote);
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        if (!rootNote.isEmpty()) {
            TNote root;
            root.TypeID = 0;
            root.ReMark = rootNote;
            root.InsertNote();
        }
        const int work = AddGroup(groups, 0, "工作", "工作记事\r\n- 一\r\n- 二\r\n");
        AddGroup(groups, work, "会议", "周一 10:00");
        const int empty = AddGroup(groups, work, "空分组");
        AddGroup(groups, empty, "深处", "# 标题也是文字");
        AddGroup(groups, 0, "生活", "");
        AddGroup(groups, 0, "无记事");
        AddGroup(groups, AddGroup(groups, 0, "Plan"), "plan", "named like its parent's note");
        const QStringList before = Dump().replaceInStrings("|<none>", "|");
        QTemporaryDir out;
        const TExportCount count = ExportNotesTree(groups, 0, out.filePath("导出"));
        QCOMPARE(count.Groups, 8);
        QCOMPARE(count.Notes, rootNote.isEmpty() ? 4 : 5);
        QStringList files{".jotterel-notes", "Plan",         "Plan/plan",   "Plan/plan/plan.md",   "工作",
                          "工作/会议.md",    "工作/工作.md", "工作/空分组", "工作/空分组/深处.md", "无记事.md",
                          "生活.md"};
        if (!rootNote.isEmpty())
            files << "根目录.md";
        files.sort();
        QCOMPARE(Files(out.filePath("导出")), files);

        env.reset();
        env = std::make_unique<TStoreEnv>();
        TGroupTable fresh("NoteType", "根目录");
        fresh.Load();
        TNote note;
        const TImportReport report = ImportNotesFolder(fresh, note, 0, out.filePath("导出"));
        QCOMPARE(Dump().replaceInStrings("|<none>", "|"), before);
        QCOMPARE(report.Groups, 8);
        QCOMPARE(report.Renamed, QStringList());
        QCOMPARE(report.Skipped, QStringList());
    }

    // The shapes a folder of notes comes in: an earlier export (every group
    // a folder holding its note), pages beside their folders, and the
    // clashes between a note inside a folder and one beside it.
    void importReadsEachLayout_data()
    {
        QTest::addColumn<QStringList>("files"); // "path=text"
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("every group a folder")
            << QStringList{"t/根目录.md=首页", "t/甲/甲.md=甲的", "t/甲/乙/乙.md=乙的"}
            << QStringList{"根目录|首页", "根目录->甲|甲的", "根目录->甲->乙|乙的"};
        QTest::newRow("pages beside their folders")
            << QStringList{"w/甲.md=甲的", "w/甲/乙.md=乙的", "w/丙.txt=丙的", "w/丙/丁/丁.md=丁的"}
            << QStringList{"根目录|<none>",          "根目录->w|<none>",   "根目录->w->丙|丙的",
                           "根目录->w->丙->丁|丁的", "根目录->w->甲|甲的", "根目录->w->甲->乙|乙的"};
        QTest::newRow("the note inside wins")
            << QStringList{"w/甲.md=旁边", "w/甲/甲.md=里面"}
            << QStringList{"根目录|<none>", "根目录->w|<none>", "根目录->w->甲|里面", "根目录->w->甲 (2)|旁边"};
        QTest::newRow("the folder's own note stays its own")
            << QStringList{"w/w.md=顶", "w/w/x.md=x"}
            << QStringList{"根目录|<none>", "根目录->w|顶", "根目录->w->w (2)|<none>", "根目录->w->w (2)->x|x"};
    }

    void importReadsEachLayout()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        QTemporaryDir in;
        for (const QString& file : files)
            Write(in.filePath(file.section('=', 0, 0)), file.section('=', 1).toUtf8());
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        TNote note;
        ImportNotesFolder(groups, note, 0, in.filePath(files.first().section('/', 0, 0)));
        QCOMPARE(Dump(), expected);
    }

    // Names every common file system takes; siblings that would share a
    // folder name get distinct ones; the note file is the folder's own name.
    void exportedNamesAreSafe_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("reserved characters") << "a/b\\c:d*e?f\"g<h>i|j"
                                             << "a／b＼c：d＊e？f＂g＜h＞i｜j";
        QTest::newRow("trailing dots and blanks") << "终. . "
                                                  << "终";
        QTest::newRow("only dots") << "..."
                                   << "_";
        QTest::newRow("leading dot") << ".hidden"
                                     << "．hidden";
        QTest::newRow("control character") << "tab\there"
                                           << "tab_here";
        QTest::newRow("device name") << "con"
                                     << "con_";
        QTest::newRow("device name with extension") << "NUL.txt"
                                                    << "NUL_.txt";
    }

    void exportedNamesAreSafe()
    {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QCOMPARE(SafeFileName(name), folder);
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        AddGroup(groups, 0, name, "x");
        QTemporaryDir out;
        ExportNotesTree(groups, 0, out.filePath("t"));
        QVERIFY(QFile::exists(out.filePath("t/" + folder + ".md")));
    }

    // Siblings that would share a name get distinct ones, also a file and a
    // folder of one name (an import would read the file as the folder's
    // note); a group named like its folder's own note becomes a folder.
    void clashingNamesAreMadeDistinct()
    {
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        AddGroup(groups, 0, "a/b", "1");
        AddGroup(groups, 0, "a／b", "2");
        AddGroup(groups, 0, "A／B", "3");
        const int x = AddGroup(groups, 0, "x", "own");
        AddGroup(groups, x, "x.md", "child");
        AddGroup(groups, x, "X", "like the own note");
        AddGroup(groups, 0, "c:d", "叶");
        AddGroup(groups, AddGroup(groups, 0, "c：d", "枝"), "子");
        QTemporaryDir out;
        ExportNotesTree(groups, 0, out.filePath("t"));
        QCOMPARE(Files(out.filePath("t")), QStringList({".jotterel-notes", "A／B (3).md", "a／b (2).md", "a／b.md",
                                                        "c：d (2)", "c：d (2)/c：d (2).md", "c：d (2)/子.md", "c：d.md",
                                                        "x", "x/X", "x/X/X.md", "x/x.md", "x/x.md.md"}));
    }

    void exportRefusesAFolderInUse()
    {
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QTemporaryDir out;
        Write(out.filePath("full/keep.txt"), "mine");
        QVERIFY(ErrorOfExport(groups, out.filePath("full")).contains("不是空的"));
        QCOMPARE(Files(out.path()), QStringList({"full", "full/keep.txt"}));
        QVERIFY(QDir().mkpath(out.filePath("empty")));
        ExportNotesTree(groups, 0, out.filePath("empty"));
        QCOMPARE(Files(out.filePath("empty")), QStringList({".jotterel-notes"}));
    }

    // Each folder a group, each file a group with its text; names already
    // in the tree get " (2)" and are reported; other files are passed by,
    // hidden ones named; a whole tree's root note goes to the empty group.
    void importFolderOfFiles()
    {
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        const int target = AddGroup(groups, 0, "收件");
        AddGroup(groups, 0, "想法");
        QTemporaryDir in;
        Write(in.filePath("资料/想法.md"), "\xEF\xBB\xBFline1\nline2\r\n");
        Write(in.filePath("资料/待办.TXT"), "买菜");
        Write(in.filePath("资料/子/子.md"), "own note");
        Write(in.filePath("资料/子/图.png"), "\x89PNG");
        Write(in.filePath("资料/.git/config"), "x");
        TNote note;
        const TImportReport report = ImportNotesFolder(groups, note, target, in.filePath("资料"));
        QCOMPARE(Dump(),
                 QStringList({"根目录|<none>", "根目录->收件|<none>", "根目录->收件->资料|<none>",
                              "根目录->收件->资料->待办|买菜", "根目录->收件->资料->想法 (2)|line1\r\nline2\r\n",
                              "根目录->收件->资料->子|own note", "根目录->想法|<none>"}));
        QCOMPARE(report.Groups, 4);
        QCOMPARE(report.Items, 3);
        QCOMPARE(report.Renamed, QStringList({"想法 → 想法 (2)"}));
        QCOMPARE(report.Text("条记事"),
                 QString("已导入 4 个分组、3 条记事。\n1 个分组的名称已经存在，已改名：\n想法 → 想法 (2)\n"
                         "跳过了 1 个文件或文件夹：\n资料/.git（隐藏）"));
    }

    void wholeTreeRootNoteFillsAnEmptyGroupOnly_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty root") << QString() << QStringList({"根目录|导出的首页", "根目录->甲|<none>"});
        QTest::newRow("root with a note")
            << "已有" << QStringList({"根目录|已有", "根目录->根目录 (2)|导出的首页", "根目录->甲|<none>"});
    }

    void wholeTreeRootNoteFillsAnEmptyGroupOnly()
    {
        QFETCH(QString, existing);
        QFETCH(QStringList, expected);
        if (!existing.isEmpty()) {
            TNote root;
            root.ReMark = existing;
            root.InsertNote();
        }
        QTemporaryDir in;
        Write(in.filePath("any/根目录.md"), "导出的首页");
        QVERIFY(QDir().mkpath(in.filePath("any/甲")));
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        TNote note;
        ImportNotesFolder(groups, note, 0, in.filePath("any"));
        QCOMPARE(Dump(), expected);
    }

    // A file that is not UTF-8 is read as GB18030 when all of it decodes as
    // such, and named in the report; one that is neither stops the import.
    void importReadsUtf8OrGb18030_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text"); // null: refused
        QTest::addColumn<bool>("converted");
        QTest::newRow("UTF-8") << QByteArray("中文") << "中文" << false;
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF中文") << "中文" << false;
        QTest::newRow("GBK") << QByteArray("\xC4\xE3\xBA\xC3\r\n") << "你好\r\n" << true;
        QTest::newRow("GB18030 beyond GBK")
            << QByteArray("\x95\x32\x82\x36") << QString::fromUcs4(U"\U00020000") << true;
        QTest::newRow("GB18030 cut short") << QByteArray("\xC4\xE3\xBA") << QString() << false;
    }

    void importReadsUtf8OrGb18030()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(bool, converted);
        QTemporaryDir in;
        Write(in.filePath("导入/a.md"), "好的");
        Write(in.filePath("导入/z.txt"), bytes);
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        TNote note;
        TImportReport report;
        QString raised;
        try {
            report = ImportNotesFolder(groups, note, 0, in.filePath("导入"));
        } catch (const EError& e) {
            raised = e.Message();
        }
        if (text.isNull()) {
            QVERIFY2(raised.contains("既不是 UTF-8 也不是 GB18030") && raised.contains("z.txt"), qPrintable(raised));
            QCOMPARE(Dump(), QStringList({"根目录|<none>"}));
            return;
        }
        QCOMPARE(Dump().last(), "根目录->导入->z|" + text);
        QCOMPARE(report.Text("条记事").contains("GB18030（中文 Windows 的编码）读入：\n导入/z.txt"), converted);
    }

    // A file that is not UTF-8 text, or a cancel at the last moment: nothing
    // is imported, the table and the groups in memory are as before.
    void failedImportChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("error");
        QTest::newRow("UTF-16 text") << QByteArray("\xFF\xFEh\0i\0", 6) << false << "不是 UTF-8";
        QTest::newRow("cancelled") << QByteArray("fine") << true << "已取消";
    }

    void failedImportChangesNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, cancel);
        QFETCH(QString, error);
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        AddGroup(groups, 0, "原有", "原文");
        QTemporaryDir in;
        Write(in.filePath("导入/a.md"), "好的");
        Write(in.filePath("导入/z/zz.txt"), bytes);
        const QStringList before = Dump();
        TNote note;
        const TProgress progress = [cancel](qint64 done, qint64 total) { return !(cancel && done == total); };
        QString raised;
        try {
            ImportNotesFolder(groups, note, 0, in.filePath("导入"), progress);
        } catch (const EError& e) {
            raised = e.Message();
        }
        QVERIFY2(raised.contains(error), qPrintable(raised));
        QCOMPARE(Dump(), before);
        QCOMPARE(groups.Count(), 1);
        QVERIFY(!groups.NameExists("导入"));
    }

    // What an import cannot or should not read is passed by and named, with
    // why, in the closing report; the rest comes in. A file over the limit
    // is measured, never read.
    void passedByEntriesAreListed()
    {
        QTemporaryDir in;
        const QString top = in.filePath("收件");
        Write(top + "/好.md", "好的");
        Write(top + "/.隐藏.md", "x");
        Write(top + "/子/子.md", "子的");
        QVERIFY(QFile::link(top + "/好.md", top + "/链接.md"));
        QVERIFY(QFile::link(top + "/子", top + "/环"));
        QCOMPARE(::mkfifo(QFile::encodeName(top + "/管道.md").constData(), 0600), 0);
        Write(top + "/大.md", "");
        QVERIFY(QFile::resize(top + "/大.md", MaxNoteBytes + 1));
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        TNote note;
        const TImportReport report = ImportNotesFolder(groups, note, 0, top);
        QCOMPARE(Dump(), QStringList({"根目录|<none>", "根目录->收件|<none>", "根目录->收件->好|好的",
                                      "根目录->收件->子|子的"}));
        QCOMPARE(report.Skipped,
                 QStringList({"收件/.隐藏.md（隐藏）", "收件/大.md（超过 10 MB）", "收件/管道.md（不是普通文件）",
                              "收件/环（符号链接）", "收件/链接.md（符号链接）"}));
        QVERIFY(report.Text("条记事").endsWith("跳过了 5 个文件或文件夹：\n" + report.Skipped.join('\n')));
    }

    // A tree deeper than any folder path can hold: the Markdown file grows
    // with the number of groups, not with its square, and the folder export
    // fails saying why and leaves nothing behind.
    void deepTreesExportInProportion()
    {
        constexpr int kDepth = 10000;
        char* error = nullptr;
        const QByteArray rows =
            QString("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<%1) "
                    "INSERT INTO NoteType(SelfIndex,ParentIndex,TypeName) SELECT i, i-1, '层' FROM n")
                .arg(kDepth)
                .toUtf8();
        QCOMPARE(sqlite3_exec(DbAccess->Handle(), rows.constData(), nullptr, nullptr, &error), SQLITE_OK);
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        QTemporaryDir out;
        QCOMPARE(ExportNotesMarkdown(groups, 0, out.filePath("deep.md")).Groups, kDepth);
        QVERIFY2(QFileInfo(out.filePath("deep.md")).size() < 40 * kDepth,
                 qPrintable(QString::number(QFileInfo(out.filePath("deep.md")).size())));
        QVERIFY(ErrorOfExport(groups, out.filePath("tree")).contains("层次太深"));
        QCOMPARE(Files(out.path()), QStringList({"deep.md"}));
    }

private:
    static QString ErrorOfExport(const TGroupTable& groups, const QString& target)
    {
        try {
            ExportNotesTree(groups, 0, target);
        } catch (const EError& e) {
            return e.Message();
        }
        return QString();
    }
};

JOTTEREL_STORE_TEST_MAIN(TestNoteTransfer)
#include "test_notetransfer.moc"
