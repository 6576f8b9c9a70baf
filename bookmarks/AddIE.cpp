#include "bookmarks/AddIE.h"

#include "bookmarks/UntIE.h"
#include "ui_AddIE.h"
#include "ui_BaseIE.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMimeData>

TFormAddIE::TFormAddIE(TIE& store, QWidget* parent)
    : TFormBaseIE(store, parent), addUi(std::make_unique<Ui::TFormAddIE>())
{
    auto* holder = new QWidget(BottomPanel());
    addUi->setupUi(holder);
    BottomLayout()->insertWidget(0, holder);
    setWindowTitle("新建网址");
}

TFormAddIE::~TFormAddIE() = default;

QString TFormAddIE::GetClipboardUrl()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return QString();
    const QString text = data->text();
    for (const char* marker : {"http", "www", ".com", ".cn", ".net", ".gov"})
        if (text.contains(QLatin1String(marker)))
            return text;
    return QString();
}

void TFormAddIE::btnOKClick()
{
    CheckInput();
    WriteFields();
    if (!SaveDuplicate(0))
        return;
    IE.InsertIE();
    ++m_saved;
    if (addUi->chk1->isChecked())
        ClearInput();
    else
        CloseOk();
}

void TFormAddIE::ClearInput()
{
    ui->edtIE->clear();
    ui->edtName->clear();
    ui->edtTags->clear();
    ui->mmoRemark->clear();
    ui->edtIE->setFocus();
}

int AskNewIE(TIE& store, int typeId, const QString& typeName, int* saved)
{
    TFormAddIE dialog(store);
    dialog.TypeID = typeId;
    dialog.ui->EdtGoup->setText(typeName);
    dialog.ui->edtIE->setText(TFormAddIE::GetClipboardUrl());
    const int result = dialog.ShowModal();
    if (saved)
        *saved = dialog.SavedCount();
    return result;
}
