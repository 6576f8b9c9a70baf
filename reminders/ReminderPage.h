#pragma once

#include "data/MD.h"

#include <QObject>
#include <QString>

class QAction;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
class TAlam;

// The reminder page's controls, made by the main window.
struct TReminderWidgets
{
    QTreeWidget* lv1;
    QRadioButton* rbToDay;
    QRadioButton* rbTomorrow;
    QRadioButton* rbMiss;
    QRadioButton* rb1;
    QRadioButton* rb2;
    QRadioButton* rbAll;
    QAction* NAddAlam;
    QAction* NModAlam;
    QAction* NDelAlam;
};

// The reminder page of the main window: the filtered list with its menu,
// the alerts' answers, and the firing of due reminders at every tick.
class TReminderPage : public QObject
{
public:
    TReminderPage(const TReminderWidgets& widgets, TAlam& alam);

    // Today's reminders, as at the start and after a restore.
    void ShowStartupReminders();
    // Lists every reminder (the filter 全部提醒) with this one's row
    // selected; false when the reminder is gone.
    bool ShowReminder(int id);
    // The tick's part: fires the reminders due since the previous tick.
    void tmr1Timer();

private:
    void ShowAlamList(int filter);
    void rbToDayClick();
    void rbTomorrowClick();
    void rbMissClick();
    void rb1Click();
    void rb2Click();
    void rbAllClick();
    void NAddAlamClick();
    void NModAlamClick();
    void NDelAlamClick();
    void WMAlamDelete(int id);
    void WMAlamSeen(int id);
    void lv1CustomDrawItem(QTreeWidgetItem* item);
    void FireDueReminders();
    void FireRemindersOf(qint64 second);

    const TReminderWidgets m_widgets;
    const TReminderWidgets* const ui = &m_widgets;
    TAlam& Alam;
    qint64 m_lastAlamSecond = -1; // the last second (since the epoch) the tick has covered
    // The tick's failures: one report per episode.
    TLockEpisode m_tickEpisode;
};
