#include "bookmarks/ModIE.h"

#include "bookmarks/UntIE.h"
#include "ui_BaseIE.h"

TFormModIE::TFormModIE(QWidget* parent) : TFormBaseIE(parent)
{
    setWindowTitle("修改网址");
}

void TFormModIE::btnOKClick()
{
    CheckInput();
    WriteFields();
    IE.UpdateIE(EditID);
    CloseOk();
}

int AskModIE(const QString& id)
{
    TFormModIE dialog;
    dialog.EditID = id;
    IE.LoadIE(id);
    dialog.ui->EdtGoup->setText(IE.TypeName.isEmpty() ? QString("全部") : IE.TypeName);
    dialog.TypeID = IE.TypeID;
    dialog.ui->edtIE->setText(IE.IEUrl);
    dialog.ui->edtName->setText(IE.IEName);
    dialog.ui->mmoRemark->setPlainText(IE.ReMark);
    return dialog.ShowModal();
}
