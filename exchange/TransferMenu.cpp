// The import and export commands of the 软件设置 menu.
#include "exchange/TransferMenu.h"

#include "bookmarks/BookmarkPage.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/MD.h"
#include "exchange/BookmarkFile.h"
#include "exchange/NoteTransfer.h"
#include "groups/UntTree.h"
#include "notes/NotepadPage.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>
#include <sqlite3.h>

namespace {
const char* const kImportFailed = "导入失败，没有导入任何内容。";

// While an import runs: a modal progress box whose 取消 cancels it. The
// window's timer keeps ticking (reminders fall due as usual) while the import
// reads its files; while the import's transaction is open the tick waits,
// since its writes would join that transaction, and catches up on the
// seconds it missed once the import has written.
class TImportRun
{
public:
    TImportRun(QWidget* owner, QTimer* tick, const QString& label)
        : m_tick(tick), m_ticking(tick->isActive()), m_box(label, "取消", 0, int(TProgressPacer::Whole), owner)
    {
        m_box.setObjectName("dlgProgress");
        m_box.setAccessibleName(label);
        m_box.setWindowTitle("导入");
        m_box.setWindowModality(Qt::ApplicationModal);
        m_box.setMinimumDuration(0);
        m_box.setAutoClose(false);
        m_box.setAutoReset(false);
        m_box.show();
    }
    ~TImportRun()
    {
        if (m_ticking && !m_tick->isActive())
            m_tick->start();
    }

    TProgress Progress()
    {
        return [this](qint64 done, qint64 total) {
            if (m_ticking) {
                const bool writing = sqlite3_get_autocommit(DbAccess->Handle()) == 0;
                if (writing && m_tick->isActive())
                    m_tick->stop();
                else if (!writing && !m_tick->isActive())
                    m_tick->start();
            }
            m_box.setValue(total > 0 ? int(done * TProgressPacer::Whole / total) : 0);
            QCoreApplication::processEvents();
            return !m_box.wasCanceled();
        };
    }

private:
    QTimer* m_tick;
    bool m_ticking; // the tick was running when the import began
    QProgressDialog m_box;
};

// Runs an import; a failure says that nothing was imported, and why.
template <typename F> TImportReport Import(F run)
{
    try {
        return run();
    } catch (const ECancelled&) {
        throw;
    } catch (const EDBException& e) {
        throw EDBException(e.Message(), kImportFailed + QString("\n") + e.UserMessage, e.SQLText);
    } catch (const EError& e) {
        RaiseError(kImportFailed + QString("\n") + e.Message());
    }
}

// A file name with the extension added when the user typed none.
QString WithSuffix(const QString& chosen, const QString& suffix)
{
    return QFileInfo(chosen).suffix().isEmpty() ? chosen + '.' + suffix : chosen;
}
} // namespace

TTransferMenu::TTransferMenu(const TTransferActions& actions, TTransferParts parts) : m_parts(parts)
{
    ConnectHandler(actions.ImportNotes, &QAction::triggered, this, &TTransferMenu::NImportNotesClick);
    ConnectHandler(actions.ExportNotesTree, &QAction::triggered, this, &TTransferMenu::NExportNotesTreeClick);
    ConnectHandler(actions.ExportNotesMd, &QAction::triggered, this, &TTransferMenu::NExportNotesMdClick);
    ConnectHandler(actions.ImportIE, &QAction::triggered, this, &TTransferMenu::NImportIEClick);
    ConnectHandler(actions.ExportIE, &QAction::triggered, this, &TTransferMenu::NExportIEClick);
}

// A folder of .md and .txt files becomes a branch under the selected group.
void TTransferMenu::NImportNotesClick()
{
    DbAccess->CheckWritable();
    const QString folder = m_parts.Dialogs.AskFolder();
    if (folder.isEmpty())
        return;
    m_parts.NotepadPage.SaveUnsavedNote();
    const int parent = NoteTree().SelectedSelfIndex();
    TImportReport report;
    try {
        TImportRun run(m_parts.Window, m_parts.Tick, "正在导入记事……");
        report =
            Import([&] { return ImportNotesFolder(NoteTree().Groups, m_parts.Note, parent, folder, run.Progress()); });
    } catch (const ECancelled& e) {
        m_parts.NotepadPage.ShowImported(parent);
        ShowInfo(e.Message());
        return;
    }
    m_parts.NotepadPage.ShowImported(parent);
    ShowInfo(report.Text("条记事"));
}

// The selected group's branch (all notes for the root) as a folder in the chosen folder.
void TTransferMenu::NExportNotesTreeClick()
{
    const QString parentFolder = m_parts.Dialogs.AskFolder();
    if (parentFolder.isEmpty())
        return;
    m_parts.NotepadPage.SaveUnsavedNote();
    const int group = NoteTree().SelectedSelfIndex();
    const QString name = SafeFileName(NoteTree().Groups.Name(group));
    QString target = QDir(parentFolder).filePath(name);
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = QDir(parentFolder).filePath(QString("%1 (%2)").arg(name).arg(n));
    const TExportCount count = ExportNotesTree(NoteTree().Groups, group, target);
    ShowInfo(QString("已导出 %1 个分组、%2 条记事到：\n%3")
                 .arg(count.Groups)
                 .arg(count.Notes)
                 .arg(QDir::toNativeSeparators(target)));
}

void TTransferMenu::NExportNotesMdClick()
{
    const QString chosen = m_parts.Dialogs.AskSave("Markdown 文件 (*.md)|*.md", "记事", "md");
    if (chosen.isEmpty())
        return;
    m_parts.NotepadPage.SaveUnsavedNote();
    const QString file = WithSuffix(chosen, "md");
    const TExportCount count = ExportNotesMarkdown(NoteTree().Groups, NoteTree().SelectedSelfIndex(), file);
    ShowInfo(QString("已导出 %1 个分组、%2 条记事到：\n%3")
                 .arg(count.Groups)
                 .arg(count.Notes)
                 .arg(QDir::toNativeSeparators(file)));
}

// A browser's bookmark file becomes groups and bookmarks under the selected bookmark group.
void TTransferMenu::NImportIEClick()
{
    DbAccess->CheckWritable();
    const QString file = m_parts.Dialogs.AskOpen("书签文件 (*.html *.htm)|*.html *.htm");
    if (file.isEmpty())
        return;
    m_parts.BookmarkPage.FillIfWaiting(); // the group remembered from the last time, on a page not shown yet
    const int parent = IETree().SelectedSelfIndex();
    TImportReport report;
    try {
        TImportRun run(m_parts.Window, m_parts.Tick, "正在导入网址……");
        report = Import([&] { return ImportBookmarkFile(IETree().Groups, parent, file, run.Progress()); });
    } catch (const ECancelled& e) {
        m_parts.BookmarkPage.ShowImported();
        ShowInfo(e.Message());
        return;
    }
    m_parts.BookmarkPage.ShowImported();
    ShowInfo(report.Text("个网址"));
}

void TTransferMenu::NExportIEClick()
{
    const QString chosen = m_parts.Dialogs.AskSave("书签文件 (*.html)|*.html", "网址", "html");
    if (chosen.isEmpty())
        return;
    const QString file = WithSuffix(chosen, "html");
    m_parts.BookmarkPage.MakeControls(); // the groups are read with the page's tree
    const auto [groups, links] = ExportBookmarkFile(IETree().Groups, file);
    ShowInfo(QString("已导出 %1 个分组、%2 个网址到：\n%3").arg(groups).arg(links).arg(QDir::toNativeSeparators(file)));
}
