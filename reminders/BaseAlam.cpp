#include "reminders/BaseAlam.h"

#include "controls/Contrast.h"
#include "controls/UiException.h"
#include "data/Clock.h"
#include "data/OleDate.h"
#include "data/UntPublic.h"
#include "reminders/UntAlam.h"
#include "ui_BaseAlam.h"

#include <QComboBox>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>

TFormBaseAlam::TFormBaseAlam(QWidget* parent) : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormBaseAlam>())
{
    ui->setupUi(ClientArea());
    resize(395, 300);
    for (QLabel* label : {ui->Label1, ui->LabNow}) {
        // Red, darkened or lightened as far as the ground needs to be read.
        QPalette red = label->palette();
        red.setColor(QPalette::WindowText, ReadableOn(QColor(Qt::red), red.color(QPalette::Active, QPalette::Window)));
        label->setPalette(red);
    }
    // The pickers show the same texts as the statements and the clock line.
    ui->DBTime->setDisplayFormat(TimeTextFormat());
    ui->DBDay->setDisplayFormat(DateTextFormat());
    ui->DBDay->setDate(TClock::Today());
    // "每天" hides the date; the other controls keep their places.
    for (QWidget* dateControl : {static_cast<QWidget*>(ui->LabDay), static_cast<QWidget*>(ui->DBDay)}) {
        QSizePolicy policy = dateControl->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        dateControl->setSizePolicy(policy);
    }
    QFont font13 = ui->mmoNote->font();
    font13.setPixelSize(13);
    ui->mmoNote->setFont(font13);
    // Tab goes on to the next control, as in the dialog's other fields.
    ui->mmoNote->setTabChangesFocus(true);

    ConnectHandler(ui->rbTime, &QRadioButton::toggled, this, &TFormBaseAlam::rbTimeClick);
    ConnectHandler(ui->rbDay, &QRadioButton::toggled, this, &TFormBaseAlam::rbDayClick);
    ConnectHandler(ui->rbWeek, &QRadioButton::toggled, this, &TFormBaseAlam::rbWeekClick);
    ConnectHandler(ui->btnWorkDays, &QPushButton::clicked, this, &TFormBaseAlam::btnWorkDaysClick);
    for (QRadioButton* choice : {ui->rbWorkDay, ui->rbRestDay, ui->rbMonth, ui->rbYear})
        ConnectHandler(choice, &QRadioButton::toggled, this, &TFormBaseAlam::RepeatChoiceChanged);
    ConnectHandler(ui->chkLunar, &QCheckBox::clicked, this, &TFormBaseAlam::chkLunarClick);
    connect(ui->cbFestival, &QComboBox::activated, this,
            [this](int index) { RunHandler([&] { cbFestivalSelect(index); }); });
    ui->cbFestival->addItem("（选择节日）");
    for (const TFestival& festival : kFestivals) {
        const QString name = QString::fromUtf8(festival.Name);
        ui->cbFestival->addItem(name + "（" + RepeatName(festival.Repeat).mid(2) + "）");
    }
    FillDateLists();
    ui->cbMonth->setCurrentIndex(TClock::Today().month() - 1);
    ui->cbDay->setCurrentIndex(TClock::Today().day() - 1);
    RepeatChoiceChanged();
    // Ticking a day chooses "每周".
    for (QCheckBox* box : WeekBoxes())
        connect(box, &QCheckBox::clicked, this, [this](bool checked) {
            if (checked)
                ui->rbWeek->setChecked(true);
        });
    tmr1 = new QTimer(this);
    tmr1->setObjectName("tmr1");
    tmr1->setInterval(1000);
    ConnectHandler(tmr1, &QTimer::timeout, this, &TFormBaseAlam::tmr1Timer);
    tmr1->start();
}

TFormBaseAlam::~TFormBaseAlam() = default;

void TFormBaseAlam::tmr1Timer()
{
    ui->LabNow->setText(DateTimeText(TClock::Now()));
}

QList<QCheckBox*> TFormBaseAlam::WeekBoxes() const
{
    return {ui->chkWeek1, ui->chkWeek2, ui->chkWeek3, ui->chkWeek4, ui->chkWeek5, ui->chkWeek6, ui->chkWeek7};
}

// "每周" hides the date like "每天"; with no day ticked yet, today's is.
// Leaving it clears the days, so that ticks show only where they apply.
void TFormBaseAlam::rbWeekClick()
{
    if (!ui->rbWeek->isChecked()) {
        for (QCheckBox* box : WeekBoxes())
            box->setChecked(false);
        return;
    }
    ui->LabDay->hide();
    ui->DBDay->hide();
    if (ChosenWeekDays() == kEveryDay)
        WeekBoxes()[TClock::Today().dayOfWeek() - 1]->setChecked(true);
}

// Monday to Friday in one click, "每周" selected with them.
void TFormBaseAlam::btnWorkDaysClick()
{
    const QList<QCheckBox*> boxes = WeekBoxes();
    for (int day = 0; day < boxes.size(); ++day)
        boxes[day]->setChecked(kWorkDays & (1 << day));
    ui->rbWeek->setChecked(true);
}

int TFormBaseAlam::ChosenWeekDays() const
{
    if (!ui->rbWeek->isChecked())
        return kEveryDay;
    int weekDays = 0;
    const QList<QCheckBox*> boxes = WeekBoxes();
    for (int day = 0; day < boxes.size(); ++day)
        if (boxes[day]->isChecked())
            weekDays |= 1 << day;
    return weekDays == kAllWeekDays ? kEveryDay : weekDays;
}

void TFormBaseAlam::ShowRepetition(bool daily, int weekDays, const TAlamRepeat& repeat)
{
    if (daily && repeat.IsSet()) {
        ui->rbWorkDay->setChecked(repeat.Kind == rkWorkDays);
        ui->rbRestDay->setChecked(repeat.Kind == rkRestDays);
        ui->rbMonth->setChecked(repeat.Kind == rkMonthly);
        ui->rbYear->setChecked(repeat.Kind == rkYearly || repeat.Kind == rkLunar);
        ui->chkLunar->setChecked(repeat.Kind == rkLunar);
        FillDateLists();
        if (repeat.Month > 0)
            ui->cbMonth->setCurrentIndex(repeat.Month - 1);
        if (repeat.Day != 0)
            ui->cbDay->setCurrentIndex(repeat.Day == kLastDayOfMonth ? 31 : repeat.Day - 1);
        ui->spnAdvance->setValue(repeat.Advance);
        return;
    }
    const bool weekly = daily && (weekDays & kAllWeekDays) != kEveryDay;
    const QList<QCheckBox*> boxes = WeekBoxes();
    for (int day = 0; day < boxes.size(); ++day)
        boxes[day]->setChecked(weekly && (weekDays & (1 << day)));
    ui->rbTime->setChecked(!daily);
    ui->rbDay->setChecked(daily && !weekly);
    ui->rbWeek->setChecked(weekly);
}

void TFormBaseAlam::rbTimeClick()
{
    if (!ui->rbTime->isChecked())
        return;
    ui->LabDay->show();
    ui->DBDay->show();
    ui->DBDay->setDate(TClock::Today());
}

void TFormBaseAlam::rbDayClick()
{
    if (!ui->rbDay->isChecked())
        return;
    ui->LabDay->hide();
    ui->DBDay->hide();
}

QTime TFormBaseAlam::ChosenTime() const
{
    const QTime time = ui->DBTime->time();
    return QTime(time.hour(), time.minute(), time.second());
}

QDate TFormBaseAlam::ChosenDate() const
{
    return ui->DBDay->date();
}

bool TFormBaseAlam::DailyChosen() const
{
    return !ui->rbTime->isChecked();
}

// The official days, a month's or a year's day, hide the date like "每天";
// only the controls of the choice made can be changed.
void TFormBaseAlam::RepeatChoiceChanged()
{
    const bool yearly = ui->rbYear->isChecked();
    if (yearly || ui->rbMonth->isChecked() || ui->rbWorkDay->isChecked() || ui->rbRestDay->isChecked()) {
        ui->LabDay->hide();
        ui->DBDay->hide();
    }
    ui->chkLunar->setEnabled(yearly);
    ui->cbMonth->setEnabled(yearly);
    ui->spnAdvance->setEnabled(yearly);
    ui->cbDay->setEnabled(yearly || ui->rbMonth->isChecked());
    FillDateLists();
}

void TFormBaseAlam::FillDateLists()
{
    const bool lunar = ui->chkLunar->isChecked();
    const auto fill = [](QComboBox* list, const QStringList& items) {
        const int index = list->currentIndex();
        if (list->count() == items.size() && list->itemText(0) == items.first())
            return;
        list->clear();
        list->addItems(items);
        list->setCurrentIndex(qBound(0, index, int(items.size()) - 1));
    };
    QStringList months;
    for (int month = 1; month <= 12; ++month)
        months << (lunar ? LunarMonthName(month) : QString("%1月").arg(month));
    fill(ui->cbMonth, months);
    QStringList days;
    const bool monthly = ui->rbMonth->isChecked();
    for (int day = 1; day <= (lunar && !monthly ? 30 : 31); ++day)
        days << (monthly ? QString("%1号").arg(day) : lunar ? LunarDayName(day) : QString("%1日").arg(day));
    if (monthly)
        days << "最后一天";
    fill(ui->cbDay, days);
}

void TFormBaseAlam::chkLunarClick()
{
    FillDateLists();
}

// A festival is a yearly date, lunar or not.
void TFormBaseAlam::cbFestivalSelect(int index)
{
    if (index < 1 || index > int(std::size(kFestivals)))
        return;
    const TAlamRepeat& repeat = kFestivals[index - 1].Repeat;
    ui->rbYear->setChecked(true);
    ui->chkLunar->setChecked(repeat.Kind == rkLunar);
    FillDateLists();
    ui->cbMonth->setCurrentIndex(repeat.Month - 1);
    ui->cbDay->setCurrentIndex(repeat.Day - 1);
    ui->cbFestival->setCurrentIndex(0);
}

TAlamRepeat TFormBaseAlam::ChosenRepeat() const
{
    if (ui->rbWorkDay->isChecked())
        return {rkWorkDays};
    if (ui->rbRestDay->isChecked())
        return {rkRestDays};
    const int day = ui->cbDay->currentIndex() + 1;
    if (ui->rbMonth->isChecked())
        return {rkMonthly, 0, day > 31 ? kLastDayOfMonth : day};
    if (ui->rbYear->isChecked())
        return {ui->chkLunar->isChecked() ? rkLunar : rkYearly, ui->cbMonth->currentIndex() + 1, day,
                ui->spnAdvance->value()};
    return {};
}

QString TFormBaseAlam::NoteText() const
{
    return ui->mmoNote->toPlainText();
}

void TFormBaseAlam::CheckInput() const
{
    const QDateTime chosen(ChosenDate(), ChosenTime());
    if (TrimBlanks(NoteText()).isEmpty())
        RaiseError("提醒内容不能为空！");
    const QList<QCheckBox*> boxes = WeekBoxes();
    if (ui->rbWeek->isChecked() &&
        std::none_of(boxes.begin(), boxes.end(), [](const QCheckBox* box) { return box->isChecked(); }))
        RaiseError("请选择每周提醒的日子！");
    // Compared with the milliseconds of now: the chosen second itself is
    // already too early once it has begun.
    if (ui->rbTime->isChecked() && TClock::Now() > chosen)
        RaiseError("设置的提醒时间不能早于当前时间！");
    if (const QString problem = RepeatProblem(ChosenRepeat()); !problem.isEmpty())
        RaiseError(problem);
}
