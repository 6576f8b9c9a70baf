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
    // Asked only when the address was changed: a duplicate kept once is not
    // questioned again at every change of its title or remark.
    if (ComparableUrl(IE.IEUrl) != ComparableUrl(LoadedUrl) && !SaveDuplicate(EditID.toInt()))
        return;
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
    dialog.LoadedUrl = store.IEUrl;
    dialog.ui->edtName->setText(store.IEName);
    dialog.ui->edtTags->setText(store.Tags);
    dialog.ui->mmoRemark->setPlainText(store.ReMark);
    return dialog.ShowModal();
}
