#include "support/TestEnv.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "history/Trash.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <memory>

bool TPresetResponder::Message(Kind kind, const QString& caption, const QString& text)
{
    Shown << TShown{kind, caption, text};
    if (kind != Kind::Question || Answers.isEmpty())
        return false;
    return Answers.takeFirst();
}

QString TPresetResponder::FileName(bool, const QString&)
{
    return FileNames.isEmpty() ? QString() : FileNames.takeFirst();
}

QStringList TPresetResponder::Texts() const
{
    QStringList texts;
    for (const TShown& shown : Shown)
        texts << shown.text;
    return texts;
}

TTestEnv::TTestEnv()
{
    TClock::Release();
    SetAppPath(Dir.path());
    SetDialogResponder(&Responder);
    // Tests hold locks on purpose; a statement fails at once instead of
    // waiting for them in real time.
    TDbAccess::BusyTimeoutMs = 0;
    delete DbAccess;
    DbAccess = new TDbAccess;
    DbAccess->Connect();
    // Bookmarks that tests add never make the program fetch their sites'
    // icons from the network; a test of the icons turns it on.
    DbExecSQL("update SysSet set FetchIcons=0");
    // Deletes go to the trash, as in the program.
    InstallDeleteKeeper(std::make_unique<TTrash>());
}

TTestEnv::~TTestEnv()
{
    InstallDeleteKeeper(nullptr);
    delete DbAccess;
    DbAccess = nullptr;
    SetDialogResponder(nullptr);
    TClock::Release();
}

void OnNextModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
    auto shared = std::make_shared<std::function<void(QWidget*)>>(std::move(action));
    QObject::connect(timer, &QTimer::timeout, [timer, shared] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        (*shared)(modal);
    });
    timer->start(10);
}

void ShowPageOf(QWidget* control)
{
    for (QWidget* up = control->parentWidget(); up; up = up->parentWidget()) {
        auto* tabs = qobject_cast<QTabWidget*>(up);
        if (!tabs)
            continue;
        for (int page = 0; page < tabs->count(); ++page)
            if (tabs->widget(page)->isAncestorOf(control))
                tabs->setCurrentIndex(page);
    }
}

QWidget* ShowPagesUntil(QObject* window, const char* name)
{
    for (auto* tabs : window->findChildren<QTabWidget*>()) {
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            if (auto* control = window->findChild<QWidget*>(name))
                return control;
        }
    }
    return nullptr;
}

void Click(QWidget* window, const char* button)
{
    Find<QPushButton>(window, button)->click();
}

void Drive(std::function<void(QWidget*)> action)
{
    OnNextModal([action](QWidget* dialog) {
        action(dialog);
        if (dialog->isVisible())
            qobject_cast<QDialog*>(dialog)->reject();
    });
}

TNoModalGuard::TNoModalGuard()
{
    QTimer::singleShot(0, [opened = m_opened, before = QPointer<QWidget>(QApplication::activeModalWidget())] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != before) {
            *opened = true;
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
}

bool TNoModalGuard::Opened() const
{
    QCoreApplication::processEvents();
    return *m_opened;
}

QTreeWidgetItem* FindNode(QTreeWidget* tree, const QString& label)
{
    for (;;) {
        const auto found = tree->findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
        if (!found.isEmpty())
            return found.first();
        QList<QTreeWidgetItem*> closed;
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if (!(*it)->isExpanded() && (*it)->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator)
                closed << *it;
        if (closed.isEmpty())
            return nullptr;
        for (QTreeWidgetItem* node : closed)
            node->setExpanded(true);
    }
}
