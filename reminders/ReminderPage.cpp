#include "reminders/ReminderPage.h"

#include "controls/Contrast.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/OleDate.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "reminders/AddAlam.h"
#include "reminders/AlamList.h"
#include "reminders/ModAlam.h"
#include "reminders/ShowAlam.h"
#include "reminders/UntAlam.h"

#include <QEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <functional>

namespace {
const QString kTickSQL = "select ID,AlamDate,ReDay,Remark from Alam  where Alamtime=time() ";

// A timer that slips by a second or two must not skip a reminder; a longer
// gap (the computer asleep, the program stopped) is not caught up.
constexpr qint64 kCatchUpSeconds = 60;

struct TDueReminder
{
    QString id;
    QString remark;
    bool daily;
};

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

// Recolours the rows when the desktop's palette changes while the list shows.
class TPaletteWatcher : public QObject
{
public:
    TPaletteWatcher(QWidget* watched, std::function<void()> changed) : QObject(watched), m_changed(std::move(changed))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            m_changed();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_changed;
};
} // namespace

TReminderPage::TReminderPage(const TReminderWidgets& widgets, TAlam& alam) : m_widgets(widgets), Alam(alam)
{
    ui->lv1->setItemDelegate(new TGridLinesDelegate(ui->lv1));
    new TPaletteWatcher(ui->lv1, [this] {
        for (int i = 0; i < ui->lv1->topLevelItemCount(); ++i)
            lv1CustomDrawItem(ui->lv1->topLevelItem(i));
    });
    ConnectHandler(ui->rbToDay, &QRadioButton::clicked, this, &TReminderPage::rbToDayClick);
    ConnectHandler(ui->rbTomorrow, &QRadioButton::clicked, this, &TReminderPage::rbTomorrowClick);
    ConnectHandler(ui->rbMiss, &QRadioButton::clicked, this, &TReminderPage::rbMissClick);
    ConnectHandler(ui->rb1, &QRadioButton::clicked, this, &TReminderPage::rb1Click);
    ConnectHandler(ui->rb2, &QRadioButton::clicked, this, &TReminderPage::rb2Click);
    ConnectHandler(ui->rbAll, &QRadioButton::clicked, this, &TReminderPage::rbAllClick);
    ConnectHandler(ui->NAddAlam, &QAction::triggered, this, &TReminderPage::NAddAlamClick);
    ConnectHandler(ui->NModAlam, &QAction::triggered, this, &TReminderPage::NModAlamClick);
    ConnectHandler(ui->NDelAlam, &QAction::triggered, this, &TReminderPage::NDelAlamClick);
    ConnectHandler(ui->lv1, &QTreeWidget::itemDoubleClicked, this, &TReminderPage::NModAlamClick);
    SetAlamMessageHandler(this, [this](int message, int id) {
        RunHandler([&] {
            if (message == WM_ALAM_DELETE)
                WMAlamDelete(id);
            else if (message == WM_ALAM_SEEN)
                WMAlamSeen(id);
        });
    });
}

void TReminderPage::ShowStartupReminders()
{
    ShowAlamList(afToday);
}

bool TReminderPage::ShowReminder(int id)
{
    const QString key = QString::number(id);
    if (DbGetIntValue("select count(*) from Alam where ID=" + key) == 0)
        return false;
    ui->rbAll->setChecked(true);
    ShowAlamList(afAll);
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

void TReminderPage::ShowAlamList(int filter)
{
    FillAlamList(Alam, ui->lv1, AlamFilter(filter));
    for (int i = 0; i < ui->lv1->topLevelItemCount(); ++i)
        lv1CustomDrawItem(ui->lv1->topLevelItem(i));
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
    if (!AskYesNo("确实要删除 " + item->text(2) + " 吗？"))
        return;
    Alam.DeleteAlam(item->text(0));
    delete item;
}

void TReminderPage::WMAlamDelete(int id)
{
    const QString text = QString::number(id);
    Alam.DeleteAlam(text);
    for (int i = ui->lv1->topLevelItemCount() - 1; i >= 0; --i) {
        if (ui->lv1->topLevelItem(i)->text(0) == text)
            delete ui->lv1->takeTopLevelItem(i);
    }
}

void TReminderPage::WMAlamSeen(int id)
{
    const QString text = QString::number(id);
    Alam.MarkAlamSeen(text);
    for (int i = ui->lv1->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = ui->lv1->topLevelItem(i);
        if (item->text(0) != text)
            continue;
        item->setText(3, kAlamSeenText);
        lv1CustomDrawItem(item);
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

// Covers every whole second since the previous tick, so no reminder is
// skipped by a late timer and none fires twice for one second.
void TReminderPage::FireDueReminders()
{
    const qint64 now = TClock::Now().toSecsSinceEpoch();
    qint64 first = m_lastAlamSecond + 1;
    if (m_lastAlamSecond < 0 || now - m_lastAlamSecond > kCatchUpSeconds || m_lastAlamSecond - now > kCatchUpSeconds)
        first = now; // the first tick, a long gap, or a clock set back a long way
    // A clock set back a little repeats seconds already covered: nothing to do.
    for (qint64 second = first; second <= now; ++second) {
        FireRemindersOf(second);
        m_lastAlamSecond = second;
    }
}

void TReminderPage::FireRemindersOf(qint64 second)
{
    QList<TDueReminder> due;
    {
        // The statement's Time() and the comparison with today read this second.
        const TClock::TScopedMoment moment(QDateTime::fromSecsSinceEpoch(second));
        DbAccess->OpenQuery2(kTickSQL);
        TDataSet& set = *DbAccess->QuerySet2;
        const double today = Ole::FromDate(TClock::Today());
        for (set.First(); !set.Eof(); set.Next()) {
            const bool daily = set.AsBoolean("ReDay");
            const QVariant day = set.Value("AlamDate");
            const bool ofToday = !day.isNull() && day.typeId() != QMetaType::QString && day.toDouble() == today;
            if (daily || ofToday)
                due.append({set.AsString("ID"), set.AsString("Remark"), daily});
        }
    }
    for (const TDueReminder& reminder : due)
        ShowAlamAlert(reminder.id, reminder.remark, reminder.daily);
}
