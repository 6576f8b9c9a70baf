#include "app/Pass.h"

#include "app/PassHash.h"
#include "data/Clock.h"
#include "data/UException.h"
#include "ui_Pass.h"

#include <QApplication>
#include <cmath>

namespace {
// Five wrong passwords in a row, then a wait before every further try,
// counted across the program's password dialogs.
constexpr int kFreeTries = 5;
constexpr qint64 kWaitMsecs = 5000;
int wrongInARow = 0;
QDateTime waitUntil;
} // namespace

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
    const QDateTime now = TClock::Now();
    if (waitUntil.isValid() && now < waitUntil) {
        const int seconds = int(std::ceil(now.msecsTo(waitUntil) / 1000.0));
        RaiseError(QString("密码输入错误次数过多，请 %1 秒后再试！").arg(seconds));
    }
    // Compared as typed: blanks and letter case are part of the password.
    bool matches = false;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        matches = PasswordMatches(ExpectedPass, ui->edtPass->text());
        QApplication::restoreOverrideCursor();
    }
    if (!matches) {
        if (++wrongInARow >= kFreeTries)
            waitUntil = now.addMSecs(kWaitMsecs);
        ui->edtPass->selectAll();
        ui->edtPass->setFocus();
        RaiseError("密码输入错误!");
    }
    ResetPasswordTries();
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

void ResetPasswordTries()
{
    wrongInARow = 0;
    waitUntil = QDateTime();
}

void MaskWithStars(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet("lineedit-password-character: 42");
}
