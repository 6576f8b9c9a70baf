#include "app/Config.h"

#include "app/Pass.h"
#include "app/UntConfig.h"
#include "controls/UiException.h"
#include "data/PassHash.h"
#include "data/UntPublic.h"
#include "history/BackupSettings.h"
#include "links/LinkStore.h"
#include "reminders/HolidaySettings.h"
#include "skins/SkinSettings.h"
#include "sync/SyncSettings.h"
#include "ui_Config.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <functional>

TFormConfig::TFormConfig(TConfig& store, QWidget* parent, std::function<void(QWidget*)> openTrash,
                         std::function<void(QWidget*)> openSync)
    : TFormBaseDlg(parent), Config(store), ui(std::make_unique<Ui::TFormConfig>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("软件设置");
    resize(290, 231);
    MaskWithStars(ui->edtPass);
    MaskWithStars(ui->edtRePass);
    ConnectHandler(ui->chkPass, &QCheckBox::clicked, this, &TFormConfig::chkPassClick);
    // The automatic backups, the trash, sync, the looks and the holiday
    // schedules have a dialog of their own, each opened by a button at the
    // bottom's left.
    int place = 0;
    const auto button = [&](const char* caption, const char* name, std::function<void()> open) {
        auto* opener = new QPushButton(caption);
        opener->setObjectName(name);
        opener->setAccessibleName(opener->text());
        BottomLayout()->insertWidget(place++, opener);
        connect(opener, &QPushButton::clicked, this, [open] { RunHandler(open); });
    };
    button("自动备份…", "btnAutoBackup", [this] { TFormBackupSettings(this).ShowModal(); });
    button("回收站…", "btnTrash", [this, openTrash] { openTrash(this); });
    button("同步…", "btnSync", [this, openSync] {
        if (openSync)
            openSync(this);
        else
            TFormSyncSettings(nullptr, this).ShowModal();
    });
    button("外观…", "btnSkin", [this] { TFormSkinSettings(this).ShowModal(); });
    button("节假日安排…", "btnHolidays", [this] { TFormHolidaySettings(this).ShowModal(); });
    FormShow();
}

TFormConfig::~TFormConfig() = default;

void TFormConfig::FormShow()
{
    ui->chkPass->setChecked(Config.bPass);
    // Only the password's hash is stored: the edits start empty, and left
    // empty they keep the stored password.
    for (QLineEdit* edit : {ui->edtPass, ui->edtRePass}) {
        edit->clear();
        if (!Config.PassWord.isEmpty())
            edit->setPlaceholderText("不修改请留空");
    }
    SetEditsEnabled(Config.bPass);
    // A setting that cannot be read shows as it is by default; the save says why.
    try {
        ui->chkIcons->setChecked(FetchIconsEnabled());
    } catch (const std::exception&) {
        ui->chkIcons->setChecked(true);
    }
}

void TFormConfig::SetEditsEnabled(bool enabled)
{
    ui->edtPass->setEnabled(enabled);
    ui->edtRePass->setEnabled(enabled);
}

void TFormConfig::chkPassClick()
{
    const bool on = ui->chkPass->isChecked();
    ui->edtPass->clear();
    ui->edtRePass->clear();
    SetEditsEnabled(on);
}

bool TFormConfig::ConfirmStoredPassword(const QString& caption)
{
    return Config.PassWord.isEmpty() || AskPassword(Config.PassWord, caption) == mrOk;
}

void TFormConfig::btnOKClick()
{
    const bool on = ui->chkPass->isChecked();
    const QString typed = ui->edtPass->text();
    const bool keep = on && !Config.PassWord.isEmpty() && typed.isEmpty() && ui->edtRePass->text().isEmpty();
    QString stored;
    if (keep) {
        // Left empty: the stored password stays (as its hash).
        stored = IsPasswordHash(Config.PassWord) ? Config.PassWord : HashPassword(Config.PassWord);
    } else if (on) {
        if (TrimBlanks(typed).isEmpty()) {
            ui->edtPass->setFocus();
            RaiseError("密码不能为空!");
        }
        if (typed != ui->edtRePass->text()) {
            ui->edtPass->setFocus();
            RaiseError("两次输入的密码不一样,请重新输入!");
        }
        // Keeping the same password needs no proof; changing it does.
        const bool same = !Config.PassWord.isEmpty() && PasswordMatches(Config.PassWord, typed);
        if (!same && !ConfirmStoredPassword("请先输入旧密码"))
            return;
        stored = same && IsPasswordHash(Config.PassWord) ? Config.PassWord : HashPassword(typed);
    } else if (!ConfirmStoredPassword("请先输入密码才可以取消登录密码")) {
        return;
    }
    const TConfig previous = Config;
    Config.bPass = on;
    Config.PassWord = stored;
    try {
        Config.SaveConfig();
    } catch (...) {
        // The fields describe the table: a save that failed changed neither.
        Config.bPass = previous.bPass;
        Config.PassWord = previous.PassWord;
        throw;
    }
    SetFetchIcons(ui->chkIcons->isChecked());
    CloseOk();
}

int ShowConfig(TConfig& store, const std::function<void(QWidget*)>& openTrash,
               const std::function<void(QWidget*)>& openSync)
{
    TFormConfig dialog(store, nullptr, openTrash, openSync);
    return dialog.ShowModal();
}
