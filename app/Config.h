#pragma once

#include "groups/BaseDlg.h"
#include "history/TrashDlg.h"

#include <functional>

class TConfig;

namespace Ui {
class TFormConfig;
}

// The settings dialog: switches the login password on or off and changes it.
// It works on the settings object's fields and saves them on OK.
class TFormConfig : public TFormBaseDlg
{
    Q_OBJECT
public:
    // openTrash opens 回收站 over the dialog (ShowTrash: with no page to
    // show what it restores); openSync opens 同步… (by default with no
    // window's rounds to run them).
    explicit TFormConfig(TConfig& store, QWidget* parent = nullptr, std::function<void(QWidget*)> openTrash = ShowTrash,
                         std::function<void(QWidget*)> openSync = nullptr);
    ~TFormConfig() override;

protected:
    void btnOKClick() override;

private:
    void FormShow();
    void chkPassClick();
    void SetEditsEnabled(bool enabled);
    // Asks for the stored password when there is one; false when the user gave up.
    bool ConfirmStoredPassword(const QString& caption);
    TConfig& Config;

    std::unique_ptr<Ui::TFormConfig> ui;
};

// Shows the settings dialog; returns its modal result.
int ShowConfig(TConfig& store, const std::function<void(QWidget*)>& openTrash = ShowTrash,
               const std::function<void(QWidget*)>& openSync = nullptr);
