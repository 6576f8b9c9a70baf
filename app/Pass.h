#pragma once

#include "groups/BaseDlg.h"

namespace Ui {
class TFormPass;
}
class QLineEdit;

// The password dialog: accepts only the expected password, typed exactly;
// a wrong one keeps the dialog open for another try.
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

// Shows a password edit's hidden characters as "*".
void MaskWithStars(QLineEdit* edit);
