// The notepad page of the main window: the note tree with its group menu,
// the memo that shows and saves the selected group's note, and the find row.
#include "notes/NotepadPage.h"

#include "controls/DateKeys.h"
#include "controls/ItemDrag.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "controls/UndoAction.h"
#include "data/MD.h"
#include "groups/UntTree.h"
#include "notes/UntNote.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <functional>

namespace {
const QString kNoteGroupFormat = "application/x-jotterel-note-group";

// A note this long (in characters) is not written at every keystroke: the
// durable write of megabytes takes longer than the pause between two keys.
// Its typing is saved together in the first pause of kLargeNotePauseMs, and
// at the latest kLargeNoteSaveMs after the first unsaved key, so no more than
// that can be lost, whatever ends the program.
constexpr int kLargeNoteChars = 1000000;
constexpr int kLargeNotePauseMs = 250;
constexpr int kLargeNoteSaveMs = 750;

// Hands the memo's key presses to the page before the memo sees them.
class TKeyDownFilter : public QObject
{
public:
    TKeyDownFilter(QObject* parent, std::function<bool(QKeyEvent*)> keyDown)
        : QObject(parent), m_keyDown(std::move(keyDown))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        bool handled = false;
        RunHandler([&] { handled = m_keyDown(static_cast<QKeyEvent*>(event)); });
        return handled;
    }

private:
    std::function<bool(QKeyEvent*)> m_keyDown;
};

// Reports clicks on the tree's selected item. A click that selects another
// item is left to the change of the selection, so that one click shows a
// note (and reports a failure) once.
class TSameItemClicks : public QObject
{
public:
    TSameItemClicks(QTreeWidget* tree, std::function<void()> clicked)
        : QObject(tree), m_tree(tree), m_clicked(std::move(clicked))
    {
        tree->viewport()->installEventFilter(this);
        connect(tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
            if (item == m_selectedAtPress)
                RunHandler(m_clicked);
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            m_selectedAtPress = m_tree->selectedItems().value(0, nullptr);
        return QObject::eventFilter(watched, event);
    }

private:
    QTreeWidget* m_tree;
    std::function<void()> m_clicked;
    const QTreeWidgetItem* m_selectedAtPress = nullptr; // only compared, never followed
};

// The memo's text as the note store keeps it: every line break as CR LF.
// The raw text is used because the plain text would turn no-break spaces
// into blanks; the memo's own line breaks (Enter, and Shift+Enter) both
// become CR LF. Loading turns CR LF back into line breaks, so a stored text
// comes back unchanged.
//
// Built in one pass that copies the runs between line breaks: this runs at
// every keystroke, and replacing the breaks in place, one kind after the
// other, costs more than the durable write of a large note.
QString StoredText(const QPlainTextEdit* memo)
{
    const QString raw = memo->document()->toRawText();
    QString text;
    text.reserve(raw.size() + raw.size() / 32);
    qsizetype from = 0;
    qsizetype paragraph = raw.indexOf(QChar::ParagraphSeparator);
    qsizetype line = raw.indexOf(QChar::LineSeparator);
    while (paragraph >= 0 || line >= 0) {
        const qsizetype at = line < 0 || (paragraph >= 0 && paragraph < line) ? paragraph : line;
        text.append(QStringView(raw).mid(from, at - from));
        text.append(QLatin1String("\r\n"));
        from = at + 1;
        if (at == paragraph)
            paragraph = raw.indexOf(QChar::ParagraphSeparator, from);
        else
            line = raw.indexOf(QChar::LineSeparator, from);
    }
    text.append(QStringView(raw).mid(from));
    return text;
}

// Only the Latin letters a to z fold to capitals; every other character,
// Chinese and accented letters included, matches only itself.
QString LatinUpper(QString text)
{
    for (QChar& c : text)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    return text;
}
} // namespace

TNotepadPage::TNotepadPage(const TNotepadWidgets& widgets, std::unique_ptr<TCardTree>& noteTree, TNote& note)
    : m_widgets(widgets), NoteTree(noteTree), Note(note), m_saveTimer(new QTimer(widgets.mmoNote)),
      m_groupCommands(noteTree, GroupParts())
{
    m_saveTimer->setObjectName("noteSaveTimer");
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(kLargeNotePauseMs);
    connect(m_saveTimer, &QTimer::timeout, this, [this] {
        if (m_noteUnsaved && m_noteGroup >= 0)
            RunHandler([this] { SaveTyped(); });
    });
    // Read-only until the first group's note is shown: text typed now would
    // belong to no group.
    ui->mmoNote->setReadOnly(true);
    new TSameItemClicks(ui->tvNote, [this] { tvNoteClick(); });
    // A change of the selected group by any means (mouse, keyboard, a group
    // added or deleted, the program) shows that group's note first, so what
    // is typed next is saved under the group it is shown with. The current
    // item alone is no selection: the focus frame goes where the keyboard
    // focus puts it, and stays where Ctrl+click took the highlight away.
    connect(ui->tvNote, &QTreeWidget::itemSelectionChanged, this, [this] {
        try {
            tvNoteClick();
        } catch (const std::exception&) {
            // Reported once the event that moved the tree is over and the tree
            // is back on the memo's group: a message box shown now would let
            // the rest of a mouse press select the other group again.
            QTimer::singleShot(0, this, [failure = std::current_exception()] {
                RunHandler([failure] { std::rethrow_exception(failure); });
            });
        }
    });
    ConnectHandler(ui->mmoNote, &QPlainTextEdit::textChanged, this, &TNotepadPage::mmoNoteChange);
    ui->mmoNote->installEventFilter(
        new TKeyDownFilter(ui->mmoNote, [this](QKeyEvent* key) { return mmoNoteKeyDown(key); }));
    ConnectHandler(ui->btn2, &QPushButton::clicked, this, &TNotepadPage::btn2Click);
    ConnectHandler(ui->edtQuery, &QLineEdit::returnPressed, this, &TNotepadPage::btn2Click);
    // Ctrl+F anywhere on the page (the tab's page, or the window without one)
    // puts the caret in the find box.
    QWidget* page = ui->mmoNote;
    while (page->parentWidget() && !qobject_cast<QStackedWidget*>(page->parentWidget()))
        page = page->parentWidget();
    auto* findKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), page, nullptr, nullptr,
                                  page->isWindow() ? Qt::WindowShortcut : Qt::WidgetWithChildrenShortcut);
    connect(findKey, &QShortcut::activated, this, [this] {
        ui->edtQuery->setFocus(Qt::ShortcutFocusReason);
        ui->edtQuery->selectAll();
    });
    ConnectHandler(ui->NAddNoteType, &QAction::triggered, this, &TNotepadPage::NAddNoteTypeClick);
    ConnectHandler(ui->NModNoteType, &QAction::triggered, this, &TNotepadPage::NModNoteTypeClick);
    ConnectHandler(ui->NDelNoteType, &QAction::triggered, this, &TNotepadPage::NDelNoteTypeClick);
    ConnectHandler(ui->NMoveNoteType, &QAction::triggered, this, &TNotepadPage::NMoveNoteTypeClick);
    m_groupCommands.Undo = new TUndoAction(ui->pmNoteType, ui->NMoveNoteType, "NUndoNoteType");
    m_groupCommands.Undo->Bind(ui->tvNote);
    // A group dragged onto another group moves under it.
    EnableItemDrag(ui->tvNote, kNoteGroupFormat, [](const QModelIndex& index) {
        const int self = index.data(Qt::UserRole).toInt();
        return self > 0 ? QString::number(self) : QString();
    });
    AcceptItemDrops(
        ui->tvNote, {kNoteGroupFormat}, [](const QModelIndex&, const QString&, const QString&) { return true; },
        [this](const QModelIndex& target, const QString&, const QString& text) {
            m_groupCommands.MoveGroup(text.toInt(), target.data(Qt::UserRole).toInt());
        });
}

// The last step of the first show: the root's note. Errors here end the
// program, so the note is shown directly, not from the selection signal.
void TNotepadPage::ShowStartupNote()
{
    {
        QScopedValueRollback loading(m_noteLoading, true);
        ui->tvNote->setCurrentItem(NoteTree->RootNode);
    }
    tvNoteClick();
}

void TNotepadPage::tvNoteClick()
{
    if (!NoteTree || m_noteLoading)
        return;
    QTreeWidgetItem* node = NoteTree->Selected();
    if (!node)
        return;
    try {
        ShowNote(TCardTree::SelfIndexOf(node));
    } catch (...) {
        // The memo still shows the note it had (with any text not yet
        // saved): the tree goes back to that group, once the event that
        // moved it is over.
        QTimer::singleShot(0, this, [this] { SelectMemoGroup(); });
        throw;
    }
}

void TNotepadPage::ShowImported(int group)
{
    NoteTree->Reload();
    if (QTreeWidgetItem* node = NoteTree->NodeOf(group)) {
        node->setExpanded(true);
        QScopedValueRollback loading(m_noteLoading, true);
        ui->tvNote->setCurrentItem(node);
    }
    tvNoteClick();
}

void TNotepadPage::ReloadShownNote()
{
    if (!NoteTree)
        return;
    {
        // The memo's group is selected again below; no note is shown meanwhile.
        QScopedValueRollback loading(m_noteLoading, true);
        NoteTree->Reload();
    }
    if (m_noteGroup < 0)
        return;
    if (!NoteTree->Groups.Contains(m_noteGroup)) {
        UnbindMemo();
        {
            QScopedValueRollback loading(m_noteLoading, true);
            ui->tvNote->setCurrentItem(NoteTree->RootNode);
        }
        tvNoteClick();
        return;
    }
    if (MergeStored)
        MergeStoredNote();
    else if (!m_noteUnsaved && !Note.StoredAsBase(m_noteBase))
        ReloadMemoKeepingView();
    SelectMemoGroup();
}

bool TNotepadPage::MergeStoredNote()
{
    if (m_noteGroup < 0 || !MergeStored)
        return false;
    Note.TypeID = m_noteGroup;
    if (Note.StoredAsBase(m_noteBase))
        return false;
    KeepLeftVersion(); // what was edited before goes to the history first
    const QString id = QString::number(m_noteGroup);
    const bool exists = Note.NoteExists(id);
    QString stored;
    if (exists) {
        Note.LoadNote(id);
        stored = Note.ReMark;
    }
    const auto memoForm = [](QString text) { return text.replace(QLatin1String("\r\n"), QLatin1String("\n")); };
    const QString base = memoForm(QString::fromUtf8(m_noteBase.Text));
    const QString theirs = memoForm(stored);
    ApplyMemoEdits(MergeStored(base, ui->mmoNote->toPlainText(), theirs));
    m_noteBase = TNoteBase{exists, stored.toUtf8()};
    // What was typed and not yet saved is in the memo still: it is saved
    // over the stored text now.
    if (ui->mmoNote->toPlainText() != theirs) {
        m_noteUnsaved = true;
        SaveTyped();
    }
    return true;
}

// The edits go in through a cursor of their own, from the last: the memo's
// caret and selection move with the text around them. Text put in just where
// the caret is goes after it when it begins a line of its own (lines added
// below the caret's line), and before it otherwise.
void TNotepadPage::ApplyMemoEdits(const QList<TMemoEdit>& edits)
{
    if (edits.isEmpty())
        return;
    const QTextCursor before = ui->mmoNote->textCursor();
    const auto moved = [&](int place) {
        int shift = 0;
        for (const TMemoEdit& edit : edits) {
            const int end = edit.Position + edit.Length;
            const bool after = end < place || (end == place && (edit.Length > 0 || !edit.Text.startsWith(u'\n')));
            if (after)
                shift += int(edit.Text.size()) - edit.Length;
            else if (edit.Position < place)
                return edit.Position + shift; // inside what was replaced
        }
        return place + shift;
    };
    const int anchor = moved(before.anchor());
    const int position = moved(before.position());
    QScopedValueRollback loading(m_noteLoading, true);
    QTextCursor editor(ui->mmoNote->document());
    editor.beginEditBlock();
    for (qsizetype i = edits.size() - 1; i >= 0; --i) {
        editor.setPosition(edits[i].Position);
        editor.setPosition(edits[i].Position + edits[i].Length, QTextCursor::KeepAnchor);
        editor.insertText(edits[i].Text);
    }
    editor.endEditBlock();
    const QTextCursor after = ui->mmoNote->textCursor();
    if (after.anchor() == anchor && after.position() == position)
        return; // left as it is: an input method's unfinished text stays
    QTextCursor caret(ui->mmoNote->document());
    caret.setPosition(anchor);
    caret.setPosition(position, QTextCursor::KeepAnchor);
    ui->mmoNote->setTextCursor(caret);
}

// The stored text becomes the memo's base, so the next keystroke saves over
// it instead of taking it for another writer's. What was edited before is
// handed to the history first.
void TNotepadPage::ReloadMemoKeepingView()
{
    KeepLeftVersion();
    const QString id = QString::number(m_noteGroup);
    Note.TypeID = m_noteGroup;
    const bool exists = Note.NoteExists(id);
    QString stored;
    if (exists) {
        Note.LoadNote(id);
        stored = Note.ReMark;
    }
    const QTextCursor before = ui->mmoNote->textCursor();
    const int anchor = before.anchor();
    const int position = before.position();
    const int top = ui->mmoNote->verticalScrollBar()->value();
    const int left = ui->mmoNote->horizontalScrollBar()->value();
    SetMemoText(stored);
    m_noteBase = TNoteBase{exists, stored.toUtf8()};
    const int end = ui->mmoNote->document()->characterCount() - 1;
    QTextCursor caret(ui->mmoNote->document());
    caret.setPosition(std::min(anchor, end));
    caret.setPosition(std::min(position, end), QTextCursor::KeepAnchor);
    {
        QScopedValueRollback loading(m_noteLoading, true);
        ui->mmoNote->setTextCursor(caret);
    }
    ui->mmoNote->verticalScrollBar()->setValue(top);
    ui->mmoNote->horizontalScrollBar()->setValue(left);
}

void TNotepadPage::SelectMemoGroup()
{
    if (m_noteGroup < 0 || NoteTree->SelectedSelfIndex() == m_noteGroup)
        return;
    if (QTreeWidgetItem* node = NoteTree->NodeOf(m_noteGroup)) {
        QScopedValueRollback loading(m_noteLoading, true);
        ui->tvNote->setCurrentItem(node);
    }
}

void TNotepadPage::ShowNote(int typeId)
{
    // Text that could not be saved is written before the memo shows
    // anything else; if that fails again, the memo keeps it.
    SaveUnsavedNote();
    if (typeId != m_noteGroup)
        KeepLeftVersion();
    // The note shown, all of it saved and stored so still: nothing to read
    // (a large note's text costs a moment to make a string of).
    Note.TypeID = typeId;
    if (typeId == m_noteGroup && !m_noteUnsaved && Note.StoredAsBase(m_noteBase)) {
        ui->mmoNote->setReadOnly(DbAccess->ReadOnly());
        return;
    }
    const QString id = QString::number(typeId);
    QString stored;
    const bool exists = Note.NoteExists(id);
    if (exists) {
        Note.LoadNote(id);
        stored = Note.ReMark;
    }
    // Another group's note always replaces the memo's text (and its undo
    // history); the same note is left alone, keeping the caret. With nothing
    // unsaved, the memo holds the base's text.
    TNoteBase base{exists, stored.toUtf8()};
    if (typeId != m_noteGroup || StoredText(ui->mmoNote) != stored)
        SetMemoText(stored);
    m_noteBase = std::move(base);
    m_noteGroup = typeId;
    ui->mmoNote->setReadOnly(DbAccess->ReadOnly());
}

void TNotepadPage::SetMemoText(const QString& stored)
{
    // Text the program puts into the memo is the stored text: nothing to save.
    QScopedValueRollback loading(m_noteLoading, true);
    ui->mmoNote->setPlainText(stored);
}

void TNotepadPage::UnbindMemo()
{
    m_noteGroup = -1;
    m_noteUnsaved = false;
    m_inSpell = false;
    m_spellBase.clear();
    m_saveTimer->stop();
    m_noteBase = {};
    m_noteEpisode.Clear();
    SetMemoText(QString());
    ui->mmoNote->setReadOnly(true);
}

// Every change is saved at once, but in a large note, where the keys come
// faster than their writes, with the others typed within kLargeNoteSaveMs.
void TNotepadPage::mmoNoteChange()
{
    if (m_noteLoading || m_noteGroup < 0)
        return;
    if (ui->mmoNote->document()->characterCount() > kLargeNoteChars) {
        if (!m_noteUnsaved || !m_saveTimer->isActive())
            m_unsavedSince.start();
        m_noteUnsaved = true;
        if (m_unsavedSince.elapsed() < kLargeNoteSaveMs - kLargeNotePauseMs) {
            m_saveTimer->start();
            return;
        }
        m_saveTimer->stop();
    }
    SaveTyped();
}

// A failure is shown beside the window: a modal box would take the keys
// typed after it, which belong in the memo (and are saved once the file
// can be written again).
void TNotepadPage::SaveTyped()
{
    try {
        SaveMemo(true);
    } catch (const EDBException& e) {
        ShowDbErrorAside(e.UserMessage, e.Message(), e.SQLText);
    }
}

void TNotepadPage::RetryUnsavedNote()
{
    if (m_noteUnsaved && m_noteEpisode.Failing())
        RunHandler([this] { SaveTyped(); });
}

void TNotepadPage::SaveUnsavedNote()
{
    m_saveTimer->stop();
    if (m_noteUnsaved && m_noteGroup >= 0)
        SaveMemo(false);
}

bool TNotepadPage::SaveNoteBeforeExit(bool mayAsk)
{
    try {
        SaveUnsavedNote();
        KeepLeftVersion();
        return true;
    } catch (const EDBException& e) {
        LogDbError(e.UserMessage, e.Message(), e.SQLText);
        return !mayAsk || AskYesNo("记事内容未能保存：" + e.Message() + "\r\n仍要退出程序吗？这些内容将会丢失。");
    }
}

// A failure is reported with the note that the text is still in the memo,
// and the memo keeps it. While the same failure persists, the saves that
// keystrokes and the tick retry neither wait for a lock nor report again,
// so a file held by another program costs one box and no waiting per key.
void TNotepadPage::SaveMemo(bool quietRetry)
{
    m_noteUnsaved = true;
    try {
        if (!m_noteEpisode.Run(quietRetry, [this] { WriteMemo(); }))
            return;
    } catch (const EDBException& e) {
        throw EDBException(e.Message(), e.UserMessage + "\r\n" + "记事内容仍在窗口中，尚未保存。", e.SQLText);
    }
    m_noteUnsaved = false;
}

// Another writer's text, found by the save, is kept below the memo's and
// said so once; the memo shows both, as stored.
void TNotepadPage::WriteMemo()
{
    Note.TypeID = m_noteGroup;
    const QString text = StoredText(ui->mmoNote);
    const QByteArray before = m_noteBase.Text; // shared, not copied
    const TNoteSaved saved = Note.SaveNote(text, m_noteBase);
    if (saved != TNoteSaved::Unchanged && !m_inSpell) {
        m_spellBase = before;
        m_inSpell = true;
    }
    if (saved != TNoteSaved::Merged)
        return;
    AppendOtherText(Note.ReMark.mid(text.size()));
    ShowInfoAside(
        "这篇记事在别处（另一个程序窗口或同步工具）也被修改过。两份内容都已保留：别处保存的内容在末尾的分隔线之后。");
}

void TNotepadPage::KeepEditedVersion()
{
    if (m_noteGroup >= 0 && m_inSpell)
        emit KeepVersion(m_noteGroup, m_spellBase);
    m_inSpell = false;
    m_spellBase.clear();
}

void TNotepadPage::KeepLeftVersion()
{
    const bool edited = m_inSpell;
    KeepEditedVersion();
    if (edited)
        emit KeepVersion(m_noteGroup, m_noteBase.Text);
}

QString TNotepadPage::MemoText() const
{
    return StoredText(ui->mmoNote);
}

void TNotepadPage::ReplaceMemoText(const QString& text)
{
    DbAccess->CheckWritable();
    SaveUnsavedNote();
    // One step of the memo's own undo, so Ctrl+Z brings the text before
    // back; saved as typed text is.
    QTextCursor all(ui->mmoNote->document());
    all.beginEditBlock();
    all.select(QTextCursor::Document);
    all.insertText(text);
    all.endEditBlock();
    all.movePosition(QTextCursor::Start);
    ui->mmoNote->setTextCursor(all);
}

// Appended where the memo's text ends, so the caret and the undo history of
// what was typed stay.
void TNotepadPage::AppendOtherText(const QString& stored)
{
    QScopedValueRollback loading(m_noteLoading, true);
    // A caret at the end would move along with the insert: it is put back.
    QTextCursor caret = ui->mmoNote->textCursor();
    const int anchor = caret.anchor();
    const int position = caret.position();
    QTextCursor end(ui->mmoNote->document());
    end.movePosition(QTextCursor::End);
    end.insertText(stored);
    caret.setPosition(anchor);
    caret.setPosition(position, QTextCursor::KeepAnchor);
    ui->mmoNote->setTextCursor(caret);
}

bool TNotepadPage::mmoNoteKeyDown(QKeyEvent* key)
{
    if (ui->mmoNote->isReadOnly())
        return false;
    const QString text = DateTimeKeyText(key);
    if (text.isEmpty())
        return false;
    ui->mmoNote->insertPlainText(text);
    // The memo's own Ctrl+D would delete the character after the insert.
    return true;
}

// Finds the query after the selection (or the caret); when there is no
// further match the caret goes to the top, so that repeated presses run
// through all matches and start over. A text that occurs nowhere in the
// note is said so, and the caret stays.
void TNotepadPage::btn2Click()
{
    const QString query = ui->edtQuery->text();
    QTextCursor cursor = ui->mmoNote->textCursor();
    const int from = cursor.selectionEnd();
    const QString text = ui->mmoNote->toPlainText();
    const QString rest = text.mid(from);
    const qsizetype found = query.isEmpty() ? -1 : LatinUpper(rest).indexOf(LatinUpper(query));
    if (found < 0) {
        if (!query.isEmpty() && !LatinUpper(text).contains(LatinUpper(query))) {
            ShowInfo(QStringLiteral(u"找不到\u201C") + query + QStringLiteral(u"\u201D。"));
            return;
        }
        cursor.setPosition(0);
        ui->mmoNote->setTextCursor(cursor);
        return;
    }
    ui->mmoNote->setFocus();
    cursor.setPosition(from + int(found));
    cursor.setPosition(from + int(found + query.size()), QTextCursor::KeepAnchor);
    ui->mmoNote->setTextCursor(cursor);
}

bool TNotepadPage::ShowGroupMatch(int group, const TFindInMemo& find)
{
    QTreeWidgetItem* node = NoteTree ? NoteTree->NodeOf(group) : nullptr;
    if (!node)
        return false;
    {
        QScopedValueRollback loading(m_noteLoading, true);
        ui->tvNote->setCurrentItem(node);
        ui->tvNote->scrollToItem(node);
    }
    tvNoteClick();
    // Looked for in the memo itself: its text may have changed since the
    // search, and its line breaks are single characters.
    const auto [first, length] = find(ui->mmoNote->toPlainText());
    QTextCursor cursor = ui->mmoNote->textCursor();
    cursor.setPosition(int(std::max<qsizetype>(first, 0)));
    if (first >= 0)
        cursor.setPosition(int(first + length), QTextCursor::KeepAnchor);
    ui->mmoNote->setTextCursor(cursor);
    ui->mmoNote->ensureCursorVisible();
    ui->mmoNote->setFocus(Qt::OtherFocusReason);
    return true;
}

// What the group commands do to the memo: a group's notes go with it, and
// the memo never shows a note under another group's number.
TGroupPageParts TNotepadPage::GroupParts()
{
    TGroupPageParts parts;
    parts.ItemTable = "NoteBook";
    parts.BranchItems = [this](const QString& in) {
        return TBranchItems{Note.CountNotesIn(in), "篇记事", Note.DeleteNotesInSQL(in)};
    };
    // A new group is selected, which shows its note, which it does not have
    // yet: the memo is cleared and nothing is stored. The neighbour the tree
    // selects after a delete is shown once the memo no longer belongs to the
    // deleted group.
    parts.Deleting = &m_noteLoading;
    parts.Deleted = [this](int group) {
        if (m_noteGroup == group)
            UnbindMemo();
        tvNoteClick();
    };
    // The memo's text belongs to its group's number, which the move may change.
    parts.BeforeMove = [this] { SaveUnsavedNote(); };
    return parts;
}
