#include "controls/ItemDrag.h"

#include "controls/UiException.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPersistentModelIndex>
#include <QStringList>
#include <QTimer>

namespace {
// Where a view keeps its drop target, for its delegate to read.
constexpr char kDropTarget[] = "jotterelDropTarget";

void SetDropTarget(QAbstractItemView* view, const QModelIndex& target)
{
    const QPersistentModelIndex now(target);
    if (view->property(kDropTarget).value<QPersistentModelIndex>() == now)
        return;
    view->setProperty(kDropTarget, QVariant::fromValue(now));
    view->viewport()->update();
}

class TDragSource : public QObject
{
public:
    TDragSource(QAbstractItemView* view, QString format, std::function<QString(const QModelIndex&)> dragged)
        : QObject(view), m_view(view), m_format(std::move(format)), m_dragged(std::move(dragged))
    {
        view->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            m_pressAt = mouse->position().toPoint();
            m_pressed = mouse->button() == Qt::LeftButton ? QPersistentModelIndex(m_view->indexAt(m_pressAt))
                                                          : QPersistentModelIndex();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            m_pressed = QPersistentModelIndex();
        } else if (event->type() == QEvent::MouseMove && m_pressed.isValid()) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (!(mouse->buttons() & Qt::LeftButton))
                return false;
            // Short of a drag the view sees no move: it would start selecting
            // by the mouse and leave only the pressed row of those selected.
            if ((mouse->position().toPoint() - m_pressAt).manhattanLength() < QApplication::startDragDistance())
                return true;
            const QString text = m_dragged(m_pressed);
            m_pressed = QPersistentModelIndex();
            if (text.isEmpty())
                return false;
            auto* data = new QMimeData;
            data->setData(m_format, text.toUtf8());
            auto* drag = new QDrag(m_view);
            drag->setMimeData(data);
            drag->exec(Qt::MoveAction);
            return true;
        }
        return false;
    }

private:
    QAbstractItemView* m_view;
    QString m_format;
    std::function<QString(const QModelIndex&)> m_dragged;
    QPoint m_pressAt;
    QPersistentModelIndex m_pressed;
};

class TDropTarget : public QObject
{
public:
    using TCheck = std::function<bool(const QModelIndex&, const QString&, const QString&)>;
    using TDrop = std::function<void(const QModelIndex&, const QString&, const QString&)>;

    TDropTarget(QAbstractItemView* view, QStringList formats, TCheck canDrop, TDrop dropped)
        : QObject(view), m_view(view), m_formats(std::move(formats)), m_canDrop(std::move(canDrop)),
          m_dropped(std::move(dropped))
    {
        view->viewport()->setAcceptDrops(true);
        view->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::DragLeave) {
            Forget();
            return true;
        }
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
            return false;
        auto* drop = static_cast<QDropEvent*>(event);
        QString format;
        for (const QString& each : m_formats)
            if (drop->mimeData()->hasFormat(each))
                format = each;
        if (format.isEmpty()) {
            drop->ignore();
            return true;
        }
        const QString text = QString::fromUtf8(drop->mimeData()->data(format));
        if (type == QEvent::DragEnter) {
            // A move follows at once and decides on the item under the pointer.
            Forget();
            drop->acceptProposedAction();
            return true;
        }
        const QModelIndex target = m_view->indexAt(drop->position().toPoint());
        const bool takes = Takes(target, format, text);
        SetDropTarget(m_view, type == QEvent::DragMove && takes ? target : QModelIndex());
        if (type == QEvent::Drop)
            Forget();
        if (!takes) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::MoveAction);
        drop->accept();
        // Run once the drag is over: a message box inside the drop would
        // open while the desktop still holds the drag.
        if (type == QEvent::Drop)
            QTimer::singleShot(0, this, [this, at = QPersistentModelIndex(target), format, text] {
                if (at.isValid())
                    RunHandler([&] { m_dropped(at, format, text); });
            });
        return true;
    }

private:
    // Asked once per item while the pointer stays on it: the answer may
    // take a look into the data file.
    bool Takes(const QModelIndex& target, const QString& format, const QString& text)
    {
        if (!target.isValid())
            return false;
        if (m_asked == target && m_askedFormat == format && m_askedText == text)
            return m_takes;
        m_takes = false;
        RunHandler([&] { m_takes = m_canDrop(target, format, text); });
        m_asked = target;
        m_askedFormat = format;
        m_askedText = text;
        return m_takes;
    }

    void Forget()
    {
        m_asked = QPersistentModelIndex();
        SetDropTarget(m_view, QModelIndex());
    }

    QAbstractItemView* m_view;
    QStringList m_formats;
    TCheck m_canDrop;
    TDrop m_dropped;
    QPersistentModelIndex m_asked;
    QString m_askedFormat;
    QString m_askedText;
    bool m_takes = false;
};
} // namespace

void EnableItemDrag(QAbstractItemView* view, const QString& format, std::function<QString(const QModelIndex&)> dragged)
{
    new TDragSource(view, format, std::move(dragged));
}

void AcceptItemDrops(QAbstractItemView* view, const QStringList& formats,
                     std::function<bool(const QModelIndex&, const QString&, const QString&)> canDrop,
                     std::function<void(const QModelIndex&, const QString&, const QString&)> dropped)
{
    new TDropTarget(view, formats, std::move(canDrop), std::move(dropped));
}

QModelIndex DropTargetOf(const QAbstractItemView* view)
{
    return view->property(kDropTarget).value<QPersistentModelIndex>();
}
