#include "skins/Skins.h"

#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <sqlite3.h>

namespace {
QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Walks a style sheet once, keeping the text since the last "{", "}" or
// ";" (comments and strings count as text, not as marks).
class TSheetWalk
{
public:
    explicit TSheetWalk(const QString& sheet) : m_sheet(sheet) {}

    std::optional<TSheetFault> Run()
    {
        for (m_at = 0; m_at < m_sheet.size(); ++m_at) {
            if (auto fault = Step())
                return fault;
        }
        if (m_inBlock)
            return TSheetFault{m_blockLine, "“{”没有对应的“}”"};
        if (!m_pending.trimmed().isEmpty())
            return TSheetFault{m_pendingLine, QString("“%1”后面缺少“{ … }”").arg(m_pending.trimmed())};
        return std::nullopt;
    }

private:
    std::optional<TSheetFault> Step()
    {
        const QChar c = m_sheet[m_at];
        const QChar next = m_at + 1 < m_sheet.size() ? m_sheet[m_at + 1] : QChar();
        if (c == '/' && next == '*')
            return SkipComment();
        if (c == '"' || c == '\'')
            return TakeString(c);
        if (c == '{')
            return OpenBlock();
        if (c == '}')
            return CloseBlock();
        if (c == ';' && m_inBlock)
            return EndDeclaration();
        Take(c);
        return std::nullopt;
    }

    void Take(QChar c)
    {
        if (!c.isSpace() && m_pending.trimmed().isEmpty())
            m_pendingLine = m_line;
        if (c == '\n')
            ++m_line;
        m_pending += c;
    }

    std::optional<TSheetFault> SkipComment()
    {
        const qsizetype end = m_sheet.indexOf("*/", m_at + 2);
        if (end < 0)
            return TSheetFault{m_line, "注释没有结束（缺少“*/”）"};
        m_line += int(QStringView(m_sheet).mid(m_at, end - m_at).count('\n'));
        m_at = end + 1;
        return std::nullopt;
    }

    std::optional<TSheetFault> TakeString(QChar quote)
    {
        const int line = m_line;
        Take(quote);
        for (++m_at; m_at < m_sheet.size(); ++m_at) {
            const QChar c = m_sheet[m_at];
            if (c == '\n')
                break;
            Take(c);
            if (c == '\\' && m_at + 1 < m_sheet.size() && m_sheet[m_at + 1] != '\n')
                Take(m_sheet[++m_at]);
            else if (c == quote)
                return std::nullopt;
        }
        return TSheetFault{line, "引号没有结束"};
    }

    std::optional<TSheetFault> OpenBlock()
    {
        if (m_inBlock)
            return TSheetFault{m_line, QString("“{”在第 %1 行开始的块里面（那里缺少“}”？）").arg(m_blockLine)};
        if (m_pending.trimmed().isEmpty())
            return TSheetFault{m_line, "“{”前面缺少选择器"};
        m_inBlock = true;
        m_blockLine = m_line;
        m_pending.clear();
        return std::nullopt;
    }

    std::optional<TSheetFault> CloseBlock()
    {
        if (!m_inBlock)
            return TSheetFault{m_line, "多余的“}”"};
        if (auto fault = EndDeclaration())
            return fault;
        m_inBlock = false;
        return std::nullopt;
    }

    // "property: value", or nothing (";;" and the ";" before "}").
    std::optional<TSheetFault> EndDeclaration()
    {
        const QString declaration = m_pending.trimmed();
        m_pending.clear();
        if (declaration.isEmpty())
            return std::nullopt;
        const qsizetype colon = declaration.indexOf(':');
        if (colon < 0)
            return TSheetFault{m_pendingLine, QString("“%1”缺少“:”").arg(declaration)};
        if (colon == 0)
            return TSheetFault{m_pendingLine, QString("“%1”缺少属性名").arg(declaration)};
        return std::nullopt;
    }

    const QString& m_sheet;
    qsizetype m_at = 0;
    int m_line = 1;
    bool m_inBlock = false;
    int m_blockLine = 0;
    QString m_pending;
    int m_pendingLine = 1;
};
// Where the pictures of the skins in use are copied: a folder of this
// user's alone (the runtime folder is private by definition), for the run.
const QTemporaryDir& PictureFolder()
{
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        return std::make_unique<QTemporaryDir>((runtime.isEmpty() ? QDir::tempPath() : runtime) +
                                               "/jotterel-skin-XXXXXX");
    }();
    return *folder;
}

// The bytes of a file of a skin (its sheet, a picture it names), or in
// `problem` why they are not taken. A picture must lie in the skin's folder.
TPlainRead ReadSkinFile(const QString& path, const QString& folder, qint64 most, QByteArray& bytes, QString& problem)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    problem = real.isEmpty()                                        ? QString("找不到这个文件")
              : !folder.isEmpty() && !real.startsWith(folder + '/') ? QString("不在皮肤所在的文件夹里")
                                                                    : QString();
    if (!problem.isEmpty())
        return TPlainRead::Failed;
    qint64 size = 0;
    const TPlainRead read = ReadPlainFile(real, most, bytes, size, problem);
    if (read == TPlainRead::NotPlain)
        problem = "不是普通文件";
    else if (read == TPlainRead::TooLarge)
        problem = QString("太大（超过 %1 KB）").arg(most / 1024);
    return read;
}

// The sheet with each picture it names replaced by a checked copy; raises
// naming the line of one that is refused.
QString WithCopiedPictures(const QString& sheet, const TSkin& skin)
{
    static const QRegularExpression url(R"(url\(\s*(["']?)([^"')]*)\1\s*\))",
                                        QRegularExpression::CaseInsensitiveOption);
    const QString folder = QFileInfo(QFileInfo(skin.Path).absolutePath()).canonicalFilePath();
    QString result;
    qsizetype done = 0;
    int copied = 0;
    for (auto found = url.globalMatch(sheet); found.hasNext();) {
        const QRegularExpressionMatch match = found.next();
        const QString named = match.captured(2).trimmed();
        if (named.startsWith(":/"))
            continue;
        QByteArray bytes;
        QString problem;
        const QString path = QDir(folder).absoluteFilePath(named);
        QString copy;
        if (ReadSkinFile(path, folder, kMaxSkinPictureBytes, bytes, problem) == TPlainRead::Read) {
            copy = PictureFolder().filePath(QString("%1-%2").arg(++copied).arg(QFileInfo(path).fileName()));
            QFile out(copy);
            if (!PictureFolder().isValid() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
                RaiseError(QString("无法使用皮肤文件 %1 的图片：%2。").arg(Native(skin.Path), out.errorString()));
        } else {
            const int line = int(QStringView(sheet).left(match.capturedStart()).count('\n')) + 1;
            RaiseError(QString("皮肤文件 %1 第 %2 行的图片“%3”%4，只能用皮肤文件夹里的普通文件。")
                           .arg(Native(skin.Path))
                           .arg(line)
                           .arg(named, problem));
        }
        result += sheet.mid(done, match.capturedStart() - done) + "url(\"" + copy + "\")";
        done = match.capturedEnd();
    }
    return result + sheet.mid(done);
}
} // namespace

QStringList SkinFolders()
{
    return {QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/jotterel/skins",
            QCoreApplication::applicationDirPath() + "/skins"};
}

QList<TSkin> ListSkins(const QStringList& folders)
{
    QList<TSkin> own = {{kSystemSkin, {}}, {kLightSkin, {}}, {kDarkSkin, {}}};
    QSet<QString> taken = {kSystemSkin, kLightSkin, kDarkSkin};
    QList<TSkin> users;
    for (const QString& folder : folders) {
        for (const QFileInfo& file : QDir(folder).entryInfoList({"*.qss"}, QDir::Files, QDir::Name)) {
            const QString name = file.completeBaseName();
            if (name.isEmpty() || taken.contains(name))
                continue;
            taken.insert(name);
            users.append({name, file.absoluteFilePath()});
        }
    }
    std::sort(users.begin(), users.end(),
              [](const TSkin& a, const TSkin& b) { return a.Name.localeAwareCompare(b.Name) < 0; });
    return own + users;
}

TSkin SkinNamed(const QString& name, const QStringList& folders)
{
    const QList<TSkin> skins = ListSkins(folders);
    QStringList names;
    for (const TSkin& skin : skins) {
        if (skin.Name == name || (name.isEmpty() && skin.Name == kSystemSkin))
            return skin;
        names << skin.Name;
    }
    RaiseError(QString("没有名为“%1”的皮肤。可选的皮肤：%2。").arg(name, names.join("、")));
}

std::optional<TSheetFault> CheckStyleSheet(const QString& sheet)
{
    return TSheetWalk(sheet).Run();
}

QString ReadSkinSheet(const TSkin& skin)
{
    const QString path = Native(skin.Path);
    QByteArray bytes;
    QString problem;
    const TPlainRead read = ReadSkinFile(skin.Path, QString(), kMaxSkinFileBytes, bytes, problem);
    if (read == TPlainRead::TooLarge)
        RaiseError(QString("皮肤文件 %1 太大（超过 1 MB），不是样式表。").arg(path));
    if (read != TPlainRead::Read)
        RaiseError(QString("无法读取皮肤文件 %1：%2。").arg(path, problem));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString sheet = utf8(bytes);
    if (utf8.hasError() || bytes.contains('\0'))
        RaiseError(QString("皮肤文件 %1 不是 UTF-8 文本。").arg(path));
    if (const auto fault = CheckStyleSheet(sheet))
        RaiseError(QString("皮肤文件 %1 第 %2 行有错误：%3。").arg(path).arg(fault->Line).arg(fault->What));
    return WithCopiedPictures(sheet, skin);
}

QString LoadSkinChoice()
{
    TStmtHandle statement = PrepareNative(DbAccess->Handle(), "select Skin from SysSet");
    const QString chosen = sqlite3_step(statement.get()) == SQLITE_ROW ? ColumnText(statement.get(), 0) : QString();
    return chosen.isEmpty() ? kSystemSkin : chosen;
}

void SaveSkinChoice(const QString& name)
{
    const QString kept = name == kSystemSkin ? QString() : name;
    DbAccess->Batch([&] {
        TStmtHandle statement = PrepareNative(DbAccess->Handle(), "update SysSet set Skin=?");
        BindText(statement.get(), 1, kept);
        RunToEnd(DbAccess->Handle(), statement.get());
    });
}
