#include "bookmarks/UntIE.h"
#include "data/MD.h"
#include "groups/GroupTableStore.h"
#include "links/LinkStore.h"
#include "support/StoreTest.h"

#include <QBuffer>
#include <QImage>
#include <memory>

namespace {
QByteArray Image(int width, int height, const char* format)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

qint64 AddBookmark(int group, const QString& url)
{
    TIE ie;
    ie.TypeID = group;
    ie.IEUrl = url;
    ie.IEName = url;
    ie.InsertIE();
    return DbGetIntValue("select max(ID) from IE");
}

TLinkOutcome Outcome(TLinkResult result, int code, const QString& newUrl = QString())
{
    TLinkOutcome outcome;
    outcome.Result = result;
    outcome.Code = code;
    outcome.NewUrl = newUrl;
    return outcome;
}

QString StoredUrl(qint64 id)
{
    const std::unique_ptr<TDataSet> set = DbAccess->Query(QString("select IEUrl from IE where ID=%1").arg(id));
    return set->AsString(0);
}
} // namespace

class TestLinkStore : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    void checkable_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("url");
        QTest::newRow("https") << " https://example.com/a?b=1 "
                               << "https://example.com/a?b=1";
        QTest::newRow("no scheme") << "example.com/x"
                                   << "http://example.com/x";
        QTest::newRow("host and port") << "example.com:8080/x"
                                       << "http://example.com:8080/x";
        QTest::newRow("ftp") << "ftp://example.com/f"
                             << "";
        QTest::newRow("mail") << "mailto:a@example.com"
                              << "";
        QTest::newRow("script") << "javascript:alert(1)"
                                << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void checkable()
    {
        QFETCH(QString, address);
        QFETCH(QString, url);
        QCOMPARE(CheckableUrl(address).toString(), url);
    }

    void looksGone_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("final");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("gone");
        QTest::newRow("plain page") << "http://a.cn/p"
                                    << "http://a.cn/p"
                                    << "新闻" << false;
        QTest::newRow("deep page sent to the root") << "http://a.cn/p/1"
                                                    << "https://a.cn/"
                                                    << "首页" << true;
        QTest::newRow("root to root over https") << "http://a.cn"
                                                 << "https://a.cn/"
                                                 << "首页" << false;
        QTest::newRow("deep page sent elsewhere") << "http://a.cn/p"
                                                  << "http://a.cn/q"
                                                  << "Q" << false;
        QTest::newRow("title 404") << "http://a.cn/p"
                                   << "http://a.cn/p"
                                   << "Error 404" << true;
        QTest::newRow("a number holding 404") << "http://a.cn/p"
                                              << "http://a.cn/p"
                                              << "第14045期" << false;
        QTest::newRow("Not Found") << "http://a.cn/p"
                                   << "http://a.cn/p"
                                   << "Page not  found" << true;
        QTest::newRow("页面不存在") << "http://a.cn/p"
                                    << "http://a.cn/p"
                                    << "抱歉，页面不存在" << true;
    }
    void looksGone()
    {
        QFETCH(QString, asked);
        QFETCH(QString, final);
        QFETCH(QString, title);
        QFETCH(bool, gone);
        QCOMPARE(LooksGone(QUrl(asked), QUrl(final), title), gone);
    }

    void iconLink_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("icon");
        QTest::newRow("rel icon, relative")
            << QByteArray("<link rel=\"icon\" href=\"i.png\">") << "https://www.a.cn/dir/i.png";
        QTest::newRow("shortcut icon, single quotes, upper case")
            << QByteArray("<LINK REL='Shortcut Icon' HREF='/favicon.png'>") << "https://www.a.cn/favicon.png";
        QTest::newRow("href first, no quotes") << QByteArray("<link href=/x.ico rel=icon>") << "https://www.a.cn/x.ico";
        QTest::newRow("another host of the site")
            << QByteArray("<link rel=icon href=\"https://static.a.cn/i.ico\">") << "https://static.a.cn/i.ico";
        QTest::newRow("a third party") << QByteArray("<link rel=icon href=\"https://icons.example.com/a.cn\">") << "";
        QTest::newRow("a style sheet only") << QByteArray("<link rel=stylesheet href=s.css>") << "";
        QTest::newRow("not http") << QByteArray("<link rel=icon href=\"javascript:x\">") << "";
        QTest::newRow("none") << QByteArray("<html><title>t</title></html>") << "";
    }
    void iconLink()
    {
        QFETCH(QByteArray, html);
        QFETCH(QString, icon);
        QCOMPARE(IconLinkOf(html, QUrl("https://www.a.cn/dir/page.html")).toString(), icon);
    }

    void pageTitle()
    {
        QCOMPARE(PageTitle("<html><head><TITLE lang=zh>\n  页面\n 不存在 </title>"), QString("页面 不存在"));
        QCOMPARE(PageTitle("<html><body>no title</body></html>"), QString());
    }

    // A small icon is kept as it is, a larger one shrunk; what is no image,
    // too many bytes or too many pixels is refused.
    void shrinkIcon_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("side");
        QTest::newRow("png 48") << Image(48, 48, "PNG") << 32;
        QTest::newRow("png 16") << Image(16, 16, "PNG") << 16;
        QTest::newRow("gif 1, as it is") << QByteArray::fromBase64(
                                                "R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7")
                                         << 1;
        QTest::newRow("png 64x20, not square") << Image(64, 20, "PNG") << 16;
        QTest::newRow("ico") << Image(32, 32, "ICO") << 32;
        QTest::newRow("gif text") << QByteArray("GIF89a but not really") << 0;
        QTest::newRow("html") << QByteArray("<html><title>404</title></html>") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("too many bytes") << Image(16, 16, "PNG") + QByteArray(kMaxIconBytes, '\0') << 0;
        QTest::newRow("too many pixels") << Image(4000, 2, "PNG") << 0;
    }
    void shrinkIcon()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, side);
        const QByteArray bytes = ShrinkIcon(data);
        const QImage kept = QImage::fromData(bytes);
        if (side != 0 && side == QImage::fromData(data).width())
            QCOMPARE(bytes, data);
        QCOMPARE(kept.width(), side);
        QCOMPARE(kept.height(), side);
    }

    // An icon replaces the one before; a refused one changes nothing; both
    // go with their bookmark.
    void putSiteIcon()
    {
        const qint64 id = AddBookmark(0, "http://a.cn");
        QVERIFY(PutSiteIcon(id, Image(16, 16, "PNG")));
        QVERIFY(PutSiteIcon(id, Image(48, 48, "PNG")));
        QVERIFY(!PutSiteIcon(id, "not an image"));
        QCOMPARE(QImage::fromData(SiteIcon(id), "PNG").width(), 32);
        SaveLinkOutcomes({{id, Outcome(TLinkResult::Ok, 200)}});
        TIE().DeleteIEs({int(id)});
        QCOMPARE(DbGetIntValue("select count(*) from SiteIcon") + DbGetIntValue("select count(*) from LinkCheck"), 0);
        PutSiteIcon(9999, Image(16, 16, "PNG")); // no such bookmark
        QVERIFY(SiteIcon(9999).isEmpty());
    }

    // 更新为新网址 takes only permanent redirects, and the check then reads 正常.
    void applyNewUrls()
    {
        const qint64 permanent = AddBookmark(0, "http://a.cn/old");
        const qint64 temporary = AddBookmark(0, "http://b.cn/login");
        const qint64 broken = AddBookmark(0, "http://c.cn/x");
        SaveLinkOutcomes({{permanent, Outcome(TLinkResult::Moved, 301, "https://a.cn/new")},
                          {temporary, Outcome(TLinkResult::Moved, 302, "https://b.cn/sso")},
                          {broken, Outcome(TLinkResult::Broken, 404)}});
        QCOMPARE(PermanentlyMoved(0), QList<qint64>{permanent});
        QCOMPARE(ApplyNewUrls({permanent, temporary, broken}), 1);
        QCOMPARE(StoredUrl(permanent), QString("https://a.cn/new"));
        QCOMPARE(StoredUrl(temporary), QString("http://b.cn/login"));
        QCOMPARE(LoadLinkOutcome(permanent)->Result, TLinkResult::Ok);
        QCOMPARE(LoadLinkOutcome(permanent)->NewUrl, QString());
        QCOMPARE(LoadLinkOutcome(temporary)->Result, TLinkResult::Moved);
        QVERIFY(PermanentlyMoved(0).isEmpty());
    }

    // A group's check takes its whole branch and only web addresses; the
    // path names each bookmark's own group.
    void targetsOfBranch()
    {
        TGroupTable groups("IEType", "全部");
        groups.Load();
        const int work = groups.Add(0, "工作");
        const int meetings = groups.Add(work, "会议");
        const int home = groups.Add(0, "家");
        const qint64 a = AddBookmark(work, "http://a.cn");
        const qint64 b = AddBookmark(meetings, "b.cn/x");
        AddBookmark(meetings, "mailto:x@b.cn");
        AddBookmark(home, "http://c.cn");
        const QList<TLinkTarget> targets = LinkTargetsOfGroup(work);
        QCOMPARE(targets.size(), 2);
        QCOMPARE(targets[0].Id, a);
        QCOMPARE(targets[0].GroupPath, QString("全部->工作"));
        QCOMPARE(targets[1].Id, b);
        QCOMPARE(targets[1].GroupPath, QString("全部->工作->会议"));
        QCOMPARE(LinkTargetsOfGroup(0).size(), 3);
        QCOMPARE(GroupOfPath("工作/会议"), meetings);
        QCOMPARE(GroupOfPath("全部->工作"), work);
        QCOMPARE(GroupOfPath("全部"), 0);
        QCOMPARE(GroupOfPath("家/会议"), -1);
    }

    // The grid's column reads the stored result; 只看失效的 keeps 失效 and 可能失效.
    void statusColumn()
    {
        const qint64 ok = AddBookmark(0, "http://a.cn");
        const qint64 moved = AddBookmark(0, "http://b.cn");
        const qint64 broken = AddBookmark(0, "http://c.cn");
        const qint64 maybe = AddBookmark(0, "http://d.cn");
        AddBookmark(0, "http://never.cn");
        SaveLinkOutcomes({{ok, Outcome(TLinkResult::Ok, 200)},
                          {moved, Outcome(TLinkResult::Moved, 301, "https://b.cn/")},
                          {broken, Outcome(TLinkResult::Broken, 404)},
                          {maybe, Outcome(TLinkResult::MaybeBroken, 200)}});
        const QString from = " from IE left join LinkCheck LC on LC.IEID = IE.ID";
        const std::unique_ptr<TDataSet> set =
            DbAccess->Query("select " + LinkStatusColumnSql() + from + " order by IE.ID");
        QStringList texts;
        for (; !set->Eof(); set->Next())
            texts << set->AsString(0).section("  ", 0, 0);
        QCOMPARE(texts, QStringList({"正常", "已跳转 → https://b.cn/", "失效（404）", "可能失效", ""}));
        QCOMPARE(DbGetIntValue("select count(*)" + from + " where " + BrokenLinkConditionSql()), 2);
    }
};

JOTTEREL_STORE_TEST_MAIN(TestLinkStore)
#include "test_linkstore.moc"
