#include "app/AutoRun.h"

#include "data/UException.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace {
QString executableOverride;
} // namespace

QString ExecutablePath()
{
    return executableOverride.isEmpty() ? QCoreApplication::applicationFilePath() : executableOverride;
}

void SetExecutablePath(const QString& path)
{
    executableOverride = path;
}

#ifdef Q_OS_WIN

namespace {
const char* const kRunKey = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
} // namespace

void SetAutoRun(const QString& name, const QString& path, bool on)
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    if (on)
        run.setValue(name, QDir::toNativeSeparators(path));
    else
        run.remove(name);
    run.sync();
    if (run.status() != QSettings::NoError)
        RaiseError("无法修改注册表的启动项（需要管理员权限）");
}

bool AutoRunStarts(const QString& name, const QString& path)
{
    const QSettings run(kRunKey, QSettings::NativeFormat);
    return run.value(name).toString() == QDir::toNativeSeparators(path);
}

#else

namespace {
// Characters that force an Exec argument between double quotes.
const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
// Characters that need a backslash inside the double quotes.
const QString kQuotedEscapes = QStringLiteral("\"`$\\");

QString ConfigHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative location is invalid and must be ignored.
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + "/.config";
}

// The escapes of a string value of a desktop entry file.
QString EscapeString(const QString& text)
{
    QString escaped;
    for (const QChar c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

QString UnescapeString(const QString& text)
{
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const QChar next = text[++i];
        if (next == 's')
            plain += ' ';
        else if (next == 'n')
            plain += '\n';
        else if (next == 't')
            plain += '\t';
        else if (next == 'r')
            plain += '\r';
        else if (next == '\\')
            plain += '\\';
        else
            plain += QString('\\') + next;
    }
    return plain;
}

// The keys of the [Desktop Entry] group, with their raw values.
QHash<QString, QString> ReadDesktopEntry(const QString& file)
{
    QHash<QString, QString> keys;
    QFile entry(file);
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inEntryGroup = false;
    for (const QString& line : QString::fromUtf8(entry.readAll()).split('\n')) {
        if (line.startsWith('[')) {
            inEntryGroup = line.trimmed() == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inEntryGroup || line.startsWith('#') || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return keys;
}
} // namespace

QString AutoRunEntryPath(const QString& name)
{
    return ConfigHome() + "/autostart/" + name + ".desktop";
}

QString DesktopExecValue(const QString& path)
{
    QString argument;
    for (const QChar c : path) {
        if (c == '%')
            argument += "%%"; // a lone percent sign would start a field code
        else if (kQuotedEscapes.contains(c))
            argument += QString('\\') + c;
        else
            argument += c;
    }
    bool quote = false;
    for (const QChar c : path)
        quote = quote || kReserved.contains(c);
    return EscapeString(quote ? '"' + argument + '"' : argument);
}

QStringList DesktopExecArguments(const QString& value)
{
    const QString text = UnescapeString(value);
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
        if (c == '%' && next == '%') {
            current += '%';
            inArgument = true;
            ++i;
        } else if (quoted && c == '\\' && kQuotedEscapes.contains(next)) {
            current += next;
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return {};
    if (inArgument)
        arguments << current;
    return arguments;
}

void SetAutoRun(const QString& name, const QString& path, bool on)
{
    const QString file = AutoRunEntryPath(name);
    if (!on) {
        QFile entry(file);
        if (QFileInfo(file).exists() || QFileInfo(file).isSymLink()) {
            if (!entry.remove())
                RaiseError(QString("无法删除开机运行项 %1：%2").arg(file, entry.errorString()));
        }
        return;
    }
    const QString folder = QFileInfo(file).path();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        RaiseError(QString("无法创建开机运行项的文件夹 %1").arg(folder));
    const QString text = "[Desktop Entry]\n"
                         "Type=Application\n"
                         "Name=" +
                         EscapeString(name) +
                         "\n"
                         "Exec=" +
                         DesktopExecValue(path) +
                         "\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n";
    // Written aside and renamed, so a failure never leaves half an entry.
    QSaveFile entry(file);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(text.toUtf8()) < 0 || !entry.commit())
        RaiseError(QString("无法写入开机运行项 %1：%2").arg(file, entry.errorString()));
}

bool AutoRunStarts(const QString& name, const QString& path)
{
    const QHash<QString, QString> keys = ReadDesktopEntry(AutoRunEntryPath(name));
    // Desktop sessions skip entries that are hidden or switched off.
    if (keys.value("Hidden") == "true" || keys.value("X-GNOME-Autostart-enabled") == "false")
        return false;
    return keys.contains("Exec") && DesktopExecArguments(keys.value("Exec")) == QStringList(path);
}

#endif
