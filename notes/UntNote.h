#pragma once

#include <QString>

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
    void DeleteGroupNotes(const QString& typeId);
    // The statement that removes a group's notes, for callers that run it
    // together with other statements in one transaction.
    QString DeleteGroupNotesSQL(const QString& typeId);
    // How many of the groups hold a note with text, and the statement
    // deleting their notes ("in" is an SqlInList text).
    int CountNotesIn(const QString& in);
    QString DeleteNotesInSQL(const QString& in);
};
