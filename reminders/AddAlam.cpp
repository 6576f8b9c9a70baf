#include "reminders/AddAlam.h"

#include "data/Clock.h"
#include "reminders/UntAlam.h"
#include "ui_BaseAlam.h"

TFormAddAlam::TFormAddAlam(TAlam& store, QWidget* parent) : TFormBaseAlam(parent), Alam(store)
{
    setWindowTitle("新建提醒");
}

void TFormAddAlam::showEvent(QShowEvent* event)
{
    TFormBaseAlam::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFormAddAlam::FormShow()
{
    // Past 23:00 the proposal wraps into the small hours of the same date,
    // which the input check then refuses until the date is changed.
    ui->DBTime->setTime(TClock::Now().time().addSecs(3600));
    ui->mmoNote->setFocus();
}

void TFormAddAlam::btnOKClick()
{
    CheckInput();
    Alam.AlamTime = ChosenTime();
    Alam.AlamDate = ChosenDate();
    Alam.ReDay = DailyChosen();
    Alam.WeekDays = ChosenWeekDays();
    Alam.Repeat = ChosenRepeat();
    Alam.ReMark = NoteText();
    Alam.InsertAlam();
    CloseOk();
}

int ShowAddAlam(TAlam& store)
{
    TFormAddAlam dialog(store);
    return dialog.ShowModal();
}
