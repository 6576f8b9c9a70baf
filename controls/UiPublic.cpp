#include "controls/UiPublic.h"

#include "data/Clock.h"
#include "data/MD.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QUrl>

namespace {
IDialogResponder* responder = nullptr;
} // namespace

namespace {

int ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    return box.exec();
}

QPointer<QMessageBox> asideBox;

void ShowBoxAside(QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    if (asideBox)
        asideBox->close();
    auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setWindowModality(Qt::NonModal);
    asideBox = box;
    box->show();
}

QString DbErrorText(const QString& userMessage, const QString& details)
{
    return userMessage + "\r\n" + "详细信息：" + details;
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

bool ShellOpen(QWidget* /*owner*/, const QString& target)
{
    if (responder)
        return responder->Opened(target);
    const QUrl url = QFileInfo::exists(target) ? QUrl::fromLocalFile(target) : QUrl::fromUserInput(target);
    return QDesktopServices::openUrl(url);
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

bool ShowInfoWithChoice(const QString& text, const QString& other)
{
    if (responder)
        return responder->Message(IDialogResponder::Kind::Question, "提示", text);
    QMessageBox box(QMessageBox::Information, "提示", text, QMessageBox::Ok, QApplication::activeWindow());
    QPushButton* choice = box.addButton(other, QMessageBox::ActionRole);
    choice->setAccessibleName(other);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == choice;
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
    ShowError(DbErrorText(userMessage, details));
    // The box comes first, so a log that cannot be written never hides an error.
    LogDbError(userMessage, details, sql);
}

void ShowInfoAside(const QString& text)
{
    if (responder)
        responder->Message(IDialogResponder::Kind::Info, "提示", text);
    else
        ShowBoxAside(QMessageBox::Information, "提示", text);
}

void ShowDbErrorAside(const QString& userMessage, const QString& details, const QString& sql)
{
    const QString text = DbErrorText(userMessage, details);
    if (responder)
        responder->Message(IDialogResponder::Kind::Error, "错误", text);
    else
        ShowBoxAside(QMessageBox::Critical, "错误", text);
    LogDbError(userMessage, details, sql);
}

QString AskSaveFileName(QWidget* owner, const QString& filter, const QString& start)
{
    if (responder)
        return responder->FileName(true, filter);
    return QFileDialog::getSaveFileName(owner, QString(), start, QtFilter(filter));
}

QString AskOpenFileName(QWidget* owner, const QString& filter, const QString& start)
{
    if (responder)
        return responder->FileName(false, filter);
    return QFileDialog::getOpenFileName(owner, QString(), start, QtFilter(filter));
}

QString AskFolderName(QWidget* owner, const QString& start)
{
    if (responder)
        return responder->FileName(false, QString());
    return QFileDialog::getExistingDirectory(owner, QString(), start);
}

QString StartFolder(const QString& lastFolder)
{
    if (!lastFolder.isEmpty() && QFileInfo(lastFolder).isDir())
        return lastFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString ProposedFileName(const QString& lastFolder, const QString& what, const QString& suffix)
{
    const QString name = QString("Jotterel-%1-%2.%3").arg(what, TClock::Today().toString("yyyy-MM-dd"), suffix);
    return QDir(StartFolder(lastFolder)).filePath(name);
}

void SetDialogResponder(IDialogResponder* newResponder)
{
    responder = newResponder;
}

IDialogResponder* DialogResponder()
{
    return responder;
}
