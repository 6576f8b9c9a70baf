#include "app/Pass.h"

#include "data/UException.h"
#include "ui_Pass.h"

TFormPass::TFormPass(QWidget* parent) : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormPass>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("请输入密码");
    resize(300, 160);
    MaskWithStars(ui->edtPass);
}

TFormPass::~TFormPass() = default;

void TFormPass::showEvent(QShowEvent* event)
{
    TFormBaseDlg::showEvent(event);
    ui->edtPass->setFocus();
}

void TFormPass::btnOKClick()
{
    // Compared as typed: blanks and letter case are part of the password.
    if (ui->edtPass->text() != ExpectedPass) {
        ui->edtPass->selectAll();
        ui->edtPass->setFocus();
        RaiseError("密码输入错误!");
    }
    CloseOk();
}

int AskPassword(const QString& expected, const QString& caption)
{
    TFormPass dialog;
    dialog.ExpectedPass = expected;
    if (!caption.isEmpty())
        dialog.setWindowTitle(caption);
    return dialog.ShowModal();
}

void MaskWithStars(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet("lineedit-password-character: 42");
}
