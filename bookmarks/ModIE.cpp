#include "bookmarks/ModIE.h"

#include "bookmarks/UntIE.h"
#include "ui_BaseIE.h"

TFormModIE::TFormModIE(TIE& store, QWidget* parent) : TFormBaseIE(store, parent)
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

int AskModIE(TIE& store, const QString& id)
{
    TFormModIE dialog(store);
    dialog.EditID = id;
    store.LoadIE(id);
    dialog.ui->EdtGoup->setText(store.TypeName.isEmpty() ? QString("全部") : store.TypeName);
    dialog.TypeID = store.TypeID;
    dialog.ui->edtIE->setText(store.IEUrl);
    dialog.ui->edtName->setText(store.IEName);
    dialog.ui->mmoRemark->setPlainText(store.ReMark);
    return dialog.ShowModal();
}
