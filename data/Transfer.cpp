#include "data/Transfer.h"

#include "data/UntPublic.h"
#include "groups/GroupTableStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>

namespace {
// Longest file or folder name written, in characters: Chinese takes three
// bytes each in UTF-8, and most file systems stop at 255 bytes.
constexpr int kMostNameChars = 80;

QString CannotWrite(const QString& path, const QString& reason)
{
    return QString("无法写入 %1：%2").arg(QDir::toNativeSeparators(path), reason);
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
    if (!Renamed.isEmpty()) {
        constexpr int kListed = 20;
        text += QString("\n%1 个分组的名称已经存在，已改名：").arg(Renamed.size());
        for (int i = 0; i < Renamed.size() && i < kListed; ++i)
            text += "\n" + Renamed[i];
        if (Renamed.size() > kListed)
            text += QString("\n……等 %1 个").arg(Renamed.size());
    }
    if (Duplicates > 0)
        text += QString("\n跳过了 %1 个同一分组中已有的网址。").arg(Duplicates);
    if (WithoutAddress > 0)
        text += QString("\n跳过了 %1 个没有网址的链接。").arg(WithoutAddress);
    return text;
}

QString ImportedGroupName(const TGroupTable& groups, const QString& wanted, TImportReport& report)
{
    QString base = OneLineName(wanted);
    if (TrimBlanks(base).isEmpty())
        base = "未命名";
    QString name = base;
    for (int n = 2; groups.NameExists(name); ++n)
        name = QString("%1 (%2)").arg(base).arg(n);
    if (name != wanted)
        report.Renamed << QString("%1 → %2").arg(wanted, name);
    return name;
}

QString DecodeUtf8(const QByteArray& bytes, const QString& path)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError() || bytes.contains('\0'))
        RaiseError(QString("文件不是 UTF-8 编码的文本：%1").arg(QDir::toNativeSeparators(path)));
    return text;
}

QString ReadUtf8File(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        RaiseError(QString("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        RaiseError(QString("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return DecodeUtf8(bytes, path);
}

void WriteFileSafely(const QString& path, const QByteArray& bytes)
{
    if (QFileInfo(path).isDir())
        RaiseError(CannotWrite(path, "这是一个文件夹"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        RaiseError(CannotWrite(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        RaiseError(CannotWrite(path, file.errorString()));
}

TFolderBuild::TFolderBuild(const QString& target) : m_target(QFileInfo(target).absoluteFilePath())
{
    const QFileInfo info(m_target);
    if (info.exists() && !info.isDir())
        RaiseError(CannotWrite(m_target, "已有同名的文件"));
    if (info.isDir() && !QDir(m_target).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        RaiseError(CannotWrite(m_target, "文件夹已存在且不是空的"));
    const QString parent = info.absolutePath();
    if (!QDir().mkpath(parent))
        RaiseError(CannotWrite(parent, "无法建立文件夹"));
    QTemporaryDir temporary(parent + "/." + info.fileName() + ".part-XXXXXX");
    if (!temporary.isValid())
        RaiseError(CannotWrite(parent, temporary.errorString()));
    temporary.setAutoRemove(false);
    m_temporary = temporary.path();
}

TFolderBuild::~TFolderBuild()
{
    if (!m_done)
        QDir(m_temporary).removeRecursively();
}

void TFolderBuild::MakeFolder(const QString& relative)
{
    if (!QDir().mkdir(m_temporary + '/' + relative))
        RaiseError(CannotWrite(m_temporary + '/' + relative, "无法建立文件夹"));
}

void TFolderBuild::WriteFile(const QString& relative, const QByteArray& bytes)
{
    QFile file(m_temporary + '/' + relative);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(bytes) == bytes.size())
        file.close(); // writes out what the buffer holds
    if (file.isOpen() || file.error() != QFileDevice::NoError)
        RaiseError(CannotWrite(file.fileName(), file.errorString()));
}

void TFolderBuild::Finish()
{
    // The temporary folder is made with the owner's rights only; the tree is
    // the user's, as a folder they made themselves would be.
    QFile::setPermissions(m_temporary, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
    // An empty folder in the way is replaced by the rename itself.
    if (std::rename(QFile::encodeName(m_temporary).constData(), QFile::encodeName(m_target).constData()) != 0)
        RaiseError(CannotWrite(m_target, qt_error_string(errno)));
    m_done = true;
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
