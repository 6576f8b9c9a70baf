#include "notes/NoteTransfer.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "groups/GroupTableStore.h"
#include "notes/UntNote.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <sqlite3.h>

namespace {
// The root's caption in the note tree, the name of a whole tree's own note.
const QString kRootCaption = QStringLiteral("根目录");
constexpr int kDeepestHeading = 6;

// A name not yet used among the entries of one folder, comparing as file
// systems that ignore letter case do.
QString DistinctName(const QString& wanted, QSet<QString>& used)
{
    QString name = wanted;
    for (int n = 2; used.contains(name.toCaseFolded()); ++n)
        name = QString("%1 (%2)").arg(wanted).arg(n);
    used.insert(name.toCaseFolded());
    return name;
}

class TTreeWriter
{
public:
    TTreeWriter(const TGroupTable& groups, const QHash<int, QString>& notes, TFolderBuild& build)
        : m_groups(groups), m_notes(notes), m_build(build)
    {
    }

    // The group's folder at the relative path (empty: the built folder
    // itself), its own note named noteName.
    void Write(int group, const QString& relative, const QString& noteName, bool always)
    {
        const QString prefix = relative.isEmpty() ? QString() : relative + '/';
        QSet<QString> used;
        const QString fileName = DistinctName(noteName + ".md", used);
        const QString text = m_notes.value(group);
        if (always || !text.isEmpty()) {
            m_build.WriteFile(prefix + fileName, WithLfBreaks(text).toUtf8());
            Count.Notes += text.isEmpty() ? 0 : 1;
        }
        for (int child : m_groups.Children(group)) {
            const QString name = DistinctName(SafeFileName(m_groups.Name(child)), used);
            m_build.MakeFolder(prefix + name);
            ++Count.Groups;
            Write(child, prefix + name, name, false);
        }
    }

    TExportCount Count;

private:
    const TGroupTable& m_groups;
    const QHash<int, QString>& m_notes;
    TFolderBuild& m_build;
};

void WriteMarkdown(const TGroupTable& groups, const QHash<int, QString>& notes, int group, QStringList path,
                   QString& out, TExportCount& count)
{
    path.append(groups.Name(group));
    const int depth = int(path.size());
    // Markdown has six levels of heading; deeper groups name their path from the sixth level down.
    const QString heading = depth <= kDeepestHeading ? path.last() : path.mid(kDeepestHeading - 1).join(" / ");
    out += QString(std::min(depth, kDeepestHeading), u'#') + ' ' + heading + "\n\n";
    const QString text = WithLfBreaks(notes.value(group));
    if (!text.isEmpty()) {
        out += text;
        out += text.endsWith(u'\n') ? "\n" : "\n\n";
        ++count.Notes;
    }
    if (group != 0)
        ++count.Groups;
    for (int child : groups.Children(group))
        WriteMarkdown(groups, notes, child, path, out, count);
}

// One folder or file read for an import.
struct TScanned
{
    QString Name;
    bool HasNote = false;
    QString Note;
    std::vector<TScanned> Children;
};

bool IsTextFile(const QFileInfo& info)
{
    const QString suffix = info.suffix().toLower();
    return info.isFile() && (suffix == "md" || suffix == "txt");
}

int Scan(const QString& path, TScanned& folder, const QStringList& ownNoteNames)
{
    QFileInfoList entries =
        QDir(path).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Readable);
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(entries.begin(), entries.end(),
              [&](const QFileInfo& a, const QFileInfo& b) { return collator.compare(a.fileName(), b.fileName()) < 0; });
    int count = 0;
    QString ownNote;
    for (const QFileInfo& entry : entries) {
        if (entry.isFile() && ownNoteNames.contains(entry.fileName())) {
            ownNote = entry.fileName();
            folder.Note = ReadUtf8File(entry.filePath());
            folder.HasNote = true;
            break;
        }
    }
    for (const QFileInfo& entry : entries) {
        if (entry.isDir()) {
            TScanned child;
            child.Name = entry.fileName();
            count += 1 + Scan(entry.filePath(), child, {child.Name + ".md", child.Name + ".txt"});
            folder.Children.push_back(std::move(child));
        } else if (IsTextFile(entry) && entry.fileName() != ownNote) {
            TScanned child;
            child.Name = entry.completeBaseName();
            child.Note = ReadUtf8File(entry.filePath());
            child.HasNote = true;
            folder.Children.push_back(std::move(child));
            ++count;
        }
    }
    return count;
}

class TNoteImport
{
public:
    TNoteImport(TGroupTable& groups, TNote& note, const TProgress& progress, int total)
        : m_groups(groups), m_note(note), m_progress(progress), m_total(total)
    {
    }

    void Add(int parent, const TScanned& scanned)
    {
        const int group = m_groups.Add(parent, ImportedGroupName(m_groups, scanned.Name, Report));
        ++Report.Groups;
        if (scanned.HasNote)
            StoreNote(group, scanned.Note, false);
        Step();
        AddChildren(group, scanned);
    }

    void AddChildren(int group, const TScanned& scanned)
    {
        for (const TScanned& child : scanned.Children)
            Add(group, child);
    }

    // A new group's note is inserted; an existing group's note is written
    // only where it is empty.
    bool StoreNote(int group, const QString& text, bool existing)
    {
        const QString id = QString::number(group);
        const bool exists = existing && m_note.NoteExists(id);
        if (exists) {
            m_note.LoadNote(id);
            if (!m_note.ReMark.isEmpty())
                return false;
        }
        m_note.TypeID = group;
        m_note.ReMark = WithCrLfBreaks(text);
        if (exists)
            m_note.UpdateNote();
        else
            m_note.InsertNote();
        ++Report.Items;
        return true;
    }

    void Step()
    {
        ++m_done;
        if (m_progress && !m_progress(m_done, m_total))
            throw ECancelled();
    }

    TImportReport Report;

private:
    TGroupTable& m_groups;
    TNote& m_note;
    const TProgress& m_progress;
    int m_total;
    int m_done = 0;
};
} // namespace

QHash<int, QString> ReadAllNotes()
{
    const QString sql = "SELECT TypeID, ReMark FROM NoteBook ORDER BY rowid";
    QHash<int, QString> notes;
    try {
        sqlite3* db = DbAccess->Handle();
        TStmtHandle stmt = PrepareNative(db, sql);
        int step;
        while ((step = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            const int group = sqlite3_column_int(stmt.get(), 0);
            // The first row of a group is its note, as the notepad reads it.
            if (notes.contains(group))
                continue;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1));
            notes.insert(group, QString::fromUtf8(text, sqlite3_column_bytes(stmt.get(), 1)));
        }
        if (step != SQLITE_DONE)
            ThrowSqlError(db);
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, kQueryErrorText, sql);
    }
    return notes;
}

TExportCount ExportNotesTree(const TGroupTable& groups, int top, const QString& target)
{
    const QHash<int, QString> notes = ReadAllNotes();
    TFolderBuild build(target);
    TTreeWriter writer(groups, notes, build);
    if (top == 0)
        writer.Write(0, QString(), kRootCaption, true);
    else
        writer.Write(top, QString(), QFileInfo(target).fileName(), false);
    writer.Count.Groups += top == 0 ? 0 : 1;
    build.Finish();
    return writer.Count;
}

TExportCount ExportNotesMarkdown(const TGroupTable& groups, int top, const QString& file)
{
    const QHash<int, QString> notes = ReadAllNotes();
    QString out;
    TExportCount count;
    WriteMarkdown(groups, notes, top, {}, out, count);
    WriteFileSafely(file, out.toUtf8());
    return count;
}

TImportReport ImportNotesFolder(TGroupTable& groups, TNote& note, int parent, const QString& folder,
                                const TProgress& progress)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        RaiseError(QString("找不到文件夹 %1").arg(QDir::toNativeSeparators(folder)));
    TScanned top;
    top.Name = info.fileName();
    const bool wholeTree = QFileInfo(info.absoluteFilePath() + '/' + kRootCaption + ".md").isFile();
    const QStringList ownNote =
        wholeTree ? QStringList{kRootCaption + ".md"} : QStringList{top.Name + ".md", top.Name + ".txt"};
    const int total = Scan(info.absoluteFilePath(), top, ownNote) + 1;
    TNoteImport import(groups, note, progress, total);
    try {
        DbAccess->Batch([&] {
            if (!wholeTree) {
                import.Add(parent, top);
            } else {
                // The root's note: into the group when it has none, else kept beside.
                if (top.HasNote && !top.Note.isEmpty() && !import.StoreNote(parent, top.Note, true)) {
                    TScanned rootNote;
                    rootNote.Name = kRootCaption;
                    rootNote.Note = top.Note;
                    rootNote.HasNote = true;
                    import.Add(parent, rootNote);
                }
                import.AddChildren(parent, top);
            }
            // A cancel up to the last moment still changes nothing.
            if (progress && !progress(total, total))
                throw ECancelled();
        });
    } catch (...) {
        // The groups added in memory are gone with the transaction.
        groups.Load();
        throw;
    }
    return import.Report;
}
