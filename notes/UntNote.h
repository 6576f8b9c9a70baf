#pragma once

#include <QByteArray>
#include <QString>

// A note as a page last loaded or saved it: a save checks against it that
// no other writer (a second copy of the program, a sync tool, a database
// browser) changed the stored text since.
struct TNoteBase
{
    bool Stored = false; // the group had a note row
    QByteArray Text;     // its text, in UTF-8
};

// What a save did.
enum class TNoteSaved { Unchanged, Written, Merged };

// The line between the text of a save and the other writer's text that it
// keeps below (see TNote::SaveNote).
inline const QString kNoteConflictLine = QStringLiteral("\r\n\r\n———— 以下是别处同时保存的内容，已一并保留 ————\r\n");

// The note store: one free text per note group (the root is group 0), kept
// in table NoteBook. It carries one note at a time in its fields between the
// notepad page and the statements.
class TNote
{
public:
    int TypeID = 0;
    QString ReMark;
    // The text of the last statement the store built.
    QString LastSQL;

    bool NoteExists(const QString& typeId);
    // Reads the group's note into TypeID and ReMark (empty when it has none).
    void LoadNote(const QString& typeId);
    // Adds a row for TypeID holding ReMark.
    void InsertNote();
    // Writes ReMark into the row of TypeID.
    void UpdateNote();
    // Writes `text` as the note of TypeID, in one transaction that first
    // checks that the stored text is still the base's. Where another writer
    // changed it meanwhile, neither text is lost: what is stored is the text
    // with the other writer's below kNoteConflictLine (Merged), which ReMark
    // then holds. Afterwards the base is what is stored. A text equal to
    // the base or to the stored text writes nothing.
    TNoteSaved SaveNote(const QString& text, TNoteBase& base);
    // Whether the note of TypeID is stored as the base says (no other writer
    // changed it), read without making a string of it.
    bool StoredAsBase(const TNoteBase& base);
    void DeleteGroupNotes(const QString& typeId);
    // The statement that removes a group's notes, for callers that run it
    // together with other statements in one transaction.
    QString DeleteGroupNotesSQL(const QString& typeId);
    // How many of the groups hold a note with text, and the statement
    // deleting their notes ("in" is an SqlInList text).
    int CountNotesIn(const QString& in);
    QString DeleteNotesInSQL(const QString& in);
};
