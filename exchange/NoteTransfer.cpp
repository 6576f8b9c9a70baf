#include "exchange/NoteTransfer.h"

#include "data/Formats.h"
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

// Beside the root's own note in a whole tree's folder, so that an import
// can tell the tree from a group's branch also when that note is empty and
// left out. Hidden: a reader of the folder has no use for it.
const QString kWholeTreeMark = QStringLiteral(".jotterel-notes");
const QByteArray kWholeTreeMarkText = "Jotterel 记事：整棵分组树。导入这个文件夹时，其中的分组放在所选的分组下。\n";

// The names given in one folder, compared as file systems that ignore letter
// case do. Beyond being distinct, no note file may stand beside a folder of
// its name (an import reads such a file as that folder's note), except the
// folder's own note beside a subfolder named like the folder.
class TFolderNames
{
public:
    explicit TFolderNames(const QString& ownNote) : m_ownNote(ownNote.toCaseFolded()) { m_files.insert(m_ownNote); }

    // The name for a subgroup's folder, or for its file without the ".md".
    QString Claim(const QString& wanted, bool folder)
    {
        const QString name =
            FreeName(wanted, [&](const QString& candidate) { return Taken(candidate.toCaseFolded(), folder); });
        (folder ? m_folders : m_files).insert(name.toCaseFolded() + (folder ? "" : ".md"));
        return name;
    }

private:
    bool Taken(const QString& name, bool folder) const
    {
        const QString file = name + ".md";
        if (folder)
            return m_files.contains(name) || m_folders.contains(name) || (m_files.contains(file) && file != m_ownNote);
        return m_files.contains(file) || m_folders.contains(file) || m_folders.contains(name);
    }

    QString m_ownNote;
    QSet<QString> m_files;
    QSet<QString> m_folders;
};

// One group's folder still to write: where, and the name of its own note.
struct TFolderToWrite
{
    int Group = 0;
    QString Relative; // empty: the built folder itself
    QString NoteName;
};

// Writes the folders one after another from a list of those still to come,
// so that no depth of the tree can exhaust the stack. A group with subgroups
// is a folder holding its note (when it has one) under the folder's name; a
// group without is one file in its parent's folder, also when its note is
// empty, since the file is all there is of it. A group named like its
// parent's own note is a folder too, where its file would be taken for that note.
TExportCount WriteTree(const TGroupTable& groups, const QHash<int, QString>& notes, TFolderBuild& build,
                       TFolderToWrite top)
{
    TExportCount count;
    const auto writeNote = [&](const QString& path, const QString& text) {
        build.WriteFile(path, WithLfBreaks(text).toUtf8());
        count.Notes += text.isEmpty() ? 0 : 1;
    };
    std::vector<TFolderToWrite> pending{std::move(top)};
    while (!pending.empty()) {
        const TFolderToWrite folder = std::move(pending.back());
        pending.pop_back();
        const QString prefix = folder.Relative.isEmpty() ? QString() : folder.Relative + '/';
        const QString ownNote = folder.NoteName + ".md";
        TFolderNames names(ownNote);
        if (!notes.value(folder.Group).isEmpty())
            writeNote(prefix + ownNote, notes.value(folder.Group));
        const QList<int> children = groups.Children(folder.Group);
        const size_t first = pending.size();
        for (int child : children) {
            ++count.Groups;
            const QString safe = SafeFileName(groups.Name(child));
            const bool asFolder = groups.HasChildren(child) || (safe + ".md").toCaseFolded() == ownNote.toCaseFolded();
            const QString name = names.Claim(safe, asFolder);
            if (asFolder) {
                build.MakeFolder(prefix + name);
                pending.push_back({child, prefix + name, name});
            } else {
                writeNote(prefix + name + ".md", notes.value(child));
            }
        }
        // Taken from the back: the first child is written first.
        std::reverse(pending.begin() + qsizetype(first), pending.end());
    }
    return count;
}

// Where a line of Markdown opens or closes a fenced code block: the run of
// three or more backticks or tildes after at most three blanks.
QStringView FenceOf(QStringView line)
{
    if (line.size() < 3 || (line[0] != u'`' && line[0] != u'~'))
        return {};
    qsizetype run = 1;
    while (run < line.size() && line[run] == line[0])
        ++run;
    return run >= 3 ? line.left(run) : QStringView();
}

// A note's text for the one-file export, its own headings moved below its
// group's level (depth 1: the exported group's) so that the file's outline
// stays whole. Headings are "#" to "######" after at most three blanks and
// before a blank or the line's end, so that "#tag" stays as typed; lines of
// fenced code stay as they are. A heading moved past the sixth level, the
// deepest Markdown has, stays at the sixth.
QString WithHeadingsBelow(const QString& text, int depth)
{
    if (!text.contains(u'#'))
        return text;
    QStringList lines = text.split(u'\n');
    QString fence; // the open block's fence, empty outside one
    for (QString& line : lines) {
        qsizetype indent = 0;
        while (indent < line.size() && line[indent] == u' ')
            ++indent;
        if (indent > 3)
            continue;
        const QStringView rest = QStringView(line).mid(indent);
        const QStringView run = FenceOf(rest);
        if (!fence.isEmpty()) {
            // Only a fence of the same character, as long or longer, and nothing after it closes the block.
            if (!run.isEmpty() && run[0] == fence[0] && run.size() >= fence.size() &&
                rest.mid(run.size()).trimmed().isEmpty())
                fence.clear();
            continue;
        }
        if (!run.isEmpty()) {
            fence = run.toString();
            continue;
        }
        qsizetype level = 0;
        while (level < rest.size() && rest[level] == u'#')
            ++level;
        if (level == 0 || level > kDeepestHeading ||
            (level < rest.size() && rest[level] != u' ' && rest[level] != u'\t'))
            continue;
        line = line.left(indent) + QString(std::min<qsizetype>(level + depth, kDeepestHeading), u'#') +
               line.mid(indent + level);
    }
    return lines.join(u'\n');
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
        const QString text = WithHeadingsBelow(WithLfBreaks(notes.value(group)), depth + 1);
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
            const QHash<QString, qsizetype> files = PlainFiles(entries);
            const QString ownNote = FirstOf(files, ownNotes[next]);
            const QHash<QString, QString> beside = NotesBeside(entries, files, ownNote);
            const QList<QString> besidePaths = beside.values();
            const QSet<QString> besideFiles(besidePaths.begin(), besidePaths.end());
            for (const QFileInfo& entry : entries) {
                m_pacer.Step(0, 0);
                if (entry.fileName() == ownNote) {
                    found[size_t(index)].NotePath = entry.filePath();
                    continue;
                }
                if (next == 0 && entry.fileName() == kWholeTreeMark)
                    continue;
                const QString reason = Unusable(entry);
                if (!reason.isEmpty()) {
                    Skip(entry.filePath(), reason);
                } else if (entry.isDir()) {
                    found.emplace_back(index, entry.fileName(), beside.value(entry.fileName()));
                    folders.emplace_back(int(found.size() - 1), entry.filePath());
                    ownNotes.push_back(OwnNoteNames(entry.fileName()));
                } else if (IsTextFile(entry) && !besideFiles.contains(entry.filePath())) {
                    found.emplace_back(index, entry.completeBaseName(), entry.filePath(), true);
                }
            }
        }
        return found;
    }

    // "收件/旧.txt": a path for the report, from the imported folder's parent.
    QString Relative(const QString& path) const
    {
        return QDir::toNativeSeparators(QDir(m_topParent).relativeFilePath(path));
    }

    void Skip(const QString& path, const QString& reason)
    {
        m_skipped << QString("%1（%2）").arg(Relative(path), reason);
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

    static QStringList OwnNoteNames(const QString& folder) { return {folder + ".md", folder + ".txt"}; }

    // The plain files of a folder by name, as positions in its entries.
    static QHash<QString, qsizetype> PlainFiles(const QFileInfoList& entries)
    {
        QHash<QString, qsizetype> files;
        for (qsizetype i = 0; i < entries.size(); ++i)
            if (entries[i].isFile() && !entries[i].isSymLink())
                files.insert(entries[i].fileName(), i);
        return files;
    }

    static QString FirstOf(const QHash<QString, qsizetype>& files, const QStringList& names)
    {
        for (const QString& name : names)
            if (files.contains(name))
                return name;
        return QString();
    }

    // The note files beside subfolders of their name ("X.md" beside "X/"),
    // by the subfolder's name: such a file is the subfolder's note, as pages
    // and their subpages are often laid out, unless the subfolder holds its
    // own note, which then wins and leaves the file a group of its own.
    static QHash<QString, QString> NotesBeside(const QFileInfoList& entries, const QHash<QString, qsizetype>& files,
                                               const QString& ownNote)
    {
        QHash<QString, QString> beside;
        for (const QFileInfo& entry : entries) {
            if (!entry.isDir() || !Unusable(entry).isEmpty())
                continue;
            const QStringList names = OwnNoteNames(entry.fileName());
            const QString file = FirstOf(files, names);
            if (file.isEmpty() || file == ownNote || !Unusable(entries[files.value(file)]).isEmpty())
                continue;
            const bool noteInside = std::any_of(names.begin(), names.end(), [&](const QString& name) {
                const QFileInfo inside(entry.filePath() + '/' + name);
                return inside.isFile() && !inside.isSymLink();
            });
            if (!noteInside)
                beside.insert(entry.fileName(), entries[files.value(file)].filePath());
        }
        return beside;
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
// by and reported; one read as GB18030 is named in `converted`; one that is
// neither UTF-8 nor GB18030 text stops the import.
void ReadNotes(std::vector<TScanned>& found, TFolderScan& scan, TProgressPacer& pacer, QStringList& converted)
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
        bool fromGb18030 = false;
        entry.Note = DecodeChineseText(bytes, entry.NotePath, fromGb18030);
        entry.HasNote = true;
        if (fromGb18030)
            converted << scan.Relative(entry.NotePath);
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
    if (top == 0)
        build.WriteFile(kWholeTreeMark, kWholeTreeMarkText);
    TExportCount count =
        WriteTree(groups, notes, build, {top, QString(), top == 0 ? kRootCaption : QFileInfo(target).fileName()});
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
    const bool wholeTree =
        QFileInfo(top + '/' + kRootCaption + ".md").isFile() || QFileInfo(top + '/' + kWholeTreeMark).isFile();
    const QStringList ownNote =
        wholeTree ? QStringList{kRootCaption + ".md"} : QStringList{info.fileName() + ".md", info.fileName() + ".txt"};
    TProgressPacer pacer(progress);
    QStringList skipped;
    QStringList converted;
    TFolderScan scan(top, pacer, skipped);
    pacer.Stage(100);
    std::vector<TScanned> found = scan.Run(top, info.fileName(), ownNote);
    pacer.EndStage();
    pacer.Stage(400);
    ReadNotes(found, scan, pacer, converted);
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
    import->Report.Converted = converted;
    return import->Report;
}
