#include "reminders/ShowAlam.h"

#include "controls/Contrast.h"
#include "controls/FollowPalette.h"
#include "controls/UiException.h"
#include "controls/WindowFrame.h"
#include "data/Clock.h"
#include "reminders/Chime.h"
#include "ui_ShowAlam.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {
QPointer<QObject> messageContext;
TAlamMessageHandler messageHandler;

constexpr int kRollMs = 200;
// Each further alert open at once sits this far up and to the left of the
// one before, so every title shows.
constexpr int kCascadeStep = 24;
// An activation this soon after the alert appeared is the desktop's doing,
// not the user's: nobody clicks a window that fast.
constexpr qint64 kOwnActivationMs = 500;

// The lowest cascade place no other open alert holds.
int FreeCascadePlace(const TFormShowAlam* alert)
{
    QList<int> taken;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* other = qobject_cast<TFormShowAlam*>(widget);
        if (other && other != alert && other->isVisible())
            taken << other->CascadePlace();
    }
    int place = 0;
    while (taken.contains(place))
        ++place;
    return place;
}
} // namespace

void SetAlamMessageHandler(QObject* context, TAlamMessageHandler handler)
{
    messageContext = context;
    messageHandler = std::move(handler);
}

void PostAlamMessage(int message, int id, int minutes)
{
    if (!messageContext || !messageHandler)
        return;
    QMetaObject::invokeMethod(
        messageContext, [handler = messageHandler, message, id, minutes] { handler(message, id, minutes); },
        Qt::QueuedConnection);
}

void AttachSnoozeMenu(QPushButton* button, std::function<void(int minutes)> chosen)
{
    auto* menu = new QMenu(button);
    menu->setObjectName("pmSnooze");
    for (const TSnoozeChoice& choice : kSnoozeChoices) {
        QAction* action = menu->addAction(QString::fromUtf8(choice.Caption));
        action->setObjectName(QString("NSnooze%1").arg(choice.Minutes));
        const int minutes = choice.Minutes;
        QObject::connect(action, &QAction::triggered, button, [chosen, minutes] { chosen(minutes); });
    }
    button->setMenu(menu);
}

TFormShowAlam::TFormShowAlam(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TFormShowAlam>())
{
    ui->setupUi(this);
    // A title bar without close box, system menu, minimise or maximise
    // button: the buttons are the only way out, and a minimised alert would
    // be lost where there is no taskbar.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    // It appears while the user may be typing elsewhere: the keys stay where they go.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    // An open alert must not keep the program alive, nor end it when it closes.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(292, 198);
    m_cascade = FreeCascadePlace(this);

    // Light grey and red where the palette's text can be read on them; under
    // a dark palette the palette's own ground and a lighter red.
    // They follow a skin chosen while the alert is open.
    FollowPalette(this, [this] {
        const QPalette natural = QApplication::palette(this);
        SetOwnColour(this, QPalette::Window,
                     BackgroundFor(natural.color(QPalette::Active, QPalette::WindowText), QColor(240, 240, 240),
                                   natural.color(QPalette::Active, QPalette::Window)));
    });
    setAutoFillBackground(true);
    KeepReadable(ui->mmo1, QPalette::Text, QColor(Qt::red), QPalette::Base);
    QFont font17 = ui->mmo1->font();
    font17.setPixelSize(17);
    ui->mmo1->setFont(font17);

    ConnectHandler(ui->btnOkSave, &QPushButton::clicked, this, &TFormShowAlam::btnOkSaveClick);
    ConnectHandler(ui->btnOkDel, &QPushButton::clicked, this, &TFormShowAlam::btnOkDelClick);
    AttachSnoozeMenu(ui->btnSnooze, [this](int minutes) { RunHandler([&] { Snooze(minutes); }); });
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
    const QPoint first(area.x() + area.width() - size.width() + 2, area.y() + area.height() - size.height() - 27);
    // The cascade goes up and to the left; where it would leave the screen
    // it starts again, a column further left, and at the first place once
    // no column fits.
    const int rows = qMax(1, (first.y() - area.y()) / kCascadeStep + 1);
    const int columns = qMax(1, (first.x() - area.x()) / (kCascadeStep * rows) + 1);
    const int place = m_cascade % (rows * columns);
    const int row = place % rows;
    const int column = place / rows;
    move(first - QPoint(row * kCascadeStep + column * rows * kCascadeStep, row * kCascadeStep));
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
    m_shownAt = TClock::Now();
    if (QApplication::activeWindow() != this)
        m_previous = QApplication::activeWindow();
    // A click anywhere in it, its buttons and text included, is the user's hand.
    if (QWindow* window = windowHandle())
        window->installEventFilter(this);
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

void TFormShowAlam::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Some window managers offer minimising whatever the window asks for;
    // with no taskbar entry a minimised alert would be lost, so it comes back.
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        QTimer::singleShot(0, this, [this] { showNormal(); });
        return;
    }
    if (event->type() != QEvent::ActivationChange || QApplication::activeWindow() != this)
        return;
    if (m_shownAt.msecsTo(TClock::Now()) < kOwnActivationMs) {
        // Activated by its own appearing, where the desktop gives every new
        // window the focus: the keys go back to where the user was typing.
        if (m_previous && m_previous->isVisible())
            m_previous->activateWindow();
        return;
    }
    m_activated = true;
}

bool TFormShowAlam::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle() && event->type() == QEvent::MouseButtonPress)
        m_activated = true;
    return QWidget::eventFilter(watched, event);
}

void TFormShowAlam::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // Escape answers "看到了并删除" once the user has brought the alert
        // to the front, never a stray key meant for another window; a daily
        // alert has no such button.
        if (m_activated && !ui->btnOkDel->isHidden())
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

void TFormShowAlam::Dismiss()
{
    m_confirmed = true;
    close();
}

void TFormShowAlam::btnOkSaveClick()
{
    Confirm(WM_ALAM_SEEN);
}

void TFormShowAlam::btnOkDelClick()
{
    Confirm(WM_ALAM_DELETE);
}

// A snoozed daily reminder keeps its time and fires once more, so the
// main window is told for either kind.
void TFormShowAlam::Snooze(int minutes)
{
    Confirm(WM_ALAM_SNOOZE, minutes);
}

void TFormShowAlam::Confirm(int message, int minutes)
{
    if (!ReDay || message == WM_ALAM_SNOOZE)
        PostAlamMessage(message, AlamID.toInt(), minutes);
    m_confirmed = true;
    close();
}

QStringList AlertsOnScreen()
{
    QStringList ids;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (const auto* alert = qobject_cast<TFormShowAlam*>(widget); alert && alert->isVisible())
            ids << alert->AlamID;
    return ids;
}

TFormShowAlam* ShowAlamAlert(const QString& id, const QString& remark, bool daily)
{
    auto* alert = new TFormShowAlam;
    alert->SetReminder(id, remark, daily);
    // With its native window the frame's size is known where the platform tells it before showing.
    alert->winId();
    OfferMovingOnly(alert);
    alert->PlaceAtBottomRight();
    alert->show();
    PlayChime();
    return alert;
}
