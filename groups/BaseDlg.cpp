#include "groups/BaseDlg.h"

#include "controls/UiException.h"
#include "ui_BaseDlg.h"

#include <QApplication>

namespace {
QWidget* DefaultOwner(QWidget* parent)
{
    return parent ? parent : QApplication::activeWindow();
}
} // namespace

TFormBaseDlg::TFormBaseDlg(QWidget* parent)
    : QDialog(DefaultOwner(parent), Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                        Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      ui(std::make_unique<Ui::TFormBaseDlg>())
{
    ui->setupUi(this);
    connect(ui->btnOK, &QPushButton::clicked, this, [this] { RunHandler([this] { btnOKClick(); }); });
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TFormBaseDlg::~TFormBaseDlg() = default;

int TFormBaseDlg::ShowModal()
{
    return exec() == QDialog::Accepted ? mrOk : mrCancel;
}

QWidget* TFormBaseDlg::ClientArea() const
{
    return ui->pnlClient;
}

QWidget* TFormBaseDlg::BottomPanel() const
{
    return ui->pnlBottom;
}

QHBoxLayout* TFormBaseDlg::BottomLayout() const
{
    return ui->layBottom;
}

QPushButton* TFormBaseDlg::OkButton() const
{
    return ui->btnOK;
}

QPushButton* TFormBaseDlg::CancelButton() const
{
    return ui->btnCancel;
}
