#include "controls/Composition.h"

#include <QApplication>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QPointer>
#include <QWidget>

namespace {
// Watches the input method's events to every field of the program.
class TCompositionWatch : public QObject
{
public:
    static TCompositionWatch* Instance;
    ~TCompositionWatch() override { Instance = nullptr; }

    void Cancel(const QWidget* window)
    {
        if (!m_field || m_cancelled || (window && m_field->window() != window))
            return;
        m_cancelled = true;
        // The field drops the letters it shows; the input method its state.
        QInputMethodEvent clear;
        QCoreApplication::sendEvent(m_field, &clear);
        QGuiApplication::inputMethod()->reset();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::InputMethod) {
            Follow(watched, static_cast<QInputMethodEvent*>(event));
        } else if (m_field && watched == m_field->window()) {
            if (event->type() == QEvent::WindowDeactivate) {
                Cancel(m_field->window());
            } else if (event->type() == QEvent::WindowActivate && m_cancelled) {
                // Back: what the input method commits now is typed.
                m_field = nullptr;
                m_cancelled = false;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Follow(QObject* watched, QInputMethodEvent* event)
    {
        auto* field = qobject_cast<QWidget*>(watched);
        if (!field)
            return;
        if (m_cancelled && field == m_field) {
            // What the input method gives up of the cancelled composition.
            if (!event->commitString().isEmpty())
                event->setCommitString(QString());
            if (event->preeditString().isEmpty())
                return;
        }
        m_cancelled = false;
        m_field = event->preeditString().isEmpty() ? nullptr : field;
    }

    QPointer<QWidget> m_field; // the field with an open composition
    bool m_cancelled = false;  // ... which was cancelled
};

TCompositionWatch* TCompositionWatch::Instance = nullptr;
} // namespace

void WatchCompositions(QApplication* app)
{
    if (TCompositionWatch::Instance)
        return;
    TCompositionWatch::Instance = new TCompositionWatch;
    TCompositionWatch::Instance->setParent(app);
    app->installEventFilter(TCompositionWatch::Instance);
}

void CancelComposition(const QWidget* window)
{
    if (TCompositionWatch::Instance)
        TCompositionWatch::Instance->Cancel(window);
}
