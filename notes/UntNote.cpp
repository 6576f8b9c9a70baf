#include "notes/UntNote.h"

#include "data/MD.h"
#include "data/UntPublic.h"

bool TNote::NoteExists(const QString& typeId)
{
    LastSQL = FormatSQL("select count(TypeID) from NoteBook where TypeID= %s ", {typeId});
    return DbGetIntValue(LastSQL) > 0;
}

void TNote::LoadNote(const QString& typeId)
{
    LastSQL = FormatSQL("select * from NoteBook where TypeID=%s ", {typeId});
    const std::unique_ptr<TDataSet> set = DbAccess->Query(LastSQL);
    TypeID = typeId.toInt();
    set->First();
    ReMark = set->AsString("ReMark");
}

// The text never enters a statement: it travels through the dataset's
// fields, so every character is stored as it stands.
void TNote::InsertNote()
{
    LastSQL = "select * from NoteBook where 1<> 1 ";
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    TDataSet& set = *query;
    set.Append();
    set.SetValue("TypeID", TypeID);
    set.SetValue("ReMark", ReMark);
    DbAccess->Post(set);
}

void TNote::UpdateNote()
{
    LastSQL = FormatSQL("select * from NoteBook where TypeId=%s", {QString::number(TypeID)});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    TDataSet& set = *query;
    set.First();
    set.Edit();
    set.SetValue("ReMark", ReMark);
    DbAccess->Post(set);
}

QString TNote::DeleteGroupNotesSQL(const QString& typeId)
{
    LastSQL = FormatSQL("delete from NoteBook where TypeID=%s", {typeId});
    return LastSQL;
}

void TNote::DeleteGroupNotes(const QString& typeId)
{
    DbExecSQL(DeleteGroupNotesSQL(typeId));
}

int TNote::CountNotesIn(const QString& in)
{
    LastSQL = FormatSQL("select count(*) from NoteBook where TypeID in %s and ReMark<>'' ", {in});
    return DbGetIntValue(LastSQL);
}

QString TNote::DeleteNotesInSQL(const QString& in)
{
    LastSQL = FormatSQL("delete from NoteBook where TypeID in %s ", {in});
    return LastSQL;
}
