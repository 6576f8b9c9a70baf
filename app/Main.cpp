#include "app/Main.h"

#include "controls/CardIcons.h"
#include "controls/PopupMenu.h"
#include "data/MD.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "groups/BaseDlg.h"
#include "groups/UntTree.h"
#include "ui_Main.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <functional>

namespace {
// Runs a step when a widget is first shown.
class TOnFirstShow : public QObject
{
public:
    TOnFirstShow(QWidget* widget, std::function<void()> step) : QObject(widget), m_step(std::move(step))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            watched->removeEventFilter(this);
            m_step();
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_step;
};
} // namespace

TFormMain::TFormMain(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TFormMain>())
{
    PreloadAppIcon();
    SetDialogOwner(this);
    ui->setupUi(this);
    setWindowIcon(AppIcon());
    ui->splNote->setSizes({200, 600});
    ui->spl1->setSizes({200, 600});
    QFont font13 = ui->mmoNote->font();
    font13.setPixelSize(13);
    ui->mmoNote->setFont(font13);
    // The reminder list's page is not shown at the start: its 13-pixel font
    // and its title row (measured in bold) wait until it is, as loading
    // fonts the first window does not show is a good part of the start.
    ui->lv1->header()->hide();
    new TOnFirstShow(ui->lv1, [this, font13] {
        ui->lv1->setFont(font13);
        ui->lv1->header()->show();
    });
    ui->lv1->header()->setMinimumSectionSize(1);
    ui->lv1->setColumnWidth(0, 1);
    ui->lv1->setColumnWidth(1, 200);
    ui->lv1->setColumnWidth(2, 450);
    ui->lv1->setColumnWidth(3, 100);
    BuildMenus();
    tmr1 = new QTimer(this);
    tmr1->setObjectName("tmr1");
    tmr1->setInterval(1000);
    tmr1->start();
    ConnectHandler(ui->btnSystem, &QPushButton::clicked, this, &TFormMain::btnSystemClick);
    ConnectHandler(ui->NHomePage, &QAction::triggered, this, &TFormMain::NHomePageClick);
    ConnectHandler(ui->NTrayHomePage, &QAction::triggered, this, &TFormMain::NHomePageClick);
    WireNotepadPage();
    WireBookmarkPage();
    WireReminderPage();
    WireShell();
    FormCreate();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

TFormMain::~TFormMain() = default;

void TFormMain::BuildMenus()
{
    const auto menu = [this](const char* name, const QList<QAction*>& items) {
        auto* popup = new QMenu(this);
        popup->setObjectName(name);
        for (QAction* item : items) {
            if (item)
                popup->addAction(item);
            else
                popup->addSeparator();
        }
        return popup;
    };
    pmNoteType = menu("pmNoteType", {ui->NAddNoteType, ui->NModNoteType, ui->NDelNoteType});
    pmIEType = menu("pmIEType", {ui->NAddIEType, ui->NModIeType, ui->NDelIEType, nullptr, ui->N5});
    pmIE = menu("pmIE", {ui->N1, ui->N2, ui->N3, nullptr, ui->N8});
    pmAlam = menu("pmAlam", {ui->NAddAlam, ui->NModAlam, ui->NDelAlam});
    pmSystem = menu("pmSystem", {ui->NHomePage, nullptr, ui->NSetup, nullptr, ui->NBackup, ui->NRestore});
    pmTray = menu("pmTray", {ui->NTrayHomePage, nullptr, ui->NShowForm, ui->NClose});
    BindPopupMenu(ui->tvNote, pmNoteType);
    BindPopupMenu(ui->tvIE, pmIEType);
    BindPopupMenu(ui->DBGrid1, pmIE);
    BindPopupMenu(ui->lv1, pmAlam);
}

void TFormMain::FormCreate()
{
    IETree = std::make_unique<TCardTree>(ui->tvIE, "全部", "IEType");
    NoteTree = std::make_unique<TCardTree>(ui->tvNote, "根目录", "NoteType");
}

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    try {
        FormShow();
    } catch (const EAbort&) {
        Terminate(1);
    } catch (const std::exception& error) {
        // Loading failed before the program could run: a last-resort box,
        // then the program ends.
        const auto* plain = dynamic_cast<const EError*>(&error);
        ShowError(plain ? plain->Message() : QString::fromLocal8Bit(error.what()));
        Terminate(1);
    }
}

// The first show's steps, in their order; each subsystem's step lives in its folder.
void TFormMain::FormShow()
{
    LoadConfigAndLogin();
    // Closed from the tray menu while the login was open: nothing more to load.
    if (m_closed)
        return;
    IETree->LoadGroups();
    NoteTree->LoadGroups();
    ShowStartupBookmarks();
    ShowStartupReminders();
    ShowAutoRunState();
    ShowStartupNote();
    // Said once; from now on the memo takes no typing and every command that
    // changes data refuses before it asks anything.
    if (DbAccess->ReadOnly())
        ShowInfo("数据文件只读，所做修改不会保存。");
}

void TFormMain::Terminate(int exitCode)
{
    m_terminate = true;
    m_exitCode = exitCode;
    QTimer::singleShot(0, qApp, [exitCode] { QCoreApplication::exit(exitCode); });
}

void TFormMain::btnSystemClick()
{
    pmSystem->popup(QCursor::pos());
}

void TFormMain::NHomePageClick()
{
    ShellOpen(this, HomePagePath());
}

QString HomePagePath()
{
    const QString beside = QCoreApplication::applicationDirPath() + "/home.html";
    if (QFileInfo::exists(beside))
        return beside;
    const QString shared = QCoreApplication::applicationDirPath() + "/../share/jotterel/home.html";
    if (QFileInfo::exists(shared))
        return QDir::cleanPath(shared);
    // Neither beside the program nor installed: hand the desktop a copy of
    // the embedded page.
    const QString copy = QStandardPaths::writableLocation(QStandardPaths::TempLocation) + "/jotterel-home.html";
    QFile::remove(copy);
    QFile::copy(":/home.html", copy);
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return copy;
}
