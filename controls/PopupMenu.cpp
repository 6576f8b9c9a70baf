#include "controls/PopupMenu.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>

namespace {
class TRightButtonFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
            type == QEvent::MouseButtonDblClick) {
            if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
                return true; // the context menu event still follows
        }
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

void BindPopupMenu(QAbstractItemView* view, QMenu* menu)
{
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->viewport()->installEventFilter(new TRightButtonFilter(view));
    QObject::connect(view, &QWidget::customContextMenuRequested, menu,
                     [view, menu](const QPoint& pos) { menu->popup(view->viewport()->mapToGlobal(pos)); });
}
