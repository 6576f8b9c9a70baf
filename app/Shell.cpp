#include "app/AutoRun.h"
#include "app/Backup.h"
#include "app/Config.h"
#include "app/Main.h"
#include "app/Pass.h"
#include "app/Stores.h"
#include "app/Tray.h"
#include "app/WindowMemory.h"
#include "bookmarks/BookmarkPage.h"
#include "controls/Composition.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "controls/UndoAction.h"
#include "data/MD.h"
#include "data/PassHash.h"
#include "exchange/TransferMenu.h"
#include "groups/UntTree.h"
#include "history/AutoBackup.h"
#include "history/BackupList.h"
#include "history/TrashWiring.h"
#include "notes/NotepadPage.h"
#include "reminders/ReminderPage.h"
#include "sync/Sync.h"
#include "sync/SyncSettings.h"
#include "sync/SyncWiring.h"
#include "ui_Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QSignalBlocker>
#include <QThread>

namespace {
// The application title: the name of the start-with-the-desktop entry.
const char* const kAppTitle = "Jotterel";
} // namespace

void TFormMain::WireShell()
{
    // Hidden in the tray, the program has no window shown; only the exit
    // question may end it, not the closing of some last message box.
    qApp->setQuitOnLastWindowClosed(false);
    m_tray->OnHiding = [this] { m_windowMemory->Save(); };
    ConnectHandler(ui->NClose, &QAction::triggered, this, &TFormMain::NCloseClick);
    ConnectHandler(ui->NSetup, &QAction::triggered, this, &TFormMain::NSetupClick);
    ConnectHandler(ui->NBackup, &QAction::triggered, this, &TFormMain::NBackupClick);
    ConnectHandler(ui->NRestore, &QAction::triggered, this, &TFormMain::NRestoreClick);
    ConnectHandler(ui->chk1, &QCheckBox::clicked, this, &TFormMain::chk1Click);
    TWindowMemory& memory = *m_windowMemory;
    const TTransferDialogs dialogs{[&memory] { return memory.AskFolderIn(); },
                                   [&memory](const QString& filter, const QString& what, const QString& suffix) {
                                       return memory.AskSaveIn(filter, what, suffix);
                                   },
                                   [&memory](const QString& filter) { return memory.AskOpenIn(filter); }};
    m_transferMenu = std::make_unique<TTransferMenu>(
        TTransferActions{ui->NImportNotes, ui->NExportNotesTree, ui->NExportNotesMd, ui->NImportIE, ui->NExportIE},
        TTransferParts{this, tmr1, dialogs, m_stores->Note, NoteTree, IETree, *m_notepadPage, *m_bookmarkPage});
}

// ---- Login and settings

void TFormMain::LoadConfigAndLogin()
{
    TConfig& Config = m_stores->Config;
    Config.LoadConfig();
    if (Config.bPass)
        emit WaitingForUser();
    // The remaining first-show steps still run; the program ends when
    // control returns to the message loop.
    if (Config.bPass && AskPassword(Config.PassWord, "先输入密码登录软件") != mrOk) {
        Terminate(0);
        return;
    }
    // An older file keeps the password as typed: from now on only its hash.
    // Should the file be busy, the next start tries again.
    if (!Config.PassWord.isEmpty() && !IsPasswordHash(Config.PassWord) && !DbAccess->ReadOnly()) {
        const QString plain = Config.PassWord;
        Config.PassWord = HashPassword(plain);
        try {
            Config.SaveConfig();
        } catch (const EDBException&) {
            Config.PassWord = plain;
        }
    }
}

void TFormMain::NSetupClick()
{
    DbAccess->CheckWritable();
    ShowConfig(
        m_stores->Config, [this](QWidget* over) { m_trash->Open(over); },
        [this](QWidget* over) { TFormSyncSettings(m_sync, over).ShowModal(); });
}

// ---- Start with the desktop

bool TFormMain::IsAutoRun() const
{
    return AutoRunStarts(kAppTitle, ExecutablePath());
}

void TFormMain::ShowAutoRunState()
{
    ui->chk1->setChecked(IsAutoRun());
}

void TFormMain::chk1Click()
{
    try {
        SetAutoRun(kAppTitle, ExecutablePath(), ui->chk1->isChecked());
    } catch (...) {
        // The box shows what the desktop will do, not what was asked.
        ShowAutoRunState();
        throw;
    }
    ShowAutoRunState();
}

// ---- Closing

void TFormMain::NCloseClick()
{
    close();
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    RunHandler([&] { mayClose = FormCloseQuery(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    event->accept();
    FormClose();
}

void TFormMain::EndAsClosed()
{
    if (m_closed)
        return;
    m_notepadPage->SaveNoteBeforeExit(false);
    // Nobody to tell: what cannot be written is logged, and the program ends.
    try {
        m_windowMemory->Save();
    } catch (const std::exception& e) {
        WriteLog("结束时窗口状态未能保存：" + ErrorText(e));
    }
    EndRun();
}

void TFormMain::SaveForTheSessionEnd()
{
    m_notepadPage->SaveNoteBeforeExit(false);
    m_windowMemory->Save();
}

bool TFormMain::FormCloseQuery()
{
    CancelComposition(this); // the question takes the keyboard
    return AskYesNo("确定要退出程序吗？") && m_notepadPage->SaveNoteBeforeExit();
}

void TFormMain::FormClose()
{
    m_windowMemory->Save();
    EndRun();
}

void TFormMain::EndRun()
{
    // The program ends: a first show still waiting for the login must not
    // go on loading the pages, and the program entry must not start the
    // message loop.
    m_closed = true;
    m_terminate = true;
    m_exitCode = 0;
    // A dialog still open (the tray menu stays usable during one) returns to
    // its caller when the loop ends, and that caller may still use the trees.
    if (!QApplication::activeModalWidget()) {
        IETree.reset();
        NoteTree.reset();
    }
    m_tray->Hide();
    // Ends the message loop. Without one running there is nothing to end,
    // and asking would make the next loop that starts return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

// ---- Backup and restore

void TFormMain::NBackupClick()
{
    const QString chosen = m_windowMemory->AskSaveIn(kDataFileFilter, "备份", "bat");
    if (chosen.isEmpty())
        return;
    DbBackup(BackupFileName(chosen));
}

void TFormMain::NRestoreClick()
{
    DbAccess->CheckWritable();
    TSync::RefuseInRound();
    // The file first (the data before the last restore, the automatic
    // backups, any other file through the file dialog), then one question
    // that names it and what it holds, then those of the capabilities.
    const QString source = ChooseRestoreSource(AutoBackupFolder(), SafetyCopyPath(),
                                               [this] { return m_windowMemory->AskOpenIn(kDataFileFilter); });
    if (source.isEmpty() || !AskYesNo(RestoreQuestion(source)))
        return;
    for (const auto& ask : m_restoreQuestions)
        if (!ask(source))
            return;
    // With sync on, the restored data replaces the other computers' data
    // too, or stays here alone: else their next files would undo the restore.
    m_replaceOthers =
        !TSync::Status().Folder.isEmpty() &&
        AskYesNo("同步已开启。要让恢复的数据也替换其他电脑上的数据吗？\r\n"
                 "选“是”：恢复的数据作为新的修改发给其他电脑，备份中没有的内容在那里也会删除（放进回收站）。\r\n"
                 "选“否”：恢复的数据只留在这台电脑上，这台电脑停止同步。");
    RestoreData(source);
    if (!ShowInfoWithChoice(RestoredText(source), "撤销恢复"))
        return;
    RestoreData(SafetyCopyPath());
    ShowInfo("已撤销恢复，数据回到了恢复之前。");
}

void TFormMain::AddRestoreQuestion(std::function<bool(const QString&)> ask)
{
    m_restoreQuestions.push_back(std::move(ask));
}

void TFormMain::RestoreData(const QString& source)
{
    // The memo's text goes into the data the safety copy is made of, never
    // into the restored data.
    try {
        m_notepadPage->SaveUnsavedNote();
    } catch (const EDBException& e) {
        throw EDBException(e.Message(), "记事内容未能保存，数据没有恢复！", e.SQLText);
    }
    try {
        RestoreWithSafetyCopy(source);
    } catch (...) {
        // A failure after the connection was closed took the pages' data
        // with it; they show the unchanged database again.
        if (!DbAccess->Connected())
            RunHandler([this] { ReloadPages(); });
        throw;
    }
    WriteLog("数据恢复！");
    // Sync's settings and state belong to this computer, not to the data:
    // they stay as they were before the restore (also a restore taken back,
    // which follows the choice made for it).
    TSync::AfterRestore(SafetyCopyPath(), m_replaceOthers);
    m_sync->SettingsChanged();
    ReloadPages();
}

// Every page shows the restored data, and no tree hands out group
// identifiers computed from groups that are gone.
void TFormMain::ReloadPages()
{
    // The memo's text was saved before the restore; the memo now shows the
    // restored note.
    m_notepadPage->UnbindMemo();
    TUndoAction::ForgetAll();
    m_stores->Config.LoadConfig();
    RecreateTrees();
    m_bookmarkPage->ShowStartupBookmarks();
    m_reminderPage->ShowStartupReminders();
    m_notepadPage->ShowStartupNote();
}

void TFormMain::RecreateTrees()
{
    // A bookmark tree not made yet reads the restored groups when it is.
    for (std::unique_ptr<TCardTree>* tree : {&IETree, &NoteTree}) {
        if (!*tree)
            continue;
        // The pages' handlers must not see the half-built tree.
        const QSignalBlocker block((*tree)->TreeView);
        const auto edited = (*tree)->OnEdited;
        *tree = std::make_unique<TCardTree>((*tree)->TreeView, (*tree)->RootCaption, (*tree)->TableName);
        (*tree)->OnEdited = edited;
        (*tree)->LoadGroups();
    }
}
