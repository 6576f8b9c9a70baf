#include "sync/SyncSettings.h"

#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "sync/Sync.h"
#include "sync/SyncText.h"
#include "sync/SyncWiring.h"
#include "ui_SyncSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>

TFormSyncSettings::TFormSyncSettings(QWidget* parent)
    : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormSyncSettings>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("同步");
    resize(460, 300);
    OkButton()->setText("开始同步");
    OkButton()->setAccessibleName("开始同步");
    CancelButton()->setText("关闭");
    CancelButton()->setAccessibleName("关闭");
    ui->edtSyncDir->setText(QDir::toNativeSeparators(TSync::Status().Folder));
    ConnectHandler(ui->btnBrowse, &QPushButton::clicked, this, &TFormSyncSettings::btnBrowseClick);
    ConnectHandler(ui->btnStop, &QPushButton::clicked, this, &TFormSyncSettings::btnStopClick);
    ConnectHandler(ui->btnSyncNow, &QPushButton::clicked, this, &TFormSyncSettings::btnSyncNowClick);
    ShowStatus();
}

TFormSyncSettings::~TFormSyncSettings() = default;

void TFormSyncSettings::btnBrowseClick()
{
    const QString chosen = AskFolderName(this, ui->edtSyncDir->text());
    if (!chosen.isEmpty())
        ui->edtSyncDir->setText(QDir::toNativeSeparators(chosen));
}

// A passphrase that does not open the folder is refused by the setup, which
// then changes nothing: the dialog stays as it was.
void TFormSyncSettings::btnOKClick()
{
    const QString typed = QDir::fromNativeSeparators(ui->edtSyncDir->text().trimmed());
    if (typed.isEmpty() || QFileInfo(typed).isRelative()) {
        ui->edtSyncDir->setFocus();
        RaiseError(typed.isEmpty() ? QString("请选择同步文件夹。")
                                   : QString("同步文件夹要写完整的路径：%1").arg(QDir::toNativeSeparators(typed)));
    }
    const QString folder = QDir::cleanPath(typed);
    TSync::Setup(folder, ui->edtSyncPass->text());
    ui->edtSyncPass->clear();
    ui->edtSyncDir->setText(QDir::toNativeSeparators(folder));
    if (TSyncWiring* wiring = ActiveSyncWiring())
        wiring->SettingsChanged();
    RunRound();
}

void TFormSyncSettings::btnStopClick()
{
    if (!AskYesNo("确定要停止同步吗？这台电脑上的数据都会保留，只是不再和其他电脑交换。"))
        return;
    TSync::Stop();
    m_report.clear();
    if (TSyncWiring* wiring = ActiveSyncWiring())
        wiring->SettingsChanged();
    ShowStatus();
}

void TFormSyncSettings::btnSyncNowClick()
{
    RunRound();
}

// The status says a failure too, which the box then reports.
void TFormSyncSettings::RunRound()
{
    m_report.clear();
    try {
        TSyncWiring* wiring = ActiveSyncWiring();
        m_report = TSync::ReportText(wiring ? wiring->RunRound() : TSync::Round());
    } catch (...) {
        ShowStatus();
        throw;
    }
    ShowStatus();
}

void TFormSyncSettings::ShowStatus()
{
    const TSyncStatus status = TSync::Status();
    const TSyncWiring* wiring = ActiveSyncWiring();
    QString text = SyncStatusText(status, wiring ? wiring->Failure() : QString());
    if (!m_report.isEmpty())
        text += "\n" + m_report;
    ui->lblSyncStatus->setText(text);
    const bool on = !status.Folder.isEmpty();
    ui->btnStop->setEnabled(on);
    ui->btnSyncNow->setEnabled(on);
}
