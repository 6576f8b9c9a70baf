#include "history/BackupSettings.h"

#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "history/AutoBackup.h"
#include "ui_BackupSettings.h"

#include <QDir>
#include <QFileInfo>

TFormBackupSettings::TFormBackupSettings(QWidget* parent)
    : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormBackupSettings>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("自动备份");
    resize(420, 190);
    ui->edtBackupDir->setText(QDir::toNativeSeparators(AutoBackupFolder()));
    connect(ui->btnBrowse, &QPushButton::clicked, this, [this] {
        const QString chosen = AskFolderName(this, ui->edtBackupDir->text());
        if (!chosen.isEmpty())
            ui->edtBackupDir->setText(QDir::toNativeSeparators(chosen));
    });
}

TFormBackupSettings::~TFormBackupSettings() = default;

void TFormBackupSettings::btnOKClick()
{
    const QString typed = QDir::fromNativeSeparators(ui->edtBackupDir->text().trimmed());
    const QString folder = typed.isEmpty() ? DefaultAutoBackupFolder() : QDir::cleanPath(typed);
    // A folder that cannot be made is refused now, not at the next backup.
    if (QFileInfo(folder).isRelative() || !QDir().mkpath(folder)) {
        ui->edtBackupDir->setFocus();
        RaiseError(QString("不能使用这个文件夹：%1").arg(QDir::toNativeSeparators(folder)));
    }
    SaveAutoBackupFolder(folder);
    CloseOk();
}
