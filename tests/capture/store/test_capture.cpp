#include "capture/Capture.h"
#include "data/MD.h"
#include "support/StoreTest.h"

#include <memory>

// Quick capture into the data: where a note line and a bookmark go, and what
// is refused rather than guessed.
class TestCapture : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

    static QString One(const QString& sql) { return DbAccess->Query(sql)->AsString(0); }

private slots:
    void init()
    {
        env = std::make_unique<TStoreEnv>();
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1, 0, '工作')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2, 1, '会议')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (3, 0, '会议')@#@"
                  "insert into NoteBook(TypeID, ReMark) values (2, '第一行')@#@"
                  "insert into IEType(SelfIndex,ParentIndex,TypeName) values (1, 0, '资料')@#@"
                  "insert into IE(TypeID, IEUrl, IEName, ReMark) values (1, 'https://old.example/', '旧', '')");
    }

    void cleanup() { env.reset(); }

    void noteLineGoesToTheGroupOfThePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("group");
        QTest::addColumn<QString>("stored"); // the note's text afterwards; empty: refused
        QTest::addColumn<QString>("refusal");
        QTest::newRow("root, no note yet") << "" << 0 << "买牛奶"
                                           << "";
        QTest::newRow("a line below the text") << "工作/会议" << 2 << "第一行\r\n买牛奶"
                                               << "";
        QTest::newRow("top level, not the namesake below") << "/会议/" << 3 << "买牛奶"
                                                           << "";
        QTest::newRow("no such group") << "工作/旅行" << -1 << ""
                                       << "找不到分组“工作/旅行”";
        QTest::newRow("a path is not a name anywhere") << "会议/工作" << -1 << ""
                                                       << "找不到分组";
    }
    void noteLineGoesToTheGroupOfThePath()
    {
        QFETCH(QString, path);
        QFETCH(int, group);
        QFETCH(QString, stored);
        QFETCH(QString, refusal);
        if (!refusal.isEmpty()) {
            QVERIFY(ErrorOf([&] { CaptureNote("买牛奶", path); }).contains(refusal));
            QCOMPARE(One("select group_concat(ReMark) from NoteBook"), QString("第一行"));
            return;
        }
        const TCaptured captured = CaptureNote("  买牛奶 ", path);
        QCOMPARE(captured.Group, group);
        QCOMPARE(One(QString("select ReMark from NoteBook where TypeID=%1").arg(group)), stored);
        QVERIFY(captured.Text.contains("买牛奶"));
    }

    void bookmarkIsAddedOnceWithATitle_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("title"); // stored; empty: refused
        QTest::addColumn<QString>("refusal");
        QTest::newRow("title given") << QStringList{"bookmark", "https://a.example", "甲", "资料"} << "甲"
                                     << "";
        QTest::newRow("address for a title")
            << QStringList{"bookmark", " https://b.example ", "", ""} << "https://b.example"
            << "";
        QTest::newRow("stored already, its group named") << QStringList{"bookmark", "HTTPS://OLD.example", "", ""} << ""
                                                         << "已经保存在分组“全部->资料”中";
        QTest::newRow("empty address") << QStringList{"bookmark", " ", "甲", ""} << ""
                                       << "网址不能为空";
        QTest::newRow("no such group") << QStringList{"bookmark", "https://c.example", "", "旅行"} << ""
                                       << "找不到分组";
        QTest::newRow("empty note line") << QStringList{"note", "  ", ""} << ""
                                         << "记事内容不能为空";
    }
    void bookmarkIsAddedOnceWithATitle()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, title);
        QFETCH(QString, refusal);
        if (!refusal.isEmpty()) {
            QVERIFY(ErrorOf([&] { Capture(command); }).contains(refusal));
            QCOMPARE(DbGetIntValue("select count(*) from IE"), 1);
            return;
        }
        Capture(command);
        QCOMPARE(One("select IEName from IE where ID=(select max(ID) from IE)"), title);
        QCOMPARE(DbGetIntValue("select TypeID from IE where ID=(select max(ID) from IE)"),
                 command[3].isEmpty() ? 0 : 1);
    }
};

JOTTEREL_STORE_TEST_MAIN(TestCapture)
#include "test_capture.moc"
