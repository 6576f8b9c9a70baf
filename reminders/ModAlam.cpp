#include "reminders/ModAlam.h"

#include "reminders/UntAlam.h"
#include "ui_BaseAlam.h"

namespace {
// The date a daily reminder carries once it has been changed.
const QDate kDailyDate(1981, 2, 14);
} // namespace

TFormModAlam::TFormModAlam(TAlam& store, QWidget* parent) : TFormBaseAlam(parent), Alam(store)
{
    setWindowTitle("修改提醒");
}

void TFormModAlam::LoadReminder(const QString& id)
{
    Alam.LoadAlam(id);
    AlamID = id;
    ui->DBTime->setTime(Alam.AlamTime);
    ui->DBDay->setDate(Alam.AlamDate);
    // Selecting "每天" hides the date; "不重复" is already selected, so a
    // one-off reminder keeps its loaded date.
    ShowRepetition(Alam.ReDay, Alam.WeekDays, Alam.Repeat);
    ui->mmoNote->setPlainText(Alam.ReMark);
}

void TFormModAlam::btnOKClick()
{
    CheckInput();
    Alam.AlamTime = ChosenTime();
    Alam.ReDay = DailyChosen();
    Alam.WeekDays = ChosenWeekDays();
    Alam.Repeat = ChosenRepeat();
    Alam.AlamDate = Alam.ReDay ? kDailyDate : ChosenDate();
    Alam.ReMark = NoteText();
    Alam.UpdateAlam(AlamID);
    CloseOk();
}

int ShowModAlam(TAlam& store, const QString& id)
{
    TFormModAlam dialog(store);
    dialog.LoadReminder(id);
    return dialog.ShowModal();
}
