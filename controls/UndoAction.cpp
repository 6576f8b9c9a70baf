#include "controls/UndoAction.h"

#include "controls/EmptyHint.h"
#include "controls/UiException.h"
#include "data/MD.h"

#include <QAction>
#include <QList>
#include <QMenu>
#include <QScopedValueRollback>

namespace {
QList<TUndoAction*>& Every()
{
    static QList<TUndoAction*> every;
    return every;
}
} // namespace

TUndoAction::TUndoAction(QMenu* menu, QAction* after, const QString& objectName)
    : QObject(menu), m_action(new QAction(this))
{
    m_action->setObjectName(objectName);
    Forget();
    const QList<QAction*> items = menu->actions();
    menu->insertAction(items.value(items.indexOf(after) + 1, nullptr), m_action);
    connect(m_action, &QAction::triggered, this, [this] { RunHandler([this] { Run(); }); });
    Every() << this;
}

TUndoAction::~TUndoAction()
{
    Every().removeOne(this);
}

void TUndoAction::Bind(QAbstractItemView* view)
{
    BindViewKeys(view, {{QKeySequence::Undo, m_action}});
}

void TUndoAction::Record(const QString& what, std::function<void()> takeBack)
{
    if (m_running)
        return;
    // A step that cannot be taken back is the last one all the same: the
    // one before it is no longer offered.
    if (!takeBack) {
        Forget();
        return;
    }
    m_takeBack = std::move(takeBack);
    // A name's "&" is shown as typed, not taken for the item's key.
    m_action->setText("撤销" + QString(what).replace('&', "&&"));
    m_action->setEnabled(true);
}

void TUndoAction::ForgetAll()
{
    for (TUndoAction* undo : Every())
        undo->Forget();
}

void TUndoAction::Forget()
{
    m_takeBack = nullptr;
    m_action->setText("撤销");
    m_action->setEnabled(false);
}

// A file that could not be written (read-only, busy: the transaction went
// back) keeps the step for another try; any other failure, such as what it
// would bring back being gone, uses it up.
void TUndoAction::Run()
{
    if (!m_takeBack)
        return;
    DbAccess->CheckWritable();
    const std::function<void()> takeBack = std::move(m_takeBack);
    const QString text = m_action->text();
    Forget();
    QScopedValueRollback running(m_running, true);
    try {
        takeBack();
    } catch (const EDBException&) {
        m_takeBack = takeBack;
        m_action->setText(text);
        m_action->setEnabled(true);
        throw;
    }
}
