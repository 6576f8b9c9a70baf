#include "reminders/AlamList.h"

#include <QTreeWidget>

void FillAlamList(TAlam& store, QTreeWidget* list, AlamFilter filter)
{
    list->clear();
    const QList<QStringList> rows = store.LoadAlamList(filter);
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const QStringList& row : rows)
        items << new QTreeWidgetItem(row);
    list->setUpdatesEnabled(false);
    list->addTopLevelItems(items);
    list->setUpdatesEnabled(true);
}
