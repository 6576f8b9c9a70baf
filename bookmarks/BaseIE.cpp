#include "bookmarks/BaseIE.h"

#include "bookmarks/OpenAddress.h"
#include "bookmarks/UntIE.h"
#include "bookmarks/ViewIEType.h"
#include "controls/CardIcons.h"
#include "controls/Contrast.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "ui_BaseIE.h"

#include <QMouseEvent>
#include <QPushButton>
#include <limits>

TFormBaseIE::TFormBaseIE(TIE& store, QWidget* parent)
    : TFormBaseDlg(parent), IE(store), ui(std::make_unique<Ui::TFormBaseIE>())
{
    ui->setupUi(ClientArea());
    resize(400, 298);
    QPalette group = ui->EdtGoup->palette();
    group.setColor(QPalette::Base, group.color(QPalette::Button));
    ui->EdtGoup->setPalette(group);
    // The address in blue, lightened on a dark ground so that it can be read.
    QPalette blue = ui->edtIE->palette();
    blue.setColor(QPalette::Text, ReadableOn(QColor(Qt::blue), blue.color(QPalette::Active, QPalette::Base)));
    ui->edtIE->setPalette(blue);
    // Addresses and titles are stored however long they are.
    ui->edtIE->setMaxLength(std::numeric_limits<int>::max());
    ui->edtName->setMaxLength(std::numeric_limits<int>::max());
    ui->img3->setPixmap(OpenUrlPicture());
    ui->img3->installEventFilter(this);
    setTabOrder(OkButton(), CancelButton());
    setTabOrder(CancelButton(), ui->EdtGoup);
    setTabOrder(ui->EdtGoup, ui->edtIE);
    setTabOrder(ui->edtIE, ui->edtName);
    setTabOrder(ui->edtName, ui->edtTags);
    setTabOrder(ui->edtTags, ui->mmoRemark);
    ConnectHandler(ui->EdtGoup, &TCardEdtBut::OnButClick, this, &TFormBaseIE::EdtGoupButClick);
    FormCreate();
}

TFormBaseIE::~TFormBaseIE() = default;

void TFormBaseIE::FormCreate()
{
    TypeID = 0;
}

void TFormBaseIE::showEvent(QShowEvent* event)
{
    TFormBaseDlg::showEvent(event);
    FormShow();
}

void TFormBaseIE::FormShow()
{
    ui->edtIE->setFocus();
}

bool TFormBaseIE::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->img3 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && ui->img3->rect().contains(mouse->position().toPoint()))
            RunHandler([this] { img3Click(); });
        return true;
    }
    return TFormBaseDlg::eventFilter(watched, event);
}

void TFormBaseIE::CheckInput()
{
    if (TrimBlanks(ui->edtIE->text()).isEmpty())
        RaiseError("网址不能为空！");
}

void TFormBaseIE::WriteFields()
{
    IE.TypeID = TypeID;
    IE.IEUrl = ui->edtIE->text();
    IE.IEName = ui->edtName->text();
    IE.ReMark = ui->mmoRemark->toPlainText();
    IE.Tags = JoinedTags(ui->edtTags->text());
}

bool TFormBaseIE::SaveDuplicate(int exceptId)
{
    const int group = IE.FindAddress(IE.IEUrl, exceptId);
    if (group < 0)
        return true;
    QString name = group == 0 ? QString() : IE.LoadTypeName(group);
    if (name.isEmpty())
        name = "全部";
    return AskYesNo(QString("这个网址已经保存在分组“%1”中，仍要保存吗？").arg(name));
}

void TFormBaseIE::EdtGoupButClick()
{
    int id = 0;
    QString name;
    // Whatever the chooser did, typing goes on in the address.
    struct TFocusBack
    {
        QWidget* edit;
        ~TFocusBack() { edit->setFocus(); }
    } focusBack{ui->edtIE};
    if (AskIEType(id, name) == mrOk) {
        TypeID = id;
        ui->EdtGoup->setText(name);
    }
}

void TFormBaseIE::img3Click()
{
    // Only looks at the address: nothing is saved.
    OpenBookmarkAddress(this, ui->edtIE->text());
}
