#include "controls/FirstEvent.h"

#include <QLayout>
#include <QWidget>

TOnFirstEvent::TOnFirstEvent(QWidget* widget, QEvent::Type type, std::function<void()> step)
    : QObject(widget), m_type(type), m_step(std::move(step))
{
    widget->installEventFilter(this);
}

bool TOnFirstEvent::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == m_type) {
        watched->removeEventFilter(this);
        m_step();
        deleteLater();
    }
    return QObject::eventFilter(watched, event);
}

void ShowMadeControls(QWidget* page)
{
    for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->show();
    if (page->layout())
        page->layout()->activate();
}
