#include "groups/AddType.h"

#include "controls/DateKeys.h"
#include "controls/UiPublic.h"
#include "groups/GroupTableStore.h"
#include "ui_AddType.h"

#include <QKeyEvent>
#include <QWindow>

TFormAddType::TFormAddType(QWidget* parent) : TFormBaseDlg(parent), ui(std::make_unique<Ui::TFormAddType>())
{
    ui->setupUi(ClientArea());
    setWindowTitle("新建组");
    resize(kOuterSize);
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
    FitFrame();
    FormShow();
}

bool TFormAddType::event(QEvent* event)
{
    const bool handled = TFormBaseDlg::event(event);
    if (event->type() == QEvent::Move || event->type() == QEvent::WindowActivate)
        FitFrame();
    return handled;
}

// The dialog's size is that of its whole window, frame and title bar
// included. The frame is known once the window system has put one around
// the window (with a window manager on X11 only after the window is on
// screen, by the time it is activated), and then the inside is made
// smaller by it, once.
void TFormAddType::FitFrame()
{
    if (m_frameFitted || !windowHandle())
        return;
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull())
        return;
    m_frameFitted = true;
    resize(kOuterSize.shrunkBy(frame));
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
    // Raises the box over the dialog, which stays open for a correction.
    if (m_groups)
        m_groups->CheckName(Name());
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

int AskGroupName(const QString& position, QString& name, const TGroupTable* groups)
{
    name.clear();
    TFormAddType dialog;
    dialog.SetPosition(position);
    dialog.SetGroups(groups);
    const int result = dialog.ShowModal();
    if (result == mrOk)
        name = dialog.Name();
    return result;
}
