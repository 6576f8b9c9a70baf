#include "app/Backup.h"
#include "bookmarks/UntIE.h"
#include "data/MD.h"
#include "exchange/BookmarkFile.h"
#include "exchange/NoteTransfer.h"
#include "groups/GroupTableStore.h"
#include "support/StoreTest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <functional>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// As Firefox writes it: links at the top (the menu), the toolbar folder,
// attributes of every kind, a multi-line meta tag, no <p> after the last list.
const char* const kFirefox =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<!-- This is an automatically generated file.\n"
    "     It will be read and overwritten.\n"
    "     DO NOT EDIT! -->\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\"\n"
    "      content=\"default-src 'self'; script-src 'none'; img-src data: *; object-src 'none'\"></meta>\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks Menu</H1>\n"
    "\n"
    "<DL><p>\n"
    "    <DT><A HREF=\"https://www.mozilla.org/en-US/firefox/central/\" ADD_DATE=\"1700000000\" "
    "LAST_MODIFIED=\"1700000001\" ICON_URI=\"fake-favicon-uri:https://www.mozilla.org/en-US/firefox/central/\" "
    "ICON=\"data:image/png;base64,iVBORw0KGgo=\">Getting Started</A>\n"
    "    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000002\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks "
    "Toolbar</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://example.com/?a=1&amp;b=2\" ADD_DATE=\"1700000000\" SHORTCUTURL=\"ex\" "
    "TAGS=\"x,y\">Tom &amp; Jerry&#39;s &lt;page&gt; &#x4E2D;</A>\n"
    "        <DD>A description &quot;quoted&quot;\n"
    "        <DT><H3 ADD_DATE=\"1\">Empty</H3>\n"
    "        <DL><p>\n"
    "        </DL><p>\n"
    "    </DL><p>\n"
    "    <HR>\n"
    "    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000003\" UNFILED_BOOKMARKS_FOLDER=\"true\">Other "
    "Bookmarks</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://no-title.example/\" ADD_DATE=\"1700000000\"></A>\n"
    "    </DL><p>\n"
    "</DL>\n";

// As Chromium (Chrome, Edge) writes it: everything in the bar and the other folder.
const char* const kChromium =
    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
    "<!-- This is an automatically generated file.\n"
    "     It will be read and overwritten.\n"
    "     DO NOT EDIT! -->\n"
    "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
    "<TITLE>Bookmarks</TITLE>\n"
    "<H1>Bookmarks</H1>\n"
    "<DL><p>\n"
    "    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000000\" PERSONAL_TOOLBAR_FOLDER=\"true\">书签栏</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://www.google.com/\" ADD_DATE=\"1700000000\" "
    "ICON=\"data:image/png;base64,AAAA\">Google</A>\n"
    "        <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"0\">工作</H3>\n"
    "        <DL><p>\n"
    "            <DT><A HREF=\"https://example.cn/a?x=1&amp;y=&quot;2&quot;\" ADD_DATE=\"1700000000\">例子 &amp; "
    "测试</A>\n"
    "        </DL><p>\n"
    "    </DL><p>\n"
    "    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"0\">其他书签</H3>\n"
    "    <DL><p>\n"
    "        <DT><A HREF=\"https://github.com/\" ADD_DATE=\"1700000000\"></A>\n"
    "    </DL><p>\n"
    "</DL><p>\n";

// Links at the top and in a folder named like a group of the tree.
const char* const kDuplicates = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                                "<DL><p>\n"
                                "<DT><A HREF=\"HTTPS://example.COM\">already at the top</A>\n"
                                "<DT><A HREF=\"https://100%_sure.example/\">in another group</A>\n"
                                "<DT><A HREF=\"\">no address</A>\n"
                                "<DT><H3>工作</H3>\n"
                                "<DL><p>\n"
                                "<DT><A HREF=\"https://a.example/\">a</A>\n"
                                "<DT><A HREF=\"https://A.example\">a again</A>\n"
                                "</DL><p>\n"
                                "</DL><p>";

// The bookmark tree: "path" for a group, "path|title|address|remark" for a
// bookmark, groups in the tree's order, each followed by its bookmarks.
QStringList Dump()
{
    TGroupTable groups("IEType", "全部");
    groups.Load();
    QStringList lines;
    std::function<void(int)> walk = [&](int group) {
        lines << groups.PathText(group);
        const auto set = DbAccess->Query(QString("select * from IE where TypeID=%1 order by ID").arg(group));
        for (; !set->Eof(); set->Next())
            lines << QString("%1|%2|%3|%4")
                         .arg(groups.PathText(group), set->AsString("IEName"), set->AsString("IEUrl"),
                              set->AsString("ReMark"));
        for (int child : groups.Children(group))
            walk(child);
    };
    walk(0);
    return lines;
}

QString WriteTemp(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath("bookmarks.html");
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

// A file of folders, all named 新建文件夹: side by side, or each in the one before.
QByteArray SameNamedFolders(int count, bool nested)
{
    QByteArray text = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
    const QByteArray folder = "<DT><H3>新建文件夹</H3>\n<DL><p>\n";
    text += nested ? folder.repeated(count) + QByteArray("</DL><p>\n").repeated(count)
                   : (folder + "</DL><p>\n").repeated(count);
    return text + "</DL><p>\n";
}

bool IsLinkOrData(const QString& path)
{
    struct stat info = {};
    const bool hardLink = ::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_nlink > 1;
    return hardLink || QFileInfo(path).isSymLink() || QFileInfo(path).fileName().startsWith("bookkeep.dat") ||
           QFileInfo(path).fileName().startsWith("tmpData");
}

// A folder shown at a second place for the test's time, as a bind mount
// does it (which needs root's rights).
struct TBindMount
{
    TBindMount(const QString& from, const QString& at) : At(at)
    {
        Mounted = ::mount(QFile::encodeName(from).constData(), QFile::encodeName(at).constData(), nullptr, MS_BIND,
                          nullptr) == 0;
    }
    ~TBindMount()
    {
        if (Mounted)
            ::umount2(QFile::encodeName(At).constData(), MNT_DETACH);
    }
    QString At;
    bool Mounted = false;
};

QByteArray FileHash(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A file of tests/exchange/data.
QByteArray DataFile(const QString& name)
{
    QFile file(QString(JOTTEREL_TESTS_DIR) + "/exchange/data/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lists of a bookmark file without their whitespace: what a browser
// reads of it. The header before them is the program's own.
QByteArray Lists(QByteArray text)
{
    text = text.mid(text.indexOf("<DL>"));
    text.truncate(text.lastIndexOf("</DL>") + 5);
    text.replace(' ', "").replace('\n', "");
    return text;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TImportReport Import(const QString& path, int parent = 0, const TProgress& progress = {})
{
    TGroupTable groups("IEType", "全部");
    groups.Load();
    return ImportBookmarkFile(groups, parent, path, progress);
}
} // namespace

class TestBookmarkFile : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    // The browsers' files, read; then written by the program and read into
    // a fresh profile: the same tree both times.
    void browserFilesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<int>("groups");
        QTest::newRow("Firefox") << QByteArray(kFirefox)
                                 << QStringList({"全部",
                                                 "全部|Getting Started|https://www.mozilla.org/en-US/firefox/central/|",
                                                 "全部->Bookmarks Toolbar",
                                                 "全部->Bookmarks Toolbar|Tom & Jerry's <page> 中|"
                                                 "https://example.com/?a=1&b=2|A description \"quoted\"",
                                                 "全部->Bookmarks Toolbar->Empty", "全部->Other Bookmarks",
                                                 "全部->Other Bookmarks||https://no-title.example/|"})
                                 << 3;
        QTest::newRow("Chromium") << QByteArray(kChromium)
                                  << QStringList({"全部", "全部->书签栏",
                                                  "全部->书签栏|Google|https://www.google.com/|", "全部->书签栏->工作",
                                                  "全部->书签栏->工作|例子 & 测试|https://example.cn/a?x=1&y=\"2\"|",
                                                  "全部->其他书签", "全部->其他书签||https://github.com/|"})
                                  << 3;
    }

    void browserFilesRoundTrip()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, tree);
        QFETCH(int, groups);
        QTemporaryDir dir;
        const TImportReport report = Import(WriteTemp(dir, file));
        QCOMPARE(Dump(), tree);
        QCOMPARE(report.Groups, groups);
        QCOMPARE(report.Items, 3);
        TGroupTable stored("IEType", "全部");
        stored.Load();
        const QString exported = dir.filePath("out.html");
        QCOMPARE(ExportBookmarkFile(stored, exported), std::make_pair(groups, 3));
        env.reset();
        env = std::make_unique<TStoreEnv>();
        Import(exported);
        QCOMPARE(Dump(), tree);
    }

    // A browser's file, imported and exported again, differs only in
    // whitespace: dates, icons, tags, keywords, descriptions, separators, the
    // toolbar mark and the order of links and folders come back.
    void browserFileComesBackWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("icons");
        QTest::newRow("Firefox") << "firefox.html" << 3;
        QTest::newRow("Chromium") << "chromium.html" << 2;
    }

    void browserFileComesBackWhole()
    {
        QFETCH(QString, name);
        QFETCH(int, icons);
        const QByteArray original = DataFile(name);
        QVERIFY(!original.isEmpty());
        QTemporaryDir dir;
        Import(WriteTemp(dir, original));
        QCOMPARE(DbAccess->GetIntValue("select count(*) from SiteIcon"), icons);
        TGroupTable groups("IEType", "全部");
        groups.Load();
        ExportBookmarkFile(groups, dir.filePath("out.html"));
        QCOMPARE(QString::fromUtf8(Lists(ReadAll(dir.filePath("out.html")))), QString::fromUtf8(Lists(original)));
    }

    // Bookmarks and groups added after an import follow the file's items,
    // links before folders.
    void laterItemsFollowTheFilesOrder()
    {
        QTemporaryDir dir;
        Import(WriteTemp(dir, DataFile("chromium.html")));
        TGroupTable groups("IEType", "全部");
        groups.Load();
        groups.Add(0, "新分组");
        TIE ie;
        ie.IEUrl = "https://later.example/";
        ie.IEName = "后来";
        ie.InsertIE();
        ExportBookmarkFile(groups, dir.filePath("out.html"));
        const QByteArray lists = Lists(ReadAll(dir.filePath("out.html")));
        const qsizetype other = lists.indexOf(QByteArray("其他书签</H3>"));
        const qsizetype later = lists.indexOf("https://later.example/");
        const qsizetype added = lists.indexOf(QByteArray("新分组</H3>"));
        QVERIFY(other >= 0 && later > other && added > later);
    }

    void namedEntities_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("read");
        QTest::newRow("common") << "&copy; &nbsp;&hellip; &mdash;" << QString::fromUtf8("© \u00a0… —");
        QTest::newRow("case counts") << "&Aacute;&aacute;&AMP;" << QString::fromUtf8("Áá&");
        QTest::newRow("two characters") << "&NotNestedLessLess;" << QString::fromUtf8("\u2aa1\u0338");
        QTest::newRow("longest name") << "&CounterClockwiseContourIntegral;" << QString::fromUtf8("\u2233");
        QTest::newRow("numbers") << "&#20013;&#x6587;&#X41;" << QString::fromUtf8("中文A");
        QTest::newRow("unknown or open kept") << "&nosuch; &copy &;"
                                              << "&nosuch; &copy &;";
    }

    void namedEntities()
    {
        QFETCH(QString, written);
        QFETCH(QString, read);
        const QString file = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"https://e.example/\">" +
                             written + "</A>\n</DL><p>\n";
        const TBookmarkTree tree = ParseBookmarkFile(file, "x.html");
        QCOMPARE(tree.Items.size(), size_t(1));
        QCOMPARE(tree.Items[0].Title, read);
    }

    // Importing a browser's file again merges: only new folders and
    // addresses are added, also into groups whose names the first import
    // had to number.
    void reimportMerges_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("taken"); // a group's name elsewhere in the tree before the first import
        QTest::addColumn<int>("groups");
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("merged");
        QTest::addColumn<int>("duplicates");
        const QByteArray chromium = DataFile("chromium.html");
        QTest::newRow("same file twice") << chromium << chromium << "" << 0 << 0 << 4 << 5;
        QByteArray three = chromium;
        three.replace("<DT><A HREF=\"https://github.com/\"",
                      "<DT><A HREF=\"https://new1.example/\">新一</A>\n<DT><A HREF=\"https://github.com/\"");
        three.replace("<DT><A HREF=\"https://meet.example.cn/\"",
                      "<DT><A HREF=\"https://new2.example/\">新二</A>\n<DT><A HREF=\"https://meet.example.cn/\"");
        three.replace("</DL><p>\n</DL><p>\n", "<DT><A HREF=\"https://new3.example/\">新三</A>\n</DL><p>\n</DL><p>\n");
        QTest::newRow("three new addresses") << chromium << three << "" << 0 << 3 << 4 << 5;
        QTest::newRow("name taken elsewhere") << chromium << chromium << "会议" << 0 << 0 << 4 << 5;
        const QByteArray twins = SameNamedFolders(2, false).replace(
            "</DL><p>\n<DT>", "<DT><A HREF=\"https://t.example/\">t</A>\n</DL><p>\n<DT>");
        QTest::newRow("two folders of one name") << twins << twins << "" << 0 << 0 << 2 << 1;
        QByteArray folder = chromium;
        folder.replace("</DL><p>\n</DL><p>\n",
                       "<DT><H3>新文件夹</H3>\n<DL><p>\n<DT><A "
                       "HREF=\"https://www.google.com/\">G</A>\n</DL><p>\n</DL><p>\n</DL><p>\n");
        QTest::newRow("a new folder") << chromium << folder << "" << 1 << 1 << 4 << 5;
    }

    void reimportMerges()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QString, taken);
        QFETCH(int, groups);
        QFETCH(int, items);
        QFETCH(int, merged);
        QFETCH(int, duplicates);
        TGroupTable tree("IEType", "全部");
        tree.Load();
        if (!taken.isEmpty())
            tree.Add(tree.Add(0, "别处"), taken);
        QTemporaryDir dir;
        const QString under = tree.PathText(tree.Add(0, "导入"));
        const int target = tree.MaxSelfIndex();
        Import(WriteTemp(dir, first), target);
        const QStringList before = Dump();
        const TImportReport report = Import(WriteTemp(dir, second), target);
        QCOMPARE(report.Groups, groups);
        QCOMPARE(report.Items, items);
        QCOMPARE(report.Merged, merged);
        QCOMPARE(report.Duplicates, duplicates);
        const QStringList after = Dump();
        QStringList added = after;
        for (const QString& line : before)
            added.removeOne(line);
        QCOMPARE(added.size(), groups + items);
        QCOMPARE(after.size(), before.size() + groups + items);
        for (const QString& line : added)
            QVERIFY2(line.startsWith(under + "->"), qPrintable(line));
    }

    // Entities are written where a browser needs them.
    void exportEscapesText()
    {
        TGroupTable groups("IEType", "全部");
        groups.Load();
        TIE ie;
        ie.TypeID = groups.Add(0, "A & <B>");
        ie.IEUrl = "https://x.example/?q=\"1\"&r='2'";
        ie.IEName = "<script>";
        ie.InsertIE();
        QTemporaryDir dir;
        ExportBookmarkFile(groups, dir.filePath("b.html"));
        QFile file(dir.filePath("b.html"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"));
        QVERIFY(text.contains("<DT><H3>A &amp; &lt;B&gt;</H3>"));
        QVERIFY(
            text.contains("<DT><A HREF=\"https://x.example/?q=&quot;1&quot;&amp;r=&#39;2&#39;\">&lt;script&gt;</A>"));
    }

    void comparableUrl_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("scheme and host case, slash, blanks") << " HTTPS://WWW.Example.COM/ "
                                                             << "https://www.example.com" << true;
        QTest::newRow("path case counts") << "https://example.com/A"
                                          << "https://example.com/a" << false;
        QTest::newRow("query case counts") << "https://example.com?Q"
                                           << "https://example.com?q" << false;
        QTest::newRow("user part keeps case") << "ftp://Bob@HOST/"
                                              << "ftp://bob@host" << false;
        QTest::newRow("without scheme") << "WWW.Example.com/Path/"
                                        << "www.example.com/Path" << true;
        QTest::newRow("other scheme") << "mailto:Bob@Example.com"
                                      << "mailto:bob@example.com" << false;
    }

    void comparableUrl()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(ComparableUrl(a) == ComparableUrl(b), same);
    }

    // The add and modify dialogs ask about an address stored anywhere; the
    // import skips one stored in the same group only, and renames a folder
    // whose name is taken elsewhere in the tree.
    void duplicateAddresses()
    {
        TGroupTable groups("IEType", "全部");
        groups.Load();
        const int work = groups.Add(groups.Add(0, "部门"), "工作");
        TIE ie;
        ie.IEUrl = "https://Example.com/";
        ie.InsertIE();
        ie.TypeID = work;
        ie.IEUrl = "https://100%_sure.example/";
        ie.InsertIE();
        QCOMPARE(ie.FindAddress("HTTPS://EXAMPLE.COM"), 0);
        QCOMPARE(ie.FindAddress("https://100%_SURE.example"), work);
        QCOMPARE(ie.FindAddress("https://100x_sure.example"), -1);
        QCOMPARE(ie.FindAddress("https://example.com/", 1), -1);

        QTemporaryDir dir;
        const TImportReport report = Import(WriteTemp(dir, kDuplicates));
        QCOMPARE(report.Duplicates, 2);
        QCOMPARE(report.WithoutAddress, 1);
        QCOMPARE(report.Items, 2);
        QCOMPARE(report.Renamed, QStringList({"工作 → 工作 (2)"}));
        QCOMPARE(report.Text("个网址"), QString("已导入 1 个分组、2 个网址。\n1 个分组的名称已经存在，已改名：\n"
                                                "工作 → 工作 (2)\n跳过了 2 个同一分组中已有的网址。\n"
                                                "跳过了 1 个没有网址的链接。"));
        QCOMPARE(Dump().filter("工作 (2)|"), QStringList({"全部->工作 (2)|a|https://a.example/|"}));
    }

    // A file that is not a bookmark file, is damaged or not UTF-8, or an
    // import cancelled: nothing is imported and the groups stay as they were.
    void badInputChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<QString>("error");
        const QByteArray chromium(kChromium);
        QTest::newRow("web page") << QByteArray("<html><body><a href='x'>x</a></body></html>") << false
                                  << "不是浏览器导出的书签文件";
        QTest::newRow("cut between lists")
            << chromium.left(chromium.indexOf("    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"0\">其他")) << false
            << "没有结束";
        QTest::newRow("cut in a title") << chromium.left(chromium.indexOf("Google") + 3) << false << "已损坏";
        QTest::newRow("GBK title") << QByteArray(kChromium).replace("Google", "\xB9\xC8\xB8\xE8") << false
                                   << "不是 UTF-8";
        QTest::newRow("cancelled") << chromium << true << "已取消";
    }

    void badInputChangesNothing()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, cancel);
        QFETCH(QString, error);
        TGroupTable groups("IEType", "全部");
        groups.Load();
        TIE ie;
        ie.TypeID = groups.Add(0, "原有");
        ie.IEUrl = "https://kept.example/";
        ie.InsertIE();
        const QStringList before = Dump();
        QTemporaryDir dir;
        const TProgress progress = [cancel](qint64 done, qint64 total) { return !(cancel && done == total); };
        QString raised;
        try {
            ImportBookmarkFile(groups, 0, WriteTemp(dir, file), progress);
        } catch (const EError& e) {
            raised = e.Message();
        }
        QVERIFY2(raised.contains(error), qPrintable(raised));
        QCOMPARE(Dump(), before);
        QCOMPARE(groups.Count(), 1);
    }

    // Whatever the user picks, no export and no backup writes the data file,
    // a file beside it that the program keeps or an automatic backup, also
    // through a link, a hard link or a bind mount of the data folder; a file
    // of the same name elsewhere, or another name beside it, is fine.
    void exportsRefuseTheProgramsFiles_data()
    {
        QTest::addColumn<QString>("target"); // in the data folder, "*" a folder beside it, "@" the data folder mounted
        QTest::addColumn<QString>("linkedTo"); // when the target is a link made to this ("=": a hard link)
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("backupRefused"); // a backup's name gets ".bat" where it has none
        QTest::newRow("data file") << "bookkeep.dat"
                                   << "" << true << false;
        QTest::newRow("journal") << "bookkeep.dat-journal"
                                 << "" << true << false;
        QTest::newRow("WAL") << "bookkeep.dat-wal"
                             << "" << true << false;
        QTest::newRow("shared memory") << "bookkeep.dat-shm"
                                       << "" << true << false;
        QTest::newRow("lock") << "bookkeep.lock"
                              << "" << true << false;
        QTest::newRow("upgrade copy") << "bookkeep.dat.v12"
                                      << "" << true << false;
        QTest::newRow("restore's staged copy") << "bookkeep.dat.part"
                                               << "" << true << false;
        QTest::newRow("record of the clean exit") << "bookkeep.dat.verified"
                                                  << "" << true << false;
        QTest::newRow("safety copy") << "tmpData.bat"
                                     << "" << true << true;
        QTest::newRow("link to the data file") << "*/export.bat"
                                               << "bookkeep.dat" << true << true;
        QTest::newRow("link to a journal not there yet") << "*/export.bat"
                                                         << "bookkeep.dat-journal" << true << true;
        QTest::newRow("through a linked folder") << "*/linked/bookkeep.dat"
                                                 << "." << true << false;
        QTest::newRow("hard link to the data file") << "*/copy.bat"
                                                    << "=bookkeep.dat" << true << true;
        QTest::newRow("data folder mounted elsewhere") << "@/bookkeep.dat"
                                                       << "" << true << false;
        QTest::newRow("journal through the mount") << "@/bookkeep.dat-journal"
                                                   << "" << true << false;
        QTest::newRow("safety copy through the mount") << "@/tmpData.bat"
                                                       << "" << true << true;
        QTest::newRow("an automatic backup") << "backups/bookkeep-2026-03-01.bat"
                                             << "" << true << true;
        QTest::newRow("a backup through a linked folder") << "*/linked/bookkeep-2026-03-01.bat"
                                                          << "backups" << true << true;
        QTest::newRow("same name elsewhere") << "*/bookkeep.dat"
                                             << "" << false << false;
        QTest::newRow("another name among the backups") << "backups/notes.bat"
                                                        << "" << false << false;
        QTest::newRow("another name beside it") << "bookkeep.dat.html"
                                                << "" << false << false;
    }

    void exportsRefuseTheProgramsFiles()
    {
        QFETCH(QString, target);
        QFETCH(QString, linkedTo);
        QFETCH(bool, refused);
        QFETCH(bool, backupRefused);
        TGroupTable groups("IEType", "全部");
        groups.Load();
        groups.Add(0, "工作");
        TGroupTable notes("NoteType", "根目录");
        notes.Load();
        QTemporaryDir beside;
        QVERIFY(QDir().mkpath(env->Path("backups")));
        target.replace("*", beside.path());
        std::optional<TBindMount> mount;
        if (target.startsWith("@")) {
            mount.emplace(env->Dir.path(), beside.path());
            if (!mount->Mounted)
                QSKIP("mounting a folder needs root's rights");
            target.replace("@", beside.path());
        }
        const QString path = QDir(env->Dir.path()).filePath(target);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (linkedTo.startsWith("=")) {
            QVERIFY(::link(QFile::encodeName(env->Path(linkedTo.mid(1))).constData(),
                           QFile::encodeName(path).constData()) == 0);
        } else if (!linkedTo.isEmpty()) {
            const QString link = QFileInfo(env->Path(linkedTo)).isDir() ? QFileInfo(path).absolutePath() : path;
            QDir().rmdir(link);
            QVERIFY(QFile::link(env->Path(linkedTo), link));
        }
        const QByteArray data = FileHash(env->Path("bookkeep.dat"));
        const std::pair<std::function<void()>, bool> writers[] = {
            {[&] { ExportBookmarkFile(groups, path); }, refused},
            {[&] { ExportNotesMarkdown(notes, 0, path); }, refused},
            {[&] { ExportNotesTree(notes, 0, path); }, refused},
            {[&] { DbBackup(BackupFileName(path)); }, backupRefused}};
        for (const auto& [write, refuses] : writers) {
            QString raised;
            try {
                write();
            } catch (const EError& e) {
                raised = e.Message();
            }
            QVERIFY2(raised.contains("本程序的数据文件") == refuses, qPrintable(raised));
            QCOMPARE(FileHash(env->Path("bookkeep.dat")), data);
            // The next writer finds nothing in its way.
            for (const QString& written : {path, path + ".bat"})
                if (!IsLinkOrData(written))
                    QFileInfo(written).isDir() ? QDir(written).removeRecursively() : QFile::remove(written);
        }
        QVERIFY(!QFileInfo::exists(env->Path("bookkeep.dat-journal")));
        QCOMPARE(DbAccess->GetIntValue("select count(*) from IEType"), 1);
    }

    // Files made to hurt: the work grows with the file, not with its square,
    // and a deep tree goes out and comes back whole. While the file is read
    // no transaction is open yet, so the window's tick may run meanwhile.
    void hostileFilesAreReadInProportion_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("size"); // of an empty file made instead, when not 0
        QTest::addColumn<int>("groups");
        QTest::addColumn<int>("links");
        QTest::addColumn<QString>("error");
        QTest::newRow("4,000 folders of one name") << SameNamedFolders(4000, false) << qint64(0) << 4000 << 0 << "";
        QTest::newRow("20,000 folders nested") << SameNamedFolders(20000, true) << qint64(0) << 20000 << 0 << "";
        QTest::newRow("titles never closed")
            << QByteArray("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n<DT><A HREF=\"https://a.example/\">a\n"
                          "<DT><H3>b<DL><p>\n<DT><A HREF=\"https://c.example/\">c</A>\n</DL><p>\n</DL><p>\n")
            << qint64(0) << 1 << 2 << "";
        QTest::newRow("over the limit") << QByteArray() << MaxBookmarkFileBytes + 1 << 0 << 0 << "文件太大";
    }

    void hostileFilesAreReadInProportion()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, size);
        QFETCH(int, groups);
        QFETCH(int, links);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = WriteTemp(dir, file);
        if (size > 0) // sparse: no disk is used
            QVERIFY(QFile::resize(path, size));
        bool heardBeforeWriting = false;
        const TProgress progress = [&](qint64, qint64) {
            heardBeforeWriting = heardBeforeWriting || sqlite3_get_autocommit(DbAccess->Handle()) != 0;
            return true;
        };
        QString raised;
        try {
            const TImportReport report = Import(path, 0, progress);
            QCOMPARE(report.Groups, groups);
            QCOMPARE(report.Items, links);
        } catch (const EError& e) {
            raised = e.Message();
        }
        QVERIFY2(error.isEmpty() ? raised.isEmpty() : raised.contains(error), qPrintable(raised));
        QVERIFY(heardBeforeWriting);
        TGroupTable stored("IEType", "全部");
        stored.Load();
        QCOMPARE(stored.Count(), groups);
        if (groups == 0)
            return;
        QVERIFY(stored.NameExists(groups == 1 ? "b" : QString("新建文件夹 (%1)").arg(groups)));
        const QString exported = dir.filePath("out.html");
        ExportBookmarkFile(stored, exported);
        QVERIFY2(QFileInfo(exported).size() < 8 * file.size(), qPrintable(QString::number(QFileInfo(exported).size())));
        env.reset();
        env = std::make_unique<TStoreEnv>();
        QCOMPARE(Import(exported).Groups, groups);
    }
};

JOTTEREL_STORE_TEST_MAIN(TestBookmarkFile)
#include "test_bookmarkfile.moc"
