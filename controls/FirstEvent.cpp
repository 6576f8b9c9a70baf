#include "controls/FirstEvent.h"

#include <QHash>
#include <QLayout>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <vector>

namespace {
class TAfterFirstPaint;
// The steps of each window that waits for its first paint, or has painted.
QHash<QWidget*, TAfterFirstPaint*> g_afterFirstPaint;

class TAfterFirstPaint : public QObject
{
public:
    explicit TAfterFirstPaint(QWidget* window) : QObject(window), m_window(window)
    {
        g_afterFirstPaint.insert(window, this);
        window->installEventFilter(this);
        QTimer::singleShot(2000, this, [this] { Begin(); });
    }
    ~TAfterFirstPaint() override { g_afterFirstPaint.remove(m_window); }

    void Add(std::function<void()> step)
    {
        if (m_begun)
            QTimer::singleShot(0, this, std::move(step));
        else
            m_steps.push_back(std::move(step));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            Begin();
        return QObject::eventFilter(watched, event);
    }

private:
    // Each step in a turn of its own, so the window answers between them.
    void Begin()
    {
        if (m_begun)
            return;
        m_begun = true;
        parent()->removeEventFilter(this);
        for (std::function<void()>& step : m_steps)
            QTimer::singleShot(0, this, std::move(step));
        m_steps.clear();
    }

    QWidget* m_window;
    std::vector<std::function<void()>> m_steps;
    bool m_begun = false;
};
} // namespace

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

void AfterFirstPaint(QWidget* window, std::function<void()> step)
{
    TAfterFirstPaint* waiting = g_afterFirstPaint.value(window);
    if (!waiting)
        waiting = new TAfterFirstPaint(window);
    waiting->Add(std::move(step));
}

void TabAfter(QWidget* first, QWidget* page, QWidget* apart)
{
    QList<QWidget*> order;
    for (QWidget* next = page->nextInFocusChain(); next != page; next = next->nextInFocusChain())
        if (page->isAncestorOf(next) && !(apart && apart->isAncestorOf(next)) && next->focusPolicy() & Qt::TabFocus)
            order << next;
    QWidget* previous = first;
    for (QWidget* control : order) {
        QWidget::setTabOrder(previous, control);
        previous = control;
    }
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
    if (tabs)
        TabAfter(tabs->tabBar(), page);
}
