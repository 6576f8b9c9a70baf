#include "groups/GroupChooser.h"

#include "controls/UiException.h"
#include "groups/UntTree.h"
#include "ui_GroupChooser.h"

namespace {
int groupsAdded = 0;
}

TFormGroupChooser::TFormGroupChooser(const QString& tableName, const QString& rootCaption, QWidget* parent)
    : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormGroupChooser>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("选择组");
    resize(280, 347);
    connect(ui->tv1, &QTreeWidget::itemDoubleClicked, this, [this] { RunHandler([this] { btnOKClick(); }); });
    GroupTree = std::make_unique<TCardTree>(ui->tv1, rootCaption, tableName);
}

TFormGroupChooser::~TFormGroupChooser() = default;

void TFormGroupChooser::showEvent(QShowEvent* event)
{
    TFormBaseDlg::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        RunHandler([this] { FormShow(); });
    }
}

// Read afresh at every showing, so groups added anywhere are offered.
void TFormGroupChooser::FormShow()
{
    GroupTree->LoadGroups();
    if (QTreeWidgetItem* node = StartTypeID >= 0 ? GroupTree->NodeOf(StartTypeID) : nullptr) {
        ui->tv1->setCurrentItem(node);
        ui->tv1->scrollToItem(node);
    }
}

QString TFormGroupChooser::SelectedName() const
{
    const QTreeWidgetItem* node = GroupTree->Selected();
    return node ? node->text(0) : QString();
}

void TFormGroupChooser::btnOKClick()
{
    QTreeWidgetItem* node = GroupTree->Selected();
    if (!node)
        return;
    ChosenTypeID = GroupTree->IsRoot(node) ? 0 : GroupTree->SelectedSelfIndex();
    CloseOk();
}

void TFormGroupChooser::CountAddedGroup()
{
    ++groupsAdded;
}

int AskGroupIn(TFormGroupChooser& dialog, const QString& caption, int& id)
{
    dialog.setWindowTitle(caption);
    dialog.StartTypeID = id;
    const int result = dialog.ShowModal();
    if (result == mrOk)
        id = dialog.ChosenTypeID;
    return result;
}

int AskGroupOf(const QString& tableName, const QString& rootCaption, const QString& caption, int& id)
{
    TFormGroupChooser dialog(tableName, rootCaption);
    return AskGroupIn(dialog, caption, id);
}

int ChooserGroupsAdded()
{
    return groupsAdded;
}
