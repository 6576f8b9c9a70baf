#include "groups/AddType.h"

#include "controls/DateKeys.h"
#include "controls/UiPublic.h"
#include "groups/UntTree.h"
#include "ui_AddType.h"

#include <QKeyEvent>

TFormAddType::TFormAddType(QWidget* parent) : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormAddType>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("新建组");
    resize(374, 201);
    QPalette grey = ui->edtPos->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Button));
    ui->edtPos->setPalette(grey);
    ui->edtName->installEventFilter(this);
}

TFormAddType::~TFormAddType() = default;

void TFormAddType::SetPosition(const QString& position)
{
    ui->edtPos->setText(position);
}

QString TFormAddType::Name() const
{
    return OneLineName(ui->edtName->text());
}

void TFormAddType::showEvent(QShowEvent* event)
{
    TFormBaseDlg::showEvent(event);
    FormShow();
}

void TFormAddType::FormShow()
{
    ui->edtName->setFocus();
}

void TFormAddType::btnOKClick()
{
    if (TrimBlanks(Name()).isEmpty()) {
        ShowInfo("名称不能为空!");
        return;
    }
    CloseOk();
}

bool TFormAddType::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->edtName && event->type() == QEvent::KeyPress)
        return edtNameKeyDown(static_cast<QKeyEvent*>(event));
    return TFormBaseDlg::eventFilter(watched, event);
}

bool TFormAddType::edtNameKeyDown(QKeyEvent* event)
{
    const QString text = DateTimeKeyText(event);
    if (text.isEmpty())
        return false;
    ui->edtName->insert(text);
    // The edit's own Ctrl+D would delete the character after the insert.
    return true;
}

int AskGroupName(const QString& position, QString& name)
{
    name.clear();
    TFormAddType dialog;
    dialog.SetPosition(position);
    const int result = dialog.ShowModal();
    if (result == mrOk)
        name = dialog.Name();
    return result;
}
