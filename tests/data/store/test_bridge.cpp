#include "data/Clock.h"
#include "data/JetBridge.h"
#include "data/OleDate.h"
#include "data/Schema.h"
#include "data/SqliteDb.h"
#include "support/StoreTest.h"

#include <sqlite3.h>

#include <memory>

// The program's statement texts, built as the stores build them, run through
// the Jet bridge on a fresh database of the program's schema; the rows must
// be those Jet gives.

namespace {

using DbHandle = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

// Null when the schema or the bridge did not install.
DbHandle OpenFreshDb()
{
    sqlite3* raw = nullptr;
    DbHandle db(sqlite3_open(":memory:", &raw) == SQLITE_OK ? raw : nullptr, &sqlite3_close);
    if (!db) {
        sqlite3_close(raw);
        return db;
    }
    if (sqlite3_exec(db.get(), DatabaseSchema(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        !JetBridge::Install(db.get()))
        db.reset();
    return db;
}

struct QueryResult
{
    QString error; // empty on success
    QStringList columns;
    QList<QVariantList> rows;
};

QVariant ColumnValue(sqlite3_stmt* stmt, int i)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, i);
    case SQLITE_NULL:
        return {};
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                 sqlite3_column_bytes(stmt, i));
    }
}

// Runs one Jet statement text, translated, as exactly one SQLite statement.
QueryResult RunJet(sqlite3* db, const QString& jetSql)
{
    QueryResult result;
    const QByteArray sql = JetBridge::Translate(jetSql).toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &stmt, &tail) != SQLITE_OK || !stmt) {
        result.error = QString::fromUtf8(sqlite3_errmsg(db)) + " in: " + QString::fromUtf8(sql);
        return result;
    }
    if (!QByteArray(tail).trimmed().isEmpty())
        result.error = "more than one statement in: " + QString::fromUtf8(sql);
    for (int i = 0; i < sqlite3_column_count(stmt); ++i)
        result.columns.append(QString::fromUtf8(sqlite3_column_name(stmt, i)));
    int rc = SQLITE_ROW;
    while (result.error.isEmpty() && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QVariantList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            row.append(ColumnValue(stmt, i));
        result.rows.append(row);
    }
    if (result.error.isEmpty() && rc != SQLITE_DONE)
        result.error = QString::fromUtf8(sqlite3_errmsg(db)) + " in: " + QString::fromUtf8(sql);
    sqlite3_finalize(stmt);
    return result;
}

// Values with their storage class, so that the text "-1" never passes for
// the integer -1 and 29631.0 (REAL) shows apart from 29631.
QString Tagged(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        return "NULL";
    case QMetaType::Double:
        return "real " + QString::number(v.toDouble(), 'g', 17);
    case QMetaType::QString:
        return "'" + v.toString() + "'";
    default:
        return "int " + v.toString();
    }
}

QStringList Tagged(const QList<QVariantList>& rows, bool sorted)
{
    QStringList out;
    for (const QVariantList& row : rows) {
        QStringList values;
        for (const QVariant& v : row)
            values.append(Tagged(v));
        out.append(values.join(" | "));
    }
    if (sorted)
        out.sort();
    return out;
}

using Rows = QList<QVariantList>;

// Fills the "%s" of a statement pattern in order, as the stores do.
QString Fmt(QString pattern, const QStringList& values)
{
    for (const QString& value : values)
        pattern.replace(pattern.indexOf(QLatin1String("%s")), 2, value);
    return pattern;
}

// Text values go between quotes with embedded quotes doubled.
QString Q(QString text)
{
    return text.replace("'", "''");
}

QString T(int h, int m, int s)
{
    return TimeText(QTime(h, m, s));
}

QString D(int y, int m, int d)
{
    return DateText(QDate(y, m, d));
}

double Secs(int h, int m, int s)
{
    return (h * 3600 + m * 60 + s) / 86400.0;
}

QDateTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

const QString kInsertDaily = "Insert into Alam(AlamTime,ReMark)  values('%s','%s') ";
const QString kInsertOnce = "Insert into Alam(AlamTime,AlamDate,ReDay,ReMark)  values('%s','%s','%s','%s') ";
const QString kUpdateAlam = "update Alam set AlamTime='%s',AlamDate='%s',ReDay='%s',Remark='%s',bLook=0 where ID=%s  ";
const QString kMarkSeen = "update Alam set bLook=1 where ID=%s";
const QString kLoadAlam = "select * from Alam where ID=%s ";
const QString kAlamList =
    "select ID,IIf(ReDay,'每天  '+format(Alamtime,'HH:mm:ss'),format(Alamtime+AlamDate,'yyyy-mm-dd "
    "HH:mm:ss')) ,  Remark,IIF(bLook,'看过的','') from Alam ";
const QString kTick = "select ID,AlamDate,ReDay,Remark from Alam  where Alamtime=time() ";

// Seven reminders around the night of 2026-12-07: 1 daily; 2 tomorrow morning;
// 3 missed late tonight; 4 earlier today and seen; 5 the day after tomorrow;
// 6 made daily by a change (date 1981-02-14) and seen; 7 at tomorrow's midnight.
QStringList Reminders()
{
    return {
        Fmt(kInsertDaily, {T(8, 30, 0), "起床"}),
        Fmt(kInsertOnce, {T(9, 15, 0), D(2026, 12, 8), "0", "开会"}),
        Fmt(kInsertOnce, {T(23, 59, 30), D(2026, 12, 7), "0", "错过"}),
        Fmt(kInsertOnce, {T(10, 0, 0), D(2026, 12, 7), "0", "看过"}),
        Fmt(kMarkSeen, {"4"}),
        Fmt(kInsertOnce, {T(7, 0, 0), D(2026, 12, 9), "0", "后天"}),
        Fmt(kInsertOnce, {T(12, 0, 0), D(2026, 12, 10), "0", "改成每天"}),
        Fmt(kUpdateAlam, {T(18, 0, 0), D(1981, 2, 14), "-1", "每日散步", "6"}),
        Fmt(kMarkSeen, {"6"}),
        Fmt(kInsertOnce, {T(0, 0, 0), D(2026, 12, 8), "0", "午夜"}),
    };
}

const QVariantList kListed[] = {
    {},
    {1, "每天  08:30:00", "起床", ""},
    {2, "2026-12-08 09:15:00", "开会", ""},
    {3, "2026-12-07 23:59:30", "错过", ""},
    {4, "2026-12-07 10:00:00", "看过", "看过的"},
    {5, "2026-12-09 07:00:00", "后天", ""},
    {6, "每天  18:00:00", "每日散步", "看过的"},
    {7, "2026-12-08 00:00:00", "午夜", ""},
};

Rows Listed(std::initializer_list<int> ids)
{
    Rows rows;
    for (int id : ids)
        rows.append(kListed[id]);
    return rows;
}

const QString kGroupList = "select SelfIndex,ParentIndex,TypeName from NoteType  order by SelfIndex asc";
const QString kAddGroup = "insert into %s(SelfIndex,ParentIndex,TypeName) values (%s,%s,'%s')";

QStringList Groups()
{
    return {Fmt(kAddGroup, {"NoteType", "3", "0", Q("It's 'x'+'y'")}), Fmt(kAddGroup, {"NoteType", "1", "0", "工作"}),
            Fmt(kAddGroup, {"NoteType", "2", "1", "项目"}), Fmt(kAddGroup, {"IEType", "1", "0", "书签"})};
}

// The notes' rows are appended through a dataset, not by statements.
const QStringList kNotes{"insert into NoteBook(TypeID,ReMark) values(1,'第一条')",
                         "insert into NoteBook(TypeID,ReMark) values(2,'第二条')"};
const QString kNoteCount = "select count(TypeID) from NoteBook where TypeID= %s ";

const QString kInsertIE = "Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(%s,'%s','%s','%s') ";
const QString kIEList = "select ID,IEName as 标题,Remark as 备注,IEUrl as 网址 from IE  ";
const QString kLoadIE = "select * from IE where ID=%s ";
const QStringList kIEListColumns{"ID", "标题", "备注", "网址"};
const QStringList kIEColumns{"ID", "TypeID", "IEUrl", "IEName", "ReMark"};

QStringList Bookmarks()
{
    return {Fmt(kInsertIE, {"1", "https://example.org/?q=a+b", Q("Qt 'docs'"), "第一行\n第二行"}),
            Fmt(kInsertIE, {"0", "http://localhost/", "Home", ""}),
            Fmt(kInsertIE, {"1", "ftp://x/", D(2026, 12, 8), Q("'1'+'2'")})};
}

const QVariantList kIE1{1, "Qt 'docs'", "第一行\n第二行", "https://example.org/?q=a+b"};
const QVariantList kIE2{2, "Home", "", "http://localhost/"};

const QString kSaveConfig = "update SysSet set bPass='%s',[PassWord]='%s' ";
} // namespace

class TestBridge : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        TClock::Release();
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    }

    void statements_data();
    void statements();
    void dateAndTimeTexts_data();
    void dateAndTimeTexts();
    void oleNumbers_data();
    void oleNumbers();
    void jetExpressions_data();
    void jetExpressions();
};

void TestBridge::statements_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("clock");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("columns"); // empty: not checked
    QTest::addColumn<Rows>("rows");

    for (const char* locale : {"zh_CN", "en_US"}) {
        // The statements are formatted in the locale under test, as the stores do.
        QLocale::setDefault(QLocale(locale));
        const auto add = [locale](const char* name, const QDateTime& clock, const QStringList& setup,
                                  const QString& query, const QStringList& columns, const Rows& rows) {
            QTest::addRow("%s: %s", locale, name) << QString(locale) << clock << setup << query << columns << rows;
        };
        const QDateTime noon = At(2026, 12, 8, 12, 0, 0);
        const QStringList alam{"ID", "AlamTime", "AlamDate", "ReDay", "ReMark", "bLook"};

        // Storing reminders.
        add("daily insert takes the defaults", noon, Reminders(), Fmt(kLoadAlam, {"1"}), alam,
            {{1, Secs(8, 30, 0), QVariant(), -1, "起床", 0}});
        add("one-off insert stores OLE numbers", noon, Reminders(), Fmt(kLoadAlam, {"2"}), alam,
            {{2, Secs(9, 15, 0), 46364.0, 0, "开会", 0}});
        add("change to daily stores 1981-02-14", noon, Reminders(), Fmt(kLoadAlam, {"6"}), {},
            {{6, Secs(18, 0, 0), 29631.0, -1, "每日散步", 1}});
        add("update stores OLE numbers and clears seen", noon,
            Reminders() << Fmt(kUpdateAlam, {T(21, 5, 7), D(2026, 12, 31), "0", Q("it's 改过"), "4"}),
            Fmt(kLoadAlam, {"4"}), {}, {{4, Secs(21, 5, 7), 46387.0, 0, "it's 改过", 0}});
        add("unreadable date text is kept", noon,
            Reminders() << Fmt(kUpdateAlam, {T(7, 0, 0), "下周", "0", "后天", "5"}), Fmt(kLoadAlam, {"5"}), {},
            {{5, Secs(7, 0, 0), "下周", 0, "后天", 0}});
        add("delete", noon, Reminders() << "delete from Alam where ID=3 ", Fmt(kLoadAlam, {"3"}), {}, {});
        add("empty table", noon, {}, kAlamList, {}, {});

        // The list under its six filters, just before and just after midnight.
        const QDateTime before = At(2026, 12, 7, 23, 59, 59, 500);
        const QDateTime after = At(2026, 12, 8, 0, 0, 1);
        const QString today = kAlamList + "where AlamDate=Date() ";
        const QString tomorrow = kAlamList + "where AlamDate=Date()+1 ";
        const QString missed = kAlamList + "where AlamDate+AlamTime<Now() and bLook=0 and ReDay = 0 ";
        const QString seen = kAlamList + "where bLook<>0 and ReDay = 0 ";
        const QString daily = kAlamList + "where ReDay <> 0 ";
        add("today, before midnight", before, Reminders(), today, {}, Listed({3, 4}));
        add("today, after midnight", after, Reminders(), today, {}, Listed({2, 7}));
        add("tomorrow, before midnight", before, Reminders(), tomorrow, {}, Listed({2, 7}));
        add("tomorrow, after midnight", after, Reminders(), tomorrow, {}, Listed({5}));
        add("missed, before midnight", before, Reminders(), missed, {}, Listed({3}));
        add("missed, after midnight", after, Reminders(), missed, {}, Listed({3, 7}));
        add("seen, before midnight", before, Reminders(), seen, {}, Listed({4}));
        add("seen, after midnight", after, Reminders(), seen, {}, Listed({4}));
        add("daily, before midnight", before, Reminders(), daily, {}, Listed({1, 6}));
        add("daily, after midnight", after, Reminders(), daily, {}, Listed({1, 6}));
        add("all, before midnight", before, Reminders(), kAlamList, {}, Listed({1, 2, 3, 4, 5, 6, 7}));
        add("all, after midnight", after, Reminders(), kAlamList, {}, Listed({1, 2, 3, 4, 5, 6, 7}));

        // The tick compares to the whole second.
        add("tick at the second", At(2026, 12, 8, 9, 15, 0, 999), Reminders(), kTick, {}, {{2, 46364.0, 0, "开会"}});
        add("tick a second early", At(2026, 12, 8, 9, 14, 59, 999), Reminders(), kTick, {}, {});
        add("tick a second late", At(2026, 12, 8, 9, 15, 1), Reminders(), kTick, {}, {});
        add("tick on another day", At(2027, 3, 1, 9, 15, 0), Reminders(), kTick, {}, {{2, 46364.0, 0, "开会"}});
        add("tick of a daily reminder", At(2027, 3, 1, 8, 30, 0), Reminders(), kTick, {},
            {{1, QVariant(), -1, "起床"}});
        add("tick of a changed daily reminder", At(2027, 3, 1, 18, 0, 0), Reminders(), kTick, {},
            {{6, 29631.0, -1, "每日散步"}});
        add("tick at midnight", At(2026, 12, 8, 0, 0, 0), Reminders(), kTick, {}, {{7, 46364.0, 0, "午夜"}});

        // Group trees.
        add("groups in order", noon, Groups(), kGroupList, {},
            {{1, 0, "工作"}, {2, 1, "项目"}, {3, 0, "It's 'x'+'y'"}});
        add("rename group", noon,
            Groups() << Fmt("update %s set TypeName='%s' where SelfIndex=%s ", {"NoteType", Q("A+'B'"), "2"}),
            kGroupList, {}, {{1, 0, "工作"}, {2, 1, "A+'B'"}, {3, 0, "It's 'x'+'y'"}});
        add("delete group", noon,
            Groups() << Fmt("delete from %s where selfIndex=%s ", {"NoteType", "1"})
                     << Fmt("delete from %s where ParentIndex=%s ", {"NoteType", "1"}),
            kGroupList, {}, {{3, 0, "It's 'x'+'y'"}});
        add("group name", noon, Groups(), Fmt("select TypeName from IEType where Selfindex=%s ", {"1"}), {"TypeName"},
            {{"书签"}});
        add("root group has no name", noon, Groups(), Fmt("select TypeName from IEType where Selfindex=%s ", {"0"}), {},
            {});

        // Notes.
        add("note exists", noon, kNotes, Fmt(kNoteCount, {"1"}), {}, {{1}});
        add("note missing", noon, kNotes, Fmt(kNoteCount, {"9"}), {}, {{0}});
        add("load note", noon, kNotes, Fmt("select * from NoteBook where TypeID=%s ", {"2"}), {"TypeID", "ReMark"},
            {{2, "第二条"}});
        add("empty note result", noon, kNotes, "select * from NoteBook where 1<> 1 ", {"TypeID", "ReMark"}, {});
        add("note to change", noon, kNotes, Fmt("select * from NoteBook where TypeId=%s", {"1"}), {}, {{1, "第一条"}});
        add("delete notes", noon, QStringList(kNotes) << Fmt("delete from NoteBook where TypeID=%s", {"1"}),
            Fmt(kNoteCount, {"1"}), {}, {{0}});

        // Bookmarks.
        const QVariantList ie3{3, D(2026, 12, 8), "'1'+'2'", "ftp://x/"};
        add("bookmark list", noon, Bookmarks(), kIEList, kIEListColumns, {kIE1, kIE2, ie3});
        add("bookmark group list", noon, Bookmarks(), kIEList + Fmt(" where TypeID=%s ", {"1"}), kIEListColumns,
            {kIE1, ie3});
        add("load bookmark", noon, Bookmarks(), Fmt(kLoadIE, {"3"}), kIEColumns,
            {{3, 1, "ftp://x/", D(2026, 12, 8), "'1'+'2'"}});
        add("update bookmark", noon,
            Bookmarks() << Fmt("update IE set TypeID=%s,IEUrl='%s',IEName='%s',ReMark='%s' where ID=%s  ",
                               {"2", "https://qt.io/", Q("a'+'b"), T(9, 15, 0), "1"}),
            Fmt(kLoadIE, {"1"}), {}, {{1, 2, "https://qt.io/", "a'+'b", T(9, 15, 0)}});
        add("delete bookmark", noon, Bookmarks() << Fmt("delete from IE where ID=%s ", {"1"}), kIEList, {},
            {kIE2, ie3});
        add("delete group bookmarks", noon, Bookmarks() << Fmt("delete from IE where TypeID=%s ", {"1"}), kIEList, {},
            {kIE2});

        // Settings.
        add("settings as created", noon, {}, "select * from SysSet", {"bPass", "PassWord"}, {{0, ""}});
        add("password set", noon, {Fmt(kSaveConfig, {"-1", Q("p'w+1")})}, "select * from SysSet", {}, {{-1, "p'w+1"}});
        add("password off", noon, {Fmt(kSaveConfig, {"-1", "x"}), Fmt(kSaveConfig, {"0", ""})}, "select * from SysSet",
            {}, {{0, ""}});
    }
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
}

void TestBridge::statements()
{
    QFETCH(QString, locale);
    QFETCH(QDateTime, clock);
    QFETCH(QStringList, setup);
    QFETCH(QString, query);
    QFETCH(QStringList, columns);
    QFETCH(Rows, rows);

    QLocale::setDefault(QLocale(locale));
    TClock::Set(clock);
    const DbHandle db = OpenFreshDb();
    QVERIFY(db);
    for (const QString& statement : setup) {
        const QueryResult done = RunJet(db.get(), statement);
        QVERIFY2(done.error.isEmpty(), qPrintable(done.error));
    }
    const QueryResult result = RunJet(db.get(), query);
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    if (!columns.isEmpty())
        QCOMPARE(result.columns, columns);
    // Without an ordering clause the order of the rows is not part of the result.
    const bool ordered = query.contains("order by", Qt::CaseInsensitive);
    QCOMPARE(Tagged(result.rows, !ordered), Tagged(rows, !ordered));
}

void TestBridge::dateAndTimeTexts_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("moment");
    for (const char* locale : {"zh_CN", "en_US", "de_DE", "en_GB", "ko_KR"})
        for (const QDateTime& moment : {At(2026, 12, 8, 9, 15, 0), At(1981, 2, 14, 0, 0, 0), At(2026, 6, 30, 12, 0, 0),
                                        At(2000, 1, 1, 23, 59, 59), At(2026, 12, 31, 21, 5, 7)})
            QTest::addRow("%s %s", locale, qPrintable(moment.toString(Qt::ISODate))) << QString(locale) << moment;
}

void TestBridge::dateAndTimeTexts()
{
    QFETCH(QString, locale);
    QFETCH(QDateTime, moment);
    QLocale::setDefault(QLocale(locale));

    const QString date = DateText(moment.date());
    QVERIFY2(date.contains(QString::number(moment.date().year())), qPrintable(date));
    QCOMPARE(ReadDateText(date), moment.date());
    QCOMPARE(ReadTimeText(TimeText(moment.time())), moment.time());
    QCOMPARE(ReadDateTimeText(DateTimeText(moment)), moment);
    QCOMPARE(DateTimeText(moment), date + ' ' + TimeText(moment.time()));
    QVERIFY(!ReadDateText("31/31/31 x").isValid());
    QVERIFY(!ReadTimeText(date).isValid());
}

void TestBridge::oleNumbers_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<double>("value");
    QTest::addColumn<QDateTime>("back");
    QTest::newRow("epoch") << At(1899, 12, 30, 0, 0, 0) << 0.0 << At(1899, 12, 30, 0, 0, 0);
    QTest::newRow("whole day") << At(1981, 2, 14, 0, 0, 0) << 29631.0 << At(1981, 2, 14, 0, 0, 0);
    QTest::newRow("noon of day 0") << At(1899, 12, 30, 12, 0, 0) << 0.5 << At(1899, 12, 30, 12, 0, 0);
    QTest::newRow("before the epoch") << At(1899, 12, 29, 6, 0, 0) << -1.25 << At(1899, 12, 29, 6, 0, 0);
    QTest::newRow("milliseconds dropped")
        << At(2026, 12, 8, 9, 15, 0, 999) << 46364 + 33300 / 86400.0 << At(2026, 12, 8, 9, 15, 0);
    QTest::newRow("last second") << At(2026, 12, 8, 23, 59, 59) << 46364 + 86399 / 86400.0
                                 << At(2026, 12, 8, 23, 59, 59);
}

void TestBridge::oleNumbers()
{
    QFETCH(QDateTime, moment);
    QFETCH(double, value);
    QFETCH(QDateTime, back);
    QCOMPARE(Ole::FromDateTime(moment), value);
    QCOMPARE(Ole::ToDateTime(value), back);
    QCOMPARE(Ole::ToDate(value), back.date());
    QCOMPARE(Ole::ToTime(value), back.time());
}

void TestBridge::jetExpressions_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("text + text") << "'a'+'b'" << QVariant("ab");
    QTest::newRow("sum, then text") << "1+2+'a'" << QVariant("3a");
    QTest::newRow("text + product") << "'a'+2*3" << QVariant("a6");
    QTest::newRow("product + text") << "2*3+'a'" << QVariant("6a");
    QTest::newRow("text in parentheses") << "('a'+'b')+1" << QVariant("ab1");
    QTest::newRow("negative number") << "'a' + -1" << QVariant("a-1");
    QTest::newRow("text + null") << "'a'+NULL" << QVariant();
    QTest::newRow("plus inside a literal") << "'x+y'" << QVariant("x+y");
    QTest::newRow("doubled quotes") << "'it''s'+'+'" << QVariant("it's+");
    QTest::newRow("numbers stay numbers") << "1+2" << QVariant(3);
    QTest::newRow("Date()+1") << "Date()+1" << QVariant(46365.0);
    QTest::newRow("Time()") << "Time()" << QVariant(33300 / 86400.0);
    QTest::newRow("Now()") << "Now()" << QVariant(46364 + 33300 / 86400.0);
    QTest::newRow("IIf true") << "IIf(-1,'y','n')" << QVariant("y");
    QTest::newRow("IIF false") << "IIF(0,'y','n')" << QVariant("n");
    QTest::newRow("format date and time") << "format(Now(),'yyyy-mm-dd HH:mm:ss')" << QVariant("2026-12-08 09:15:00");
    QTest::newRow("format short fields") << "format(Now(),'yy/m/d h:n:s')" << QVariant("26/12/8 9:15:0");
    QTest::newRow("format 12-hour") << "format(0.876,'hh:mm:ss AM/PM')" << QVariant("09:01:26 PM");
    QTest::newRow("format a/p") << "format(0.25,'h a/p')" << QVariant("6 a");
    QTest::newRow("format quoted literal") << "format(Now(),'\"mm\" mm hh:mm')" << QVariant("mm 12 09:15");
    QTest::newRow("format rounds to the second")
        << "format(46364.999999,'yyyy-mm-dd HH:mm:ss')" << QVariant("2026-12-09 00:00:00");
    QTest::newRow("format null") << "format(NULL,'HH:mm:ss')" << QVariant();
    QTest::newRow("format text") << "format('2026-12-08 09:15:00','dd.mm.yyyy')" << QVariant("08.12.2026");
    QTest::newRow("format + text") << "format(Now(),'HH:mm')+' '+'Uhr'" << QVariant("09:15 Uhr");
    QTest::newRow("CDate ISO") << "CDate('2026-12-08')" << QVariant(46364.0);
    QTest::newRow("CDate program text") << "CDate('" + DateTimeText(At(2026, 12, 8, 9, 15, 0)) + "')"
                                        << QVariant(46364 + 33300 / 86400.0);
    QTest::newRow("CDate unreadable") << "CDate('abc')" << QVariant();
    QTest::newRow("SQLite's date() still there") << "date('2026-12-08','+1 day')" << QVariant("2026-12-09");
}

void TestBridge::jetExpressions()
{
    QFETCH(QString, expression);
    QFETCH(QVariant, value);
    TClock::Set(At(2026, 12, 8, 9, 15, 0, 400));
    const DbHandle db = OpenFreshDb();
    QVERIFY(db);
    const QueryResult result = RunJet(db.get(), "select " + expression);
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QCOMPARE(result.rows.size(), 1);
    QCOMPARE(Tagged(result.rows.first().first()), Tagged(value));
}

JOTTEREL_STORE_TEST_MAIN(TestBridge)
#include "test_bridge.moc"
