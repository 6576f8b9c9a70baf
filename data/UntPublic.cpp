#include "data/UntPublic.h"

#include "data/Clock.h"
#include "data/MD.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QUrl>

namespace {
QString appPath;
IDialogResponder* responder = nullptr;

QString WithSeparator(const QString& dir)
{
    QString path = QDir::fromNativeSeparators(dir);
    return path.endsWith('/') ? path : path + '/';
}

} // namespace

QString ChooseDataDirectory(const QString& executableDir)
{
    const QString exeDir = WithSeparator(executableDir);
    // An installed program (its home page under ../share) keeps its data per user even where it could write beside
    // itself, as root can in /usr/bin.
    const bool installed = QFileInfo::exists(exeDir + "../share/jotterel/home.html");
    if (QFileInfo::exists(exeDir + "bookkeep.dat") || (QFileInfo(exeDir).isWritable() && !installed))
        return exeDir;
    // An installed program: its directory is not ours to write.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return WithSeparator(data);
}

namespace {

int ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    return box.exec();
}

// Turns "description|pattern" into Qt's "description (pattern)" unless the
// description already names the pattern.
QString QtFilter(const QString& filter)
{
    const QStringList parts = filter.split('|');
    if (parts.size() < 2 || parts[0].contains(parts[1]))
        return parts.value(0);
    return parts[0] + " (" + parts[1] + ")";
}
} // namespace

QString AppPath()
{
    if (appPath.isEmpty())
        appPath = ChooseDataDirectory(QCoreApplication::applicationDirPath());
    return appPath;
}

void SetAppPath(const QString& dir)
{
    appPath = WithSeparator(dir);
}

QStringList SplitString(const QString& text, const QString& separator)
{
    QStringList pieces;
    QString rest = text;
    qsizetype at;
    while (!separator.isEmpty() && (at = rest.indexOf(separator)) >= 0) {
        pieces << rest.left(at);
        rest = rest.mid(at + separator.size());
    }
    pieces << rest;
    return pieces;
}

QString SqlText(const QString& value)
{
    QString escaped = value;
    return escaped.replace('\'', "''");
}

QString FormatSQL(const QString& pattern, const QStringList& values)
{
    QString result;
    qsizetype from = 0;
    for (const QString& value : values) {
        const qsizetype at = pattern.indexOf("%s", from);
        if (at < 0)
            break;
        result += pattern.mid(from, at - from) + value;
        from = at + 2;
    }
    return result + pattern.mid(from);
}

QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

void FillListView(const QString& sql, QTreeWidget* view, bool rebuildColumns)
{
    view->clear();
    DbAccess->OpenQuery(sql);
    TDataSet& set = *DbAccess->QuerySet;
    const int fields = set.FieldCount();
    if (rebuildColumns) {
        QStringList titles;
        for (int i = 0; i < fields; ++i)
            titles << set.FieldName(i);
        view->setColumnCount(fields);
        view->setHeaderLabels(titles);
        for (int i = 0; i < fields; ++i)
            view->setColumnWidth(i, 80);
    }
    view->setUpdatesEnabled(false);
    QList<QTreeWidgetItem*> items;
    items.reserve(set.RecordCount());
    for (set.First(); !set.Eof(); set.Next()) {
        auto* item = new QTreeWidgetItem;
        for (int i = 0; i < fields; ++i)
            item->setText(i, set.AsString(i));
        items << item;
    }
    view->addTopLevelItems(items);
    view->setUpdatesEnabled(true);
}

void ShellOpen(QWidget* /*owner*/, const QString& target)
{
    if (responder) {
        responder->Opened(target);
        return;
    }
    const QUrl url = QFileInfo::exists(target) ? QUrl::fromLocalFile(target) : QUrl::fromUserInput(target);
    QDesktopServices::openUrl(url);
}

void ShowInfo(const QString& text)
{
    if (responder) {
        responder->Message(IDialogResponder::Kind::Info, "提示", text);
        return;
    }
    ShowBox(QMessageBox::Information, "提示", text, QMessageBox::Ok, QMessageBox::Ok);
}

bool AskYesNo(const QString& question)
{
    if (responder)
        return responder->Message(IDialogResponder::Kind::Question, "确认", question);
    return ShowBox(QMessageBox::Question, "确认", question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void ShowError(const QString& text)
{
    if (responder) {
        responder->Message(IDialogResponder::Kind::Error, "错误", text);
        return;
    }
    ShowBox(QMessageBox::Critical, "错误", text, QMessageBox::Ok, QMessageBox::Ok);
}

void ShowDbError(const QString& userMessage, const QString& details, const QString& sql)
{
    ShowError(userMessage + "\r\n" + "详细信息：" + details);
    // The box comes first, so a log that cannot be written never hides an error.
    LogDbError(userMessage, details, sql);
}

void LogDbError(const QString& userMessage, const QString& details, const QString& sql)
{
    if (!sql.isEmpty())
        WriteLog(userMessage + "\r\n" + "详细信息：" + details + "\r\n" + sql);
}

void WriteLog(const QString& text)
{
    const QDateTime now = TClock::Now();
    const QString entry = now.toString("yyyy-MM-dd HH:mm:ss") + "：" + text + "\r\n";
    QFile file(AppPath() + "Log" + now.toString("yyyyMMdd") + ".log");
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(entry.toUtf8());
}

QString AskSaveFileName(QWidget* owner, const QString& filter)
{
    if (responder)
        return responder->FileName(true, filter);
    return QFileDialog::getSaveFileName(owner, QString(), QString(), QtFilter(filter));
}

QString AskOpenFileName(QWidget* owner, const QString& filter)
{
    if (responder)
        return responder->FileName(false, filter);
    return QFileDialog::getOpenFileName(owner, QString(), QString(), QtFilter(filter));
}

void SetDialogResponder(IDialogResponder* newResponder)
{
    responder = newResponder;
}

IDialogResponder* DialogResponder()
{
    return responder;
}
