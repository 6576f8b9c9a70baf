#pragma once

#include "groups/BaseDlg.h"
#include "reminders/AlamRepeat.h"

#include <QDate>
#include <QTime>

namespace Ui {
class TFormBaseAlam;
}
class QCheckBox;
class QTimer;

// The base of the reminder dialogs: a red clock line, the time and date
// pickers, "不重复"/"每天"/"每周" with the weekdays (and "工作日" for
// Monday to Friday), "法定工作日"/"法定休息日"/"每月"/"每年" with the day
// (农历, days early, or a festival), and the reminder's text.
class TFormBaseAlam : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormBaseAlam(QWidget* parent = nullptr);
    ~TFormBaseAlam() override;

    // Raises the first fault of the input with its message.
    void CheckInput() const;
    // The clock label's tick, once a second.
    void tmr1Timer();

    QTimer* tmr1 = nullptr;

protected:
    // The pickers' values in whole seconds.
    QTime ChosenTime() const;
    QDate ChosenDate() const;
    // Anything but "不重复": a repeating reminder.
    bool DailyChosen() const;
    // The days of "每周" as TAlam stores them; every day otherwise.
    int ChosenWeekDays() const;
    // The repeat beyond 每天 and 每周; none for those.
    TAlamRepeat ChosenRepeat() const;
    // Selects the repetition a stored reminder has.
    void ShowRepetition(bool daily, int weekDays, const TAlamRepeat& repeat);
    QString NoteText() const;

    std::unique_ptr<Ui::TFormBaseAlam> ui;

private:
    void rbTimeClick();
    void rbDayClick();
    void rbWeekClick();
    void btnWorkDaysClick();
    void RepeatChoiceChanged();
    void chkLunarClick();
    void cbFestivalSelect(int index);
    // The month and day lists as the repeat chosen names them.
    void FillDateLists();
    QList<QCheckBox*> WeekBoxes() const;
};
