#include "capture/CaptureWiring.h"

#include "bookmarks/BookmarkPage.h"
#include "capture/Capture.h"
#include "capture/CaptureBus.h"
#include "capture/QuickAdd.h"
#include "controls/BringToFront.h"
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

TCaptureWiring::TCaptureWiring(const TCaptureParts& parts) : QObject(parts.Window), m_parts(parts)
{
    QWidget* const window = parts.Window;
    // The service on the session bus costs the start round trips to the bus:
    // it is offered once the window has painted.
    AfterFirstPaint(window, [this] { new TCaptureBus(this); });
    // 快速添加 stands above the reminder list once the page's controls are made.
    TReminderPage& reminders = m_parts.ReminderPage;
    const auto putQuickAdd = [&reminders] {
        auto* quickAdd = new TQuickAdd([&reminders] { reminders.ShowAllReminders(); });
        reminders.PutAboveList(quickAdd, quickAdd->Field());
    };
    if (reminders.List())
        putQuickAdd();
    else
        connect(&reminders, &TReminderPage::ControlsMade, this, putQuickAdd);
}

TRunningCommands TCaptureWiring::Commands()
{
    TRunningCommands commands;
    for (const QString& name : kCommands)
        commands[name] = [this, name](const QStringList& arguments) {
            try {
                return TRunningAnswer{true, Carry(QStringList{name} + arguments)};
            } catch (const std::exception& e) {
                return TRunningAnswer{false, ErrorText(e)};
            }
        };
    return commands;
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
    m_parts.NotepadPage.SaveUnsavedNote();
    const int lastIdBefore = DbGetIntValue("select coalesce(max(ID),0) from IE");
    TCaptured captured = Capture(command);
    captured.Text = Shortened(captured.Text);
    Show(captured);
    // A new bookmark is told as one from the dialog is (its site's icon).
    if (captured.Page == TCaptured::Bookmarks)
        emit m_parts.BookmarkPage.BookmarksAdded(lastIdBefore);
    return captured.Text;
}

// In front: into the tray (minimised on the taskbar without one); hidden,
// minimised or behind another window: in front. Hidden at once, not
// minimised first: a window the window manager had minimised and the
// program then hid may come back minimised when it is shown again.
void TCaptureWiring::Toggle()
{
    if (!m_parts.Window->isVisible() || m_parts.Window->isMinimized() || !m_parts.Window->isActiveWindow()) {
        BringToFront(m_parts.Window);
        return;
    }
    CancelComposition(m_parts.Window);
    QSystemTrayIcon* tray = m_parts.Tray;
    if (tray && tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
        m_parts.Window->hide();
    else
        m_parts.Window->showMinimized();
}

void TCaptureWiring::Search(const QString& words)
{
    BringToFront(m_parts.Window);
    QLineEdit* field = m_parts.SearchField;
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
        m_parts.NotepadPage.ReloadShownNote();
        break;
    case TCaptured::Bookmarks:
        if (m_parts.BookmarkPage.Tree())
            m_parts.BookmarkPage.ShowImported();
        break;
    case TCaptured::Reminders:
        m_parts.ReminderPage.ShowReminder(captured.Item);
        break;
    }
    if (QSystemTrayIcon* tray = m_parts.Tray; tray && tray->isVisible())
        tray->showMessage("Jotterel", captured.Text, QSystemTrayIcon::Information, 5000);
}
