#pragma once

#include "groups/BaseDlg.h"
#include "history/Trash.h"

#include <functional>
#include <memory>

namespace Ui {
class TFormTrash;
}
class QPushButton;

// 回收站: what was deleted, the newest first. 恢复 puts the selected entries
// back (and stays open), 彻底删除 and 清空回收站 remove for good after a
// question, 关闭 closes.
class TFormTrash : public TFormBaseDlg
{
    Q_OBJECT
public:
    // `restored` runs after each entry put back, for the page to show it.
    explicit TFormTrash(std::function<void(const TRestored&)> restored, QWidget* parent = nullptr);
    ~TFormTrash() override;

protected:
    void btnOKClick() override;

private:
    void Fill();
    QList<qint64> SelectedIds() const;
    void btnPurgeClick();
    void btnEmptyClick();

    std::unique_ptr<Ui::TFormTrash> ui;
    std::function<void(const TRestored&)> m_restored;
    QPushButton* m_purge;
    QPushButton* m_empty;
};

// Shows the trash item by item after a restore; the main window sets it.
inline std::function<void(const TRestored&)> TrashRestored;

// Opens 回收站 over the given window.
void ShowTrash(QWidget* parent);
