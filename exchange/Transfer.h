#pragma once

#include "data/OwnFiles.h"
#include "data/SqliteDb.h"
#include "data/UException.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class QFileDevice;
class TGroupTable;

// What import and export share: the progress report, the closing report,
// file reading and the safe writing of files and folders.

// Called now and then while an import reads and writes: how much is done of
// the whole (a total of 0 while that is not known yet). Returning false
// cancels the import, which then changes nothing.
using TProgress = std::function<bool(qint64 done, qint64 total)>;

// Hands an import's progress on often enough for a window to stay alive
// (its box redrawn, its 取消 heard) and seldom enough to cost nothing: at the
// start, then at most every PacePeriodMs, and at the end of each stage. An
// import goes through stages (reading, writing), each a share of the whole.
class TProgressPacer
{
public:
    static constexpr qint64 PacePeriodMs = 100;
    static constexpr qint64 Whole = 1000;

    explicit TProgressPacer(const TProgress& progress);
    // The next stage takes the share (of Whole) after those before it.
    void Stage(qint64 share);
    // How far the current stage is (done of total; total 0: not known). Throws
    // ECancelled when the progress says so.
    void Step(qint64 done, qint64 total);
    // The current stage complete, reported whatever the time.
    void EndStage();

private:
    void Report(qint64 value);

    const TProgress& m_progress;
    QElapsedTimer m_since;
    qint64 m_from = 0;
    qint64 m_share = 0;
};

// An import cancelled by the user: nothing was imported.
class ECancelled : public EError
{
public:
    ECancelled() : EError("导入已取消，没有导入任何内容。") {}
};

// What an import added, for the closing message.
struct TImportReport
{
    int Groups = 0;
    int Items = 0;          // notes or bookmarks
    QStringList Renamed;    // "旧名 → 新名", for names that were taken
    int Duplicates = 0;     // bookmarks already in the same group, skipped
    int Merged = 0;         // folders that went into a group already there
    int WithoutAddress = 0; // links without an address, skipped
    QStringList Skipped;    // "路径（原因）", for files passed by
    QStringList Converted;  // the paths of files read as GB18030
    // "已导入 3 个分组、12 条记事。..." with the item's word ("条记事", "个网址").
    QString Text(const QString& items) const;
};

// The groups an import adds, written to the group table straight away (in
// the import's transaction; the owner reads the table again afterwards).
// Each gets the name wanted as one line, or "未命名" for a blank one, with
// " (2)", " (3)", ... appended while the tree or the import has it already;
// a changed name is added to the report. Names are looked up by hash and
// each base name keeps the number it reached, so thousands of folders of one
// name, or nested thousands deep, cost no more than as many different ones.
class TImportGroups
{
public:
    explicit TImportGroups(const TGroupTable& groups);
    // Adds the group under a parent (0: the root); returns its SelfIndex.
    int Add(int parent, const QString& wanted, TImportReport& report);

private:
    // The name a group wanted gets, taken from now on.
    QString Name(const QString& wanted, TImportReport& report);

    QSet<QString> m_taken;
    QHash<QString, int> m_nextNumber;
    int m_nextSelf;
    TStmtHandle m_insert;
};

// Reads a plain file's bytes into `bytes`, refusing before a byte is read a
// file of more than `most`. Returns why it failed (the system's reason, or
// that the file is too large or not a plain file), empty on success.
QString ReadFileBytes(const QString& path, qint64 most, QByteArray& bytes);
// The same, throwing an error that names the file.
QByteArray ReadWholeFile(const QString& path, qint64 most);
// The bytes as UTF-8 text; throws the error for the file named when they are not.
QString DecodeUtf8(const QByteArray& bytes, const QString& path);
// The bytes of a text file as UTF-8 (a byte order mark dropped), else as
// GB18030 (the Chinese Windows encoding, a superset of GBK) when every byte
// decodes as such; `converted` says which. Throws the error for the file
// named when they are neither.
QString DecodeChineseText(const QByteArray& bytes, const QString& path, bool& converted);

// Writes a file under a temporary name and renames it into place, so a
// failed write leaves no half file and the old file whole. Refuses the
// program's own files, by whatever path, and anything that is not a plain
// file (a device or a pipe would be replaced by the rename): see
// TCheckedWrite.
void WriteFileSafely(const QString& path, const QByteArray& bytes);

// A folder tree built in a temporary folder beside the target and renamed
// into place at the end (see TCheckedFolderWrite), made folder by folder and
// file by file.
class TFolderBuild : public TCheckedFolderWrite
{
public:
    using TCheckedFolderWrite::TCheckedFolderWrite;
    void MakeFolder(const QString& relative);
    void WriteFile(const QString& relative, const QByteArray& bytes);
};

// A name that every common file system takes: the characters / \ : * ? " < > |
// become their full-width forms, control characters "_", trailing dots and
// blanks go, names the system reserves (CON, NUL, COM1 ...) get "_", and a
// long name is shortened.
QString SafeFileName(const QString& name);
// LF line breaks: CR LF and lone CR become LF.
QString WithLfBreaks(const QString& text);
// The program's CR LF line breaks.
QString WithCrLfBreaks(const QString& text);
