#include "capture/CaptureWiring.h"

#include "app/SingleInstance.h"
#include "bookmarks/BookmarkPage.h"
#include "capture/Capture.h"
#include "capture/CaptureBus.h"
#include "capture/QuickAdd.h"
#include "controls/Composition.h"
#include "controls/FirstEvent.h"
#include "data/MD.h"
#include "data/UException.h"
#include "notes/NotepadPage.h"
#include "reminders/ReminderPage.h"

#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QWidget>

namespace {
const QStringList kCommands{"remind", "note", "bookmark", "toggle", "search", "agenda"};

// What is said of what was added repeats at most the start of a long text:
// a tray message or an answer the size of the text helps nobody.
QString Shortened(const QString& text)
{
    constexpr qsizetype kMostRepeated = 200;
    return text.size() <= kMostRepeated ? text : text.left(kMostRepeated) + "……";
}
} // namespace

TCaptureWiring::TCaptureWiring(QWidget* window, const TSearchTargets& pages)
    : QObject(window), m_window(window), m_pages(pages)
{
    for (const QString& name : kCommands)
        RunningCommands()[name] = [this, name](const QStringList& arguments) {
            try {
                return TRunningAnswer{true, Carry(QStringList{name} + arguments)};
            } catch (const std::exception& e) {
                return TRunningAnswer{false, ErrorText(e)};
            }
        };
    // The service on the session bus costs the start round trips to the bus:
    // it is offered once the window has painted.
    AfterFirstPaint(window, [this] { new TCaptureBus(this); });
    // 快速添加 stands above the reminder list once the page's controls are made.
    TReminderPage& reminders = m_pages.ReminderPage;
    const auto putQuickAdd = [&reminders] {
        auto* quickAdd = new TQuickAdd([&reminders] { reminders.ShowAllReminders(); });
        reminders.PutAboveList(quickAdd, quickAdd->Field());
    };
    if (reminders.List())
        putQuickAdd();
    else
        connect(&reminders, &TReminderPage::ControlsMade, this, putQuickAdd);
}

TCaptureWiring::~TCaptureWiring()
{
    for (const QString& name : kCommands)
        RunningCommands().remove(name);
}

QString TCaptureWiring::Carry(const QStringList& command)
{
    const QString kind = command.value(0);
    if (kind == "toggle") {
        Toggle();
        return {};
    }
    if (kind == "search") {
        Search(command.value(1));
        return {};
    }
    if (kind == "agenda")
        return AgendaText(command.value(1).toInt());
    DbAccess->CheckWritable();
    m_pages.NotepadPage.SaveUnsavedNote();
    const int lastIdBefore = DbGetIntValue("select coalesce(max(ID),0) from IE");
    TCaptured captured = Capture(command);
    captured.Text = Shortened(captured.Text);
    Show(captured);
    // A new bookmark is told as one from the dialog is (its site's icon).
    if (captured.Page == TCaptured::Bookmarks)
        emit m_pages.BookmarkPage.BookmarksAdded(lastIdBefore);
    return captured.Text;
}

// In front: into the tray (minimised on the taskbar without one); hidden,
// minimised or behind another window: in front. Hidden at once, not
// minimised first: a window the window manager had minimised and the
// program then hid may come back minimised when it is shown again.
void TCaptureWiring::Toggle()
{
    if (!m_window->isVisible() || m_window->isMinimized() || !m_window->isActiveWindow()) {
        BringToFront(m_window);
        return;
    }
    CancelComposition(m_window);
    auto* tray = m_window->findChild<QSystemTrayIcon*>("TrayIcon");
    if (tray && tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
        m_window->hide();
    else
        m_window->showMinimized();
}

void TCaptureWiring::Search(const QString& words)
{
    BringToFront(m_window);
    auto* field = m_window->findChild<QLineEdit*>("edtSearch");
    if (!field)
        return;
    field->setText(words);
    field->setFocus(Qt::OtherFocusReason);
}

// The page of what was added shows it as stored; the tray says it.
void TCaptureWiring::Show(const TCaptured& captured)
{
    switch (captured.Page) {
    case TCaptured::Notes:
        m_pages.NotepadPage.ReloadShownNote();
        break;
    case TCaptured::Bookmarks:
        if (m_pages.BookmarkPage.Tree())
            m_pages.BookmarkPage.ShowImported();
        break;
    case TCaptured::Reminders:
        m_pages.ReminderPage.ShowReminder(captured.Item);
        break;
    }
    if (auto* tray = m_window->findChild<QSystemTrayIcon*>("TrayIcon"); tray && tray->isVisible())
        tray->showMessage("Jotterel", captured.Text, QSystemTrayIcon::Information, 5000);
}
