#include "app/Pass.h"

#include "app/UntConfig.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/PassHash.h"
#include "data/UException.h"
#include "ui_Pass.h"

#include <QApplication>
#include <cmath>
#include <optional>

namespace {
// The wrong tries are counted across the program's password dialogs and kept
// in the data file. Those the file could not take (read-only, busy) are kept
// here for the rest of the run, so the wait holds all the same.
std::optional<TPasswordTries> unsavedTries;

TPasswordTries CountedTries()
{
    if (unsavedTries)
        return *unsavedTries;
    try {
        return TConfig().LoadPasswordTries();
    } catch (const EError&) {
        return {};
    }
}

void KeepTries(const TPasswordTries& tries)
{
    try {
        if (DbAccess && !DbAccess->ReadOnly()) {
            TConfig().SavePasswordTries(tries);
            unsavedTries.reset();
            return;
        }
    } catch (const EError&) {
        // Counted in memory instead: the login goes on either way.
    }
    unsavedTries = tries;
}
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
    TPasswordTries tries = CountedTries();
    const QDateTime next = tries.NextTryAt(now);
    if (next.isValid() && now < next) {
        const int seconds = int(std::ceil(now.msecsTo(next) / 1000.0));
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
        ++tries.Count;
        tries.Last = now;
        KeepTries(tries);
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
    KeepTries({});
}

void MaskWithStars(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet("lineedit-password-character: 42");
}
