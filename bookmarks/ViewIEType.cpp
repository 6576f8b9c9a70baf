#include "bookmarks/ViewIEType.h"

#include "controls/UiException.h"
#include "groups/AddType.h"
#include "groups/UntTree.h"
#include "ui_ViewIEType.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace {
int groupsAdded = 0;
}

TFormViewIEType::TFormViewIEType(QWidget* parent) : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormViewIEType>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("选择组");
    resize(280, 347);
    btn1 = new QPushButton("新建分组", BottomPanel());
    btn1->setObjectName("btn1");
    btn1->setFixedSize(75, 25);
    btn1->setAutoDefault(false);
    BottomLayout()->insertWidget(0, btn1);
    ConnectHandler(btn1, &QPushButton::clicked, this, &TFormViewIEType::btn1Click);
    connect(ui->tv1, &QTreeWidget::itemDoubleClicked, this, [this] { RunHandler([this] { btnOKClick(); }); });
    FormCreate();
}

TFormViewIEType::TFormViewIEType(const QString& tableName, const QString& rootCaption, QWidget* parent)
    : TFormViewIEType(parent)
{
    m_tableName = tableName;
    m_rootCaption = rootCaption;
    FormCreate();
    btn1->setVisible(tableName == "IEType");
}

TFormViewIEType::~TFormViewIEType() = default;

void TFormViewIEType::FormCreate()
{
    GroupTree = std::make_unique<TCardTree>(ui->tv1, m_rootCaption, m_tableName);
}

void TFormViewIEType::showEvent(QShowEvent* event)
{
    TFormBaseDlg::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        RunHandler([this] { FormShow(); });
    }
}

// Read afresh at every showing, so groups added anywhere are offered.
void TFormViewIEType::FormShow()
{
    GroupTree->LoadGroups();
    if (QTreeWidgetItem* node = StartTypeID >= 0 ? GroupTree->NodeOf(StartTypeID) : nullptr) {
        ui->tv1->setCurrentItem(node);
        ui->tv1->scrollToItem(node);
    }
}

QString TFormViewIEType::SelectedName() const
{
    const QTreeWidgetItem* node = GroupTree->Selected();
    return node ? node->text(0) : QString();
}

void TFormViewIEType::btnOKClick()
{
    QTreeWidgetItem* node = GroupTree->Selected();
    if (!node)
        return;
    ChosenTypeID = GroupTree->IsRoot(node) ? 0 : GroupTree->SelectedSelfIndex();
    CloseOk();
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
    ++groupsAdded;
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

int AskGroupOf(const QString& tableName, const QString& rootCaption, const QString& caption, int& id)
{
    TFormViewIEType dialog(tableName, rootCaption);
    dialog.setWindowTitle(caption);
    dialog.StartTypeID = id;
    const int result = dialog.ShowModal();
    if (result == mrOk)
        id = dialog.ChosenTypeID;
    return result;
}

int ChooserGroupsAdded()
{
    return groupsAdded;
}
