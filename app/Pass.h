#pragma once

#include "groups/BaseDlg.h"

namespace Ui {
class TFormPass;
}
class QLineEdit;

// The password dialog: accepts only the expected password (ExpectedPass is
// the stored text, a hash or an older file's plain password), typed
// exactly; a wrong one keeps the dialog open for another try. After five
// wrong ones in a row every further try waits a few seconds, also after a
// restart (TPasswordTries).
class TFormPass : public TFormBaseDlg
{
    Q_OBJECT
public:
    explicit TFormPass(QWidget* parent = nullptr);
    ~TFormPass() override;

    QString ExpectedPass;

protected:
    void showEvent(QShowEvent* event) override;
    void btnOKClick() override;

private:
    std::unique_ptr<Ui::TFormPass> ui;
};

// Asks for the expected password; mrOk once it was typed, mrCancel when the
// user gave up. A non-empty caption replaces the dialog's own.
int AskPassword(const QString& expected, const QString& caption);

// Forgets the wrong tries counted so far (a right password does so too).
void ResetPasswordTries();

// Shows a password edit's hidden characters as "*".
void MaskWithStars(QLineEdit* edit);
