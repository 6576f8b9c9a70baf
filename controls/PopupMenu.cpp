#include "controls/PopupMenu.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>

namespace {
// A right press on an item selects it (as on every desktop), so the menu
// that follows acts on the item under the mouse; on empty space it leaves
// the selection alone. The view's own handling of the right button (which
// could start a drag selection or an edit) never runs.
class TRightButtonFilter : public QObject
{
public:
    explicit TRightButtonFilter(QAbstractItemView* view) : QObject(view), m_view(view) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
            type == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::RightButton)
                return QObject::eventFilter(watched, event);
            if (type == QEvent::MouseButtonPress) {
                const QModelIndex index = m_view->indexAt(mouse->position().toPoint());
                if (index.isValid() && !m_view->selectionModel()->isSelected(index))
                    m_view->setCurrentIndex(index);
            }
            return true; // the context menu event still follows
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAbstractItemView* m_view;
};
} // namespace

void BindPopupMenu(QAbstractItemView* view, QMenu* menu)
{
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->viewport()->installEventFilter(new TRightButtonFilter(view));
    QObject::connect(view, &QWidget::customContextMenuRequested, menu,
                     [view, menu](const QPoint& pos) { menu->popup(view->viewport()->mapToGlobal(pos)); });
}
