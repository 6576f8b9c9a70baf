#include "history/TrashDlg.h"

#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "ui_TrashDlg.h"

#include <QLocale>
#include <QPushButton>

TFormTrash::TFormTrash(QWidget* parent)
    : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormTrash>()), m_purge(new QPushButton("彻底删除")),
      m_empty(new QPushButton("清空回收站"))
{
    ui->setupUi(ClientArea());
    setWindowTitle("回收站");
    resize(640, 360);
    OkButton()->setText("恢复(&R)");
    OkButton()->setAccessibleName("恢复");
    CancelButton()->setText("关闭");
    CancelButton()->setAccessibleName("关闭");
    m_purge->setObjectName("btnPurge");
    m_empty->setObjectName("btnEmpty");
    for (QPushButton* button : {m_empty, m_purge}) {
        button->setAccessibleName(button->text());
        BottomLayout()->insertWidget(0, button);
    }
    ConnectHandler(m_purge, &QPushButton::clicked, this, &TFormTrash::btnPurgeClick);
    ConnectHandler(m_empty, &QPushButton::clicked, this, &TFormTrash::btnEmptyClick);
    ui->lvTrash->setColumnWidth(0, 80);
    ui->lvTrash->setColumnWidth(1, 200);
    ui->lvTrash->setColumnWidth(2, 180);
    Fill();
}

TFormTrash::~TFormTrash() = default;

void TFormTrash::Fill()
{
    ui->lvTrash->clear();
    for (const TTrashEntry& entry : TTrash().Entries()) {
        auto* item = new QTreeWidgetItem(ui->lvTrash, {TrashKindText(entry.kind), entry.Name, entry.Place,
                                                       QLocale().toString(entry.DeletedAt, "yyyy-MM-dd HH:mm")});
        item->setData(0, Qt::UserRole, entry.Id);
    }
    if (ui->lvTrash->topLevelItemCount() > 0)
        ui->lvTrash->setCurrentItem(ui->lvTrash->topLevelItem(0));
    const bool any = ui->lvTrash->topLevelItemCount() > 0;
    OkButton()->setEnabled(any);
    m_purge->setEnabled(any);
    m_empty->setEnabled(any);
}

QList<qint64> TFormTrash::SelectedIds() const
{
    QList<qint64> ids;
    for (const QTreeWidgetItem* item : ui->lvTrash->selectedItems())
        ids << item->data(0, Qt::UserRole).toLongLong();
    return ids;
}

void TFormTrash::btnOKClick()
{
    DbAccess->CheckWritable();
    // Each entry is put back and shown before the next, so a failure keeps
    // in the trash only what was not restored.
    const QList<qint64> ids = SelectedIds();
    try {
        for (qint64 id : ids)
            emit Restored(TTrash().Restore(id));
    } catch (...) {
        Fill();
        throw;
    }
    Fill();
}

void TFormTrash::btnPurgeClick()
{
    DbAccess->CheckWritable();
    const QList<qint64> ids = SelectedIds();
    if (ids.isEmpty() || !AskYesNo(QString("确定要彻底删除选中的 %1 项吗？删除后无法恢复。").arg(ids.size())))
        return;
    for (qint64 id : ids)
        TTrash().Remove(id);
    Fill();
}

void TFormTrash::btnEmptyClick()
{
    DbAccess->CheckWritable();
    if (!AskYesNo("确定要清空回收站吗？其中的内容将无法恢复。"))
        return;
    TTrash().Clear();
    Fill();
}

void ShowTrash(QWidget* parent)
{
    TFormTrash(parent).ShowModal();
}
