#pragma once

#include "groups/BaseDlg.h"
#include "history/Trash.h"

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
    explicit TFormTrash(QWidget* parent = nullptr);
    ~TFormTrash() override;

signals:
    // After each entry put back, for its page to show it.
    void Restored(const TRestored& restored);

protected:
    void btnOKClick() override;

private:
    void Fill();
    QList<qint64> SelectedIds() const;
    void btnPurgeClick();
    void btnEmptyClick();

    std::unique_ptr<Ui::TFormTrash> ui;
    QPushButton* m_purge;
    QPushButton* m_empty;
};

// Opens 回收站 over the given window, with no page to show what it restores.
void ShowTrash(QWidget* parent);
