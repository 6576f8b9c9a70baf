#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QAbstractItemView;
class QAction;
class QMenu;

// The one step a view can take back: its last delete or move. The 撤销 item
// of the view's right-click menu names it ("撤销删除分组“工作”"), Ctrl+Z in
// the view runs it, and it is used up once taken back. Taking back records
// nothing, so Ctrl+Z pressed again does not redo.
class TUndoAction : public QObject
{
public:
    // Adds the item, disabled, to the menu just after the item `after` (the
    // last of the view's own commands).
    TUndoAction(QMenu* menu, QAction* after, const QString& objectName);
    ~TUndoAction() override;

    // Ctrl+Z in the view (made after the menu on pages made when first shown).
    void Bind(QAbstractItemView* view);
    // what: the step as the item names it after 撤销, e.g. "删除网址“甲”";
    // a null takeBack (nothing to take back) leaves the item disabled.
    void Record(const QString& what, std::function<void()> takeBack);
    QAction* Action() const { return m_action; }

    // After the data was replaced (a restore) no recorded step applies.
    static void ForgetAll();

private:
    void Forget();
    void Run();

    QAction* m_action;
    std::function<void()> m_takeBack;
    bool m_running = false;
};
