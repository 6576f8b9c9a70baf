#include "reminders/AlamList.h"

#include "reminders/ShowAlam.h"

#include <QTreeWidget>

namespace {
// A row of the reminder list: the ID column sorts as a number, the time
// column by its sort key; equal keys keep the order of the IDs.
class TAlamListItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const qlonglong id = text(0).toLongLong();
        const qlonglong otherId = other.text(0).toLongLong();
        if (column == 1) {
            const QString key = data(1, Qt::UserRole).toString();
            const QString otherKey = other.data(1, Qt::UserRole).toString();
            if (key != otherKey)
                return key < otherKey;
        } else if (column != 0 && text(column) != other.text(column)) {
            return text(column) < other.text(column);
        }
        return id < otherId;
    }
};
} // namespace

void FillAlamList(TAlam& store, QTreeWidget* list, AlamFilter filter)
{
    list->clear();
    QList<QDateTime> nextDue;
    const QList<QStringList> rows = store.LoadAlamList(filter, &nextDue, AlertsOnScreen());
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        auto* item = new TAlamListItem(rows[i]);
        // A long repeat ("每年农历八月十五，提前1天") is cut by the column.
        item->setToolTip(1, rows[i].value(1));
        item->setToolTip(3, rows[i].value(3));
        const QDateTime due = nextDue.value(i);
        // Next due first; a past one-off row after them, by its own time.
        item->setData(1, Qt::UserRole,
                      due.isValid() ? "0" + due.toString("yyyy-MM-dd HH:mm:ss") : "1" + rows[i].value(1));
        items << item;
    }
    list->setUpdatesEnabled(false);
    list->addTopLevelItems(items);
    list->setUpdatesEnabled(true);
}
