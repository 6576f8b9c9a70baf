#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/PassHash.h"
#include "data/Schema.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTreeWidget>
#include <memory>
#include <sqlite3.h>

class TestDbAccess : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    int Count(const QString& sql) { return DbGetIntValue(sql); }

    static QByteArray Hash(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                              : QByteArray();
    }

    // Upgrade steps that follow the program's own, in the given order.
    static std::vector<TMigration> Steps(const QStringList& sql)
    {
        std::vector<TMigration> steps;
        for (const QString& text : sql)
            steps.push_back({CurrentSchemaVersion() + int(steps.size()), text});
        return steps;
    }

    static void Reconnect()
    {
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
    }

    // Runs the action, expecting a database error; returns it.
    template <typename F> EDBException ExpectDbError(F action)
    {
        try {
            action();
        } catch (const EDBException& e) {
            return e;
        }
        qFatal("no database error was raised");
    }

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    // Every connection waits a while for another program that briefly holds
    // the file, also once reopened; quiet retries do not wait.
    void connectionWaitsForBriefReaders()
    {
        const auto timeout = [] {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(DbAccess->Handle(), "PRAGMA busy_timeout", -1, &stmt, nullptr);
            const int ms = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
            sqlite3_finalize(stmt);
            return ms;
        };
        QCOMPARE(timeout(), 0); // the tests' own setting
        TDbAccess::BusyTimeoutMs = 2000;
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        QCOMPARE(timeout(), 2000);
        {
            const TNoLockWait quiet;
            QCOMPARE(timeout(), 0);
        }
        QCOMPARE(timeout(), 2000);
        DbAccess->CloseConnection();
        QCOMPARE(timeout(), 2000);
        TDbAccess::BusyTimeoutMs = 0;
    }

    void newDatabaseHasTheWholeSchema()
    {
        QVERIFY(DbAccess->Connected());
        QVERIFY(QFile::exists(env->Path("bookkeep.dat")));
        QCOMPARE(Count("PRAGMA application_id"), 1246720116);
        QCOMPARE(Count("PRAGMA user_version"), CurrentSchemaVersion());
        QCOMPARE(Count("select count(*) from sqlite_master where type='table' and name in "
                       "('IE','IEType','NoteType','NoteBook','Alam','SysSet','IE_Search')"),
                 7);
        QCOMPARE(Count("select count(*) from sqlite_master where type='index' and name in "
                       "('IE_TypeID','NoteBook_TypeID','Alam_AlamTime','Alam_AlamDate',"
                       "'NoteType_SelfIndex','IEType_SelfIndex')"),
                 6);
        DbAccess->OpenQuery("select * from SysSet");
        QCOMPARE(DbAccess->QuerySet->RecordCount(), 1);
        QCOMPARE(DbAccess->QuerySet->AsBoolean("bPass"), false);
        QCOMPARE(DbAccess->QuerySet->AsString("PassWord"), QString());
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    void foreignFilesAreRefusedUntouched_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QStringList>("steps"); // upgrade steps after the program's own
        QTest::addColumn<QString>("reason");
        QTest::newRow("not sqlite") << QByteArray() << QByteArray("hello, this is no database at all\n")
                                    << QStringList() << QString();
        QTest::newRow("empty file") << QByteArray() << QByteArray() << QStringList() << QString();
        QTest::newRow("other application")
            << QByteArray("PRAGMA application_id=42; CREATE TABLE t(x); INSERT INTO t VALUES(1);") << QByteArray()
            << QStringList() << QString();
        QTest::newRow("table missing") << QByteArray("PRAGMA application_id=1246720116; CREATE TABLE IE(ID);")
                                       << QByteArray() << QStringList() << QString();
        const int newer = CurrentSchemaVersion() + 1;
        QTest::newRow("newer than the program")
            << QByteArray(DatabaseSchema()) + "PRAGMA user_version=" + QByteArray::number(newer) + ";" << QByteArray()
            << QStringList() << QString("数据文件的版本（%1）比本程序新，请使用新版本的程序打开。").arg(newer);
        // The first step succeeds; the whole upgrade must still be undone.
        QTest::newRow("failing upgrade step")
            << QByteArray(DatabaseSchema()) << QByteArray()
            << QStringList{"CREATE TABLE Extra(x)", "INSERT INTO NoSuchTable VALUES (1)"}
            << QString("no such table: NoSuchTable");
    }

    void foreignFilesAreRefusedUntouched()
    {
        QFETCH(QByteArray, sql);
        QFETCH(QByteArray, raw);
        QFETCH(QStringList, steps);
        QFETCH(QString, reason);
        delete DbAccess;
        DbAccess = nullptr;
        const QString path = env->Path("bookkeep.dat");
        QFile::remove(path);
        if (sql.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(raw);
        } else {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        const auto digest = [&] {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
        };
        const QByteArray before = digest();

        TExtraMigrations extra(Steps(steps));
        DbAccess = new TDbAccess;
        QVERIFY(!ConnectDatabase());
        QVERIFY(!DbAccess->Connected());
        QCOMPARE(env->Responder.Shown.size(), 1);
        QCOMPARE(env->Responder.Shown[0].caption, QString("错误"));
        QVERIFY(env->Responder.LastText().startsWith("数据库连接失败！\r\n详细信息："));
        QVERIFY2(env->Responder.LastText().contains(reason), qPrintable(env->Responder.LastText()));
        QCOMPARE(digest(), before);
        // Logged too: the program ends after the box.
        const QStringList logs = QDir(env->Dir.path()).entryList({"Log*.log"});
        QCOMPARE(logs.size(), 1);
        QFile log(env->Path(logs[0]));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString entry = QString::fromUtf8(log.readAll());
        QVERIFY2(entry.contains("：数据库连接失败！\r\n详细信息：") && entry.contains(reason) && entry.contains(path),
                 qPrintable(entry));
    }

    // A copy kept before an upgrade never holds the login password as typed
    // (files from before it was hashed do); a hash stays as it is.
    void upgradeCopyHoldsNoPlainPassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("hashed");
        QTest::newRow("as typed") << "银行卡密码是123456" << false;
        QTest::newRow("hashed") << "银行卡密码是123456" << true;
        QTest::newRow("none") << "" << false;
    }

    void upgradeCopyHoldsNoPlainPassword()
    {
        QFETCH(QString, password);
        QFETCH(bool, hashed);
        SetNewPasswordIterations(1000);
        const QString stored = hashed ? HashPassword(password) : password;
        DbExecSQL("update SysSet set bPass=-1, [PassWord]='" + stored + "'");
        const QString path = DbAccess->DatabasePath();
        const QString copy = path + ".v" + QString::number(CurrentSchemaVersion());
        const TExtraMigrations extra(Steps({"CREATE TABLE Extra(x)"}));
        Reconnect();
        SetNewPasswordIterations(kPasswordIterations);
        QVERIFY(DbAccess->Connected());
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open_v2(copy.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "select PassWord, bPass from SysSet", -1, &stmt, nullptr);
        QCOMPARE(sqlite3_step(stmt), SQLITE_ROW);
        const QString kept = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        const int bPass = sqlite3_column_int(stmt, 1);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        QCOMPARE(bPass, -1);
        if (password.isEmpty() || hashed) {
            QCOMPARE(kept, stored);
        } else {
            QVERIFY(IsPasswordHash(kept));
            QVERIFY(PasswordMatches(kept, password));
        }
        QVERIFY(!QFile::exists(copy + ".part"));
    }

    void olderFileIsUpgradedInOrderBesideACopy()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'kept')");
        const int version = CurrentSchemaVersion();
        const QString path = DbAccess->DatabasePath();
        const QString copy = path + ".v" + QString::number(version);
        const QByteArray before = Hash(path);
        // The second step fails unless the first ran before it.
        TExtraMigrations extra(Steps({"CREATE TABLE Extra(x)", "INSERT INTO Extra VALUES (42)"}));

        Reconnect();
        QVERIFY(DbAccess->Connected());
        QVERIFY(env->Responder.Shown.isEmpty());
        QCOMPARE(Count("PRAGMA user_version"), version + 2);
        QCOMPARE(Count("select x from Extra"), 42);
        QCOMPARE(Count("select count(*) from NoteType where TypeName='kept'"), 1);
        QCOMPARE(Hash(copy), before);

        // A current file is opened as it is: no copy, no change.
        QVERIFY(QFile::remove(copy));
        DbAccess->CloseConnection();
        const QByteArray upgraded = Hash(path);
        Reconnect();
        QCOMPARE(Hash(path), upgraded);
        QVERIFY(!QFile::exists(copy));

        // A new file gets every step at once.
        delete DbAccess;
        DbAccess = nullptr;
        QVERIFY(QFile::remove(path));
        Reconnect();
        QCOMPARE(Count("PRAGMA user_version"), version + 2);
        QCOMPARE(Count("select x from Extra"), 42);
        QCOMPARE(QDir(env->Dir.path()).entryList(QDir::Files), QStringList{"bookkeep.dat"});
    }

    void execRunsBatchesInOneTransaction()
    {
        DbExecSQL("insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'a')@#@@#@"
                  "insert into IEType(SelfIndex,ParentIndex,TypeName) values (2,0,'b')");
        QCOMPARE(Count("select count(*) from IEType"), 2);
        DbExecSQL("   \r\n ");
        QCOMPARE(Count("select count(*) from IEType"), 2);

        const QString batch = "delete from IEType where SelfIndex=1 @#@insert into NoSuchTable values (1)";
        const EDBException error = ExpectDbError([&] { DbExecSQL(batch); });
        QCOMPARE(error.UserMessage, QString("数据库操作失败！"));
        QCOMPARE(error.SQLText, batch);
        QCOMPARE(Count("select count(*) from IEType"), 2);
    }

    void failingBatchIsShownAndLoggedWithItsWholeText()
    {
        TClock::Set(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 7)));
        const QString batch = "delete from IE @#@bogus statement";
        RunHandler([&] { DbExecSQL(batch); });
        QCOMPARE(env->Responder.Shown.size(), 1);
        const QString shown = env->Responder.LastText();
        QVERIFY(shown.startsWith("数据库操作失败！\r\n详细信息："));
        QFile log(env->Path("Log20261208.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString entry = QString::fromUtf8(log.readAll());
        QCOMPARE(entry, "2026-12-08 09:05:07：" + shown + "\r\n" + batch + "\r\n");
        QCOMPARE(entry.count("\r\n"), 3);
    }

    void textValuesAreStoredAsTyped_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("injection") << "x'); delete from IE; --";
        QTest::newRow("separator") << "a@#@b";
        QTest::newRow("quotes") << "it's \"quoted\" ''twice''";
        QTest::newRow("lines and emoji") << "line 1\r\nline 2 😀";
    }

    void textValuesAreStoredAsTyped()
    {
        QFETCH(QString, value);
        DbExecSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'keep','keep','') ");
        DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(%s,'%s','%s','%s') ",
                            {"0", SqlText(value), SqlText(value), SqlText(value)}));
        DbAccess->OpenQuery("select * from IE order by ID");
        QCOMPARE(DbAccess->QuerySet->RecordCount(), 2);
        DbAccess->QuerySet->Last();
        QCOMPARE(DbAccess->QuerySet->AsString("IEName"), value);
        QCOMPARE(DbAccess->QuerySet->AsString("ReMark"), value);
    }

    void aPieceWithTwoStatementsChangesNothing()
    {
        DbExecSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'u','n','') ");
        const auto error = ExpectDbError([] { DbExecSQL("update IE set IEName='changed'; delete from IE"); });
        QCOMPARE(error.UserMessage, QString("数据库操作失败！"));
        DbAccess->OpenQuery("select IEName from IE");
        QCOMPARE(DbAccess->QuerySet->RecordCount(), 1);
        QCOMPARE(DbAccess->QuerySet->AsString(0), QString("n"));
    }

    void queriesReportTheirStatement()
    {
        for (const auto& run :
             std::initializer_list<std::function<void()>>{[] { DbAccess->OpenQuery("select nothing from nowhere"); },
                                                          [] { DbAccess->OpenQuery2("select nothing from nowhere"); },
                                                          [] { DbGetIntValue("select nothing from nowhere"); }}) {
            const EDBException error = ExpectDbError(run);
            QCOMPARE(error.UserMessage, QString("数据库查询错误，请检查！"));
            QCOMPARE(error.SQLText, QString("select nothing from nowhere"));
        }
    }

    void fillListViewKeepsOrRebuildsColumns()
    {
        DbExecSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(7,'url','name','remark') ");
        QTreeWidget view;
        view.setColumnCount(2);
        FillListView("select ID,TypeID,IEUrl,IEName,ReMark from IE", &view, false);
        QCOMPARE(view.columnCount(), 2);
        QCOMPARE(view.topLevelItemCount(), 1);
        QTreeWidgetItem* item = view.topLevelItem(0);
        QCOMPARE(item->text(0), QString("1"));
        QCOMPARE(item->text(2), QString("url"));
        QCOMPARE(item->text(4), QString("remark"));

        FillListView("select IEName,IEUrl from IE", &view, true);
        QCOMPARE(view.columnCount(), 2);
        QCOMPARE(view.headerItem()->text(1), QString("IEUrl"));
        QCOMPARE(view.columnWidth(0), 80);

        ExpectDbError([&] { FillListView("select broken", &view, false); });
        QCOMPARE(view.topLevelItemCount(), 0);
    }

    void splitString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("no separator") << "abc" << QStringList{"abc"};
        QTest::newRow("empty") << "" << QStringList{""};
        QTest::newRow("trailing") << "a@#@" << QStringList{"a", ""};
        QTest::newRow("two in a row") << "a@#@@#@b" << QStringList{"a", "", "b"};
    }

    void splitString()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, pieces);
        QCOMPARE(SplitString(text, "@#@"), pieces);
    }

    void statementsSplitOnlyOutsideLiterals()
    {
        QCOMPARE(SplitStatements("update t set a='x@#@y' @#@delete from t"),
                 QStringList({"update t set a='x@#@y' ", "delete from t"}));
        QCOMPARE(SplitStatements("select 'it''s@#@' @#@x"), QStringList({"select 'it''s@#@' ", "x"}));
    }

    // Tests run as root, whom file modes do not stop: the file system's
    // answer is replaced, the rest of the finding is the program's own.
    void readOnlyDataAreFoundAndRefuseWrites_data()
    {
        QTest::addColumn<QString>("denied"); // the path the file system refuses to write
        QTest::newRow("read-only file") << "bookkeep.dat";
        QTest::newRow("read-only folder") << ".";
        QTest::newRow("writable") << "";
    }

    void readOnlyDataAreFoundAndRefuseWrites()
    {
        QFETCH(QString, denied);
        const QString refused = denied.isEmpty() ? QString() : QDir::cleanPath(env->Path(denied));
        TDbAccess::PathWritable = [refused](const QString& path) { return QDir::cleanPath(path) != refused; };
        delete DbAccess;
        DbAccess = new TDbAccess;
        DbAccess->Connect();
        TDbAccess::PathWritable = nullptr;
        QVERIFY(DbAccess->Connected());
        QCOMPARE(DbAccess->ReadOnly(), !denied.isEmpty());
        QFile file(DbAccess->DatabasePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        if (denied.isEmpty()) {
            DbAccess->CheckWritable();
            DbExecSQL("update SysSet set bPass=-1");
            return;
        }
        try {
            DbAccess->CheckWritable();
            QFAIL("a command may change read-only data");
        } catch (const EError& e) {
            QCOMPARE(e.Message(), QString("数据文件只读，不能修改数据！"));
        }
        // A write that no command refused is stopped with the same words.
        const EDBException error = ExpectDbError([] { DbExecSQL("update SysSet set bPass=-1"); });
        QCOMPARE(error.Message(), QString("数据文件只读，不能修改数据！"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
};

JOTTEREL_TEST_MAIN(TestDbAccess)
#include "test_dbaccess.moc"
