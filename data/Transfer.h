#pragma once

#include "data/UException.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class TGroupTable;

// What import and export share: the progress report, the closing report,
// file reading and the safe writing of files and folders.

// Called now and then while an import writes: how much is done of the
// whole. Returning false cancels the import, which then changes nothing.
using TProgress = std::function<bool(qint64 done, qint64 total)>;

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
    int WithoutAddress = 0; // links without an address, skipped
    // "已导入 3 个分组、12 条记事。..." with the item's word ("条记事", "个网址").
    QString Text(const QString& items) const;
};

// A group name for an import: the name as one line, or "未命名" for a blank
// one, with " (2)", " (3)", ... appended while the tree already has it. A
// changed name is added to the report.
QString ImportedGroupName(const TGroupTable& groups, const QString& wanted, TImportReport& report);

// The file's text: UTF-8 (a byte order mark is dropped), else an error
// naming the file.
QString ReadUtf8File(const QString& path);
// The bytes as UTF-8 text; throws the error for the file named when they are not.
QString DecodeUtf8(const QByteArray& bytes, const QString& path);

// Writes a file under a temporary name and renames it into place, so a
// failed write leaves no half file and the old file whole.
void WriteFileSafely(const QString& path, const QByteArray& bytes);

// A folder tree is built in a temporary folder beside the target and renamed
// into place at the end. The target must not exist or be an empty folder.
class TFolderBuild
{
public:
    explicit TFolderBuild(const QString& target);
    ~TFolderBuild(); // removes the temporary folder unless finished
    TFolderBuild(const TFolderBuild&) = delete;
    TFolderBuild& operator=(const TFolderBuild&) = delete;
    // The folder to build in.
    QString Path() const { return m_temporary; }
    void MakeFolder(const QString& relative);
    void WriteFile(const QString& relative, const QByteArray& bytes);
    void Finish();

private:
    QString m_target;
    QString m_temporary;
    bool m_done = false;
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
