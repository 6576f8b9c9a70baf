#include "controls/EmptyHint.h"

#include <QAbstractItemView>
#include <QAction>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace {
class TEmptyHint : public QLabel
{
public:
    TEmptyHint(QAbstractItemView* view, const QString& text, std::function<bool()> empty)
        : QLabel(text, view->viewport()), m_view(view), m_empty(std::move(empty))
    {
        setObjectName("lblEmptyHint");
        setAccessibleName(text);
        setAlignment(Qt::AlignCenter);
        setWordWrap(true);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setForegroundRole(QPalette::PlaceholderText);
        view->viewport()->installEventFilter(this);
        Rewire();
        Refresh();
    }

    void Refresh()
    {
        if (m_view->model() != m_model)
            Rewire();
        setGeometry(m_view->viewport()->rect().adjusted(8, 0, -8, 0));
        setVisible(m_empty());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_view->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            Refresh();
        // A model handed to the view later is followed from its first paint.
        else if (event->type() == QEvent::Paint && m_view->model() != m_model)
            QTimer::singleShot(0, this, [this] { Refresh(); });
        return QLabel::eventFilter(watched, event);
    }

private:
    void Rewire()
    {
        for (const QMetaObject::Connection& connection : m_connections)
            disconnect(connection);
        m_connections.clear();
        m_model = m_view->model();
        if (!m_model)
            return;
        const auto refresh = [this] { Refresh(); };
        m_connections << connect(m_model, &QAbstractItemModel::rowsInserted, this, refresh)
                      << connect(m_model, &QAbstractItemModel::rowsRemoved, this, refresh)
                      << connect(m_model, &QAbstractItemModel::modelReset, this, refresh)
                      << connect(m_model, &QAbstractItemModel::layoutChanged, this, refresh);
    }

    QAbstractItemView* m_view;
    std::function<bool()> m_empty;
    QPointer<QAbstractItemModel> m_model;
    QList<QMetaObject::Connection> m_connections;
};

// Selects the current item when a key of the view arrives with nothing selected.
class TSelectCurrentFirst : public QObject
{
public:
    TSelectCurrentFirst(QAbstractItemView* view, QList<QKeySequence> keys)
        : QObject(view), m_view(view), m_keys(std::move(keys))
    {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QKeySequence pressed(key->keyCombination());
            QItemSelectionModel* selection = m_view->selectionModel();
            if (m_keys.contains(pressed) && selection && !selection->hasSelection() && m_view->currentIndex().isValid())
                m_view->setCurrentIndex(m_view->currentIndex());
        }
        return false;
    }

private:
    QAbstractItemView* m_view;
    QList<QKeySequence> m_keys;
};
} // namespace

QLabel* ShowEmptyHint(QAbstractItemView* view, const QString& text, std::function<bool()> empty)
{
    return new TEmptyHint(view, text, std::move(empty));
}

void BindViewKeys(QAbstractItemView* view, const QList<QPair<QKeySequence, QAction*>>& keys)
{
    QList<QKeySequence> sequences;
    for (const auto& [sequence, action] : keys) {
        // An action given two keys (Return and the keypad's Enter) keeps both.
        QList<QKeySequence> own = view->actions().contains(action) ? action->shortcuts() : QList<QKeySequence>();
        action->setShortcuts(own << sequence);
        action->setShortcutContext(Qt::WidgetShortcut);
        if (!view->actions().contains(action))
            view->addAction(action);
        sequences << sequence;
    }
    new TSelectCurrentFirst(view, sequences);
}

void BindListKeys(QAbstractItemView* view, QAction* add, QAction* del, QAction* open)
{
    BindViewKeys(view, {{QKeySequence(Qt::CTRL | Qt::Key_N), add},
                        {QKeySequence(Qt::Key_Delete), del},
                        {QKeySequence(Qt::Key_Return), open},
                        {QKeySequence(Qt::Key_Enter), open}});
}
