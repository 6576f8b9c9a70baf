#include "history/BackupList.h"

#include "data/Formats.h"
#include "data/UException.h"
#include "history/AutoBackup.h"
#include "ui_BackupList.h"

#include <QFileInfo>
#include <QPushButton>

namespace {
QString ContentsText(const QString& path)
{
    try {
        return ReadBackupContents(path).Text();
    } catch (const EError& e) {
        return e.Message();
    }
}
} // namespace

TFormBackupList::TFormBackupList(const QString& folder, const QString& safetyCopy, QWidget* parent)
    : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormBackupList>()), m_otherFile(new QPushButton("其他文件…"))
{
    ui->setupUi(ClientArea());
    setWindowTitle("数据恢复");
    resize(560, 320);
    m_otherFile->setObjectName("btnOtherFile");
    m_otherFile->setAccessibleName(m_otherFile->text());
    BottomLayout()->insertWidget(0, m_otherFile);
    connect(m_otherFile, &QPushButton::clicked, this, &QDialog::accept);
    const auto add = [this](const QString& when, const QString& path, const QString& contents) {
        auto* item = new QTreeWidgetItem(ui->lvBackups, {when, SizeText(QFileInfo(path).size()), contents});
        item->setData(0, Qt::UserRole, path);
    };
    if (QFileInfo(safetyCopy).isFile()) {
        try {
            add("上次恢复之前", safetyCopy, ReadBackupContents(safetyCopy).Text());
        } catch (const EError&) {
            // One that cannot be read is no way back.
        }
    }
    for (const TAutoBackupFile& backup : TAutoBackups(folder).List())
        add(DayText(backup.Day), backup.Path, ContentsText(backup.Path));
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

QString ChooseRestoreSource(const QString& folder, const QString& safetyCopy, const std::function<QString()>& askFile)
{
    TFormBackupList list(folder, safetyCopy);
    if (!list.HasBackups())
        return askFile();
    if (list.ShowModal() != mrOk)
        return QString();
    return list.Chosen().isEmpty() ? askFile() : list.Chosen();
}
