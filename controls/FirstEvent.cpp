#include "controls/FirstEvent.h"

#include <QLayout>
#include <QTabBar>
#include <QTabWidget>
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
    // Made last, the controls would come last in the keyboard's order too:
    // Tab from the tabs goes into the page shown, as with controls made with the window.
    auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget() ? page->parentWidget()->parentWidget() : nullptr);
    if (!tabs)
        return;
    QList<QWidget*> made;
    for (QWidget* next = page->nextInFocusChain(); next != page; next = next->nextInFocusChain())
        if (page->isAncestorOf(next) && next->focusPolicy() & Qt::TabFocus)
            made << next;
    QWidget* previous = tabs->tabBar();
    for (QWidget* control : made) {
        QWidget::setTabOrder(previous, control);
        previous = control;
    }
}
