#pragma once

#include "groups/BaseDlg.h"

#include <QString>
#include <memory>

class TSyncWiring;

namespace Ui {
class TFormSyncSettings;
}

// 同步: the folder shared with the other computers, this computer's name for
// them and the passphrase of the files (needed unless 不加密 is chosen).
// 开始同步 (the dialog's OK) joins the folder and runs a first round; 停止同步
// ends sync after a question; 立即同步 runs a round; 更改同步密码 writes the
// folder anew with the passphrase typed; 关闭 closes.
// The rounds go through the main window's wiring, which shows on the pages
// what they brought (none: they run on the data alone).
class TFormSyncSettings : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormSyncSettings(TSyncWiring* wiring, QWidget* parent = nullptr);
    ~TFormSyncSettings() override;

protected:
    void btnOKClick() override;

private:
    void btnBrowseClick();
    void btnStopClick();
    void btnSyncNowClick();
    void btnChangePassClick();
    QString Passphrase();
    void RunRound();
    void ShowStatus();

    std::unique_ptr<Ui::TFormSyncSettings> ui;
    TSyncWiring* m_wiring;
    QString m_report; // what the last round here did
};
