#include "exchange/Transfer.h"

#include "data/Formats.h"
#include "data/MD.h"
#include "data/OwnFiles.h"
#include "data/UntPublic.h"
#include "groups/GroupTableStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sqlite3.h>
#include <system_error>

namespace {
// Longest file or folder name written, in characters: Chinese takes three
// bytes each in UTF-8, and most file systems stop at 255 bytes.
constexpr int kMostNameChars = 80;

// Names listed in a closing message; the rest are counted.
constexpr int kListed = 20;

QString CannotWrite(const QString& path, const QString& reason)
{
    return QString("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), reason);
}

QString CannotRead(const QString& path, const QString& reason)
{
    return QString("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), reason);
}

void AppendList(QString& text, const QString& heading, const QStringList& items)
{
    if (items.isEmpty())
        return;
    text += "\n" + heading.arg(items.size());
    for (int i = 0; i < items.size() && i < kListed; ++i)
        text += "\n" + items[i];
    if (items.size() > kListed)
        text += QString("\n……等 %1 个").arg(items.size());
}

// The bytes as text when the decoder takes every one of them. A NUL byte is
// refused too: no text file holds one, and UTF-16 text is full of them.
std::optional<QString> DecodeCleanly(QStringDecoder&& decoder, const QByteArray& bytes)
{
    if (!decoder.isValid() || bytes.contains('\0'))
        return std::nullopt;
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString TrimmedEnd(QString name)
{
    while (!name.isEmpty() && (name.back() == u'.' || name.back().isSpace()))
        name.chop(1);
    return name;
}
} // namespace

QString TImportReport::Text(const QString& items) const
{
    QString text = QString("已导入 %1 个分组、%2 %3。").arg(Groups).arg(Items).arg(items);
    if (Merged > 0)
        text += QString("\n%1 个文件夹并入了已有的同名分组，只添加其中新的网址。").arg(Merged);
    AppendList(text, "%1 个分组的名称已经存在，已改名：", Renamed);
    if (Duplicates > 0)
        text += QString("\n跳过了 %1 个同一分组中已有的网址。").arg(Duplicates);
    if (WithoutAddress > 0)
        text += QString("\n跳过了 %1 个没有网址的链接。").arg(WithoutAddress);
    AppendList(text, "跳过了 %1 个文件或文件夹：", Skipped);
    AppendList(text, "%1 个文件不是 UTF-8 编码，已按 GB18030（中文 Windows 的编码）读入：", Converted);
    return text;
}

TProgressPacer::TProgressPacer(const TProgress& progress) : m_progress(progress)
{
    Report(0);
}

void TProgressPacer::Stage(qint64 share)
{
    m_from += m_share;
    m_share = share;
}

void TProgressPacer::Step(qint64 done, qint64 total)
{
    if (m_since.elapsed() < PacePeriodMs)
        return;
    Report(m_from + (total > 0 ? m_share * std::min(done, total) / total : 0));
}

void TProgressPacer::EndStage()
{
    Report(m_from + m_share);
}

void TProgressPacer::Report(qint64 value)
{
    m_since.start();
    if (m_progress && !m_progress(value, Whole))
        throw ECancelled();
}

TImportGroups::TImportGroups(const TGroupTable& groups) : m_nextSelf(groups.NextSelfIndex())
{
    for (int group : groups.Branch(0))
        m_taken.insert(groups.Name(group));
    const QString sql =
        QString("INSERT INTO %1(SelfIndex,ParentIndex,TypeName) VALUES (?1,?2,?3)").arg(groups.TableName());
    try {
        m_insert = PrepareNative(DbAccess->Handle(), sql);
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, kQueryErrorText, sql);
    }
}

QString TImportGroups::Name(const QString& wanted, TImportReport& report)
{
    QString base = OneLineName(wanted);
    if (TrimBlanks(base).isEmpty())
        base = "未命名";
    QString name = base;
    if (m_taken.contains(name)) {
        int& number = m_nextNumber[base];
        number = std::max(number, 2);
        do
            name = QString("%1 (%2)").arg(base).arg(number++);
        while (m_taken.contains(name));
    }
    m_taken.insert(name);
    if (name != wanted)
        report.Renamed << QString("%1 → %2").arg(wanted, name);
    return name;
}

int TImportGroups::Add(int parent, const QString& wanted, TImportReport& report)
{
    const QByteArray name = Name(wanted, report).toUtf8();
    const int self = m_nextSelf++;
    sqlite3_stmt* stmt = m_insert.get();
    sqlite3_bind_int(stmt, 1, self);
    sqlite3_bind_int(stmt, 2, parent);
    sqlite3_bind_text(stmt, 3, name.constData(), int(name.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE)
        throw EDBException(QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt))), "数据库操作失败！",
                           QString::fromUtf8(sqlite3_sql(stmt)));
    return self;
}

QString ReadFileBytes(const QString& path, qint64 most, QByteArray& bytes)
{
    qint64 size = 0;
    QString reason;
    switch (ReadPlainFile(path, most, bytes, size, reason)) {
    case TPlainRead::Read:
        return QString();
    case TPlainRead::NotPlain:
        return "这不是普通文件";
    case TPlainRead::TooLarge:
        return QString("文件太大（%1，最多 %2）").arg(SizeText(size), SizeText(most));
    case TPlainRead::Failed:
        break;
    }
    return reason;
}

QByteArray ReadWholeFile(const QString& path, qint64 most)
{
    QByteArray bytes;
    const QString failure = ReadFileBytes(path, most, bytes);
    if (!failure.isEmpty())
        RaiseError(CannotRead(path, failure));
    return bytes;
}

QString DecodeUtf8(const QByteArray& bytes, const QString& path)
{
    // Stateless: a sequence cut off at the end is an error, not held back for more bytes.
    std::optional<QString> text =
        DecodeCleanly(QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless), bytes);
    if (!text)
        RaiseError(QString("文件不是 UTF-8 编码的文本：%1").arg(QDir::toNativeSeparators(path)));
    return *text;
}

QString DecodeChineseText(const QByteArray& bytes, const QString& path, bool& converted)
{
    const auto stateless = QStringConverter::Flag::Stateless;
    converted = false;
    if (std::optional<QString> text = DecodeCleanly(QStringDecoder(QStringConverter::Utf8, stateless), bytes))
        return *text;
    // Qt reaches GB18030 through ICU; a Qt built without it refuses such a
    // file as it refuses any that is not UTF-8.
    std::optional<QString> text = DecodeCleanly(QStringDecoder("GB18030", stateless), bytes);
    if (!text)
        RaiseError(QString("文件既不是 UTF-8 也不是 GB18030 编码的文本：%1").arg(QDir::toNativeSeparators(path)));
    if (text->startsWith(QChar::ByteOrderMark))
        text->remove(0, 1);
    converted = true;
    return *text;
}

void WriteFileSafely(const QString& path, const QByteArray& bytes)
{
    TCheckedWrite file(path);
    file.Write(bytes);
    file.Commit();
}

void TFolderBuild::MakeFolder(const QString& relative)
{
    const QString path = Path() + '/' + relative;
    std::error_code error;
    if (std::filesystem::create_directory(QFileInfo(path).filesystemFilePath(), error))
        return;
    QString reason = error ? QString::fromLocal8Bit(error.message()) : QString("已有同名的文件或文件夹");
    if (error == std::errc::filename_too_long)
        reason += "（分组的层次太深，文件夹放不下；可以改为导出成一个 Markdown 文件）";
    RaiseError(CannotWrite(path, reason));
}

void TFolderBuild::WriteFile(const QString& relative, const QByteArray& bytes)
{
    QFile file(Path() + '/' + relative);
    errno = 0;
    const bool written =
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size() && file.flush();
    const int error = errno;
    if (!written)
        RaiseError(CannotWrite(file.fileName(), FileErrorText(file, error)));
}

QString SafeFileName(const QString& name)
{
    QString safe;
    safe.reserve(name.size());
    for (const QChar c : name) {
        // Each of these has a full-width form 0xFEE0 above it.
        if (QStringView(u"/\\:*?\"<>|").contains(c))
            safe += QChar(c.unicode() + 0xFEE0);
        else
            safe += c.unicode() < 32 || c.unicode() == 127 ? QChar(u'_') : c;
    }
    if (safe.size() > kMostNameChars)
        safe.truncate(safe.at(kMostNameChars - 1).isHighSurrogate() ? kMostNameChars - 1 : kMostNameChars);
    safe = TrimmedEnd(safe);
    if (TrimBlanks(safe).isEmpty())
        return "_";
    // A leading dot hides a file on Unix (and an import passes hidden files by).
    if (safe.startsWith(u'.'))
        safe[0] = QChar(0xFF0E);
    static const QStringList reserved{"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                      "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                      "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    const qsizetype dot = safe.indexOf(u'.');
    if (reserved.contains(TrimmedEnd(safe.left(dot)), Qt::CaseInsensitive))
        safe.insert(dot < 0 ? safe.size() : dot, u'_');
    return safe;
}

QString WithLfBreaks(const QString& text)
{
    QString result = text;
    result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    result.replace(u'\r', u'\n');
    return result;
}

QString WithCrLfBreaks(const QString& text)
{
    return WithLfBreaks(text).replace(QLatin1String("\n"), QLatin1String("\r\n"));
}
