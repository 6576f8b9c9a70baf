#include "history/BackupList.h"

#include "data/Formats.h"
#include "data/UException.h"
#include "history/AutoBackup.h"
#include "ui_BackupList.h"

#include <QPushButton>

namespace {
QString ContentsText(const QString& path)
{
    try {
        const TBackupContents held = ReadBackupContents(path);
        return QString("%1 个分组，%2 篇记事，%3 个网址，%4 个提醒")
            .arg(held.Groups)
            .arg(held.Notes)
            .arg(held.Bookmarks)
            .arg(held.Reminders);
    } catch (const EError& e) {
        return e.Message();
    }
}
} // namespace

TFormBackupList::TFormBackupList(const QString& folder, QWidget* parent)
    : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormBackupList>()), m_otherFile(new QPushButton("其他文件…"))
{
    ui->setupUi(ClientArea());
    setWindowTitle("数据恢复");
    resize(560, 320);
    m_otherFile->setObjectName("btnOtherFile");
    m_otherFile->setAccessibleName(m_otherFile->text());
    BottomLayout()->insertWidget(0, m_otherFile);
    connect(m_otherFile, &QPushButton::clicked, this, &QDialog::accept);
    for (const TAutoBackupFile& backup : TAutoBackups(folder).List()) {
        auto* item =
            new QTreeWidgetItem(ui->lvBackups, {DayText(backup.Day), SizeText(backup.Size), ContentsText(backup.Path)});
        item->setData(0, Qt::UserRole, backup.Path);
    }
    ui->lvBackups->setColumnWidth(0, 150);
    ui->lvBackups->setColumnWidth(1, 80);
    if (HasBackups())
        ui->lvBackups->setCurrentItem(ui->lvBackups->topLevelItem(0));
    connect(ui->lvBackups, &QTreeWidget::itemDoubleClicked, this, [this] { btnOKClick(); });
}

TFormBackupList::~TFormBackupList() = default;

bool TFormBackupList::HasBackups() const
{
    return ui->lvBackups->topLevelItemCount() > 0;
}

void TFormBackupList::btnOKClick()
{
    if (QTreeWidgetItem* item = ui->lvBackups->currentItem()) {
        m_chosen = item->data(0, Qt::UserRole).toString();
        CloseOk();
    }
}

QString ChooseRestoreSource(const QString& folder, const std::function<QString()>& askFile)
{
    TFormBackupList list(folder);
    if (!list.HasBackups())
        return askFile();
    if (list.ShowModal() != mrOk)
        return QString();
    return list.Chosen().isEmpty() ? askFile() : list.Chosen();
}
