#pragma once

#include "groups/BaseDlg.h"

namespace Ui {
class TFormBackupSettings;
}

// Where the automatic backups go: the folder beside the data file unless
// the user chose another. OK saves the choice.
class TFormBackupSettings : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormBackupSettings(QWidget* parent = nullptr);
    ~TFormBackupSettings() override;

protected:
    void btnOKClick() override;

private:
    std::unique_ptr<Ui::TFormBackupSettings> ui;
};
