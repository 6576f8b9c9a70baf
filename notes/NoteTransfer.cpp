#include "notes/NoteTransfer.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "groups/GroupTableStore.h"
#include "notes/UntNote.h"

#include "data/OwnFiles.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <optional>
#include <sqlite3.h>

namespace {
// The root's caption in the note tree, the name of a whole tree's own note.
const QString kRootCaption = QStringLiteral("根目录");
constexpr int kDeepestHeading = 6;
// Below the sixth level a heading names the path from there down, cut to
// its last few names: a heading as long as the tree is deep would make the
// file grow with the square of the depth.
constexpr int kHeadingPathNames = 3;
// Longest path the system takes, in bytes: an entry deeper than that cannot
// be read, and is reported as passed by.
constexpr qsizetype kLongestPath = 4095;

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

// One group's folder still to write: where, and the name of its own note.
struct TFolderToWrite
{
    int Group = 0;
    QString Relative; // empty: the built folder itself
    QString NoteName;
    bool Always = false; // the note file even when the note is empty
};

// Writes the folders one after another from a list of those still to come,
// so that no depth of the tree can exhaust the stack.
TExportCount WriteTree(const TGroupTable& groups, const QHash<int, QString>& notes, TFolderBuild& build,
                       TFolderToWrite top)
{
    TExportCount count;
    std::vector<TFolderToWrite> pending{std::move(top)};
    while (!pending.empty()) {
        const TFolderToWrite folder = std::move(pending.back());
        pending.pop_back();
        const QString prefix = folder.Relative.isEmpty() ? QString() : folder.Relative + '/';
        QSet<QString> used;
        const QString fileName = DistinctName(folder.NoteName + ".md", used);
        const QString text = notes.value(folder.Group);
        if (folder.Always || !text.isEmpty()) {
            build.WriteFile(prefix + fileName, WithLfBreaks(text).toUtf8());
            count.Notes += text.isEmpty() ? 0 : 1;
        }
        const QList<int> children = groups.Children(folder.Group);
        const size_t first = pending.size();
        for (int child : children) {
            const QString name = DistinctName(SafeFileName(groups.Name(child)), used);
            build.MakeFolder(prefix + name);
            ++count.Groups;
            pending.push_back({child, prefix + name, name, false});
        }
        // Taken from the back: the first child is written first.
        std::reverse(pending.begin() + qsizetype(first), pending.end());
    }
    return count;
}

// The heading of a group at a depth (1: the exported group), its path from
// the exported group down given.
QString Heading(const QStringList& path)
{
    const int depth = int(path.size());
    if (depth <= kDeepestHeading)
        return QString(depth, u'#') + ' ' + path.last();
    const qsizetype below = depth - (kDeepestHeading - 1);
    const QString names = below <= kHeadingPathNames ? path.mid(kDeepestHeading - 1).join(" / ")
                                                     : "… / " + path.mid(depth - kHeadingPathNames).join(" / ");
    return QString(kDeepestHeading, u'#') + ' ' + names;
}

// The branch in the tree's order, each group's heading and note, walked
// from a list of what is still to come.
void WriteMarkdown(const TGroupTable& groups, const QHash<int, QString>& notes, int top, QString& out,
                   TExportCount& count)
{
    QStringList path;                                   // the names from the exported group down to the one written
    std::vector<std::pair<int, int>> pending{{top, 0}}; // group and its depth, from 0
    while (!pending.empty()) {
        const auto [group, depth] = pending.back();
        pending.pop_back();
        path.resize(depth);
        path.append(groups.Name(group));
        out += Heading(path) + "\n\n";
        const QString text = WithLfBreaks(notes.value(group));
        if (!text.isEmpty()) {
            out += text;
            out += text.endsWith(u'\n') ? "\n" : "\n\n";
            ++count.Notes;
        }
        if (group != 0)
            ++count.Groups;
        const QList<int> children = groups.Children(group);
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            pending.emplace_back(*child, depth + 1);
    }
}

// One folder or text file found for an import, in the order found: every
// folder before what it holds, siblings together in their sorted order.
struct TScanned
{
    TScanned(int parent, const QString& name, const QString& notePath = QString(), bool isFile = false)
        : Parent(parent), Name(name), NotePath(notePath), IsFile(isFile)
    {
    }

    int Parent = -1; // the folder's index; -1 for the imported folder itself
    QString Name;
    QString NotePath; // the file whose text becomes the group's note; empty: none
    QString Note;
    bool HasNote = false;
    bool IsFile = false;
    bool Dropped = false; // a file whose text could not be read: no group
};

bool IsTextFile(const QFileInfo& info)
{
    const QString suffix = info.suffix().toLower();
    return suffix == "md" || suffix == "txt";
}

// Lists a folder tree for an import, folder after folder from a list of
// those still to come. What cannot or should not be read is passed by and
// named in the report: hidden entries, symbolic links (which may lead out
// of the folder or round in a circle), pipes and devices, paths too long
// for the system, unreadable folders and files over the size limit.
class TFolderScan
{
public:
    TFolderScan(const QString& top, TProgressPacer& pacer, QStringList& skipped)
        : m_topParent(QFileInfo(top).absolutePath()), m_pacer(pacer), m_skipped(skipped)
    {
        m_collator.setNumericMode(true);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    std::vector<TScanned> Run(const QString& top, const QString& name, const QStringList& ownNoteNames)
    {
        std::vector<TScanned> found;
        found.emplace_back(-1, name);
        std::vector<std::pair<int, QString>> folders{{0, top}};
        std::vector<QStringList> ownNotes{ownNoteNames};
        for (size_t next = 0; next < folders.size(); ++next) {
            const auto [index, path] = folders[next];
            const QFileInfoList entries = Sorted(path);
            const QString ownNote = OwnNote(entries, ownNotes[next]);
            for (const QFileInfo& entry : entries) {
                m_pacer.Step(0, 0);
                if (entry.fileName() == ownNote) {
                    found[size_t(index)].NotePath = entry.filePath();
                    continue;
                }
                const QString reason = Unusable(entry);
                if (!reason.isEmpty()) {
                    Skip(entry.filePath(), reason);
                } else if (entry.isDir()) {
                    found.emplace_back(index, entry.fileName());
                    folders.emplace_back(int(found.size() - 1), entry.filePath());
                    ownNotes.push_back({entry.fileName() + ".md", entry.fileName() + ".txt"});
                } else if (IsTextFile(entry)) {
                    found.emplace_back(index, entry.completeBaseName(), entry.filePath(), true);
                }
            }
        }
        return found;
    }

    void Skip(const QString& path, const QString& reason)
    {
        m_skipped
            << QString("%1（%2）").arg(QDir::toNativeSeparators(QDir(m_topParent).relativeFilePath(path)), reason);
    }

private:
    QFileInfoList Sorted(const QString& path) const
    {
        QFileInfoList entries =
            QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        std::sort(entries.begin(), entries.end(), [&](const QFileInfo& a, const QFileInfo& b) {
            return m_collator.compare(a.fileName(), b.fileName()) < 0;
        });
        return entries;
    }

    static QString OwnNote(const QFileInfoList& entries, const QStringList& names)
    {
        for (const QFileInfo& entry : entries)
            if (names.contains(entry.fileName()) && entry.isFile() && !entry.isSymLink())
                return entry.fileName();
        return QString();
    }

    // Why an entry is passed by; empty for a folder or text file to read.
    static QString Unusable(const QFileInfo& entry)
    {
        if (entry.isSymLink())
            return "符号链接";
        if (entry.isHidden())
            return "隐藏";
        if (!entry.isDir() && !entry.isFile())
            return "不是普通文件";
        if (!entry.isDir() && !IsTextFile(entry))
            return QString(); // a picture, say: passed by without a word
        if (QFile::encodeName(entry.absoluteFilePath()).size() > kLongestPath)
            return "路径太长";
        if (entry.isDir() && !(entry.isReadable() && entry.isExecutable()))
            return "无法读取";
        if (entry.isFile() && entry.size() > MaxNoteBytes)
            return QString("超过 %1").arg(SizeText(MaxNoteBytes));
        return QString();
    }

    QString m_topParent;
    TProgressPacer& m_pacer;
    QStringList& m_skipped;
    QCollator m_collator;
};

// Reads the texts of what was found. A file that cannot be read is passed
// by and reported; one that is no UTF-8 text stops the import.
void ReadNotes(std::vector<TScanned>& found, TFolderScan& scan, TProgressPacer& pacer)
{
    for (size_t i = 0; i < found.size(); ++i) {
        pacer.Step(qint64(i), qint64(found.size()));
        TScanned& entry = found[i];
        if (entry.NotePath.isEmpty())
            continue;
        QByteArray bytes;
        const QString failure = ReadFileBytes(entry.NotePath, MaxNoteBytes, bytes);
        if (!failure.isEmpty()) {
            scan.Skip(entry.NotePath, failure);
            entry.Dropped = entry.IsFile; // a folder keeps its group without its note
            continue;
        }
        entry.Note = DecodeUtf8(bytes, entry.NotePath);
        entry.HasNote = true;
    }
}

// Writes what was found, in one transaction with the caller's.
class TNoteImport
{
public:
    TNoteImport(const TGroupTable& groups, TNote& note, TProgressPacer& pacer)
        : m_names(groups), m_note(note), m_pacer(pacer)
    {
    }

    // Every entry after the first under the group made for it; the first
    // (the imported folder) is the given group when `into`, else a new group
    // under it.
    void Add(const std::vector<TScanned>& found, int parent, bool into)
    {
        std::vector<int> groupOf(found.size(), parent);
        for (size_t i = into ? 1 : 0; i < found.size(); ++i) {
            m_pacer.Step(qint64(i), qint64(found.size()));
            const TScanned& entry = found[i];
            if (entry.Dropped)
                continue;
            const int group =
                m_names.Add(entry.Parent < 0 ? parent : groupOf[size_t(entry.Parent)], entry.Name, Report);
            groupOf[i] = group;
            ++Report.Groups;
            if (entry.HasNote)
                StoreNote(group, entry.Note, false);
        }
    }

    // A new group with its note under a parent.
    void AddOne(int parent, const QString& name, const QString& text)
    {
        const int group = m_names.Add(parent, name, Report);
        ++Report.Groups;
        StoreNote(group, text, false);
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

    TImportReport Report;

private:
    TImportGroups m_names;
    TNote& m_note;
    TProgressPacer& m_pacer;
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
    TExportCount count = top == 0
                             ? WriteTree(groups, notes, build, {0, QString(), kRootCaption, true})
                             : WriteTree(groups, notes, build, {top, QString(), QFileInfo(target).fileName(), false});
    count.Groups += top == 0 ? 0 : 1;
    build.Finish();
    return count;
}

TExportCount ExportNotesMarkdown(const TGroupTable& groups, int top, const QString& file)
{
    RefuseOwnFile(file); // before the notes are read
    const QHash<int, QString> notes = ReadAllNotes();
    QString out;
    TExportCount count;
    WriteMarkdown(groups, notes, top, out, count);
    WriteFileSafely(file, out.toUtf8());
    return count;
}

TImportReport ImportNotesFolder(TGroupTable& groups, TNote& note, int parent, const QString& folder,
                                const TProgress& progress)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        RaiseError(QString("找不到文件夹 %1").arg(QDir::toNativeSeparators(folder)));
    const QString top = info.absoluteFilePath();
    const bool wholeTree = QFileInfo(top + '/' + kRootCaption + ".md").isFile();
    const QStringList ownNote =
        wholeTree ? QStringList{kRootCaption + ".md"} : QStringList{info.fileName() + ".md", info.fileName() + ".txt"};
    TProgressPacer pacer(progress);
    QStringList skipped;
    TFolderScan scan(top, pacer, skipped);
    pacer.Stage(100);
    std::vector<TScanned> found = scan.Run(top, info.fileName(), ownNote);
    pacer.EndStage();
    pacer.Stage(400);
    ReadNotes(found, scan, pacer);
    pacer.EndStage();
    pacer.Stage(500);
    std::optional<TNoteImport> import;
    try {
        DbAccess->Batch([&] {
            import.emplace(groups, note, pacer);
            const TScanned& root = found.front();
            // A whole tree's root note: into the group when it has none, else kept beside.
            if (wholeTree && root.HasNote && !root.Note.isEmpty() && !import->StoreNote(parent, root.Note, true))
                import->AddOne(parent, kRootCaption, root.Note);
            import->Add(found, parent, wholeTree);
            // A cancel up to the last moment still changes nothing.
            pacer.EndStage();
        });
    } catch (...) {
        // The groups added are gone with the transaction.
        groups.Load();
        throw;
    }
    groups.Load();
    import->Report.Skipped = skipped;
    return import->Report;
}
