#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "reminders/Chime.h"
#include "reminders/MissedAlam.h"
#include "reminders/ShowAlam.h"
#include "reminders/UntAlam.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <sqlite3.h>

// What the one-second tick shows (which reminders it finds is tested at the
// store), the alert windows and the messages they post back to the main
// window. Time is driven by the clock; the tick is called directly.

namespace {
// The store these tests read and write, as a page or dialog would be handed it.
TAlam Alam;
} // namespace

namespace {
const QDate kDay(2026, 12, 7);

QDateTime At(const QDate& day, int h, int m, int s, int ms = 0)
{
    return QDateTime(day, QTime(h, m, s, ms));
}

// A reminder to create before the ticks.
struct TPlan
{
    QTime time;
    QDate date; // invalid: repeating
};

void AddReminder(const TPlan& plan, const QString& text)
{
    Alam.AlamTime = plan.time;
    Alam.AlamDate = plan.date.isValid() ? plan.date : kDay;
    Alam.ReDay = !plan.date.isValid();
    Alam.WeekDays = kEveryDay;
    Alam.ReMark = text;
    Alam.InsertAlam();
}

QList<TFormShowAlam*> OpenAlerts()
{
    QList<TFormShowAlam*> alerts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* alert = qobject_cast<TFormShowAlam*>(widget); alert && alert->isVisible())
            alerts << alert;
    }
    return alerts;
}

QStringList AlertIds()
{
    QStringList ids;
    for (const TFormShowAlam* alert : OpenAlerts())
        ids << alert->AlamID;
    ids.sort();
    return ids;
}

// The alerts and the missed window (their menus are windows of their own,
// which go with them).
void CloseAllAlerts()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<TFormShowAlam*>(widget) || qobject_cast<TFormMissedAlam*>(widget))
            windows << widget;
    qDeleteAll(windows);
}

QList<TFormMissedAlam*> MissedWindows()
{
    QList<TFormMissedAlam*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<TFormMissedAlam*>(widget); window && window->isVisible())
            windows << window;
    return windows;
}

// The IDs the missed window lists, in its order.
QStringList MissedIds()
{
    QStringList ids;
    for (const TFormMissedAlam* window : MissedWindows())
        for (const TDueAlam& row : window->Rows())
            ids << row.Id;
    return ids;
}

// The user brings an alert to the front with a click on its text a while
// after it appeared (the test's desktop has no window manager to activate it).
void BringToFront(TFormShowAlam* alert)
{
    QCoreApplication::processEvents();
    TClock::Advance(1000);
    alert->activateWindow();
    auto* roll = alert->findChild<QPropertyAnimation*>();
    roll->setCurrentTime(roll->duration()); // rolled open
    const QWidget* text = alert->findChild<QTextEdit*>("mmo1");
    QTest::mouseClick(alert->windowHandle(), Qt::LeftButton, {}, text->mapTo(alert, text->rect().center()));
    QCoreApplication::processEvents();
}

QStringList Rows(const QTreeWidget* list)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(3);
    return rows;
}

// Answers every box like the preset responder, and runs an action while the
// first one is open, as the box's own event loop would deliver timer ticks.
class TBusyResponder : public TPresetResponder
{
public:
    std::function<void()> WhileOpen;
    bool Message(Kind kind, const QString& caption, const QString& text) override
    {
        const bool answer = TPresetResponder::Message(kind, caption, text);
        if (auto action = std::exchange(WhileOpen, nullptr))
            action();
        return answer;
    }
};
} // namespace

class TestAlamFiring : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TPageFixture> form;
    QList<QUrl> chimes;

    QTreeWidget* List() const { return OnShownPage<QTreeWidget>(form.get(), "lv1"); }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        chimes.clear();
        SetChimePlayer([this](const QUrl& source) { chimes << source; });
        form = std::make_unique<TPageFixture>();
    }
    void cleanup()
    {
        CloseAllAlerts();
        form.reset();
        SetChimePlayer(nullptr);
        env.reset();
    }

    void missedWindowAnswers_data();
    void missedWindowAnswers();
    void alertOnScreenIsNotMissed_data();
    void alertOnScreenIsNotMissed();
    void manyMissedOpenOneWindow();
    void failingTickOpensOneBoxAtATime();
    void lockedFileCostsOneBoxPerEpisode();
    void alertLooksAsDesigned();
    void alertSitsAtTheBottomRight();
    void alertsCascade();
    void alertLeavesTheKeysWhereTheyGo();
    void alertAnswersWhileADialogIsOpen();
    void alertRollsOpenFromTheBottom();
    void dailyAlertOnlyCloses_data();
    void dailyAlertOnlyCloses();
    void buttonsPostTheirMessage_data();
    void buttonsPostTheirMessage();
    void messagesForOtherRemindersChangeNothing();
    void alertIsReleasedOnlyByItsButtons();
    void chimePrefersTheFileBesideTheProgram();
};

void TestAlamFiring::missedWindowAnswers_data()
{
    QTest::addColumn<int>("select"); // -1: 全部选中, else the row clicked (0 is chosen from the start)
    QTest::addColumn<QString>("press");
    QTest::addColumn<QString>("delText");
    QTest::addColumn<QStringList>("rowsLeft");
    QTest::addColumn<QStringList>("stored");      // ID|seen, every row left in the table
    QTest::addColumn<QStringList>("listed");      // the page's list under "全部提醒": ID|status
    QTest::addColumn<QStringList>("backAtStart"); // listed again by the next start's missed window
    // 1 one-off 10:10, 2 daily 10:20, 3 one-off 10:30, all missed.
    const QString del = "看到了并删除";
    QTest::newRow("seen, the first as chosen")
        << 0 << "btnSeen" << del << QStringList{"2", "3"} << QStringList{"1|1", "2|0", "3|0"}
        << QStringList{"1|看过的", "2|", "3|"} << QStringList{"3"};
    QTest::newRow("seen, all") << -1 << "btnSeen" << del << QStringList{} << QStringList{"1|1", "2|0", "3|1"}
                               << QStringList{"1|看过的", "2|", "3|看过的"} << QStringList{};
    QTest::newRow("delete, the first as chosen")
        << 0 << "btnDel" << del << QStringList{"2", "3"} << QStringList{"2|0", "3|0"} << QStringList{"2|", "3|"}
        << QStringList{"3"};
    QTest::newRow("the repeating one alone is only seen")
        << 1 << "btnDel"
        << "看到了" << QStringList{"1", "3"} << QStringList{"1|0", "2|0", "3|0"} << QStringList{"1|", "2|", "3|"}
        << QStringList{"1", "3"};
    QTest::newRow("delete, all: the daily one stays")
        << -1 << "btnDel" << del << QStringList{} << QStringList{"2|0"} << QStringList{"2|"} << QStringList{};
    QTest::newRow("snooze all for half an hour: shown, times kept")
        << -1 << "NSnooze30" << del << QStringList{} << QStringList{"1|0", "2|0", "3|0"}
        << QStringList{"1|稍后 11:30", "2|稍后 11:30", "3|稍后 11:30"} << QStringList{};
    QTest::newRow("稍后处理 leaves them missed")
        << 0 << "btnLater" << del << QStringList{} << QStringList{"1|0", "2|0", "3|0"} << QStringList{"1|", "2|", "3|"}
        << QStringList{"1", "3"};
    QTest::newRow("the close box is 稍后处理")
        << 0 << "close" << del << QStringList{} << QStringList{"1|0", "2|0", "3|0"} << QStringList{"1|", "2|", "3|"}
        << QStringList{"1", "3"};
}

void TestAlamFiring::missedWindowAnswers()
{
    QFETCH(int, select);
    QFETCH(QString, press);
    QFETCH(QString, delText);
    QFETCH(QStringList, rowsLeft);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, backAtStart);
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder({QTime(10, 10, 0), kDay}, "一");
    AddReminder({QTime(10, 20, 0), {}}, "二");
    AddReminder({QTime(10, 30, 0), kDay}, "三");
    form->show();
    QTest::mouseClick(OnShownPage<QWidget>(form.get(), "rbAll"), Qt::LeftButton);
    TClock::Set(At(kDay, 10, 0, 0));
    form->Tick();
    TClock::Set(At(kDay, 11, 0, 0));
    form->Tick();
    QCOMPARE(MissedIds(), (QStringList{"1", "2", "3"}));
    TFormMissedAlam* window = MissedWindows().value(0);
    auto* rows = window->findChild<QTreeWidget*>("lvMissed");
    QCOMPARE(rows->topLevelItem(0)->text(0), QString("2026-12-07 10:10:00"));
    QCOMPARE(rows->topLevelItem(2)->text(1), QString("三"));
    QCOMPARE(rows->selectedItems(), QList<QTreeWidgetItem*>{rows->topLevelItem(0)});
    if (select < 0)
        window->findChild<QPushButton*>("btnAll")->click();
    else if (select > 0)
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                          rows->visualItemRect(rows->topLevelItem(select)).center());
    QCOMPARE(window->findChild<QPushButton*>("btnDel")->text(), delText);
    if (press.startsWith("NSnooze"))
        window->findChild<QAction*>(press)->trigger();
    else if (press == "close")
        window->close();
    else
        window->findChild<QPushButton*>(press)->click();
    QCoreApplication::processEvents();
    QCOMPARE(MissedIds(), rowsLeft);
    QStringList table;
    DbAccess->OpenQuery("select ID,bLook from Alam order by ID");
    for (DbAccess->QuerySet->First(); !DbAccess->QuerySet->Eof(); DbAccess->QuerySet->Next())
        table << DbAccess->QuerySet->AsString("ID") + "|" +
                     QString::number(DbAccess->QuerySet->AsInteger("bLook") != 0);
    QCOMPARE(table, stored);
    QCOMPARE(Rows(List()), listed);
    QVERIFY(env->Responder.Shown.isEmpty());

    // The program ends and starts again a few seconds later: the one-off
    // reminders left unanswered in the window are listed again.
    form.reset();
    form = std::make_unique<TPageFixture>();
    TClock::Set(At(kDay, 11, 0, 5));
    form->Tick();
    QCOMPARE(MissedIds(), backAtStart);
}

void TestAlamFiring::alertOnScreenIsNotMissed_data()
{
    QTest::addColumn<bool>("daily");
    QTest::addColumn<QString>("statusAfter"); // under 全部提醒 at the next start
    QTest::newRow("one-off") << false << "错过的";
    QTest::newRow("daily") << true << "";
}

// A reminder whose alert is still open is being answered: its row is
// neither red nor under 错过的提醒. The program ending with the alert open
// leaves it for later: the next start lists it in the missed window (a
// one-off one red in the list too), until it is answered there.
void TestAlamFiring::alertOnScreenIsNotMissed()
{
    QFETCH(bool, daily);
    QFETCH(QString, statusAfter);
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder({QTime(10, 0, 0), daily ? QDate() : kDay}, "开会");
    form->show();
    TClock::Set(At(kDay, 10, 0, 0));
    form->Tick();
    QCOMPARE(AlertIds(), QStringList{"1"});
    TClock::Set(At(kDay, 10, 5, 0));
    QTest::mouseClick(OnShownPage<QWidget>(form.get(), "rbAll"), Qt::LeftButton);
    QCOMPARE(Rows(List()), QStringList{"1|"});
    QTest::mouseClick(OnShownPage<QWidget>(form.get(), "rbMiss"), Qt::LeftButton);
    QCOMPARE(Rows(List()), QStringList{});

    form.reset();
    CloseAllAlerts();
    form = std::make_unique<TPageFixture>();
    form->show();
    QTest::mouseClick(OnShownPage<QWidget>(form.get(), "rbAll"), Qt::LeftButton);
    QCOMPARE(Rows(List()), QStringList{"1|" + statusAfter});
    TClock::Set(At(kDay, 10, 6, 0));
    form->Tick();
    QCOMPARE(MissedIds(), QStringList{"1"});
    QCOMPARE(MissedWindows()[0]->Rows()[0].Moment, At(kDay, 10, 0, 0));
    MissedWindows()[0]->findChild<QPushButton*>(daily ? "btnDel" : "btnSeen")->click();
    CloseAllAlerts();
    form.reset();
    form = std::make_unique<TPageFixture>();
    TClock::Set(At(kDay, 10, 7, 0));
    form->Tick();
    QCOMPARE(MissedIds(), QStringList{});
}

// Hours asleep with hundreds due: one window lists them all and the chime
// sounds once for it; only what is due at the tick's own second opens an
// alert, showing the reminder's text, with a chime of its own.
void TestAlamFiring::manyMissedOpenOneWindow()
{
    QStringList inserts;
    for (int i = 0; i < 300; ++i)
        inserts << QString("insert into Alam(AlamTime,AlamDate,ReDay,ReMark) values (%1,%2,0,'第%3个')")
                       .arg((36000 + i * 36) / 86400.0, 0, 'g', 17)
                       .arg(Ole::FromDate(kDay))
                       .arg(i + 1);
    DbExecSQL(inserts.join("@#@"));
    AddReminder({QTime(13, 0, 0), kDay}, "现在");
    TClock::Set(At(kDay, 9, 59, 59));
    form->Tick();
    TClock::Set(At(kDay, 13, 0, 0));
    form->Tick();
    QCOMPARE(MissedWindows().size(), 1);
    QCOMPARE(MissedIds().size(), 300);
    QCOMPARE(MissedIds().first(), QString("1"));
    QCOMPARE(MissedIds().last(), QString("300"));
    QCOMPARE(AlertIds(), QStringList{"301"});
    QCOMPARE(OpenAlerts()[0]->findChild<QTextEdit*>("mmo1")->toPlainText(), QString("现在"));
    QCOMPARE(chimes.size(), 2);
    QVERIFY(env->Responder.Shown.isEmpty());
}

void TestAlamFiring::failingTickOpensOneBoxAtATime()
{
    TBusyResponder responder;
    SetDialogResponder(&responder);
    DbExecSQL("drop table Alam");
    TClock::Set(At(kDay, 10, 0, 0));
    int ticksWhileOpen = 0;
    responder.WhileOpen = [&] {
        for (int i = 0; i < 3; ++i) {
            TClock::Advance(1000);
            form->Tick();
            ++ticksWhileOpen;
        }
    };
    form->Tick();
    QCOMPARE(ticksWhileOpen, 3);
    QCOMPARE(responder.Shown.size(), 1);
    QCOMPARE(responder.Shown[0].kind, IDialogResponder::Kind::Error);
    QVERIFY(responder.Shown[0].text.contains("Alam"));
    // Once the box is closed, the next tick tries again, quietly while the
    // same failure persists.
    TClock::Advance(1000);
    form->Tick();
    QCOMPARE(responder.Shown.size(), 1);
    SetDialogResponder(&env->Responder);
}

// Another program holding the file costs one box per episode, not one per
// second nor one for the tick and another for the note typed meanwhile; the
// reminders that fell due and the keys typed meanwhile are kept once it lets go.
void TestAlamFiring::lockedFileCostsOneBoxPerEpisode()
{
    AddReminder({QTime(10, 0, 3), kDay}, "locked out");
    form->show();
    auto* memo = form->findChild<QPlainTextEdit*>("mmoNote");
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &other), SQLITE_OK);
    const auto tick = [this](int second) {
        TClock::Set(At(kDay, 10, 0, second));
        form->Tick();
    };
    tick(0);
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    for (int second = 1; second <= 4; ++second) {
        tick(second);
        QTest::keyClicks(memo, QString::number(second));
    }
    QCOMPARE(env->Responder.Texts(), QStringList({"数据库查询错误，请检查！\r\n详细信息：database is locked"}));
    QCOMPARE(AlertIds(), QStringList());
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    tick(5);
    QCOMPARE(AlertIds(), QStringList({"1"}));
    QCOMPARE(env->Responder.Shown.size(), 1);
    QCOMPARE(DbGetIntValue("select count(*) from NoteBook where ReMark = '1234'"), 1);
    // The note meets the held file first this time.
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    QTest::keyClicks(memo, "5");
    tick(6);
    tick(7);
    QCOMPARE(env->Responder.Shown.size(), 2);
    QVERIFY(env->Responder.LastText().contains("记事内容仍在窗口中"));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

void TestAlamFiring::alertLooksAsDesigned()
{
    QPointer<TFormShowAlam> alert = ShowAlamAlert("7", "开会\n带上材料", false);
    QVERIFY(alert->isVisible());
    QCOMPARE(alert->windowTitle(), QString("提醒"));
    const Qt::WindowFlags flags = alert->windowFlags();
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(!(flags & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint)));
    QVERIFY(!alert->isModal());
    QCOMPARE(alert->size(), QSize(292, 198));
    QCOMPARE(alert->palette().color(QPalette::Window), QColor(240, 240, 240));

    auto* memo = alert->findChild<QTextEdit*>("mmo1");
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->toPlainText(), QString("开会\n带上材料"));
    QCOMPARE(memo->palette().color(QPalette::Text), QColor(236, 0, 0)); // red, dark enough for white
    QCOMPARE(memo->font().pixelSize(), 17);
    QCOMPARE(memo->document()->defaultTextOption().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    QCOMPARE(alert->findChild<QWidget*>("pnl1")->height(), 34);
    const auto* del = alert->findChild<QPushButton*>("btnOkDel");
    const auto* save = alert->findChild<QPushButton*>("btnOkSave");
    QCOMPARE(del->text(), QString("看到了并删除"));
    QCOMPARE(save->text(), QString("看到了并保留"));
    QVERIFY(del->isVisible());
    QCOMPARE(del->size(), QSize(121, 25));
    QCOMPARE(save->size(), QSize(121, 25));
    QVERIFY(del->x() < save->x());
    QCOMPARE(alert->AlamID, QString("7"));
    QVERIFY(!alert->ReDay);
    QCOMPARE(chimes, QList<QUrl>{QUrl("qrc:/chime.wav")});

    // Several alerts may be open at once, each a window of its own.
    QPointer<TFormShowAlam> second = ShowAlamAlert("8", "second", false);
    QVERIFY(second != alert);
    QCOMPARE(OpenAlerts().size(), 2);
    QCOMPARE(chimes.size(), 2);
}

// Alerts of the same second cascade up and to the left from the first's
// place, each title in view and none minimised; a place an answered alert
// left is taken again.
void TestAlamFiring::alertsCascade()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QList<QPointer<TFormShowAlam>> alerts;
    for (int i = 1; i <= 12; ++i)
        alerts << ShowAlamAlert(QString::number(i), "x", false);
    QCoreApplication::processEvents(); // the placing once shown
    const QRect first = alerts[0]->frameGeometry();
    QCOMPARE(first.top(), screen.height() - first.height() - 27);
    QCOMPARE(first.left(), screen.width() - first.width() + 2);
    for (int i = 1; i < alerts.size(); ++i) {
        const QRect previous = alerts[i - 1]->frameGeometry();
        const QRect next = alerts[i]->frameGeometry();
        QVERIFY2(next.top() <= previous.top() - 20 && next.left() < previous.left(), qPrintable(QString::number(i)));
        QVERIFY(screen.contains(next));
    }
    // Minimised by the window manager's own button, it comes back at once.
    alerts[1]->setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    QVERIFY(!alerts[1]->isMinimized());
    QVERIFY(alerts[1]->isVisible());

    alerts[0]->findChild<QPushButton*>("btnOkSave")->click();
    QPointer<TFormShowAlam> again = ShowAlamAlert("13", "x", false);
    QCoreApplication::processEvents();
    QCOMPARE(again->frameGeometry(), first);
}

// An alert opens without taking the keyboard: keys typed into the memo
// before and after it appears all land in the note, and a stray Escape does
// not answer it. Escape answers it once the user has brought it to the front.
void TestAlamFiring::alertLeavesTheKeysWhereTheyGo()
{
    TClock::Set(At(kDay, 9, 59, 59));
    AddReminder({QTime(10, 0, 0), kDay}, "开会");
    form->show();
    form->activateWindow();
    auto* memo = form->findChild<QPlainTextEdit*>("mmoNote");
    memo->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::focusWidget(), memo);
    const auto type = [](const QString& keys) {
        for (const QChar key : keys)
            QTest::keyClick(QGuiApplication::focusWindow(), key.toLatin1());
    };
    type("ab");
    TClock::Set(At(kDay, 10, 0, 0));
    form->Tick();
    QCoreApplication::processEvents();
    QCOMPARE(AlertIds(), QStringList{"1"});
    type("cd");
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(memo->toPlainText(), QString("abcd"));
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), 1);
    QCOMPARE(Rows(List()), QStringList{"1|"});
    QCOMPARE(AlertIds(), QStringList{"1"});

    BringToFront(OpenAlerts().value(0));
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents();
    QVERIFY(AlertIds().isEmpty());
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), 0);
}

// A dialog blocks only the main window: an alert opened meanwhile answers
// a click at once.
void TestAlamFiring::alertAnswersWhileADialogIsOpen()
{
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder({QTime(10, 0, 0), kDay}, "开会");
    form->show();
    auto* pages = form->findChild<QTabWidget*>("pgcMain");
    const int page = pages->currentIndex();
    bool answered = false;
    QString dialogCaption;
    OnNextModal([&](QWidget* dialog) {
        dialogCaption = dialog->windowTitle();
        QPointer<TFormShowAlam> alert = ShowAlamAlert("1", "开会", false);
        auto* roll = alert->findChild<QPropertyAnimation*>();
        roll->setCurrentTime(roll->duration()); // rolled open
        auto* save = alert->findChild<QPushButton*>("btnOkSave");
        QTest::mouseClick(alert->windowHandle(), Qt::LeftButton, {}, save->mapTo(alert.data(), save->rect().center()));
        answered = !alert || !alert->isVisible();
        // The main window stays blocked: a click on another page's tab is not delivered.
        QTabBar* tabs = pages->tabBar();
        const int other = page == 0 ? 1 : 0;
        QTest::mouseClick(form->windowHandle(), Qt::LeftButton, {},
                          tabs->mapTo(form.get(), tabs->tabRect(other).center()));
        qobject_cast<QDialog*>(dialog)->reject();
    });
    form->findChild<QAction*>("NAddAlam")->trigger();
    QVERIFY(!dialogCaption.isEmpty());
    QVERIFY(answered);
    QCOMPARE(pages->currentIndex(), page);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(DbGetIntValue("select bLook from Alam where ID=1"), 1);
}

void TestAlamFiring::alertSitsAtTheBottomRight()
{
    TFormShowAlam* alert = ShowAlamAlert("1", "x", false);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect window = alert->frameGeometry();
    QCOMPARE(window.top(), screen.height() - window.height() - 27);
    QCOMPARE(window.left(), screen.width() - window.width() + 2);
}

void TestAlamFiring::alertRollsOpenFromTheBottom()
{
    TFormShowAlam* alert = ShowAlamAlert("1", "x", false);
    auto* roll = alert->findChild<QPropertyAnimation*>();
    QVERIFY(roll);
    QCOMPARE(roll->duration(), 200);
    QCOMPARE(roll->propertyName(), QByteArray("RollHeight"));
    roll->pause();
    roll->setCurrentTime(0);
    QCOMPARE(alert->mask().boundingRect(), QRect(0, 197, 292, 1));
    roll->setCurrentTime(100);
    const QRect half = alert->mask().boundingRect();
    QCOMPARE(half.bottom(), 197);
    QVERIFY2(half.height() > 80 && half.height() < 120, qPrintable(QString::number(half.height())));
    roll->setCurrentTime(200);
    QVERIFY(alert->mask().isEmpty());
}

void TestAlamFiring::dailyAlertOnlyCloses_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("看到了") << false;
    QTest::newRow("Escape") << true;
}

void TestAlamFiring::dailyAlertOnlyCloses()
{
    QFETCH(bool, escape);
    TClock::Set(At(kDay, 8, 0, 0));
    AddReminder({QTime(8, 30, 0), {}}, "起床");
    form->show();
    QTest::mouseClick(OnShownPage<QWidget>(form.get(), "rb2"), Qt::LeftButton);
    QCOMPARE(Rows(List()), QStringList{"1|"});

    QPointer<TFormShowAlam> alert = ShowAlamAlert("1", "起床", true);
    auto* save = alert->findChild<QPushButton*>("btnOkSave");
    QCOMPARE(save->text(), QString("看到了"));
    QVERIFY(alert->findChild<QPushButton*>("btnOkDel")->isHidden());
    if (escape) {
        QTest::keyClick(alert->findChild<QTextEdit*>("mmo1"), Qt::Key_Escape);
        QCoreApplication::sendPostedEvents();
        QVERIFY(alert->isVisible());
    } else {
        save->click();
        QCoreApplication::sendPostedEvents();
        QVERIFY(!alert || !alert->isVisible());
    }
    QCOMPARE(DbGetIntValue("select count(*) from Alam where bLook=0"), 1);
    QCOMPARE(Rows(List()), QStringList{"1|"});
}

void TestAlamFiring::buttonsPostTheirMessage_data()
{
    QTest::addColumn<QString>("press");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("seen");
    QTest::newRow("看到了并保留") << "btnOkSave" << QStringList{"1|看过的", "2|", "1|看过的"} << 2 << 1;
    QTest::newRow("看到了并删除") << "btnOkDel" << QStringList{"2|"} << 1 << 0;
    QTest::newRow("Escape deletes") << "Escape" << QStringList{"2|"} << 1 << 0;
    QTest::newRow("snoozed: the list shows it") << "NSnooze10" << QStringList{"1|稍后 09:10", "2|"} << 2 << 0;
}

void TestAlamFiring::buttonsPostTheirMessage()
{
    QFETCH(QString, press);
    QFETCH(QStringList, rows);
    QFETCH(int, stored);
    QFETCH(int, seen);
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder({QTime(10, 0, 0), kDay}, "开会");
    AddReminder({QTime(11, 0, 0), kDay}, "午饭");
    form->show();
    // A second item of the same reminder: every matching item follows.
    List()->addTopLevelItem(new QTreeWidgetItem(QStringList{"1", "", "开会", ""}));
    QCOMPARE(Rows(List()), (QStringList{"1|", "2|", "1|"}));

    QPointer<TFormShowAlam> alert = ShowAlamAlert("1", "开会", false);
    if (press == "Escape") {
        BringToFront(alert);
        QTest::keyClick(alert->findChild<QTextEdit*>("mmo1"), Qt::Key_Escape);
    } else if (press.startsWith("NSnooze")) {
        alert->findChild<QAction*>(press)->trigger();
    } else {
        alert->findChild<QPushButton*>(press)->click();
    }
    QVERIFY(!alert->isVisible());
    // Posted, not sent: nothing has changed before the main window's turn.
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), 2);
    QCOMPARE(DbGetIntValue("select count(*) from Alam where bLook<>0"), 0);
    QCOMPARE(List()->topLevelItemCount(), 3);

    QCoreApplication::sendPostedEvents();
    QCOMPARE(Rows(List()), rows);
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), stored);
    QCOMPARE(DbGetIntValue("select count(*) from Alam where bLook<>0"), seen);
    for (int i = 0; i < List()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = List()->topLevelItem(i);
        const QColor expected =
            item->text(3) == kAlamSeenText ? QColor(0, 0, 255) : List()->palette().color(QPalette::Text);
        QCOMPARE(item->foreground(2).color(), expected);
    }
    QVERIFY(env->Responder.Shown.isEmpty());
    // 撤销 after its time brings a deleted one back as it was seen, not missed.
    if (stored == 1) {
        TClock::Set(At(kDay, 10, 5, 0));
        form->findChild<QAction*>("NUndoAlam")->trigger();
        QVERIFY2(Rows(List()).contains("1|看过的"), qPrintable(Rows(List()).join(',')));
    }
}

void TestAlamFiring::messagesForOtherRemindersChangeNothing()
{
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder({QTime(10, 0, 0), kDay}, "今天");
    AddReminder({QTime(10, 0, 0), kDay.addDays(1)}, "明天");
    form->show();
    QCOMPARE(Rows(List()), QStringList{"1|"});
    PostAlamMessage(WM_ALAM_SEEN, 2);
    PostAlamMessage(WM_ALAM_DELETE, 99);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(Rows(List()), QStringList{"1|"});
    QCOMPARE(DbGetIntValue("select bLook from Alam where ID=2"), 1);
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), 2);
    QVERIFY(env->Responder.Shown.isEmpty());
    // Once the main window is gone, a late message goes nowhere.
    PostAlamMessage(WM_ALAM_DELETE, 1);
    form.reset();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), 2);
}

void TestAlamFiring::alertIsReleasedOnlyByItsButtons()
{
    QPointer<TFormShowAlam> alert = ShowAlamAlert("1", "x", false);
    // No close box: a request to close from elsewhere leaves it open.
    alert->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alert);
    QVERIFY(alert->isVisible());
    alert->findChild<QPushButton*>("btnOkSave")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!alert);
}

void TestAlamFiring::chimePrefersTheFileBesideTheProgram()
{
    QFile embedded(":/chime.wav");
    QVERIFY(embedded.open(QIODevice::ReadOnly));
    const QByteArray header = embedded.read(12);
    QVERIFY(header.startsWith("RIFF") && header.endsWith("WAVE"));
    QCOMPARE(ChimeSource(), QUrl("qrc:/chime.wav"));

    QFile own(env->Path("chimes.wav"));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write(embedded.readAll());
    own.close();
    ShowAlamAlert("1", "x", false);
    QCOMPARE(chimes, QList<QUrl>{QUrl::fromLocalFile(env->Path("chimes.wav"))});
}

JOTTEREL_TEST_MAIN(TestAlamFiring)
#include "test_alamfiring.moc"
