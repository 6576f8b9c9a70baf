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

// Shows the controls just made on a page that may be showing already (a
// control added to a shown widget would show only later, after a paint of
// the page without it), laid out at once, and puts them in the keyboard's
// order after the tabs of the page's tab widget.
void ShowMadeControls(QWidget* page);
