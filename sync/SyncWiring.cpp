#include "sync/SyncWiring.h"

#include "bookmarks/BookmarkPage.h"
#include "controls/FirstEvent.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "data/UException.h"
#include "groups/UntTree.h"
#include "notes/NotepadPage.h"
#include "reminders/ReminderPage.h"
#include "reminders/ShowAlam.h"
#include "sync/SyncFolder.h"
#include "sync/SyncText.h"
#include "sync/TextMerge.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QInputDialog>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace {
constexpr int kFolderQuietMs = 1000;
constexpr int kLocalDelayMs = 2000;
constexpr int kPollMs = 1000;
constexpr int kPeriodicMs = 60 * 1000;

QTimer* MakeTimer(QObject* owner, const char* name, int ms, bool singleShot)
{
    auto* timer = new QTimer(owner);
    timer->setObjectName(name);
    timer->setInterval(ms);
    timer->setSingleShot(singleShot);
    return timer;
}
} // namespace

TSyncWiring::TSyncWiring(const TSyncParts& parts)
    : QObject(parts.Window), m_parts(parts), m_watcher(new QFileSystemWatcher(this)),
      m_folderQuiet(MakeTimer(this, "syncFolderQuiet", kFolderQuietMs, true)),
      m_localDelay(MakeTimer(this, "syncLocalDelay", kLocalDelayMs, true)),
      m_poll(MakeTimer(this, "syncPoll", kPollMs, false)),
      m_periodic(MakeTimer(this, "syncPeriodic", kPeriodicMs, false))
{
    AskPassphrase = [this] {
        return QInputDialog::getText(m_parts.Window, "同步密码",
                                     "同步文件夹的同步密码已在另一台电脑上更改。\n请输入新的同步密码：",
                                     QLineEdit::Password);
    };
    // Another computer's change of the note being edited is merged into the
    // memo: the typed text stays, the caret with it.
    m_parts.NotepadPage.MergeStored = [](const QString& base, const QString& mine, const QString& theirs) {
        QList<TMemoEdit> edits;
        for (const TTextEdit& edit : TextEdits(mine, MergeTexts(base, mine, theirs)))
            edits << TMemoEdit{int(edit.Position), int(edit.Length), edit.Text};
        return edits;
    };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { FolderChanged(); });
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { FolderChanged(); });
    for (QTimer* timer : {m_folderQuiet, m_localDelay, m_periodic})
        connect(timer, &QTimer::timeout, this, [this] { RoundQuietly(); });
    connect(m_poll, &QTimer::timeout, this, [this] { PollLocalChanges(); });
    // The first round waits for the window to stand: it never delays the first paint.
    new TOnFirstEvent(m_parts.Window, QEvent::Paint, [this] {
        QTimer::singleShot(0, this, [this] {
            SettingsChanged();
            m_roundDue = true;
            PollLocalChanges();
        });
    });
}

TSyncWiring::~TSyncWiring() = default;

TRunningCommands TSyncWiring::Commands()
{
    return {{"sync-now", [this](const QStringList&) {
                 try {
                     return TRunningAnswer{true, TSync::ReportText(RunRound())};
                 } catch (const std::exception& e) {
                     return TRunningAnswer{false, ErrorText(e)};
                 }
             }}};
}

void TSyncWiring::SettingsChanged()
{
    const TSyncStatus status = TSync::Status();
    m_on = !status.Folder.isEmpty();
    if (!m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
    if (m_on)
        m_watcher->addPath(status.Folder);
    for (QTimer* timer : {m_poll, m_periodic}) {
        if (m_on)
            timer->start();
        else
            timer->stop();
    }
    if (!m_on) {
        m_folderQuiet->stop();
        m_localDelay->stop();
        m_failure.clear();
        m_failureReported = false;
    }
    m_passphraseAsked = false;
    UpdateTrayTip();
}

TSyncReport TSyncWiring::RunRound()
{
    // A box of a failing save runs an event loop, whose timers could start
    // a round inside this one.
    if (m_inRound)
        RaiseError("正在同步，请稍后再试。");
    const QScopedValueRollback busy(m_inRound, true);
    TSync::SetBetweenSteps([this] { BetweenSteps(); });
    // Another computer that asks to delete much here waits for a yes.
    TSync::SetAskBeforeLoss([](const QString& question) { return AskYesNo(question); });
    const auto alone = qScopeGuard([] {
        TSync::SetBetweenSteps(nullptr);
        TSync::SetAskBeforeLoss(nullptr);
    });
    TSyncReport report;
    try {
        m_parts.NotepadPage.SaveUnsavedNote();
        report = TSync::Round();
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        // Whoever started the round says the failure: one box an episode.
        m_failure = ErrorText(e);
        m_failureReported = true;
        UpdateTrayTip();
        throw;
    }
    m_failure.clear();
    m_failureReported = false;
    m_passphraseAsked = false;
    // Whatever was coming from the timers is in this round.
    m_folderQuiet->stop();
    m_localDelay->stop();
    if (report.Applied > 0)
        ShowApplied();
    UpdateTrayTip();
    TellOnce(report);
    return report;
}

// The timers' rounds: a failure goes to the log and the status, and in a
// box beside the window only once until a round succeeds again.
void TSyncWiring::RoundQuietly()
{
    if (!m_on || m_inRound || !CanWrite())
        return;
    // A question, a menu or a name being edited holds on to the rows it
    // shows, which a round's changes would take away under it: the round
    // waits for it to close.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget() || Editing()) {
        m_roundDue = true;
        return;
    }
    m_roundDue = false;
    const bool reported = m_failureReported;
    try {
        RunRound();
    } catch (const EAbort&) {
    } catch (const ESyncKeyChanged& e) {
        if (!m_passphraseAsked && TakeNewPassphrase())
            return;
        WriteLog("同步失败：" + e.Message());
        if (!reported)
            ShowDbErrorAside("同步失败，程序会在后台继续尝试。", e.Message(), QString());
    } catch (const std::exception& e) {
        WriteLog("同步失败：" + ErrorText(e));
        if (!reported)
            ShowDbErrorAside("同步失败，程序会在后台继续尝试。", ErrorText(e), QString());
    }
}

// Another computer changed the folder's passphrase: asked once an episode.
// Joined again with the new one, everything here is kept and sent anew.
bool TSyncWiring::TakeNewPassphrase()
{
    m_passphraseAsked = true;
    const QString passphrase = AskPassphrase();
    if (passphrase.isEmpty())
        return false;
    try {
        TSync::Setup(TSync::Status().Folder, passphrase);
    } catch (const EError& e) {
        ShowDbErrorAside("同步密码不对。", e.Message(), QString());
        return false;
    }
    SettingsChanged();
    RoundQuietly();
    return true;
}

// The reminders' tick waits for the verdict of the data file's check at the
// start, as every write does: a round begun before it would hold the window
// until then.
bool TSyncWiring::CanWrite() const
{
    const QTimer* tick = m_parts.Tick;
    return !DbAccess->ReadOnly() && (!tick || tick->isActive());
}

// Between the steps of a long round the window answers: typing, scrolling,
// a click. A menu or a name being edited holds on to rows the next step
// could take away: the round waits until it closes. A window that closes
// (its note tree goes first) ends the round there; the bookmark tree is made
// only when its page is first shown.
void TSyncWiring::BetweenSteps()
{
    const auto closing = [this] { return !m_parts.NoteTree; };
    // The step may have changed the note being typed in: merged first, so
    // that the next keys are saved over it.
    m_parts.NotepadPage.MergeStoredNote();
    QCoreApplication::processEvents();
    while (!closing() && (QApplication::activePopupWidget() || Editing()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (closing())
        throw EAbort();
}

bool TSyncWiring::Editing() const
{
    return (m_parts.NoteTree && m_parts.NoteTree->IsEditing()) || (m_parts.IETree && m_parts.IETree->IsEditing());
}

// Every change of the folder counts, the round's own writes too: another
// computer's file may arrive in the same moment. The round those cause
// finds nothing new and writes nothing, so it sets off no other.
void TSyncWiring::FolderChanged()
{
    if (m_on)
        m_folderQuiet->start();
}

void TSyncWiring::PollLocalChanges()
{
    if (m_roundDue) {
        RoundQuietly();
        return;
    }
    if (m_inRound || m_localDelay->isActive())
        return;
    // A folder on a network share reports no changes to the watcher: its
    // time of change, read each second, stands in.
    const QStringList watched = m_watcher->directories();
    if (!watched.isEmpty()) {
        const QDateTime folderTime = QFileInfo(watched.first()).lastModified();
        if (m_folderTime.isValid() && folderTime != m_folderTime)
            FolderChanged();
        m_folderTime = folderTime;
    }
    bool changed = false;
    try {
        changed = TSync::HasLocalChanges();
    } catch (const std::exception&) {
        // Asked every second: a file held by another program would fill the
        // log. The minute's round meets the same failure and reports it.
    }
    if (changed)
        m_localDelay->start();
}

void TSyncWiring::ShowApplied()
{
    m_parts.NotepadPage.ReloadShownNote();
    if (m_parts.BookmarkPage.Tree())
        m_parts.BookmarkPage.ShowImported();
    m_parts.ReminderPage.Refresh();
    CloseAnsweredAlerts();
}

// An alert whose reminder was answered on another computer (seen) or
// deleted there has nothing left to ask.
void TSyncWiring::CloseAnsweredAlerts()
{
    const QStringList changed = TSync::ChangedReminders();
    if (changed.isEmpty())
        return;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* alert = qobject_cast<TFormShowAlam*>(widget);
        if (!alert || !alert->isVisible() || !changed.contains(alert->AlamID))
            continue;
        const QString id = QString::number(alert->AlamID.toLongLong());
        const int open = DbGetIntValue("select count(*) from Alam where ID=" + id + " and coalesce(bLook,0)=0");
        if (open == 0)
            alert->Dismiss();
    }
}

// A conflict marked in a note, a delete that lost to an edit, a delete that
// waits for a yes: said once, by the tray, at the round that met it.
void TSyncWiring::TellOnce(const TSyncReport& report)
{
    const QStringList lines = TSync::NoticeLines(report);
    QSystemTrayIcon* tray = m_parts.Tray;
    if (lines.isEmpty() || !tray)
        return;
    WriteLog("同步：" + lines.join(" "));
    tray->showMessage("同步", lines.join('\n'));
}

void TSyncWiring::UpdateTrayTip()
{
    QSystemTrayIcon* tray = m_parts.Tray;
    if (!tray)
        return;
    const TSyncStatus status = TSync::Status();
    tray->setToolTip(status.Folder.isEmpty() ? "Jotterel" : "Jotterel\n" + SyncStatusLine(status, m_failure));
}
