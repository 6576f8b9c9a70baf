#pragma once

#include <QEvent>
#include <QObject>
#include <functional>

class QWidget;

// Runs a step when a widget first gets an event of a type (is first shown,
// first painted).
class TOnFirstEvent : public QObject
{
public:
    TOnFirstEvent(QWidget* widget, QEvent::Type type, std::function<void()> step);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QEvent::Type m_type;
    std::function<void()> m_step;
};

// Runs a step once the window has painted, or after two seconds for a
// window not painted yet: work that need not hold up the first paint. The
// steps run in the order they were asked for, each in a turn of the event
// loop of its own; one asked for later runs in the next turn.
void AfterFirstPaint(QWidget* window, std::function<void()> step);

// Puts the page's controls that the Tab key reaches, in their present order,
// after `first` in the keyboard's order; those within `apart` stay as they are.
void TabAfter(QWidget* first, QWidget* page, QWidget* apart = nullptr);

// Shows the controls just made on a page that may be showing already (a
// control added to a shown widget would show only later, after a paint of
// the page without it), laid out at once, and puts them in the keyboard's
// order after the tabs of the page's tab widget.
void ShowMadeControls(QWidget* page);
