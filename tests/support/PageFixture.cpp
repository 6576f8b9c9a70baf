#include "support/PageFixture.h"

#include "groups/BaseDlg.h"
#include "search/SearchWiring.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <initializer_list>
#include <utility>

namespace {
// A named item of the window's menus, by its caption.
QAction* Item(QWidget* window, const char* name, const char* caption)
{
    auto* action = new QAction(QString::fromUtf8(caption), window);
    action->setObjectName(name);
    return action;
}

QMenu* Menu(QWidget* window, const char* name, std::initializer_list<QAction*> items)
{
    auto* menu = new QMenu(window);
    menu->setObjectName(name);
    for (QAction* item : items)
        menu->addAction(item);
    return menu;
}

QWidget* Tab(QTabWidget* tabs, const char* name, const char* title)
{
    auto* tab = new QWidget;
    tab->setObjectName(name);
    tabs->addTab(tab, QString::fromUtf8(title));
    return tab;
}

template <typename T> T* Named(T* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}
} // namespace

TPageFixture::TPageFixture()
{
    // Dialogs belong to the pages' window, as they do to the main window.
    SetDialogOwner(this);
    Tabs = Named(new QTabWidget(this), "pgcMain");
    (new QVBoxLayout(this))->addWidget(Tabs);
    NoteTab = Tab(Tabs, "tsNote", "记事本");
    ReminderTab = Tab(Tabs, "tsAlam", "定时提醒");
    BookmarkTab = Tab(Tabs, "ts1", "网址管理");

    // The notepad's controls, as the window's form has them.
    auto* split = new QSplitter(NoteTab);
    (new QVBoxLayout(NoteTab))->addWidget(split);
    NoteView = Named(new QTreeWidget, "tvNote");
    NoteView->setContextMenuPolicy(Qt::CustomContextMenu);
    NoteView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    NoteView->setHeaderHidden(true);
    split->addWidget(NoteView);
    auto* right = new QWidget;
    auto* column = new QVBoxLayout(right);
    Memo = Named(new QPlainTextEdit, "mmoNote");
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(Memo);
    auto* findRow = new QHBoxLayout;
    auto* query = Named(new QLineEdit, "edtQuery");
    auto* find = Named(new QPushButton("查找"), "btn2");
    find->setAutoDefault(false);
    findRow->addWidget(new QLabel("查找字符"));
    findRow->addWidget(query);
    findRow->addWidget(find);
    column->addLayout(findRow);
    split->addWidget(right);

    TNotepadWidgets notes{NoteView,
                          Memo,
                          query,
                          find,
                          Item(this, "NAddNoteType", "新建组"),
                          Item(this, "NModNoteType", "重命名组"),
                          Item(this, "NDelNoteType", "删除组"),
                          Item(this, "NMoveNoteType", "移动到…"),
                          nullptr};
    notes.pmNoteType = pmNoteType =
        Menu(this, "pmNoteType", {notes.NAddNoteType, notes.NModNoteType, notes.NDelNoteType, notes.NMoveNoteType});
    BindGroupTree(NoteView, pmNoteType, notes.NAddNoteType, notes.NModNoteType, notes.NDelNoteType);
    NoteTree = std::make_unique<TCardTree>(NoteView, "根目录", "NoteType");
    Notepad = std::make_unique<TNotepadPage>(notes, NoteTree, Note);

    TBookmarkWidgets bookmarks{this,
                               BookmarkTab,
                               nullptr,
                               nullptr,
                               Item(this, "N1", "新建"),
                               Item(this, "N5", "新建网址"),
                               Item(this, "N2", "修改"),
                               Item(this, "N3", "删除"),
                               Item(this, "N8", "打开网页"),
                               Item(this, "NAddIEType", "新建组"),
                               Item(this, "NModIeType", "重命名组"),
                               Item(this, "NDelIEType", "删除组"),
                               Item(this, "NMoveIEType", "移动到…"),
                               Item(this, "NMoveIE", "移动到…")};
    bookmarks.pmIEType = pmIEType =
        Menu(this, "pmIEType",
             {bookmarks.NAddIEType, bookmarks.NModIeType, bookmarks.NDelIEType, bookmarks.NMoveIEType, bookmarks.N5});
    bookmarks.pmIE = pmIE =
        Menu(this, "pmIE", {bookmarks.N1, bookmarks.N2, bookmarks.N3, bookmarks.NMoveIE, bookmarks.N8});
    Bookmarks = std::make_unique<TBookmarkPage>(bookmarks, IETree, IE);

    TReminderWidgets reminders{ReminderTab, nullptr, Item(this, "NAddAlam", "新建提醒"), Item(this, "NModAlam", "修改"),
                               Item(this, "NDelAlam", "删除")};
    reminders.pmAlam = pmAlam = Menu(this, "pmAlam", {reminders.NAddAlam, reminders.NModAlam, reminders.NDelAlam});
    Reminders = std::make_unique<TReminderPage>(reminders, Alam);
    resize(800, 560);
}

TPageFixture::~TPageFixture() = default;

void TPageFixture::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (std::exchange(m_shown, true))
        return;
    NoteTree->LoadGroups();
    Bookmarks->ShowStartupBookmarks();
    Reminders->ShowStartupReminders();
    Notepad->ShowStartupNote();
}

void TPageFixture::Tick()
{
    Reminders->tmr1Timer();
    Notepad->RetryUnsavedNote();
}

TSearchTargets TPageFixture::Targets()
{
    return {Tabs, NoteTab, BookmarkTab, ReminderTab, *Notepad, *Bookmarks, *Reminders, NoteTree, IETree};
}
