#include "sync/SyncSettings.h"

#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "sync/Sync.h"
#include "sync/SyncText.h"
#include "sync/SyncWiring.h"
#include "ui_SyncSettings.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>

TFormSyncSettings::TFormSyncSettings(TSyncWiring* wiring, QWidget* parent)
    : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormSyncSettings>()), m_wiring(wiring)
{
    ui->setupUi(ClientArea());
    setWindowTitle("同步");
    resize(480, 380);
    OkButton()->setText("开始同步");
    OkButton()->setAccessibleName("开始同步");
    CancelButton()->setText("关闭");
    CancelButton()->setAccessibleName("关闭");
    const TSyncStatus status = TSync::Status();
    ui->edtSyncDir->setText(QDir::toNativeSeparators(status.Folder));
    ui->edtSyncName->setText(status.Name);
    // A passphrase unless asked not to: without one, whoever can write the
    // folder can change the data on every computer.
    ui->chkSyncPlain->setChecked(!status.Folder.isEmpty() && !status.Encrypted);
    connect(ui->chkSyncPlain, &QCheckBox::toggled, this, [this](bool plain) { ui->edtSyncPass->setEnabled(!plain); });
    ui->edtSyncPass->setEnabled(!ui->chkSyncPlain->isChecked());
    ConnectHandler(ui->btnBrowse, &QPushButton::clicked, this, &TFormSyncSettings::btnBrowseClick);
    ConnectHandler(ui->btnStop, &QPushButton::clicked, this, &TFormSyncSettings::btnStopClick);
    ConnectHandler(ui->btnSyncNow, &QPushButton::clicked, this, &TFormSyncSettings::btnSyncNowClick);
    ConnectHandler(ui->btnChangePass, &QPushButton::clicked, this, &TFormSyncSettings::btnChangePassClick);
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
    TSync::Setup(folder, Passphrase());
    TSync::SetName(ui->edtSyncName->text());
    ui->edtSyncPass->clear();
    ui->edtSyncDir->setText(QDir::toNativeSeparators(folder));
    if (m_wiring)
        m_wiring->SettingsChanged();
    RunRound();
}

void TFormSyncSettings::btnStopClick()
{
    if (!AskYesNo("确定要停止同步吗？这台电脑上的数据都会保留，只是不再和其他电脑交换。"))
        return;
    TSync::Stop();
    m_report.clear();
    if (m_wiring)
        m_wiring->SettingsChanged();
    ShowStatus();
}

void TFormSyncSettings::btnSyncNowClick()
{
    // A delete declined before is asked about again.
    TSync::ForgetDeclined();
    RunRound();
}

// The new passphrase is the one typed (or none, with 不加密): this
// computer's files are written anew with it, and the others ask for it.
void TFormSyncSettings::btnChangePassClick()
{
    const QString passphrase = Passphrase();
    if (!AskYesNo(passphrase.isEmpty()
                      ? "确定要取消同步密码吗？同步文件将不再加密，其他电脑下次同步时要重新加入（不输入密码）。"
                      : "确定要更改同步密码吗？其他电脑下次同步时会要求输入新的同步密码。"))
        return;
    TSync::ChangePassphrase(passphrase);
    ui->edtSyncPass->clear();
    if (m_wiring)
        m_wiring->SettingsChanged();
    RunRound();
}

// The passphrase typed; none only when 不加密 is chosen.
QString TFormSyncSettings::Passphrase()
{
    if (ui->chkSyncPlain->isChecked())
        return QString();
    if (ui->edtSyncPass->text().isEmpty()) {
        ui->edtSyncPass->setFocus();
        RaiseError(
            "请输入同步密码（每台电脑输入同一个）。没有同步密码时，能写入同步文件夹的人都能改动这台电脑上的数据；"
            "确实不要密码，请选“不加密”。");
    }
    return ui->edtSyncPass->text();
}

// The status says a failure too, which the box then reports.
void TFormSyncSettings::RunRound()
{
    m_report.clear();
    try {
        m_report = TSync::ReportText(m_wiring ? m_wiring->RunRound() : TSync::Round());
    } catch (...) {
        ShowStatus();
        throw;
    }
    ShowStatus();
}

void TFormSyncSettings::ShowStatus()
{
    const TSyncStatus status = TSync::Status();
    QString text = SyncStatusText(status, m_wiring ? m_wiring->Failure() : QString());
    if (!m_report.isEmpty())
        text += "\n" + m_report;
    ui->lblSyncStatus->setText(text);
    const bool on = !status.Folder.isEmpty();
    ui->btnStop->setEnabled(on);
    ui->btnSyncNow->setEnabled(on);
    ui->btnChangePass->setEnabled(on);
}
