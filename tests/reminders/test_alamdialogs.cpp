#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "data/UException.h"
#include "history/Trash.h"
#include "reminders/AddAlam.h"
#include "reminders/AlamList.h"
#include "reminders/ModAlam.h"
#include "reminders/UntAlam.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

// The add and modify dialogs, their input check, and the reminder page's
// menu, filters and row colours.

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

template <typename T> T* Child(QWidget* parent, const char* name)
{
    auto* child = parent->findChild<T*>(name);
    if (!child)
        qFatal("no %s", name);
    return child;
}

// Fills a reminder dialog as a user would.
void Fill(QWidget* dialog, const QDate& date, const QTime& time, bool daily, const QString& text)
{
    Child<QRadioButton>(dialog, daily ? "rbDay" : "rbTime")->click();
    Child<QDateEdit>(dialog, "DBDay")->setDate(date);
    Child<QTimeEdit>(dialog, "DBTime")->setTime(time);
    Child<QPlainTextEdit>(dialog, "mmoNote")->setPlainText(text);
}

void AddReminder(const QTime& time, const QDate& date, bool daily, const QString& text)
{
    Alam.AlamTime = time;
    Alam.AlamDate = date;
    Alam.ReDay = daily;
    Alam.WeekDays = kEveryDay;
    Alam.Repeat = {};
    Alam.ReMark = text;
    Alam.InsertAlam();
}

struct TStored
{
    QTime time;
    QDate date;
    bool daily;
    bool seen;
    QString text;
};

TStored Stored(const QString& id)
{
    Alam.LoadAlam(id);
    return {Alam.AlamTime, Alam.AlamDate, Alam.ReDay, DbGetIntValue("select bLook from Alam where ID=" + id) != 0,
            Alam.ReMark};
}

QStringList Rows(const QTreeWidget* list)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(2) + "|" +
                    list->topLevelItem(i)->text(3);
    return rows;
}
} // namespace

class TestAlamDialogs : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    void checkInput_data();
    void checkInput();
    void clockLabelFollowsTheClock();
    void repeatChoiceShowsAndHidesTheDate();
    void addProposesAnHourAhead_data();
    void addProposesAnHourAhead();
    void addStoresTheReminderAsTyped_data();
    void addStoresTheReminderAsTyped();
    void modifyLoadsTheReminder_data();
    void modifyLoadsTheReminder();
    void modifySwitchesBetweenDailyAndOneOff_data();
    void modifySwitchesBetweenDailyAndOneOff();
    void weekdayChoiceIsStoredAndLoaded_data();
    void weekdayChoiceIsStoredAndLoaded();
    void repeatChoiceIsStoredAndLoaded_data();
    void repeatChoiceIsStoredAndLoaded();
    void listSortsByItsTitles();
    void pastOneOffNeedsALaterMomentOrDaily();
    void showRoutinesReturnTheResult();

    void pageFillsTodayAndFollowsTheFilters_data();
    void pageFillsTodayAndFollowsTheFilters();
    void rowsAreColouredByStatus();
    void addAndChangeShowAllReminders();
    void deleteAsksAndRemovesOnlyThatRow_data();
    void deleteAsksAndRemovesOnlyThatRow();
    void listKeepsItsColumnsAndEmptiesOnFailure();
};

void TestAlamDialogs::checkInput_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("chosen");
    QTest::addColumn<bool>("daily");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error"); // empty: accepted

    const QString empty = "提醒内容不能为空！";
    const QString early = "设置的提醒时间不能早于当前时间！";
    const QDateTime ten = At(kDay, 10, 0, 0);
    QTest::newRow("text and a later time") << ten << At(kDay, 11, 0, 0) << false << "x"
                                           << "";
    QTest::newRow("empty text") << ten << At(kDay, 11, 0, 0) << false << "" << empty;
    QTest::newRow("blanks only") << ten << At(kDay, 11, 0, 0) << false << " \t\r\n  " << empty;
    QTest::newRow("empty text before the time") << ten << At(kDay, 9, 0, 0) << false << "" << empty;
    QTest::newRow("the current second at its start") << ten << ten << false << "x"
                                                     << "";
    QTest::newRow("the current second once begun") << At(kDay, 10, 0, 0, 1) << ten << false << "x" << early;
    QTest::newRow("one second later") << At(kDay, 10, 0, 0, 999) << At(kDay, 10, 0, 1) << false << "x"
                                      << "";
    QTest::newRow("yesterday") << ten << At(kDay.addDays(-1), 23, 0, 0) << false << "x" << early;
    QTest::newRow("daily earlier today") << ten << At(kDay, 6, 0, 0) << true << "x"
                                         << "";
    QTest::newRow("daily, empty text") << ten << At(kDay, 6, 0, 0) << true << " " << empty;
}

void TestAlamDialogs::checkInput()
{
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, chosen);
    QFETCH(bool, daily);
    QFETCH(QString, text);
    QFETCH(QString, error);
    TClock::Set(now);
    TFormAddAlam dialog(Alam);
    Fill(&dialog, chosen.date(), chosen.time(), daily, text);
    QString raised;
    try {
        dialog.CheckInput();
    } catch (const EError& e) {
        raised = e.Message();
    }
    QCOMPARE(raised, error);
}

void TestAlamDialogs::clockLabelFollowsTheClock()
{
    TClock::Set(At(kDay, 10, 20, 30, 400));
    TFormAddAlam dialog(Alam);
    auto* label = Child<QLabel>(&dialog, "LabNow");
    QCOMPARE(label->text(), QString());
    QCOMPARE(label->palette().color(QPalette::WindowText).hue(), 0); // red
    QCOMPARE(dialog.tmr1->interval(), 1000);
    QVERIFY(dialog.tmr1->isActive());
    dialog.tmr1Timer();
    QCOMPARE(label->text(), QString("2026/12/7 10:20:30"));
    TClock::Advance(1000);
    dialog.tmr1Timer();
    QCOMPARE(label->text(), QString("2026/12/7 10:20:31"));
}

void TestAlamDialogs::repeatChoiceShowsAndHidesTheDate()
{
    TClock::Set(At(kDay, 10, 0, 0));
    TFormAddAlam dialog(Alam);
    auto* day = Child<QDateEdit>(&dialog, "DBDay");
    auto* label = Child<QLabel>(&dialog, "LabDay");
    QVERIFY(Child<QRadioButton>(&dialog, "rbTime")->isChecked());
    QCOMPARE(day->date(), kDay);
    QCOMPARE(day->displayFormat(), DateTextFormat());
    QCOMPARE(Child<QTimeEdit>(&dialog, "DBTime")->displayFormat(), TimeTextFormat());

    day->setDate(kDay.addDays(5));
    // Clicking the choice already made changes nothing.
    Child<QRadioButton>(&dialog, "rbTime")->click();
    QCOMPARE(day->date(), kDay.addDays(5));
    Child<QRadioButton>(&dialog, "rbDay")->click();
    QVERIFY(day->isHidden() && label->isHidden());
    // Back to a one-off: the date shows again, reset to today.
    Child<QRadioButton>(&dialog, "rbTime")->click();
    QVERIFY(!day->isHidden() && !label->isHidden());
    QCOMPARE(day->date(), kDay);
}

void TestAlamDialogs::addProposesAnHourAhead_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QTime>("proposed");
    QTest::addColumn<QString>("error");
    QTest::newRow("morning") << At(kDay, 10, 20, 30, 700) << QTime(11, 20, 30) << "";
    QTest::newRow("after 23:00 wraps on the same date")
        << At(kDay, 23, 30, 5) << QTime(0, 30, 5) << "设置的提醒时间不能早于当前时间！";
}

void TestAlamDialogs::addProposesAnHourAhead()
{
    QFETCH(QDateTime, now);
    QFETCH(QTime, proposed);
    QFETCH(QString, error);
    TClock::Set(now);
    TFormAddAlam dialog(Alam);
    dialog.show();
    const QTime time = Child<QTimeEdit>(&dialog, "DBTime")->time();
    QCOMPARE(QTime(time.hour(), time.minute(), time.second()), proposed);
    QCOMPARE(Child<QDateEdit>(&dialog, "DBDay")->date(), kDay);
    QCOMPARE(dialog.windowTitle(), QString("新建提醒"));
    // The repeats beyond 每天 and 每周 make it taller than the first 300 pixels.
    QCOMPARE(dialog.width(), 395);
    QVERIFY(dialog.height() >= 300);
    Child<QPlainTextEdit>(&dialog, "mmoNote")->setPlainText("喝水");
    dialog.OkButton()->click();
    if (error.isEmpty()) {
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(Stored("1").time, proposed);
    } else {
        // Refused: the dialog stays open with the input and nothing is stored.
        QCOMPARE(env->Responder.LastText(), error);
        QVERIFY(dialog.isVisible());
        QCOMPARE(DbGetIntValue("select count(*) from Alam"), 0);
    }
}

void TestAlamDialogs::addStoresTheReminderAsTyped_data()
{
    QTest::addColumn<bool>("daily");
    QTest::newRow("one-off") << false;
    QTest::newRow("daily") << true;
}

void TestAlamDialogs::addStoresTheReminderAsTyped()
{
    QFETCH(bool, daily);
    TClock::Set(At(kDay, 10, 0, 0));
    TFormAddAlam dialog(Alam);
    dialog.show();
    Fill(&dialog, kDay.addDays(2), QTime(7, 45, 15, 600), daily, "  带伞 'it's'  \n第二行");
    dialog.OkButton()->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const TStored row = Stored("1");
    QCOMPARE(row.time, QTime(7, 45, 15));
    QCOMPARE(row.daily, daily);
    QCOMPARE(row.seen, false);
    QCOMPARE(row.text, QString("  带伞 'it's'  \n第二行"));
    if (!daily)
        QCOMPARE(row.date, kDay.addDays(2));
}

void TestAlamDialogs::modifyLoadsTheReminder_data()
{
    QTest::addColumn<bool>("daily");
    QTest::newRow("one-off keeps its date") << false;
    QTest::newRow("daily hides the date") << true;
}

void TestAlamDialogs::modifyLoadsTheReminder()
{
    QFETCH(bool, daily);
    TClock::Set(At(kDay, 10, 0, 0));
    AddReminder(QTime(18, 5, 9), kDay.addDays(3), daily, "多行\n提醒");
    TFormModAlam dialog(Alam);
    dialog.LoadReminder("1");
    QCOMPARE(dialog.AlamID, QString("1"));
    QCOMPARE(dialog.windowTitle(), QString("修改提醒"));
    QCOMPARE(Child<QTimeEdit>(&dialog, "DBTime")->time(), QTime(18, 5, 9));
    QCOMPARE(Child<QRadioButton>(&dialog, "rbDay")->isChecked(), daily);
    QCOMPARE(Child<QRadioButton>(&dialog, "rbTime")->isChecked(), !daily);
    QCOMPARE(Child<QDateEdit>(&dialog, "DBDay")->isHidden(), daily);
    if (!daily)
        QCOMPARE(Child<QDateEdit>(&dialog, "DBDay")->date(), kDay.addDays(3));
    QCOMPARE(Child<QPlainTextEdit>(&dialog, "mmoNote")->toPlainText(), QString("多行\n提醒"));
}

void TestAlamDialogs::modifySwitchesBetweenDailyAndOneOff_data()
{
    QTest::addColumn<bool>("wasDaily");
    QTest::addColumn<QDate>("storedDate");
    QTest::newRow("one-off becomes daily: 1981-02-14") << false << QDate(1981, 2, 14);
    QTest::newRow("daily becomes one-off: today") << true << kDay;
}

void TestAlamDialogs::modifySwitchesBetweenDailyAndOneOff()
{
    QFETCH(bool, wasDaily);
    QFETCH(QDate, storedDate);
    TClock::Set(At(kDay, 10, 0, 0));
    AddReminder(QTime(21, 0, 0), kDay.addDays(3), wasDaily, "散步");
    Alam.MarkAlamSeen("1");
    TFormModAlam dialog(Alam);
    dialog.LoadReminder("1");
    Child<QRadioButton>(&dialog, wasDaily ? "rbTime" : "rbDay")->click();
    dialog.OkButton()->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const TStored row = Stored("1");
    QCOMPARE(row.daily, !wasDaily);
    QCOMPARE(row.date, storedDate);
    QCOMPARE(row.time, QTime(21, 0, 0));
    // Every change makes the reminder unseen again.
    QCOMPARE(row.seen, false);
}

void TestAlamDialogs::weekdayChoiceIsStoredAndLoaded_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<int>("weekDays"); // -1: a one-off reminder
    QTest::addColumn<QString>("error");
    // kDay is a Monday.
    QTest::newRow("工作日 in one click") << QStringList{"btnWorkDays"} << 0x1f << "";
    QTest::newRow("每周 ticks today") << QStringList{"rbWeek"} << 0x01 << "";
    QTest::newRow("Monday, Wednesday, Friday") << QStringList{"rbWeek", "chkWeek3", "chkWeek5"} << 0x15 << "";
    QTest::newRow("no day ticked") << QStringList{"rbWeek", "chkWeek1"} << 0 << "请选择每周提醒的日子！";
    QTest::newRow("all seven: every day") << QStringList{"btnWorkDays", "chkWeek6", "chkWeek7"} << 0 << "";
    QTest::newRow("back to 不重复") << QStringList{"btnWorkDays", "rbTime"} << -1 << "";
}

// The weekdays chosen in the add dialog are stored, refused when none is
// ticked, and shown again by the modify dialog.
void TestAlamDialogs::weekdayChoiceIsStoredAndLoaded()
{
    QFETCH(QStringList, clicks);
    QFETCH(int, weekDays);
    QFETCH(QString, error);
    TClock::Set(At(kDay, 10, 0, 0));
    TFormAddAlam dialog(Alam);
    dialog.show();
    Child<QPlainTextEdit>(&dialog, "mmoNote")->setPlainText("晨会");
    for (const QString& name : clicks)
        Child<QAbstractButton>(&dialog, name.toLatin1().constData())->click();
    QCOMPARE(Child<QDateEdit>(&dialog, "DBDay")->isHidden(), weekDays >= 0);
    dialog.OkButton()->click();
    if (!error.isEmpty()) {
        QCOMPARE(env->Responder.LastText(), error);
        QCOMPARE(DbGetIntValue("select count(*) from Alam"), 0);
        return;
    }
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Stored("1").daily, weekDays >= 0);
    QCOMPARE(DbGetIntValue("select WeekDays from Alam"), qMax(weekDays, 0));
    TFormModAlam modify(Alam);
    modify.LoadReminder("1");
    QCOMPARE(Child<QRadioButton>(&modify, "rbWeek")->isChecked(), weekDays > 0);
    QCOMPARE(Child<QRadioButton>(&modify, "rbDay")->isChecked(), weekDays == 0);
    for (int day = 0; day < 7; ++day) {
        const QByteArray name = "chkWeek" + QByteArray::number(day + 1);
        QCOMPARE(Child<QCheckBox>(&modify, name.constData())->isChecked(), weekDays > 0 && (weekDays & (1 << day)));
    }
    // Stored unchanged by a modify without changes.
    modify.show();
    modify.OkButton()->click();
    QCOMPARE(DbGetIntValue("select WeekDays from Alam"), qMax(weekDays, 0));
}

void TestAlamDialogs::repeatChoiceIsStoredAndLoaded_data()
{
    QTest::addColumn<QStringList>("steps"); // a button's name, or "list=index"
    QTest::addColumn<QString>("stored");    // RepeatKind|RepeatMonth|RepeatDay|AdvanceDays, or the refusal
    QTest::newRow("法定工作日") << QStringList{"rbWorkDay"} << "1|0|0|0";
    QTest::newRow("每月最后一天") << QStringList{"rbMonth", "cbDay=31"} << "3|0|-1|0";
    QTest::newRow("中秋 from the festivals") << QStringList{"cbFestival=5"} << "5|8|15|0";
    QTest::newRow("除夕 a day early") << QStringList{"cbFestival=8", "spnAdvance=1"} << "5|12|30|1";
    QTest::newRow("每年2月29日") << QStringList{"rbYear", "cbMonth=1", "cbDay=28"} << "4|2|29|0";
    QTest::newRow("2月30日 is refused") << QStringList{"rbYear", "cbMonth=1", "cbDay=29"} << "没有2月30日这一天。";
    QTest::newRow("农历 with today's numbers") << QStringList{"rbYear", "chkLunar"} << "5|12|7|0";
}

// The official days, monthly and yearly dates (solar, lunar, festivals,
// days early) are stored as chosen and shown again by the modify dialog,
// which stores them unchanged.
void TestAlamDialogs::repeatChoiceIsStoredAndLoaded()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, stored);
    TClock::Set(At(kDay, 10, 0, 0));
    TFormAddAlam dialog(Alam);
    dialog.show();
    Child<QPlainTextEdit>(&dialog, "mmoNote")->setPlainText("x");
    for (const QString& step : steps) {
        const QStringList parts = step.split('=');
        const QByteArray name = parts[0].toLatin1();
        if (parts.size() == 1)
            Child<QAbstractButton>(&dialog, name.constData())->click();
        else if (auto* spin = dialog.findChild<QSpinBox*>(name.constData()))
            spin->setValue(parts[1].toInt());
        else if (auto* list = Child<QComboBox>(&dialog, name.constData())) {
            list->setCurrentIndex(parts[1].toInt());
            emit list->activated(parts[1].toInt());
        }
    }
    QVERIFY(Child<QDateEdit>(&dialog, "DBDay")->isHidden());
    dialog.OkButton()->click();
    const auto row = [] {
        return DbAccess->Query("select RepeatKind||'|'||RepeatMonth||'|'||RepeatDay||'|'||AdvanceDays from Alam")
            ->AsString(0);
    };
    if (!stored.contains('|')) {
        QCOMPARE(env->Responder.LastText(), stored);
        QCOMPARE(DbGetIntValue("select count(*) from Alam"), 0);
        return;
    }
    QCOMPARE(row(), stored);
    QVERIFY(Stored("1").daily);
    TFormModAlam modify(Alam);
    modify.LoadReminder("1");
    modify.show();
    modify.OkButton()->click();
    QCOMPARE(modify.result(), int(QDialog::Accepted));
    QCOMPARE(row(), stored);
}

// By default the next due comes first; a click on a title sorts by it
// ("▲"), a second click reverses ("▼").
void TestAlamDialogs::listSortsByItsTitles()
{
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder(QTime(8, 0, 0), kDay, false, "乙 过去");
    AddReminder(QTime(10, 0, 0), kDay.addDays(1), false, "甲 明天");
    AddReminder(QTime(7, 0, 0), kDay, true, "丙 每天");
    AddReminder(QTime(12, 0, 0), kDay, false, "丁 今天");
    TPageFixture form;
    form.show();
    auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
    QTest::mouseClick(Child<QRadioButton>(&form, "rbAll"), Qt::LeftButton);
    const auto ids = [list] {
        QStringList order;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            order << list->topLevelItem(i)->text(0);
        return order.join(',');
    };
    const auto titles = [list] {
        QStringList texts;
        for (int i = 1; i < 4; ++i)
            texts << list->headerItem()->text(i);
        return texts.join(',');
    };
    QCOMPARE(ids(), QString("4,3,2,1"));
    QCOMPARE(titles(), QString("▲提醒时间,内容,状态"));
    emit list->header()->sectionClicked(1);
    QCOMPARE(ids(), QString("1,2,3,4"));
    QCOMPARE(titles(), QString("▼提醒时间,内容,状态"));
    emit list->header()->sectionClicked(2);
    QCOMPARE(titles(), QString("提醒时间,▲内容,状态"));
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(2);
    QStringList sorted = texts;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(texts, sorted);
    // The order holds when the list is filled again.
    QTest::mouseClick(Child<QRadioButton>(&form, "rbToDay"), Qt::LeftButton);
    QCOMPARE(ids(), QString("4,1"));
    emit list->header()->sectionClicked(2);
    QCOMPARE(ids(), QString("1,4"));
    QCOMPARE(titles(), QString("提醒时间,▼内容,状态"));
}

void TestAlamDialogs::pastOneOffNeedsALaterMomentOrDaily()
{
    TClock::Set(At(kDay, 8, 0, 0));
    AddReminder(QTime(9, 0, 0), kDay, false, "过去");
    TClock::Set(At(kDay, 10, 0, 0));
    TFormModAlam dialog(Alam);
    dialog.LoadReminder("1");
    dialog.OkButton()->click();
    QCOMPARE(env->Responder.LastText(), QString("设置的提醒时间不能早于当前时间！"));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    Child<QTimeEdit>(&dialog, "DBTime")->setTime(QTime(10, 0, 1));
    dialog.OkButton()->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(Stored("1").time, QTime(10, 0, 1));
}

void TestAlamDialogs::showRoutinesReturnTheResult()
{
    TClock::Set(At(kDay, 10, 0, 0));
    OnNextModal([](QWidget* modal) {
        Child<QPlainTextEdit>(modal, "mmoNote")->setPlainText("新的");
        Child<QPushButton>(modal, "btnOK")->click();
    });
    QCOMPARE(ShowAddAlam(Alam), int(mrOk));
    QCOMPARE(Stored("1").text, QString("新的"));

    OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    QCOMPARE(ShowAddAlam(Alam), int(mrCancel));
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), 1);

    OnNextModal([](QWidget* modal) {
        Child<QPlainTextEdit>(modal, "mmoNote")->setPlainText("改过");
        Child<QPushButton>(modal, "btnCancel")->click();
    });
    QCOMPARE(ShowModAlam(Alam, "1"), int(mrCancel));
    QCOMPARE(Stored("1").text, QString("新的"));

    OnNextModal([](QWidget* modal) {
        Child<QPlainTextEdit>(modal, "mmoNote")->setPlainText("改过");
        Child<QPushButton>(modal, "btnOK")->click();
    });
    QCOMPARE(ShowModAlam(Alam, "1"), int(mrOk));
    QCOMPARE(Stored("1").text, QString("改过"));
}

// The list is filled when its page first shows: later, or as the window opens.
void TestAlamDialogs::pageFillsTodayAndFollowsTheFilters_data()
{
    QTest::addColumn<bool>("current");
    QTest::newRow("page shown later") << false;
    QTest::newRow("page current as the window opens") << true;
}

void TestAlamDialogs::pageFillsTodayAndFollowsTheFilters()
{
    QFETCH(bool, current);
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder(QTime(8, 0, 0), kDay, false, "早上");
    AddReminder(QTime(10, 0, 0), kDay.addDays(1), false, "明天");
    AddReminder(QTime(7, 0, 0), kDay, true, "每天");
    TPageFixture form;
    if (current)
        Child<QTabWidget>(&form, "pgcMain")->setCurrentWidget(Child<QWidget>(&form, "tsAlam"));
    form.show();
    QCOMPARE(Child<QTabWidget>(&form, "pgcMain")->currentWidget() == Child<QWidget>(&form, "tsAlam"), current);
    auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
    QCOMPARE(Rows(list), QStringList{"1|早上|错过的"});
    const QList<QPair<const char*, QStringList>> filters = {
        {"rbTomorrow", {"2|明天|"}},
        {"rbMiss", {"1|早上|错过的"}},
        {"rb1", {}},
        {"rb2", {"3|每天|"}},
        // Next due first: daily 07:00 tomorrow, then tomorrow 10:00; the past one last.
        {"rbAll", {"3|每天|", "2|明天|", "1|早上|错过的"}},
        {"rbToDay", {"1|早上|错过的"}},
    };
    for (const auto& [radio, rows] : filters) {
        QTest::mouseClick(Child<QRadioButton>(&form, radio), Qt::LeftButton);
        QVERIFY(Child<QRadioButton>(&form, radio)->isChecked());
        QCOMPARE(Rows(list), rows);
    }
    const QTreeWidgetItem* item = list->topLevelItem(0);
    for (int column = 1; column < 4; ++column)
        QCOMPARE(item->textAlignment(column), int(Qt::AlignCenter));
}

void TestAlamDialogs::rowsAreColouredByStatus()
{
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder(QTime(8, 0, 0), kDay, false, "错过");
    AddReminder(QTime(8, 30, 0), kDay, false, "看过");
    Alam.MarkAlamSeen("2");
    AddReminder(QTime(10, 0, 0), kDay, false, "将来");
    TPageFixture form;
    form.show();
    auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
    QCOMPARE(Rows(list), (QStringList{"3|将来|", "1|错过|错过的", "2|看过|看过的"}));
    // Red darkened just enough to be read on the list's white (pure red is not).
    const QColor own = list->palette().color(QPalette::Text);
    const QColor expected[] = {own, QColor(236, 0, 0), QColor(0, 0, 255)};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column)
            QCOMPARE(list->topLevelItem(row)->foreground(column).color(), expected[row]);
    }

    // Grid lines along the bottom and the right of every cell, as drawn.
    Child<QTabWidget>(&form, "pgcMain")->setCurrentIndex(1);
    list->clearSelection();
    const QImage image = list->viewport()->grab().toImage();
    for (int row = 0; row < 3; ++row) {
        const QRect cell = list->visualRect(list->model()->index(row, 2));
        const QColor inside = image.pixelColor(cell.right() - 3, cell.center().y());
        QVERIFY(image.pixelColor(cell.right() - 3, cell.bottom()) != inside);
        QVERIFY(image.pixelColor(cell.right(), cell.center().y()) != inside);
    }
}

void TestAlamDialogs::addAndChangeShowAllReminders()
{
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder(QTime(10, 0, 0), kDay.addDays(1), false, "明天");
    TPageFixture form;
    form.show();
    auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
    QCOMPARE(Rows(list), QStringList{});

    // Cancelled: the filter stays.
    OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    Child<QAction>(&form, "NAddAlam")->trigger();
    QVERIFY(Child<QRadioButton>(&form, "rbToDay")->isChecked());

    OnNextModal([](QWidget* modal) {
        Child<QPlainTextEdit>(modal, "mmoNote")->setPlainText("新建");
        Child<QPushButton>(modal, "btnOK")->click();
    });
    Child<QAction>(&form, "NAddAlam")->trigger();
    QVERIFY(Child<QRadioButton>(&form, "rbAll")->isChecked());
    QCOMPARE(Rows(list), (QStringList{"2|新建|", "1|明天|"}));

    // Without a selection the change does nothing; a double click changes the row.
    Child<QAction>(&form, "NModAlam")->trigger();
    QTest::mouseClick(Child<QRadioButton>(&form, "rbTomorrow"), Qt::LeftButton);
    list->setCurrentItem(list->topLevelItem(0));
    OnNextModal([](QWidget* modal) {
        Child<QRadioButton>(modal, "rbDay")->click();
        Child<QPushButton>(modal, "btnOK")->click();
    });
    emit list->itemDoubleClicked(list->topLevelItem(0), 1);
    QVERIFY(Child<QRadioButton>(&form, "rbAll")->isChecked());
    QCOMPARE(Rows(list), (QStringList{"1|明天|", "2|新建|"}));
    QVERIFY(list->topLevelItem(0)->text(1).startsWith("每天  10:00:00"));
    QCOMPARE(Stored("1").date, QDate(1981, 2, 14));
}

void TestAlamDialogs::deleteAsksAndRemovesOnlyThatRow_data()
{
    QTest::addColumn<bool>("select");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("no selection") << false << true << QStringList{"1|甲|", "2|乙 'x'|", "3|丙|"};
    QTest::newRow("answered No") << true << false << QStringList{"1|甲|", "2|乙 'x'|", "3|丙|"};
    QTest::newRow("answered Yes") << true << true << QStringList{"1|甲|", "3|丙|"};
}

void TestAlamDialogs::deleteAsksAndRemovesOnlyThatRow()
{
    QFETCH(bool, select);
    QFETCH(bool, answer);
    QFETCH(QStringList, rows);
    TClock::Set(At(kDay, 9, 0, 0));
    AddReminder(QTime(10, 0, 0), kDay, false, "甲");
    AddReminder(QTime(11, 0, 0), kDay, false, "乙 'x'");
    AddReminder(QTime(12, 0, 0), kDay, false, "丙");
    TPageFixture form;
    form.show();
    auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
    if (select)
        list->setCurrentItem(list->topLevelItem(1));
    // A reminder added meanwhile stays out of the list: it is not refilled.
    AddReminder(QTime(13, 0, 0), kDay, false, "丁");
    env->Responder.Answers = {answer};
    Child<QAction>(&form, "NDelAlam")->trigger();
    if (select)
        QCOMPARE(env->Responder.Texts(), QStringList{"确实要删除 乙 'x' 吗？" + QString(kTrashNotice)});
    else
        QVERIFY(env->Responder.Shown.isEmpty());
    QCOMPARE(Rows(list), rows);
    QVERIFY(Child<QRadioButton>(&form, "rbToDay")->isChecked());
    QCOMPARE(DbGetIntValue("select count(*) from Alam"), rows.size() + 1);
}

// Filling keeps the list's own columns; a failing read leaves it empty.
void TestAlamDialogs::listKeepsItsColumnsAndEmptiesOnFailure()
{
    QTreeWidget list;
    list.setColumnCount(4);
    list.setHeaderLabels({"ID", "提醒时间", "内容", "状态"});
    list.header()->setMinimumSectionSize(1);
    list.setColumnWidth(0, 1);
    list.addTopLevelItem(new QTreeWidgetItem(QStringList{"old"}));
    FillAlamList(Alam, &list, afAll);
    QCOMPARE(list.topLevelItemCount(), 0);
    QCOMPARE(list.columnCount(), 4);
    QCOMPARE(list.headerItem()->text(1), QString("提醒时间"));
    QCOMPARE(list.columnWidth(0), 1);

    list.addTopLevelItem(new QTreeWidgetItem(QStringList{"old"}));
    DbExecSQL("drop table Alam");
    QVERIFY_THROWS_EXCEPTION(EDBException, FillAlamList(Alam, &list, afToday));
    QCOMPARE(list.topLevelItemCount(), 0);
}

JOTTEREL_TEST_MAIN(TestAlamDialogs)
#include "test_alamdialogs.moc"
