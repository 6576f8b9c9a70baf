#include "reminders/MissedAlam.h"

#include "controls/UiException.h"
#include "reminders/Chime.h"
#include "reminders/ShowAlam.h"
#include "ui_MissedAlam.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <algorithm>

namespace {
QPointer<TFormMissedAlam> openWindow;
}

TFormMissedAlam::TFormMissedAlam(TMissedHandler handler, QWidget* parent)
    : QWidget(parent), m_handler(std::move(handler)), ui(std::make_unique<Ui::TFormMissedAlam>())
{
    // It stays in sight; its close box leaves the reminders for later, as 稍后处理 does.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    ui->setupUi(this);
    ui->lvMissed->setColumnWidth(0, 170);

    ConnectHandler(ui->btnAll, &QPushButton::clicked, this, &TFormMissedAlam::btnAllClick);
    ConnectHandler(ui->btnSeen, &QPushButton::clicked, this, &TFormMissedAlam::btnSeenClick);
    ConnectHandler(ui->btnDel, &QPushButton::clicked, this, &TFormMissedAlam::btnDelClick);
    connect(ui->btnLater, &QPushButton::clicked, this, &QWidget::close);
    AttachSnoozeMenu(ui->btnSnooze,
                     [this](int minutes) { RunHandler([&] { Answer(TMissedAnswer::Snooze, minutes); }); });
    connect(ui->lvMissed, &QTreeWidget::itemSelectionChanged, this, &TFormMissedAlam::UpdateButtons);
    UpdateButtons();
}

TFormMissedAlam::~TFormMissedAlam() = default;

void TFormMissedAlam::AddMissed(const QList<TDueAlam>& missed)
{
    for (const TDueAlam& firing : missed) {
        const auto listed =
            std::find_if(m_rows.begin(), m_rows.end(), [&](const TDueAlam& row) { return row.Id == firing.Id; });
        if (listed == m_rows.end())
            m_rows.append(firing);
        else if (listed->Moment < firing.Moment)
            *listed = firing;
    }
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [](const TDueAlam& a, const TDueAlam& b) { return a.Moment < b.Moment; });
    ShowRows();
}

void TFormMissedAlam::ShowRows()
{
    QStringList selected;
    for (const QTreeWidgetItem* item : ui->lvMissed->selectedItems())
        selected << item->data(0, Qt::UserRole).toString();
    ui->lvMissed->clear();
    QList<QTreeWidgetItem*> items;
    for (const TDueAlam& row : m_rows) {
        // One line per reminder: a text of several lines shows them joined.
        auto* item = new QTreeWidgetItem({row.Moment.toString("yyyy-MM-dd HH:mm:ss"), row.ReMark.simplified()});
        item->setData(0, Qt::UserRole, row.Id);
        item->setToolTip(1, row.ReMark);
        items << item;
    }
    ui->lvMissed->addTopLevelItems(items);
    for (QTreeWidgetItem* item : items)
        item->setSelected(selected.contains(item->data(0, Qt::UserRole).toString()));
    // A row is always chosen, so that every button acts at once.
    if (ui->lvMissed->selectedItems().isEmpty() && !items.isEmpty())
        ui->lvMissed->setCurrentItem(items.first());
    ui->lblRepeat->setVisible(std::any_of(m_rows.begin(), m_rows.end(), [](const TDueAlam& row) { return row.Daily; }));
    UpdateButtons();
}

void TFormMissedAlam::UpdateButtons()
{
    const QList<QTreeWidgetItem*> selected = ui->lvMissed->selectedItems();
    const bool any = !selected.isEmpty();
    // Deleting concerns one-off reminders: chosen repeating ones are only seen.
    const bool deletes = std::any_of(selected.begin(), selected.end(), [this](const QTreeWidgetItem* item) {
        const QString id = item->data(0, Qt::UserRole).toString();
        return std::any_of(m_rows.begin(), m_rows.end(),
                           [&](const TDueAlam& row) { return row.Id == id && !row.Daily; });
    });
    const QString del = !any || deletes ? QStringLiteral("看到了并删除") : QStringLiteral("看到了");
    ui->btnDel->setText(del);
    ui->btnDel->setAccessibleName(del);
    ui->btnSeen->setEnabled(any);
    ui->btnDel->setEnabled(any);
    ui->btnSnooze->setEnabled(any);
}

void TFormMissedAlam::btnAllClick()
{
    ui->lvMissed->selectAll();
}

void TFormMissedAlam::btnSeenClick()
{
    Answer(TMissedAnswer::Seen, 0);
}

void TFormMissedAlam::btnDelClick()
{
    Answer(TMissedAnswer::Delete, 0);
}

void TFormMissedAlam::Answer(TMissedAnswer answer, int minutes)
{
    QStringList ids;
    for (const QTreeWidgetItem* item : ui->lvMissed->selectedItems())
        ids << item->data(0, Qt::UserRole).toString();
    QList<TDueAlam> chosen;
    for (const TDueAlam& row : m_rows)
        if (ids.contains(row.Id))
            chosen << row;
    if (chosen.isEmpty())
        return;
    // A failure leaves every row where it was.
    m_handler(answer, chosen, minutes);
    m_rows.removeIf([&](const TDueAlam& row) { return ids.contains(row.Id); });
    ShowRows();
    if (m_rows.isEmpty())
        close();
}

void TFormMissedAlam::closeEvent(QCloseEvent* event)
{
    bool kept = m_rows.isEmpty();
    if (!kept)
        RunHandler([&] {
            m_handler(TMissedAnswer::Later, m_rows, 0);
            kept = true;
        });
    if (!kept) {
        event->ignore();
        return;
    }
    // Released later: firings missed meanwhile open a window of their own.
    if (openWindow == this)
        openWindow = nullptr;
    QWidget::closeEvent(event);
}

void CloseMissedAlams()
{
    if (openWindow)
        openWindow->close();
}

TFormMissedAlam* ShowMissedAlams(const QList<TDueAlam>& missed, TMissedHandler handler)
{
    if (!openWindow) {
        openWindow = new TFormMissedAlam(std::move(handler));
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            openWindow->move(screen->availableGeometry().center() - openWindow->rect().center());
    }
    openWindow->AddMissed(missed);
    openWindow->show();
    openWindow->raise();
    PlayChime();
    return openWindow;
}
