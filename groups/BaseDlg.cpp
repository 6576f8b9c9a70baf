#include "groups/BaseDlg.h"

#include "controls/UiException.h"
#include "ui_BaseDlg.h"

#include <QApplication>
#include <QPointer>

namespace {
QPointer<QWidget> mainWindow;

// A dialog belongs to the dialog it was opened from, else to the main
// window; so it blocks exactly the windows it was opened over.
QWidget* DefaultOwner(QWidget* parent)
{
    if (parent)
        return parent;
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return mainWindow ? mainWindow.data() : QApplication::activeWindow();
}
} // namespace

void SetDialogOwner(QWidget* window)
{
    mainWindow = window;
}

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
    // Modal to its own window only: the alerts, windows of their own, still
    // answer while it is open. Without an owner it blocks the program.
    if (parentWidget())
        setWindowModality(Qt::WindowModal);
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
