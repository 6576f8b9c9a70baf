#include "bookmarks/UntIE.h"
#include "data/MD.h"
#include "data/UException.h"
#include "notes/UntNote.h"
#include "support/StoreTest.h"

#include <memory>
#include <sqlite3.h>

namespace {
// The store these tests read and write, as a page or dialog would be handed it.
TNote Note;
TIE IE;
} // namespace

class TestNote : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

    // The group's rows as stored, read past the store.
    static QStringList Stored(int typeId)
    {
        DbAccess->OpenQuery2(QString("select ReMark from NoteBook where TypeID=%1").arg(typeId));
        QStringList texts;
        for (DbAccess->QuerySet2->First(); !DbAccess->QuerySet2->Eof(); DbAccess->QuerySet2->Next())
            texts << (DbAccess->QuerySet2->Value("ReMark").isNull() ? "<null>"
                                                                    : DbAccess->QuerySet2->AsString("ReMark"));
        return texts;
    }

    static void Put(int typeId, const QString& text)
    {
        Note.TypeID = typeId;
        Note.ReMark = text;
        Note.InsertNote();
    }

private slots:
    void init()
    {
        env = std::make_unique<TStoreEnv>();
        Note = TNote();
    }
    void cleanup() { env.reset(); }

    void operationsUseTheirStatements()
    {
        QVERIFY(!Note.NoteExists("7"));
        QCOMPARE(Note.LastSQL, QString("select count(TypeID) from NoteBook where TypeID= 7 "));
        Put(7, "secret text");
        QCOMPARE(Note.LastSQL, QString("select * from NoteBook where 1<> 1 "));
        Note.LoadNote("7");
        QCOMPARE(Note.LastSQL, QString("select * from NoteBook where TypeID=7 "));
        QCOMPARE(Note.TypeID, 7);
        QCOMPARE(Note.ReMark, QString("secret text"));
        Note.ReMark = "changed text";
        Note.UpdateNote();
        QCOMPARE(Note.LastSQL, QString("select * from NoteBook where TypeId=7"));
        QCOMPARE(Note.DeleteGroupNotesSQL("7"), QString("delete from NoteBook where TypeID=7"));
        Note.DeleteGroupNotes("7");
        QCOMPARE(Note.LastSQL, QString("delete from NoteBook where TypeID=7"));
        QCOMPARE(Stored(7), QStringList());
    }

    void textsAreStoredExactly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes") << "it's \"mine\" '' '";
        QTest::newRow("line breaks") << "one\r\ntwo\r\n\r\nthree\r\n";
        QTest::newRow("separator") << "a@#@b@#@";
        QTest::newRow("statement") << "x'); delete from NoteBook; --";
        QTest::newRow("emoji and chinese") << "📒 记事本 👍🏽 ✓";
        QTest::newRow("control characters") << QString("tab\there\u00a0nbsp\u2028ls");
        QTest::newRow("one megabyte") << QString(1 << 20, QChar(u'字')).replace(1000, 2, "\r\n");
    }

    void textsAreStoredExactly()
    {
        QFETCH(QString, text);
        Put(3, "first");
        Put(4, text);
        QVERIFY(!Note.LastSQL.contains(text.left(20)));
        Note.LoadNote("4");
        QCOMPARE(Note.ReMark, text);
        // Updating writes the whole text and only that group's row.
        Note.LoadNote("3");
        Note.ReMark = text + "!";
        Note.UpdateNote();
        QCOMPARE(Stored(3), QStringList({text + "!"}));
        QCOMPARE(Stored(4), QStringList({text}));
        QVERIFY(!Note.LastSQL.contains(text.left(20)));
    }

    void emptyTextKeepsItsRow()
    {
        Put(2, "x");
        Note.LoadNote("2");
        Note.ReMark = "";
        Note.UpdateNote();
        QCOMPARE(Stored(2), QStringList({""}));
        QVERIFY(Note.NoteExists("2"));
        Put(5, "");
        QCOMPARE(Stored(5), QStringList({""}));
    }

    void rootHasItsOwnNote()
    {
        Put(0, "root");
        Put(1, "one");
        QVERIFY(Note.NoteExists("0"));
        Note.LoadNote("0");
        QCOMPARE(Note.TypeID, 0);
        QCOMPARE(Note.ReMark, QString("root"));
    }

    void groupWithoutNote()
    {
        Put(1, "one");
        QVERIFY(!Note.NoteExists("2"));
        Note.DeleteGroupNotes("2");
        QCOMPARE(Stored(1), QStringList({"one"}));
        Note.LoadNote("2");
        QCOMPARE(Note.TypeID, 2);
        QCOMPARE(Note.ReMark, QString());
    }

    void severalRowsOfOneGroup()
    {
        Put(6, "a");
        Put(6, "b");
        QVERIFY(Note.NoteExists("6"));
        Note.LoadNote("6");
        QVERIFY(Note.ReMark == "a" || Note.ReMark == "b");
        Note.DeleteGroupNotes("6");
        QVERIFY(!Note.NoteExists("6"));
    }

    void failuresRaiseAndChangeNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("locked by another connection") << "lock";
        QTest::newRow("table renamed") << "rename";
    }

    void failuresRaiseAndChangeNothing()
    {
        QFETCH(QString, how);
        Put(1, "kept");
        sqlite3* other = nullptr;
        if (how == "lock") {
            QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &other), SQLITE_OK);
            QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        } else {
            DbExecSQL("alter table NoteBook rename to NoteBookAway");
        }
        const auto fails = [](auto operation) {
            try {
                operation();
            } catch (const std::exception&) {
                return true;
            }
            return false;
        };
        QVERIFY(fails([] { Note.NoteExists("1"); }));
        QVERIFY(fails([] { Note.LoadNote("1"); }));
        QVERIFY(fails([] { Put(2, "new"); }));
        Note.TypeID = 1;
        Note.ReMark = "changed";
        QVERIFY(fails([] { Note.UpdateNote(); }));
        QVERIFY(fails([] { Note.DeleteGroupNotes("1"); }));
        if (other) {
            sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(other);
        } else {
            DbExecSQL("alter table NoteBookAway rename to NoteBook");
        }
        QCOMPARE(Stored(1), QStringList({"kept"}));
        QCOMPARE(Stored(2), QStringList());
        // Once the database is reachable again the same calls work.
        Put(2, "new");
        QCOMPARE(Stored(2), QStringList({"new"}));
    }

    // A save checks, in its transaction, that the stored text is the one the
    // page last loaded or saved; another writer's text is never lost.
    void saveKeepsAnotherWritersText_data()
    {
        QTest::addColumn<bool>("loaded");   // the note had a row, "a", when shown
        QTest::addColumn<QString>("other"); // what another program did since
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("saved");
        const int unchanged = int(TNoteSaved::Unchanged), written = int(TNoteSaved::Written),
                  merged = int(TNoteSaved::Merged);
        QTest::newRow("nobody else") << true << ""
                                     << "ab"
                                     << "ab" << written;
        QTest::newRow("changed meanwhile") << true << "update NoteBook set ReMark='theirs' where TypeID=5"
                                           << "ab"
                                           << "ab" + kNoteConflictLine + "theirs" << merged;
        QTest::newRow("the same text stored meanwhile") << true << "update NoteBook set ReMark='ab' where TypeID=5"
                                                        << "ab"
                                                        << "ab" << unchanged;
        QTest::newRow("deleted meanwhile") << true << "delete from NoteBook where TypeID=5"
                                           << "ab"
                                           << "ab" << written;
        QTest::newRow("made meanwhile") << false << "insert into NoteBook values (5,'theirs')"
                                        << "b"
                                        << "b" + kNoteConflictLine + "theirs" << merged;
        QTest::newRow("made empty meanwhile") << false << "insert into NoteBook values (5,'')"
                                              << "b"
                                              << "b" << written;
        QTest::newRow("nothing typed") << true << ""
                                       << "a"
                                       << "a" << unchanged;
    }

    void saveKeepsAnotherWritersText()
    {
        QFETCH(bool, loaded);
        QFETCH(QString, other);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(int, saved);
        TNoteBase base;
        if (loaded) {
            Put(5, "a");
            base = {true, "a"};
        }
        if (!other.isEmpty()) {
            sqlite3* writer = nullptr;
            QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &writer), SQLITE_OK);
            QCOMPARE(sqlite3_exec(writer, other.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(writer);
        }
        Note.TypeID = 5;
        QCOMPARE(int(Note.SaveNote(typed, base)), saved);
        QCOMPARE(Stored(5), QStringList{stored});
        QCOMPARE(base.Text, stored.toUtf8());
        QVERIFY(Note.StoredAsBase(base));
        // The next save starts from what is stored: no second merge.
        QCOMPARE(Note.SaveNote(stored + "!", base), TNoteSaved::Written);
        QCOMPARE(Stored(5), QStringList{stored + "!"});
    }

    void countIsServedByTheIndex()
    {
        DbAccess->OpenQuery("explain query plan select count(TypeID) from NoteBook where TypeID= 4 ");
        QVERIFY2(DbAccess->QuerySet->AsString("detail").contains("INDEX NoteBook_TypeID"),
                 qPrintable(DbAccess->QuerySet->AsString("detail")));
        DbAccess->OpenQuery("explain query plan select * from NoteBook where TypeId=4");
        QVERIFY(DbAccess->QuerySet->AsString("detail").contains("INDEX NoteBook_TypeID"));
    }

    // A loop over the groups (read as the trees read them) loads every
    // group's note and every group's bookmarks: no store refills what the
    // loop is reading.
    void loopOverGroupsLoadsEachGroupsData()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'甲')@#@insert into "
                  "NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'乙')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (3,1,'丙')@#@"
                  "insert into IEType(SelfIndex,ParentIndex,TypeName) values (1,0,'站甲')@#@insert into "
                  "IEType(SelfIndex,ParentIndex,TypeName) values (2,0,'站乙')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'a','a1','')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (1,'b','a2','')@#@"
                  "insert into IE(TypeID,IEUrl,IEName,ReMark) values (2,'c','b1','')");
        for (int group : {1, 2, 3})
            Put(group, "note " + QString::number(group));

        QStringList notes;
        DbAccess->OpenQuery("select SelfIndex from NoteType order by SelfIndex");
        for (DbAccess->QuerySet->First(); !DbAccess->QuerySet->Eof(); DbAccess->QuerySet->Next()) {
            Note.LoadNote(DbAccess->QuerySet->AsString("SelfIndex"));
            notes << Note.ReMark;
        }
        QCOMPARE(notes, (QStringList{"note 1", "note 2", "note 3"}));

        QStringList bookmarks;
        DbAccess->OpenQuery("select SelfIndex from IEType order by SelfIndex");
        for (DbAccess->QuerySet->First(); !DbAccess->QuerySet->Eof(); DbAccess->QuerySet->Next()) {
            DbAccess->OpenQuery2("select ID from IE where TypeID=" + DbAccess->QuerySet->AsString("SelfIndex") +
                                 " order by ID");
            for (DbAccess->QuerySet2->First(); !DbAccess->QuerySet2->Eof(); DbAccess->QuerySet2->Next()) {
                IE.LoadIE(DbAccess->QuerySet2->AsString("ID"));
                Note.LoadNote("1");
                bookmarks << IE.TypeName + ":" + IE.IEName;
            }
        }
        QCOMPARE(bookmarks, (QStringList{"站甲:a1", "站甲:a2", "站乙:b1"}));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestNote)
#include "test_note.moc"
