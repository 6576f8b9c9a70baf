#include "app/Config.h"
#include "app/UntConfig.h"
#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"
#include "data/DataSet.h"
#include "data/MD.h"
#include "links/LinkStore.h"
#include "links/LinkWiring.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"
#include "tests/links/store/LocalHttpServer.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkProxy>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

namespace {
qint64 AddBookmark(const QString& title, const QString& url)
{
    DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark) values(0,'%s','%s','')", {url, title}));
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
    return DbAccess->Query(QString("select IEUrl from IE where ID=%1").arg(id))->AsString(0);
}

TLocalHttpServer::TAnswer Answer(int status, const QByteArray& body, const QByteArray& location = QByteArray())
{
    TLocalHttpServer::TAnswer answer = TLocalHttpServer::Reply(status, body);
    answer.Location = location;
    return answer;
}
} // namespace

// The pages with the link check over the bookmark page, given the column
// widths the window keeps.
struct TLinkedPages : TPageFixture
{
    explicit TLinkedPages(const QList<int>& rememberedWidths)
    {
        new TLinkWiring(
            TLinkParts{this, *Bookmarks, IE, IETree, pmIEType, pmIE, [rememberedWidths] { return rememberedWidths; }});
    }
};

class TestLinkWiring : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TLinkedPages> form;
    TCardDBGrid* grid = nullptr;

    void Show(const QList<int>& rememberedWidths = {})
    {
        form = std::make_unique<TLinkedPages>(rememberedWidths);
        Find<QTabWidget>(form.get(), "pgcMain")->setCurrentIndex(2);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        grid = Find<TCardDBGrid>(form.get(), "DBGrid1");
    }

    int StatusColumn() const { return grid->DataSet()->FieldIndex("状态"); }

    // The status texts by title, without the day.
    QMap<QString, QString> Statuses() const
    {
        QMap<QString, QString> statuses;
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            statuses[grid->model()->index(row, 1).data().toString()] =
                grid->model()->index(row, StatusColumn()).data().toString().section("  ", 0, 0);
        return statuses;
    }

    int RowOf(const QString& title) const
    {
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            if (grid->model()->index(row, 1).data().toString() == title)
                return row;
        return -1;
    }

private slots:
    // Whatever the environment says, every request stays on 127.0.0.1.
    void initTestCase() { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); }
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup()
    {
        form.reset();
        env.reset();
    }

    // The column shows the stored results; 只看失效的 narrows the list;
    // 更新为新网址 takes a chosen row's permanent redirect and nothing else.
    void columnFilterAndUpdate()
    {
        const qint64 ok = AddBookmark("甲", "http://a.cn/");
        const qint64 moved = AddBookmark("乙", "http://b.cn/old");
        const qint64 broken = AddBookmark("丙", "http://c.cn/x");
        AddBookmark("丁", "http://d.cn/");
        SaveLinkOutcomes({{ok, Outcome(TLinkResult::Ok, 200)},
                          {moved, Outcome(TLinkResult::Moved, 301, "https://b.cn/new")},
                          {broken, Outcome(TLinkResult::Broken, 404)}});
        Show();
        const QMap<QString, QString> all{
            {"甲", "正常"}, {"乙", "已跳转 → https://b.cn/new"}, {"丙", "失效（404）"}, {"丁", ""}};
        QCOMPARE(Statuses(), all);
        QVERIFY(!grid->isColumnHidden(StatusColumn()));
        Find<QAction>(form.get(), "NOnlyBroken")->trigger();
        QCOMPARE(Statuses().keys(), QStringList{"丙"});
        Find<QAction>(form.get(), "NOnlyBroken")->trigger();
        QCOMPARE(Statuses().size(), 4);
        grid->SetCurrentRow(RowOf("丙"));
        Find<QAction>(form.get(), "NUpdateUrl")->trigger();
        QCOMPARE(StoredUrl(broken), QString("http://c.cn/x"));
        QVERIFY(env->Responder.LastText().contains("没有永久跳转"));
        grid->SetCurrentRow(RowOf("乙"));
        Find<QAction>(form.get(), "NUpdateUrl")->trigger();
        QCOMPARE(StoredUrl(moved), QString("https://b.cn/new"));
        QCOMPARE(Statuses().value("乙"), QString("正常"));
    }

    // 检查网址 on the root: the window stays usable while the progress box
    // shows; at the end the permanent redirects are offered, and taken only
    // when the answer is yes.
    void checkFromTheGroupMenu_data()
    {
        QTest::addColumn<bool>("take");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void checkFromTheGroupMenu()
    {
        QFETCH(bool, take);
        TLocalHttpServer server;
        server.Route("/ok", Answer(200, "<title>好</title>"));
        server.Route("/gone", Answer(404, ""));
        server.Route("/old", Answer(301, "", "/ok"));
        server.Serve();
        SetFetchIcons(false);
        AddBookmark("好", server.Url("/ok"));
        AddBookmark("没了", server.Url("/gone"));
        const qint64 moved = AddBookmark("搬了", server.Url("/old"));
        AddBookmark("邮件", "mailto:a@b.cn");
        Show();
        env->Responder.Answers << take;
        Find<QAction>(form.get(), "NCheckLinksGroup")->trigger();
        QPointer<QProgressDialog> progress = form->findChild<QProgressDialog*>("dlgCheckLinks");
        QVERIFY(progress);
        QVERIFY(!progress->isModal());
        QTRY_VERIFY_WITH_TIMEOUT(!progress, 15000);
        QVERIFY(env->Responder.LastText().contains("有 1 个网址已永久跳转到新网址"));
        QVERIFY(env->Responder.LastText().contains("检查了 3 个网址"));
        QCOMPARE(StoredUrl(moved), take ? server.Url("/ok") : server.Url("/old"));
        const QMap<QString, QString> statuses = Statuses();
        QCOMPARE(statuses.value("好"), QString("正常"));
        QCOMPARE(statuses.value("没了"), QString("失效（404）"));
        QCOMPARE(statuses.value("搬了"), take ? QString("正常") : "已跳转 → " + server.Url("/ok"));
        QCOMPARE(statuses.value("邮件"), QString());
        QVERIFY(Find<QAction>(form.get(), "NCheckLinks")->isEnabled());
    }

    // A stored icon shows beside its title; a hidden 状态 column stays
    // hidden at the next start.
    void iconAndHiddenColumn()
    {
        const qint64 id = AddBookmark("有图标", "http://a.cn/");
        AddBookmark("没有图标", "http://b.cn/");
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(Qt::green);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        QVERIFY(PutSiteIcon(id, png));
        Show({0, 120, 80, 200, 60, 0});
        const QVariant icon = grid->model()->index(RowOf("有图标"), 1).data(Qt::DecorationRole);
        QCOMPARE(icon.value<QPixmap>().width(), 32);
        QVERIFY(!grid->model()->index(RowOf("没有图标"), 1).data(Qt::DecorationRole).isValid());
        QVERIFY(grid->isColumnHidden(StatusColumn()));
        Find<QAction>(form.get(), "NOnlyBroken")->trigger(); // the list opened anew
        QVERIFY(grid->isColumnHidden(StatusColumn()));

        // The column titles have one menu, with the page's column and this one.
        QList<QStringList> menus;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            QStringList items;
            for (QAction* item : menu->actions())
                items << item->text();
            menus << items;
            if (QAction* status = menu->actions().value(items.indexOf("显示“状态”列")))
                status->trigger();
            menu->close();
        });
        watch.start(10);
        emit grid->horizontalHeader()->customContextMenuRequested(QPoint(5, 5));
        QCOMPARE(menus, QList<QStringList>{QStringList({"显示标签列", "显示“状态”列"})});
        QVERIFY(!grid->isColumnHidden(StatusColumn()));
    }

    // A bookmark added with 新建 gets its site's icon in the background;
    // with the option off its site hears nothing.
    void iconOfANewBookmark_data()
    {
        QTest::addColumn<bool>("fetch");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void iconOfANewBookmark()
    {
        QFETCH(bool, fetch);
        TLocalHttpServer server;
        server.Route("/page", Answer(200, "<title>新</title><link rel=icon href=/i.png>"));
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        server.Route("/i.png", TLocalHttpServer::Reply(200, png, "image/png"));
        server.Serve();
        SetFetchIcons(fetch);
        Show();
        Drive([&](QWidget* dialog) {
            Find<QLineEdit>(dialog, "edtIE")->setText(server.Url("/page"));
            Find<QLineEdit>(dialog, "edtName")->setText("新");
            Click(dialog, "btnOK");
        });
        Find<QAction>(form.get(), "N1")->trigger();
        const qint64 id = DbGetIntValue("select max(ID) from IE");
        if (fetch) {
            QTRY_VERIFY_WITH_TIMEOUT(!SiteIcon(id).isEmpty(), 10000);
            QTRY_VERIFY(grid->model()->index(RowOf("新"), 1).data(Qt::DecorationRole).isValid());
        } else {
            QTest::qWait(300);
            QCOMPARE(server.Requests("/page"), 0);
        }
    }

    // 软件设置's 自动获取网站图标 is kept with OK, and shown as kept.
    void iconOption()
    {
        SetFetchIcons(true);
        TConfig config;
        {
            TFormConfig dialog(config);
            auto* icons = Find<QCheckBox>(&dialog, "chkIcons");
            QVERIFY(icons->isChecked());
            icons->click();
            dialog.OkButton()->click();
        }
        QVERIFY(!FetchIconsEnabled());
        TFormConfig again(config);
        QVERIFY(!Find<QCheckBox>(&again, "chkIcons")->isChecked());
    }

    // `--check-links --group`: the group's addresses only (its branch), a
    // line for each that is not 正常, the count of each result; a group that
    // is not there is said so. What a name holds that a terminal would obey
    // (the escape sequence that sets its title) is written out, not sent.
    void commandLine()
    {
        TLocalHttpServer server;
        server.Route("/ok", Answer(200, "<title>好</title>"));
        server.Route("/gone", Answer(404, ""));
        server.Serve();
        DbExecSQL("insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'工作')");
        DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark) values(1,'%s','好','')", {server.Url("/ok")}));
        DbExecSQL(
            FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark) values(1,'%s','没了','')", {server.Url("/gone")}));
        AddBookmark("别的", server.Url("/gone?root"));
        DbExecSQL("insert into IEType(SelfIndex,ParentIndex,TypeName) values (2,1,'标题' || char(27) || ']0;x' || "
                  "char(7) || '\\')");
        DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark) values(2,'%s','标题','')",
                            {server.Url("/gone?title")}));
        SetFetchIcons(false);
        const QString exe = env->Path("jotterel");
        QVERIFY(QFile::copy(JOTTEREL_EXE, exe));
        const auto run = [&](const QStringList& arguments) {
            QProcess program;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "http_proxy", "HTTP_PROXY",
                                     "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
                environment.remove(name);
            program.setProcessEnvironment(environment);
            program.start(exe, arguments);
            // The server answers on this event loop while the program runs.
            QSignalSpy finished(&program, &QProcess::finished);
            finished.wait(60000);
            return std::make_pair(program.exitCode(), QString::fromUtf8(program.readAll()) +
                                                          QString::fromUtf8(program.readAllStandardError()));
        };
        const auto [status, output] = run({"--check-links", "--group", "工作"});
        QCOMPARE(status, 0);
        QStringList lines = output.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.takeLast(),
                 QString("检查了 3 个网址：正常 1 个，已跳转 0 个，失效 2 个，无法确定 0 个，可能失效 0 个。"));
        lines.sort();
        QCOMPARE(lines,
                 QStringList({"失效（404）\t" + server.Url("/gone") + "\t全部->工作",
                              "失效（404）\t" + server.Url("/gone?title") + "\t全部->工作->标题\\x1b]0;x\\x07\\x5c"}));
        QCOMPARE(server.Requests("/ok"), 2);
        const auto [missing, said] = run({"--check-links", "--group", "家"});
        QCOMPARE(missing, 1);
        QVERIFY(said.contains("找不到分组：家"));
    }
};

JOTTEREL_TEST_MAIN(TestLinkWiring)
#include "test_linkwiring.moc"
