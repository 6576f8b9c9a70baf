#include "reminders/ReminderPage.h"

#include "controls/Contrast.h"
#include "controls/EmptyHint.h"
#include "controls/FirstEvent.h"
#include "controls/FollowPalette.h"
#include "controls/PopupMenu.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "controls/UndoAction.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "groups/DeleteKeeper.h"
#include "reminders/AddAlam.h"
#include "reminders/AlamList.h"
#include "reminders/HolidaySettings.h"
#include "reminders/Holidays.h"
#include "reminders/MissedAlam.h"
#include "reminders/ModAlam.h"
#include "reminders/ShowAlam.h"
#include "reminders/UntAlam.h"
#include "ui_ReminderPage.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <functional>

namespace {
const QString kAscending = QStringLiteral("▲");
const QString kDescending = QStringLiteral("▼");

// The report view's grid lines: a line along the bottom and the right of
// every cell, a shade between the list's ground and its text so that it
// shows under light and dark palettes alike.
class TGridLinesDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const QRect cell = option.rect;
        painter->save();
        painter->setPen(Blend(option.palette.color(QPalette::Base), option.palette.color(QPalette::Text), 0.25));
        painter->drawLine(cell.bottomLeft(), cell.bottomRight());
        painter->drawLine(cell.topRight(), cell.bottomRight());
        painter->restore();
    }
};
} // namespace

TReminderPage::TReminderPage(const TReminderWidgets& widgets, TAlam& alam)
    : m_widgets(widgets), Alam(alam), m_schedule(alam),
      m_undo(new TUndoAction(widgets.pmAlam, widgets.NDelAlam, "NUndoAlam"))
{
    ConnectHandler(m_widgets.NAddAlam, &QAction::triggered, this, &TReminderPage::NAddAlamClick);
    ConnectHandler(m_widgets.NModAlam, &QAction::triggered, this, &TReminderPage::NModAlamClick);
    ConnectHandler(m_widgets.NDelAlam, &QAction::triggered, this, &TReminderPage::NDelAlamClick);
    SetAlamMessageHandler(this, [this](int message, int id, int minutes) {
        RunHandler([&] {
            if (message == WM_ALAM_DELETE)
                WMAlamDelete(id);
            else if (message == WM_ALAM_SEEN)
                WMAlamSeen(id);
            else if (message == WM_ALAM_SNOOZE)
                WMAlamSnooze(id, minutes);
        });
    });
    new TOnFirstEvent(m_widgets.page, QEvent::Show, [this] { RunHandler([this] { MakeControls(); }); });
}

// Reminders still in the missed window when the program ends are left for
// later, as its close box does, and so are those whose alert is still open:
// the next start lists them in the missed window.
TReminderPage::~TReminderPage()
{
    CloseMissedAlams();
    const QStringList open = AlertsOnScreen();
    if (!open.isEmpty() && DbAccess && !DbAccess->ReadOnly())
        RunHandler([&] { Alam.LeaveAlamsForLater(open); });
}

QTreeWidget* TReminderPage::List() const
{
    return ui ? ui->lv1 : nullptr;
}

void TReminderPage::MakeControls()
{
    if (ui)
        return;
    ui = std::make_unique<Ui::TReminderPageForm>();
    ui->setupUi(m_widgets.page);
    emit ControlsMade();
    SetUpList();
    ConnectHandler(ui->rbToDay, &QRadioButton::clicked, this, &TReminderPage::rbToDayClick);
    ConnectHandler(ui->rbTomorrow, &QRadioButton::clicked, this, &TReminderPage::rbTomorrowClick);
    ConnectHandler(ui->rbMiss, &QRadioButton::clicked, this, &TReminderPage::rbMissClick);
    ConnectHandler(ui->rb1, &QRadioButton::clicked, this, &TReminderPage::rb1Click);
    ConnectHandler(ui->rb2, &QRadioButton::clicked, this, &TReminderPage::rb2Click);
    ConnectHandler(ui->rbAll, &QRadioButton::clicked, this, &TReminderPage::rbAllClick);
    ConnectHandler(ui->lv1, &QTreeWidget::itemDoubleClicked, this, &TReminderPage::NModAlamClick);
    ConnectHandler(ui->btnHolidayImport, &QPushButton::clicked, this, &TReminderPage::btnHolidayImportClick);
    ConnectHandler(ui->btnHolidayNoticeOk, &QPushButton::clicked, this, &TReminderPage::btnHolidayNoticeOkClick);
    BindPopupMenu(ui->lv1, m_widgets.pmAlam);
    BindListKeys(ui->lv1, m_widgets.NAddAlam, m_widgets.NDelAlam, m_widgets.NModAlam);
    m_undo->Bind(ui->lv1);
    ShowEmptyHint(ui->lv1, "右键单击可新建提醒（Ctrl+N）", [list = ui->lv1] { return list->topLevelItemCount() == 0; });
    ShowMadeControls(m_widgets.page);
    if (m_listWaiting)
        ShowAlamList(m_filter);
}

// The report view: 13-pixel letters, the columns' widths, grid lines, rows
// recoloured with the palette, and the title row that sorts.
void TReminderPage::SetUpList()
{
    QFont font13 = ui->lv1->font();
    font13.setPixelSize(13);
    ui->lv1->setFont(font13);
    ui->lv1->header()->setMinimumSectionSize(1);
    ui->lv1->setColumnWidth(0, 1);
    ui->lv1->setColumnWidth(1, 200);
    ui->lv1->setColumnWidth(2, 450);
    ui->lv1->setColumnWidth(3, 100);
    ui->lv1->setItemDelegate(new TGridLinesDelegate(ui->lv1));
    FollowPalette(ui->lv1, [this] {
        for (int i = 0; i < ui->lv1->topLevelItemCount(); ++i)
            lv1CustomDrawItem(ui->lv1->topLevelItem(i));
    });
    QTreeWidgetItem* header = ui->lv1->headerItem();
    for (int column = 0; column < header->columnCount(); ++column)
        m_titles << header->text(column);
    ui->lv1->header()->setSectionsClickable(true);
    ui->lv1->header()->setSortIndicatorShown(false);
    connect(ui->lv1->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { RunHandler([&] { lv1TitleClick(column); }); });
    SortList();
}

// A click on a column title sorts by it, ascending; a second click on the
// same title reverses the order. The sorted title carries "▲" or "▼".
void TReminderPage::lv1TitleClick(int column)
{
    if (column == m_sortColumn)
        m_sortOrder = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        m_sortOrder = Qt::AscendingOrder;
    m_sortColumn = column;
    SortList();
}

void TReminderPage::SortList()
{
    QTreeWidgetItem* header = ui->lv1->headerItem();
    for (int column = 0; column < m_titles.size(); ++column) {
        const QString mark =
            column == m_sortColumn ? (m_sortOrder == Qt::AscendingOrder ? kAscending : kDescending) : QString();
        header->setText(column, mark + m_titles[column]);
    }
    // The items compare by the header's sort column.
    ui->lv1->header()->setSortIndicator(m_sortColumn, m_sortOrder);
    ui->lv1->sortItems(m_sortColumn, m_sortOrder);
}

void TReminderPage::ShowStartupReminders()
{
    // The list's page is seldom the one shown at the start, and a large
    // list is a good part of a start: it is filled when it first shows.
    ShowAlamList(afToday);
}

void TReminderPage::PutAboveList(QWidget* control, QWidget* first)
{
    ui->layAlam->insertWidget(0, control);
    TabAfter(first, m_widgets.page, control);
}

void TReminderPage::ShowAllReminders()
{
    MakeControls();
    ui->rbAll->setChecked(true);
    ShowAlamList(afAll);
}

bool TReminderPage::ShowReminder(int id)
{
    const QString key = QString::number(id);
    if (DbGetIntValue("select count(*) from Alam where ID=" + key) == 0)
        return false;
    ShowAllReminders();
    for (int i = 0; i < ui->lv1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ui->lv1->topLevelItem(i);
        if (item->text(0) != key)
            continue;
        ui->lv1->setCurrentItem(item);
        ui->lv1->scrollToItem(item);
        break;
    }
    ui->lv1->setFocus(Qt::OtherFocusReason);
    return true;
}

void TReminderPage::Refresh()
{
    if (ui)
        ShowAlamList(m_filter);
}

void TReminderPage::ShowAlamList(int filter)
{
    m_filter = filter;
    // A list not made yet is filled when it is.
    m_listWaiting = !ui;
    if (m_listWaiting)
        return;
    FillAlamList(Alam, ui->lv1, AlamFilter(filter));
    SortList();
    for (int i = 0; i < ui->lv1->topLevelItemCount(); ++i)
        lv1CustomDrawItem(ui->lv1->topLevelItem(i));
    ShowHolidayNotice();
}

void TReminderPage::ShowHolidayNotice()
{
    const int year = MissingYearToTell(TClock::Today());
    if (year > 0)
        ui->labHolidayNotice->setText(QString("%1 年的法定节假日安排还没有导入：那一年“法定工作日”和“法定休息日”的"
                                              "提醒暂按周一至周五。国务院办公厅公布后，请在“软件设置 → "
                                              "节假日安排”中导入。")
                                          .arg(year));
    ui->labHolidayNotice->setProperty("year", year);
    ui->pnlHolidayNotice->setVisible(year > 0);
}

void TReminderPage::btnHolidayImportClick()
{
    TFormHolidaySettings(m_widgets.page).ShowModal();
    ShowAlamList(m_filter);
}

void TReminderPage::btnHolidayNoticeOkClick()
{
    MissingYearTold(ui->labHolidayNotice->property("year").toInt());
    ui->pnlHolidayNotice->hide();
}

// Missed rows in red, seen rows in blue, each darkened or lightened as far
// as the list's ground needs for the text to be read; the others in the
// list's own colour.
void TReminderPage::lv1CustomDrawItem(QTreeWidgetItem* item)
{
    const QString status = item->text(3);
    const QColor ground = ui->lv1->palette().color(QPalette::Active, QPalette::Base);
    QVariant colour;
    if (status == kAlamMissedText)
        colour = QBrush(ReadableOn(QColor(255, 0, 0), ground));
    else if (status == kAlamSeenText)
        colour = QBrush(ReadableOn(QColor(0, 0, 255), ground));
    // Only what differs is set: every change of an item shown in the list
    // is announced to the list, and most rows keep the list's colour.
    for (int column = 0; column < 4; ++column) {
        if (item->data(column, Qt::ForegroundRole) != colour)
            item->setData(column, Qt::ForegroundRole, colour);
        if (column > 0 && item->textAlignment(column) != Qt::AlignCenter)
            item->setTextAlignment(column, Qt::AlignCenter);
    }
}

void TReminderPage::rbToDayClick()
{
    ShowAlamList(afToday);
}

void TReminderPage::rbTomorrowClick()
{
    ShowAlamList(afTomorrow);
}

void TReminderPage::rbMissClick()
{
    ShowAlamList(afMissed);
}

void TReminderPage::rb1Click()
{
    ShowAlamList(afSeen);
}

void TReminderPage::rb2Click()
{
    ShowAlamList(afDaily);
}

void TReminderPage::rbAllClick()
{
    ShowAlamList(afAll);
}

void TReminderPage::NAddAlamClick()
{
    DbAccess->CheckWritable();
    if (ShowAddAlam(Alam) != mrOk)
        return;
    ui->rbAll->setChecked(true);
    ShowAlamList(afAll);
}

void TReminderPage::NModAlamClick()
{
    DbAccess->CheckWritable();
    const QTreeWidgetItem* item = ui->lv1->selectedItems().value(0, nullptr);
    if (!item)
        return;
    if (ShowModAlam(Alam, item->text(0)) != mrOk)
        return;
    ui->rbAll->setChecked(true);
    ShowAlamList(afAll);
}

void TReminderPage::NDelAlamClick()
{
    DbAccess->CheckWritable();
    QTreeWidgetItem* item = ui->lv1->selectedItems().value(0, nullptr);
    if (!item)
        return;
    if (!AskYesNo("确实要删除 " + item->text(2) + " 吗？" + DeleteKeeper().Notice()))
        return;
    const QString what = "删除提醒“" + item->text(2) + "”";
    RecordDelete(what, Alam.DeleteAlam(item->text(0)));
    delete item;
}

void TReminderPage::WMAlamDelete(int id)
{
    const QString text = QString::number(id);
    const std::unique_ptr<TDataSet> row = DbAccess->Query("select ReMark from Alam where ID=" + text);
    const QString what = "删除提醒“" + row->AsString(0) + "”";
    RecordDelete(what, Alam.DeleteAlam(text, true));
    RemoveFromList({text});
}

void TReminderPage::RecordDelete(const QString& what, const QList<qint64>& entries)
{
    m_undo->Record(what, TakeBackDelete(entries, [this](int id) { ShowReminder(id); }));
}

void TReminderPage::WMAlamSeen(int id)
{
    const QString text = QString::number(id);
    Alam.MarkAlamSeen(text);
    MarkSeenInList({text});
}

void TReminderPage::RemoveFromList(const QStringList& ids)
{
    if (!ui)
        return;
    for (int i = ui->lv1->topLevelItemCount() - 1; i >= 0; --i) {
        if (ids.contains(ui->lv1->topLevelItem(i)->text(0)))
            delete ui->lv1->takeTopLevelItem(i);
    }
}

void TReminderPage::MarkSeenInList(const QStringList& ids)
{
    if (!ui)
        return;
    for (int i = ui->lv1->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = ui->lv1->topLevelItem(i);
        if (!ids.contains(item->text(0)))
            continue;
        item->setText(3, kAlamSeenText);
        lv1CustomDrawItem(item);
    }
}

// The reminder fires once more at now plus the minutes, keeping its own
// time; the list shows the pending snooze at once.
void TReminderPage::WMAlamSnooze(int id, int minutes)
{
    Alam.SnoozeAlams({QString::number(id)}, TClock::Now().addSecs(qint64(minutes) * 60));
    ShowAlamList(m_filter);
}

// Seen and delete concern one-off reminders: a repeating one in the window
// is only dismissed, as its alert has no delete either.
void TReminderPage::AnswerMissed(TMissedAnswer answer, const QList<TDueAlam>& rows, int minutes)
{
    QStringList all;
    QStringList once;
    QStringList repeating;
    QString onceText; // the one-off reminder's, for 撤销
    for (const TDueAlam& row : rows) {
        all << row.Id;
        if (!row.Daily) {
            once << row.Id;
            onceText = row.ReMark;
        } else {
            repeating << row.Id;
        }
    }
    // A file opened read-only cannot keep them: the window closes all the same.
    if (answer == TMissedAnswer::Later) {
        if (!DbAccess->ReadOnly()) {
            Alam.LeaveAlamsForLater(once);
            Alam.ForgetLeftAlams(repeating);
        }
        return;
    }
    DbAccess->CheckWritable();
    if (answer != TMissedAnswer::Snooze)
        Alam.ForgetLeftAlams(repeating);
    switch (answer) {
    case TMissedAnswer::Seen:
        Alam.MarkAlamsSeen(once);
        MarkSeenInList(once);
        break;
    case TMissedAnswer::Delete:
        RecordDelete(once.size() == 1 ? "删除提醒“" + onceText + "”" : QString("删除 %1 个提醒").arg(once.size()),
                     Alam.DeleteAlams(once, true));
        RemoveFromList(once);
        break;
    case TMissedAnswer::Snooze:
        Alam.SnoozeAlams(all, TClock::Now().addSecs(qint64(minutes) * 60));
        ShowAlamList(m_filter);
        break;
    case TMissedAnswer::Later:
        break;
    }
}

void TReminderPage::tmr1Timer()
{
    RunHandler([this] {
        // A failure is reported once; while the same failure persists (the
        // file held by another program) the tick retries quietly, without
        // waiting for the lock. The seconds missed meanwhile are caught up.
        m_tickEpisode.Run(true, [this] { FireDueReminders(); });
    });
}

void TReminderPage::FireDueReminders()
{
    m_schedule.Tick(TClock::Now(), [this](const TAlamTick& tick) {
        if (!tick.Missed.isEmpty()) {
            ShowMissedAlams(tick.Missed, [this](TMissedAnswer answer, const QList<TDueAlam>& rows, int minutes) {
                AnswerMissed(answer, rows, minutes);
            });
        }
        for (const TDueAlam& reminder : tick.Due)
            ShowAlamAlert(reminder.Id, reminder.ReMark, reminder.Daily);
    });
}
