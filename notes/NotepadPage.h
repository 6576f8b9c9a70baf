#pragma once

#include "data/MD.h"
#include "groups/GroupCommands.h"
#include "notes/UntNote.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QAction;
class QKeyEvent;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTimer;
class QTreeWidgetItem;
class TCardTree;

// The notepad page's controls, made by the main window.
struct TNotepadWidgets
{
    QTreeWidget* tvNote;
    QPlainTextEdit* mmoNote;
    QLineEdit* edtQuery;
    QPushButton* btn2;
    QAction* NAddNoteType;
    QAction* NModNoteType;
    QAction* NDelNoteType;
    QAction* NMoveNoteType;
    QMenu* pmNoteType;
};

// One replacement in the memo's text: Length characters at Position (as the
// memo counts them, a line break one character) become Text.
struct TMemoEdit
{
    int Position = 0;
    int Length = 0;
    QString Text;
};

// The notepad page of the main window: the note tree with its group menu,
// the memo that shows and saves the selected group's note, and the find row.
class TNotepadPage : public QObject
{
    Q_OBJECT
public:
    // The tree is the main window's, which makes it anew after a restore.
    TNotepadPage(const TNotepadWidgets& widgets, std::unique_ptr<TCardTree>& noteTree, TNote& note);

    // The last step of the first show (and of a restore): the root's note.
    void ShowStartupNote();
    // Lets go of the memo's group and text (before the pages are reloaded).
    void UnbindMemo();
    // Writes text that an earlier save could not write; throws when that
    // fails again. Runs before the memo lets go of its text.
    void SaveUnsavedNote();
    // The last try before the program ends; false keeps it running. Where a
    // save fails, the user is asked whether to end anyway, unless nobody can
    // be asked (the desktop session ends): then the failure is logged.
    bool SaveNoteBeforeExit(bool mayAsk = true);
    // The tick's part: text that could not be saved is written once the file is free.
    void RetryUnsavedNote();
    // Selects a group and shows its note with the characters `find` picks
    // in the memo's text selected and in view (its first and how many; the
    // caret at the top when first is negative); false when the group is gone.
    using TFindInMemo = std::function<std::pair<qsizetype, qsizetype>(const QString& text)>;
    bool ShowGroupMatch(int group, const TFindInMemo& find);
    // After an import: the tree read again, the group selected and opened,
    // its note shown as stored.
    void ShowImported(int group);
    // After another writer (a sync round) changed the data: the tree read
    // again with its selection and open groups, and the memo's note, when
    // its stored text changed, merged into the memo (MergeStoredNote), or
    // without a merge shown as stored with the caret and the view where they
    // were (unsaved typing is then left alone, and its save keeps both
    // texts). A memo whose group is gone shows the root's note.
    void ReloadShownNote();
    // Whoever can merge another writer's text into the memo's (the sync)
    // says how: the edits that make the memo's text (mine) take in what
    // changed between the text as last saved (base) and as stored now
    // (theirs), with line breaks as the memo has them ("\n").
    std::function<QList<TMemoEdit>(const QString& base, const QString& mine, const QString& theirs)> MergeStored;
    // The memo's note, when another writer changed it, merged into the memo
    // by MergeStored: typed text stays where it is, the caret and selection
    // stay on the same characters, an input method's unfinished text is
    // left alone; what the memo then holds beyond the stored text is saved.
    // Returns whether the stored text had changed.
    bool MergeStoredNote();

    // Tells KeepVersion of the text from before the current editing spell
    // and begins a new spell.
    void KeepEditedVersion();
    // The group whose note the memo shows (-1: none), and its text as stored.
    int MemoGroup() const { return m_noteGroup; }
    QString MemoText() const;
    // Saves what is unsaved and puts the text in the memo as if typed, so it
    // is saved as the note (a version brought back); Ctrl+Z in the memo
    // takes it back in one step.
    void ReplaceMemoText(const QString& text);

signals:
    // The texts the notes' history keeps: the stored text as it was before
    // the first save of an editing spell, when the history asks for it
    // (KeepEditedVersion) or the group is left or the program ends; and
    // then, at leaving or ending, the text as it is. Never on a keystroke's
    // own path.
    void KeepVersion(int group, const QByteArray& stored);

private:
    void tvNoteClick();
    void mmoNoteChange();
    bool mmoNoteKeyDown(QKeyEvent* key);
    void btn2Click();
    TGroupPageParts GroupParts();
    void NAddNoteTypeClick() { m_groupCommands.Add(); }
    void NModNoteTypeClick() { m_groupCommands.Rename(); }
    void NDelNoteTypeClick() { m_groupCommands.Delete(); }
    void NMoveNoteTypeClick() { m_groupCommands.Move(); }
    void ShowNote(int typeId);
    void SetMemoText(const QString& stored);
    void ReloadMemoKeepingView();
    void SelectMemoGroup();
    void SaveMemo(bool quietRetry);
    void SaveTyped();
    void WriteMemo();
    void AppendOtherText(const QString& stored);
    void ApplyMemoEdits(const QList<TMemoEdit>& edits);
    // Tells KeepVersion of the group being left, when its note was saved there.
    void KeepLeftVersion();

    const TNotepadWidgets m_widgets;
    const TNotepadWidgets* const ui = &m_widgets;
    std::unique_ptr<TCardTree>& NoteTree;
    TNote& Note;
    // The group whose note the memo shows (-1: none yet, the memo is read-only).
    int m_noteGroup = -1;
    // The memo's note as last shown or saved, against which a save tells
    // another writer's change.
    TNoteBase m_noteBase;
    // The memo holds text that the last save could not write, or whose save
    // waits for m_saveTimer.
    bool m_noteUnsaved = false;
    // Saves a large note's typing in one write (see mmoNoteChange), when
    // the first of its keys came.
    QTimer* m_saveTimer = nullptr;
    QElapsedTimer m_unsavedSince;
    // The memo's save failures: one report per episode.
    TLockEpisode m_noteEpisode;
    // Set while the program itself changes the memo or the tree's current node.
    bool m_noteLoading = false;
    // The stored text before the first save of the current editing spell
    // (empty, with no spell, when nothing was saved since).
    QByteArray m_spellBase;
    bool m_inSpell = false;
    TGroupCommands m_groupCommands;
};
