#pragma once

#include "data/MD.h"
#include "reminders/AlamSchedule.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class TUndoAction;

namespace Ui {
class TReminderPageForm;
}
class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
enum class TMissedAnswer;

// What the main window gives the reminder page: the tab the page's
// controls are made on, the list's menu and its items.
struct TReminderWidgets
{
    QWidget* page;
    QMenu* pmAlam;
    QAction* NAddAlam;
    QAction* NModAlam;
    QAction* NDelAlam;
};

// The reminder page of the main window: the filtered list with its menu,
// the alerts' answers, and the firing of due reminders at every tick. The
// list and its filter are made when the page is first shown (most starts
// never show it); the tick fires reminders from the start.
class TReminderPage : public QObject
{
    Q_OBJECT
public:
    TReminderPage(const TReminderWidgets& widgets, TAlam& alam);
    ~TReminderPage() override;

    // Makes the page's controls now if they are not there yet.
    void MakeControls();
    // The list; null until the controls are made.
    QTreeWidget* List() const;

    // Today's reminders, as at the start and after a restore.
    void ShowStartupReminders();
    // Lists every reminder (the filter 全部提醒) with this one's row
    // selected; false when the reminder is gone.
    bool ShowReminder(int id);
    // Lists the reminders again under the filter chosen, once the list is
    // there (another writer, a sync round, changed them).
    void Refresh();
    // Lists every reminder (the filter 全部提醒), as after an add.
    void ShowAllReminders();
    // The tick's part: opens an alert for each reminder the schedule finds
    // due, and the one window "错过的提醒" for those it finds missed.
    void tmr1Timer();
    // Puts a control above the page's own, its field `first` first in the
    // keyboard's order (快速添加); once the page's controls are made.
    void PutAboveList(QWidget* control, QWidget* first);

signals:
    // The page's controls were made just now, before anything is listed:
    // the moment to put a control of one's own on the page (PutAboveList).
    void ControlsMade();

private:
    void SetUpList();
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
    void WMAlamSnooze(int id, int minutes);
    void AnswerMissed(TMissedAnswer answer, const QList<TDueAlam>& rows, int minutes);
    void MarkSeenInList(const QStringList& ids);
    void RemoveFromList(const QStringList& ids);
    // Offers the delete to the list's 撤销, named by what ("删除提醒“晨会”").
    void RecordDelete(const QString& what, const QList<qint64>& entries);
    // From 1 December, says once that next year's official schedule is missing.
    void ShowHolidayNotice();
    void btnHolidayImportClick();
    void btnHolidayNoticeOkClick();
    void lv1TitleClick(int column);
    void SortList();
    void lv1CustomDrawItem(QTreeWidgetItem* item);
    void FireDueReminders();

    const TReminderWidgets m_widgets;
    std::unique_ptr<Ui::TReminderPageForm> ui;
    TAlam& Alam;
    TAlamSchedule m_schedule;
    TUndoAction* m_undo;
    int m_filter = 0;
    bool m_listWaiting = false; // filled with m_filter when the list is made
    int m_sortColumn = 1;       // next due first
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QStringList m_titles;
    // The tick's failures: one report per episode.
    TLockEpisode m_tickEpisode;
};
