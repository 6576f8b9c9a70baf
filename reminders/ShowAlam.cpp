#include "reminders/ShowAlam.h"

#include "controls/UiException.h"
#include "reminders/Chime.h"
#include "ui_ShowAlam.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>

namespace {
QPointer<QObject> messageContext;
TAlamMessageHandler messageHandler;

constexpr int kRollMs = 200;
} // namespace

void SetAlamMessageHandler(QObject* context, TAlamMessageHandler handler)
{
    messageContext = context;
    messageHandler = std::move(handler);
}

void PostAlamMessage(int message, int id)
{
    if (!messageContext || !messageHandler)
        return;
    QMetaObject::invokeMethod(
        messageContext, [handler = messageHandler, message, id] { handler(message, id); }, Qt::QueuedConnection);
}

TFormShowAlam::TFormShowAlam(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TFormShowAlam>())
{
    ui->setupUi(this);
    // A title bar without close box or system menu: the buttons are the only way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // An open alert must not keep the program alive, nor end it when it closes.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(292, 198);

    QPalette back = palette();
    back.setColor(QPalette::Window, QColor(240, 240, 240));
    setPalette(back);
    setAutoFillBackground(true);

    QPalette red = ui->mmo1->palette();
    red.setColor(QPalette::Text, Qt::red);
    ui->mmo1->setPalette(red);
    QFont font17 = ui->mmo1->font();
    font17.setPixelSize(17);
    ui->mmo1->setFont(font17);

    ConnectHandler(ui->btnOkSave, &QPushButton::clicked, this, &TFormShowAlam::btnOkSaveClick);
    ConnectHandler(ui->btnOkDel, &QPushButton::clicked, this, &TFormShowAlam::btnOkDelClick);
}

TFormShowAlam::~TFormShowAlam() = default;

void TFormShowAlam::SetReminder(const QString& id, const QString& remark, bool daily)
{
    AlamID = id;
    ReDay = daily;
    ui->mmo1->setPlainText(remark);
    QTextOption centred = ui->mmo1->document()->defaultTextOption();
    centred.setAlignment(Qt::AlignHCenter);
    ui->mmo1->document()->setDefaultTextOption(centred);
    if (daily) {
        ui->btnOkSave->setText("看到了");
        ui->btnOkDel->hide();
    }
}

void TFormShowAlam::PlaceAtBottomRight()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize size = frameGeometry().size();
    move(area.x() + area.width() - size.width() + 2, area.y() + area.height() - size.height() - 27);
}

void TFormShowAlam::SetRollHeight(int height)
{
    m_rollHeight = height;
    if (height >= this->height()) {
        clearMask();
    } else {
        // An empty mask would show the whole window: keep one line.
        const int shown = qMax(height, 1);
        setMask(QRegion(0, this->height() - shown, width(), shown));
    }
    // The part just uncovered was never painted: the window system keeps
    // showing what lay beneath until it is.
    update();
}

void TFormShowAlam::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous() || m_roll)
        return;
    RollOpen();
    // The window manager's frame is known only once the window is on screen.
    QTimer::singleShot(0, this, &TFormShowAlam::PlaceAtBottomRight);
}

void TFormShowAlam::RollOpen()
{
    SetRollHeight(0);
    m_roll = new QPropertyAnimation(this, "RollHeight", this);
    m_roll->setDuration(kRollMs);
    m_roll->setStartValue(0);
    m_roll->setEndValue(height());
    m_roll->start();
}

void TFormShowAlam::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // Escape answers "看到了并删除"; a daily alert has no such button.
        if (!ui->btnOkDel->isHidden())
            ui->btnOkDel->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFormShowAlam::closeEvent(QCloseEvent* event)
{
    // Only the buttons close an alert, so a reminder is never dismissed
    // without the user's answer.
    if (!m_confirmed) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TFormShowAlam::btnOkSaveClick()
{
    Confirm(WM_ALAM_SEEN);
}

void TFormShowAlam::btnOkDelClick()
{
    Confirm(WM_ALAM_DELETE);
}

void TFormShowAlam::Confirm(int message)
{
    if (!ReDay)
        PostAlamMessage(message, AlamID.toInt());
    m_confirmed = true;
    close();
}

TFormShowAlam* ShowAlamAlert(const QString& id, const QString& remark, bool daily)
{
    auto* alert = new TFormShowAlam;
    alert->SetReminder(id, remark, daily);
    // With its native window the frame's size is known where the platform tells it before showing.
    alert->winId();
    alert->PlaceAtBottomRight();
    alert->show();
    PlayChime();
    return alert;
}
