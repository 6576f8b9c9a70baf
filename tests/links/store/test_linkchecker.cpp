#include "bookmarks/UntIE.h"
#include "data/MD.h"
#include "links/LinkChecker.h"
#include "links/LinkStore.h"
#include "support/StoreTest.h"
#include "tests/links/store/LocalHttpServer.h"

#include <QBuffer>
#include <QImage>
#include <QNetworkProxy>
#include <QSignalSpy>
#include <memory>

namespace {
using TAnswer = TLocalHttpServer::TAnswer;

TAnswer Reply(int status, const QByteArray& body, const QByteArray& type = "text/html; charset=utf-8", int delayMs = 0)
{
    return TLocalHttpServer::Reply(status, body, type, delayMs);
}

QByteArray Page(const QByteArray& title, const QByteArray& head = QByteArray())
{
    return "<html><head><title>" + title + "</title>" + head + "</head><body>x</body></html>";
}

TAnswer Redirect(int status, const QByteArray& to)
{
    TAnswer answer;
    answer.Status = status;
    answer.Location = to;
    return answer;
}

QByteArray Image(int side, const char* format)
{
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

qint64 AddBookmark(const QString& url)
{
    TIE ie;
    ie.IEUrl = url;
    ie.IEName = url;
    ie.InsertIE();
    return DbGetIntValue("select max(ID) from IE");
}

// Checks the bookmarks and waits for the end; false when it never came.
bool RunCheck(const QList<qint64>& ids, TLinkCheckSettings settings)
{
    QList<int> narrow(ids.begin(), ids.end());
    TLinkChecker checker(settings);
    QSignalSpy finished(&checker, &TLinkChecker::Finished);
    checker.Start(LinkTargetsOf(narrow));
    return finished.count() > 0 || finished.wait(20000);
}

TLinkCheckSettings Quick()
{
    TLinkCheckSettings settings;
    settings.TimeoutMs = 400;
    settings.FetchIcons = false;
    return settings;
}
} // namespace

class TestLinkChecker : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;
    std::unique_ptr<TLocalHttpServer> server;

private slots:
    void initTestCase()
    {
        // Whatever the environment says, every request stays on 127.0.0.1.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        server = std::make_unique<TLocalHttpServer>();
        TLocalHttpServer& s = *server;
        s.Route("/", Reply(200, Page("Home")));
        s.Route("/ok", Reply(200, Page("Welcome")));
        s.Route("/a301", Redirect(301, "/a308"));
        s.Route("/a308", Redirect(308, "/ok"));
        s.Route("/t302", Redirect(302, "/a301"));
        s.Route("/loop1", Redirect(302, "/loop2"));
        s.Route("/loop2", Redirect(302, "/loop1"));
        s.Route("/gone404", Reply(404, Page("Not here")));
        s.Route("/gone410", Reply(410, QByteArray()));
        s.Route("/flaky", [](const QByteArray&, int before) {
            return before < 2 ? Reply(500, QByteArray()) : Reply(200, Page("Back"));
        });
        s.Route("/down", Reply(503, QByteArray()));
        s.Route("/nohead", [](const QByteArray& method, int) {
            return method == "HEAD" ? Reply(405, QByteArray()) : Reply(200, Page("Fine"));
        });
        s.Route("/slow", Reply(200, Page("Late"), "text/html", 3000));
        s.Route("/soft", Reply(200, Page("页面不存在 - 示例网")));
        s.Route("/moved-home", Redirect(301, "/"));
        s.Serve();
    }
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    // Each kind of answer gives its result, and the check asks no more
    // often than its rules allow (HEAD, GET, one retry).
    void results_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("newPath");
        QTest::addColumn<int>("mostRequests");
        const int ok = int(TLinkResult::Ok), moved = int(TLinkResult::Moved), broken = int(TLinkResult::Broken),
                  unknown = int(TLinkResult::Unknown), maybe = int(TLinkResult::MaybeBroken);
        QTest::newRow("200") << "/ok" << ok << 200 << "" << 2;
        QTest::newRow("301 then 308: permanent") << "/a301" << moved << 301 << "/ok" << 2;
        QTest::newRow("302 in the chain: temporary") << "/t302" << moved << 302 << "/ok" << 2;
        QTest::newRow("redirect loop") << "/loop1" << unknown << 302 << "" << 4;
        QTest::newRow("404") << "/gone404" << broken << 404 << "" << 2;
        QTest::newRow("410") << "/gone410" << broken << 410 << "" << 2;
        QTest::newRow("500, then 200 on the retry") << "/flaky" << ok << 200 << "" << 3;
        QTest::newRow("503 every time") << "/down" << unknown << 503 << "" << 3;
        QTest::newRow("HEAD 405, GET 200") << "/nohead" << ok << 200 << "" << 2;
        QTest::newRow("slower than the timeout") << "/slow" << unknown << 0 << "" << 3;
        QTest::newRow("unknown host") << "http://nothing.invalid/page" << broken << 0 << "" << 0;
        QTest::newRow("soft 404 by title") << "/soft" << maybe << 200 << "" << 2;
        QTest::newRow("soft 404: sent to the root") << "/moved-home" << maybe << 200 << "" << 1;
    }
    void results()
    {
        QFETCH(QString, path);
        QFETCH(int, result);
        QFETCH(int, code);
        QFETCH(QString, newPath);
        QFETCH(int, mostRequests);
        const bool local = path.startsWith('/');
        const int before = local ? server->Requests(path.toLatin1()) : 0;
        const qint64 id = AddBookmark(local ? server->Url(path) : path);
        QVERIFY(RunCheck({id}, Quick()));
        const std::optional<TLinkOutcome> outcome = LoadLinkOutcome(id);
        QVERIFY(outcome);
        QCOMPARE(LinkResultName(outcome->Result), LinkResultName(TLinkResult(result)));
        QCOMPARE(outcome->Code, code);
        QCOMPARE(outcome->NewUrl, newPath.isEmpty() ? QString() : server->Url(newPath));
        if (local) {
            const int asked = server->Requests(path.toLatin1()) - before;
            QVERIFY2(asked >= 1 && asked <= mostRequests, qPrintable(QString::number(asked)));
        }
    }

    // Many addresses of one site: never more than the bound at once, yet
    // as many as it allows.
    void boundedPerSite()
    {
        TLocalHttpServer site;
        site.Route("/busy", Reply(200, "x", "application/pdf", 150));
        site.Serve();
        QList<qint64> ids;
        for (int i = 0; i < 10; ++i)
            ids << AddBookmark(site.Url("/busy"));
        TLinkCheckSettings settings = Quick();
        settings.TimeoutMs = 5000;
        settings.MostPerSite = 2;
        settings.SaveEvery = 3; // several transactions
        QVERIFY(RunCheck(ids, settings));
        QCOMPARE(site.Requests("/busy"), 10);
        QCOMPARE(site.MostAtOnce(), 2);
        for (qint64 id : ids)
            QCOMPARE(LoadLinkOutcome(id).value_or(TLinkOutcome()).Code, 200);
    }

    // The site's own icon: the one its page names, else /favicon.ico; a
    // huge one or one that is no image is refused; with icons off no icon
    // is asked for.
    void icons_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("fetch");
        QTest::addColumn<int>("side"); // 0: none stored
        QTest::newRow("by <link>") << "/linked" << true << 32;
        QTest::newRow("by /favicon.ico") << "/plain" << true << 16;
        QTest::newRow("<link> to an icon not there: /favicon.ico") << "/linked-missing" << true << 16;
        QTest::newRow("huge") << "/linked-huge" << true << 0;
        QTest::newRow("not an image") << "/linked-text" << true << 0;
        QTest::newRow("icons off") << "/plain" << false << 0;
    }
    void icons()
    {
        QFETCH(QString, page);
        QFETCH(bool, fetch);
        QFETCH(int, side);
        TLocalHttpServer site;
        site.Route("/linked", Reply(200, Page("A", "<link rel='shortcut icon' href=\"img/a.png\">")));
        site.Route("/img/a.png", Reply(200, Image(48, "PNG"), "image/png"));
        site.Route("/plain", Reply(200, Page("B")));
        site.Route("/favicon.ico", Reply(200, Image(16, "ICO"), "image/x-icon"));
        site.Route("/linked-missing", Reply(200, Page("C", "<link rel=icon href=/nothing.png>")));
        site.Route("/linked-huge", Reply(200, Page("D", "<link rel=\"icon\" href=\"/big.png\">")));
        site.Route("/big.png", Reply(200, QByteArray(200 * 1024, 'x'), "image/png"));
        site.Route("/linked-text", Reply(200, Page("E", "<link rel=\"icon\" href=\"/text.ico\">")));
        site.Route("/text.ico", Reply(200, Page("F"), "image/x-icon"));
        site.Serve();
        const qint64 id = AddBookmark(site.Url(page));
        TLinkCheckSettings settings = Quick();
        settings.TimeoutMs = 5000;
        settings.FetchIcons = fetch;
        QVERIFY(RunCheck({id}, settings));
        const QImage icon = QImage::fromData(SiteIcon(id));
        QCOMPARE(icon.width(), side);
        QCOMPARE(icon.height(), side);
        if (!fetch)
            QCOMPARE(site.Requests("/favicon.ico"), 0);
    }

    // A page that drips a byte now and then never times out, but its
    // address has a deadline; once a few of a site's addresses ran out of
    // time, its others are not asked. Another site's addresses go on
    // meanwhile and are done first.
    void slowSiteHoldsOnlyItsOwnAddresses()
    {
        TLocalHttpServer slow;
        TLocalHttpServer::TAnswer drip = Reply(200, Page("Slow"));
        drip.DripMs = 100;
        slow.Route("/drip", drip);
        slow.Serve();
        TLocalHttpServer fast;
        fast.Route("/ok", Reply(200, Page("Fine")));
        fast.Serve();
        QList<int> ids;
        for (int i = 0; i < 5; ++i)
            ids << int(AddBookmark(slow.Url(QString("/drip?%1").arg(i))));
        for (int i = 0; i < 3; ++i)
            ids << int(AddBookmark(fast.Url(QString("/ok?%1").arg(i))));
        TLinkCheckSettings settings = Quick();
        settings.MostPerSite = 2;
        settings.AddressDeadlineMs = 1000;
        settings.MostSlowPerSite = 2;
        TLinkChecker checker(settings);
        QStringList told; // in order
        connect(&checker, &TLinkChecker::Checked, [&told](const TLinkTarget& target, const TLinkOutcome& outcome) {
            told << QUrl(target.Url).path().mid(1, 2) + " " + LinkResultName(outcome.Result) + " " + outcome.Reason;
        });
        QSignalSpy finished(&checker, &TLinkChecker::Finished);
        checker.Start(LinkTargetsOf(ids));
        QVERIFY(finished.wait(20000));
        QCOMPARE(told.size(), 8);
        QCOMPARE(told.mid(0, 3), QStringList(3, "ok 正常 "));
        // Two at once ran out of time, and the one that took the first's turn;
        // the two left waiting were not asked.
        QCOMPARE(told.mid(3).count("dr 无法确定 1 秒内没有查完"), 3);
        QCOMPARE(told.mid(3).count("dr 无法确定 同一网站的网址太慢，没有再查"), 2);
    }

    // A stop leaves nothing running and keeps what was found.
    void cancel()
    {
        TLocalHttpServer site;
        site.Route("/quick", Reply(200, "x", "text/plain"));
        site.Route("/stuck", Reply(200, "x", "text/plain", 5000));
        site.Serve();
        const qint64 quick = AddBookmark(site.Url("/quick"));
        const qint64 stuck = AddBookmark(site.Url("/stuck"));
        TLinkCheckSettings settings = Quick();
        settings.TimeoutMs = 10000;
        TLinkChecker checker(settings);
        QSignalSpy checked(&checker, &TLinkChecker::Checked);
        QSignalSpy finished(&checker, &TLinkChecker::Finished);
        checker.Start(LinkTargetsOf({int(quick), int(stuck)}));
        QVERIFY(checked.wait(5000));
        checker.Cancel();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(!checker.Running());
        QVERIFY(LoadLinkOutcome(quick).has_value());
        QVERIFY(!LoadLinkOutcome(stuck).has_value());
    }
};

JOTTEREL_STORE_TEST_MAIN(TestLinkChecker)
#include "test_linkchecker.moc"
