#include "bookmarks/ViewIEType.h"

#include "controls/UiException.h"
#include "groups/AddType.h"
#include "groups/UntTree.h"

#include <QHBoxLayout>
#include <QPushButton>

TFormViewIEType::TFormViewIEType(QWidget* parent) : TFormGroupChooser("IEType", "全部", parent)
{
    btn1 = new QPushButton("新建分组", BottomPanel());
    btn1->setObjectName("btn1");
    btn1->setFixedSize(75, 25);
    btn1->setAutoDefault(false);
    BottomLayout()->insertWidget(0, btn1);
    ConnectHandler(btn1, &QPushButton::clicked, this, &TFormViewIEType::btn1Click);
}

void TFormViewIEType::btn1Click()
{
    QTreeWidgetItem* node = GroupTree->Selected();
    if (!node)
        return;
    const QString position = GroupTree->IsRoot(node) ? GroupTree->RootCaption : GroupTree->PositionText();
    QString name;
    if (AskGroupName(position, name, &GroupTree->Groups) != mrOk)
        return;
    // The new node stays unselected: choosing it takes a click and OK.
    GroupTree->AddGroup(name);
    CountAddedGroup();
}

int AskIEType(int& id, QString& name)
{
    name.clear();
    TFormViewIEType dialog;
    const int result = dialog.ShowModal();
    if (result == mrOk) {
        id = dialog.ChosenTypeID;
        name = id == 0 ? QString("全部") : dialog.SelectedName();
    }
    return result;
}

int AskIETypeOf(const QString& caption, int& id)
{
    TFormViewIEType dialog;
    return AskGroupIn(dialog, caption, id);
}
