#include "notes/UntNote.h"

#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"

#include <sqlite3.h>

namespace {
const QString kWriteErrorText = QStringLiteral("数据库操作失败！");
// The row the notepad shows and writes: the group's first.
const QString kFirstRow = "select rowid, ReMark from NoteBook where TypeID=?1 order by rowid limit 1";
const QString kUpdateRow = "update NoteBook set ReMark=?1 where rowid=?2";
const QString kInsertRow = "insert into NoteBook(TypeID, ReMark) values (?1, ?2)";

// Runs one statement of a save; a failure is the database error of the
// program, with the statement.
template <typename Run> void SaveStep(const QString& sql, const QString& userMessage, Run run)
{
    try {
        run();
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, userMessage, sql);
    }
}

// The group's note row, stepped to it: found, with its rowid (column 0)
// and its text (RowText), or not found.
TStmtHandle FirstRow(sqlite3* db, int typeId, bool* found)
{
    TStmtHandle first = PrepareNative(db, kFirstRow);
    sqlite3_bind_int(first.get(), 1, typeId);
    const int rc = sqlite3_step(first.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        ThrowSqlError(db);
    *found = rc == SQLITE_ROW;
    return first;
}

// The stored text of a row FirstRow found, as UTF-8 bytes, without a string.
QByteArrayView RowText(sqlite3_stmt* row)
{
    return QByteArrayView(static_cast<const char*>(sqlite3_column_blob(row, 1)), sqlite3_column_bytes(row, 1));
}

void BindText(sqlite3* db, sqlite3_stmt* stmt, int index, const QByteArray& text)
{
    if (sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_STATIC) != SQLITE_OK)
        ThrowSqlError(db);
}
} // namespace

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

bool TNote::StoredAsBase(const TNoteBase& base)
{
    LastSQL = kFirstRow;
    bool same = false;
    SaveStep(LastSQL, kQueryErrorText, [&] {
        bool found = false;
        const TStmtHandle first = FirstRow(DbAccess->Handle(), TypeID, &found);
        same = found ? base.Stored && RowText(first.get()) == base.Text : !base.Stored;
    });
    return same;
}

// The text is compared and written as UTF-8 bytes, without making a string
// of what is stored: this runs at every keystroke, in notes of megabytes.
TNoteSaved TNote::SaveNote(const QString& text, TNoteBase& base)
{
    QByteArray utf8 = text.toUtf8();
    if (base.Stored && utf8 == base.Text)
        return TNoteSaved::Unchanged;
    TNoteSaved saved = TNoteSaved::Written;
    const auto save = [&] {
        sqlite3* db = DbAccess->Handle();
        sqlite3_int64 row = -1;
        LastSQL = kFirstRow;
        SaveStep(LastSQL, kQueryErrorText, [&] {
            bool found = false;
            const TStmtHandle first = FirstRow(db, TypeID, &found);
            if (!found)
                return;
            row = sqlite3_column_int64(first.get(), 0);
            const QByteArrayView stored = RowText(first.get());
            if (stored == utf8)
                saved = TNoteSaved::Unchanged;
            else if (base.Stored ? stored != base.Text : !stored.isEmpty()) {
                utf8 += kNoteConflictLine.toUtf8();
                utf8 += stored;
                saved = TNoteSaved::Merged;
            }
        });
        if (saved == TNoteSaved::Unchanged)
            return;
        LastSQL = row < 0 ? kInsertRow : kUpdateRow;
        SaveStep(LastSQL, kWriteErrorText, [&] {
            TStmtHandle write = PrepareNative(db, LastSQL);
            if (row < 0) {
                sqlite3_bind_int(write.get(), 1, TypeID);
                BindText(db, write.get(), 2, utf8);
            } else {
                BindText(db, write.get(), 1, utf8);
                sqlite3_bind_int64(write.get(), 2, row);
            }
            RunToEnd(db, write.get());
        });
    };
    LastSQL = kFirstRow;
    try {
        DbAccess->Batch(save);
    } catch (const EDBException& e) {
        // The commit fails with no statement of its own: the write is named.
        if (!e.SQLText.isEmpty())
            throw;
        throw EDBException(e.Message(), e.UserMessage, LastSQL);
    }
    base = {true, utf8};
    if (saved == TNoteSaved::Merged)
        ReMark = QString::fromUtf8(utf8);
    return saved;
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
