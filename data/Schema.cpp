#include "data/Schema.h"

#include "data/PassHash.h"
#include "data/SqliteDb.h"
#include "data/UntPublic.h"

#include <QFile>
#include <QSaveFile>
#include <sqlite3.h>

namespace {
// Version 1. Never edited: a change to the schema is a new step below.
const char* const kBaseSchema = R"(
PRAGMA application_id = 1246720116;
PRAGMA user_version = 1;
CREATE TABLE IE       (ID INTEGER PRIMARY KEY AUTOINCREMENT, TypeID INTEGER, IEUrl TEXT, IEName TEXT, ReMark TEXT);
CREATE TABLE IEType   (SelfIndex INTEGER, ParentIndex INTEGER, TypeName TEXT);
CREATE TABLE NoteType (SelfIndex INTEGER, ParentIndex INTEGER, TypeName TEXT);
CREATE TABLE NoteBook (TypeID INTEGER, ReMark TEXT);
CREATE TABLE Alam     (ID INTEGER PRIMARY KEY AUTOINCREMENT, AlamTime REAL, AlamDate REAL,
                       ReDay INTEGER DEFAULT -1, ReMark TEXT, bLook INTEGER DEFAULT 0);
CREATE TABLE SysSet   (bPass INTEGER, PassWord TEXT);
INSERT INTO SysSet VALUES (0, '');
CREATE INDEX IE_TypeID ON IE(TypeID);
CREATE INDEX NoteBook_TypeID ON NoteBook(TypeID);
CREATE INDEX Alam_AlamTime ON Alam(AlamTime);
CREATE INDEX Alam_AlamDate ON Alam(AlamDate);
)";

// The steps after the base, in order, each from its version to the next.
// Append only, for example:
//     {1, "ALTER TABLE Alam ADD COLUMN Snoozed REAL DEFAULT NULL"},
const std::vector<TMigration> kMigrations = {
    // Version 2: a trigram index of the bookmarks' title, remark and address
    // for the search (too many rows to read one by one), kept by triggers in
    // the transaction of every write and filled from the rows already there.
    {1, R"(
CREATE VIRTUAL TABLE IE_Search USING fts5(IEName, ReMark, IEUrl, content='IE', content_rowid='ID', tokenize='trigram');
INSERT INTO IE_Search(IE_Search) VALUES ('rebuild');
CREATE TRIGGER IE_Search_Insert AFTER INSERT ON IE BEGIN
  INSERT INTO IE_Search(rowid, IEName, ReMark, IEUrl) VALUES (new.ID, new.IEName, new.ReMark, new.IEUrl);
END;
CREATE TRIGGER IE_Search_Delete AFTER DELETE ON IE BEGIN
  INSERT INTO IE_Search(IE_Search, rowid, IEName, ReMark, IEUrl) VALUES ('delete', old.ID, old.IEName, old.ReMark, old.IEUrl);
END;
CREATE TRIGGER IE_Search_Update AFTER UPDATE ON IE BEGIN
  INSERT INTO IE_Search(IE_Search, rowid, IEName, ReMark, IEUrl) VALUES ('delete', old.ID, old.IEName, old.ReMark, old.IEUrl);
  INSERT INTO IE_Search(rowid, IEName, ReMark, IEUrl) VALUES (new.ID, new.IEName, new.ReMark, new.IEUrl);
END;
)"},
    // Version 3: the group tables are read in SelfIndex order at every start;
    // an index holding the whole row is read in that order, not sorted.
    {2, R"(
CREATE INDEX NoteType_SelfIndex ON NoteType(SelfIndex, ParentIndex, TypeName);
CREATE INDEX IEType_SelfIndex ON IEType(SelfIndex, ParentIndex, TypeName);
)"},
    // Reminders on chosen weekdays (a mask, Monday the lowest bit; 0: every
    // day), the extra firing of a snoozed daily reminder, and the last second
    // the reminder tick has checked, so that what falls due while the program
    // is not running is shown at its next start. The defaults mean "as before".
    {3, R"(
ALTER TABLE Alam ADD COLUMN WeekDays INTEGER DEFAULT 0;
ALTER TABLE Alam ADD COLUMN SnoozeAt REAL DEFAULT NULL;
ALTER TABLE SysSet ADD COLUMN LastChecked INTEGER DEFAULT NULL;
CREATE INDEX Alam_SnoozeAt ON Alam(SnoozeAt);
)"},
    // Version 5: the main window's place, page, groups, open branches and
    // column widths from the last run, as one text (empty: none yet).
    {4, "ALTER TABLE SysSet ADD COLUMN WindowState TEXT NOT NULL DEFAULT '';"},
    // Version 6: the bookmarks' index holds each text followed by two
    // characters U+0001, so that every place a word of one or two
    // characters occurs at begins a trigram, also at a text's end: the
    // search finds such a word among the index's terms instead of reading
    // every bookmark.
    {5, R"(
DROP TRIGGER IE_Search_Insert;
DROP TRIGGER IE_Search_Delete;
DROP TRIGGER IE_Search_Update;
DROP TABLE IE_Search;
CREATE VIEW IE_SearchText AS
  SELECT ID, IEName || char(1, 1) AS IEName, ReMark || char(1, 1) AS ReMark, IEUrl || char(1, 1) AS IEUrl FROM IE;
CREATE VIRTUAL TABLE IE_Search USING fts5(IEName, ReMark, IEUrl, content='IE_SearchText', content_rowid='ID',
                                          tokenize='trigram');
INSERT INTO IE_Search(IE_Search) VALUES ('rebuild');
CREATE TRIGGER IE_Search_Insert AFTER INSERT ON IE BEGIN
  INSERT INTO IE_Search(rowid, IEName, ReMark, IEUrl)
    VALUES (new.ID, new.IEName || char(1, 1), new.ReMark || char(1, 1), new.IEUrl || char(1, 1));
END;
CREATE TRIGGER IE_Search_Delete AFTER DELETE ON IE BEGIN
  INSERT INTO IE_Search(IE_Search, rowid, IEName, ReMark, IEUrl)
    VALUES ('delete', old.ID, old.IEName || char(1, 1), old.ReMark || char(1, 1), old.IEUrl || char(1, 1));
END;
CREATE TRIGGER IE_Search_Update AFTER UPDATE ON IE BEGIN
  INSERT INTO IE_Search(IE_Search, rowid, IEName, ReMark, IEUrl)
    VALUES ('delete', old.ID, old.IEName || char(1, 1), old.ReMark || char(1, 1), old.IEUrl || char(1, 1));
  INSERT INTO IE_Search(rowid, IEName, ReMark, IEUrl)
    VALUES (new.ID, new.IEName || char(1, 1), new.ReMark || char(1, 1), new.IEUrl || char(1, 1));
END;
)"},
    // Version 7: the wrong login passwords typed in a row and the moment of
    // the last one (milliseconds since 1970), so that the wait they impose
    // holds across a restart. The defaults mean "none yet".
    {6, R"(
ALTER TABLE SysSet ADD COLUMN WrongPassCount INTEGER NOT NULL DEFAULT 0;
ALTER TABLE SysSet ADD COLUMN WrongPassAt INTEGER DEFAULT NULL;
)"},
    // Version 8: the folder of the automatic backups; empty means the
    // folder "backups" beside the data file.
    {7, "ALTER TABLE SysSet ADD COLUMN BackupDir TEXT NOT NULL DEFAULT '';"},
    // Version 9: the notes' earlier texts, compressed (qCompress of the
    // UTF-8 text), with the moment they were kept (seconds since 1970).
    {8, R"(
CREATE TABLE NoteVersion (ID INTEGER PRIMARY KEY AUTOINCREMENT, TypeID INTEGER NOT NULL, SavedAt INTEGER NOT NULL,
                          Text BLOB NOT NULL);
CREATE INDEX NoteVersion_Group ON NoteVersion(TypeID, SavedAt);
)"},
    // Version 10: the trash. Each deleted group, bookmark or reminder is one
    // row; Payload holds every row it took away (qCompress of a QDataStream
    // of a QVariantMap), so a restore can put them back. DeletedAt: seconds
    // since 1970.
    {9, R"(
CREATE TABLE Trash (ID INTEGER PRIMARY KEY AUTOINCREMENT, Kind TEXT NOT NULL, Name TEXT NOT NULL, Place TEXT NOT NULL,
                    DeletedAt INTEGER NOT NULL, Payload BLOB NOT NULL);
CREATE INDEX Trash_DeletedAt ON Trash(DeletedAt);
)"},
    // Version 11: sync. Each group, bookmark and reminder gets an identity
    // shared by every computer (Gid, given at its first sync). SyncMeta
    // holds, per identity, its kind, the moment it was deleted (0: alive)
    // and its fields' stamps (see sync/SyncEngine). The triggers note which
    // rows changed (SyncDirty, by rowid; RowKey 0 of kind 1 is the root's
    // note) and which identities went (SyncGone), except while a round
    // writes what other computers did (a row in SyncApplying, inside that
    // round's transaction). SyncSet holds this computer's sync settings and
    // SyncPeer how far each other computer's files were applied; neither is
    // synced. SyncWaiting: bookmarks shown under the root until their group,
    // filed by another computer, arrives.
    {10, R"(
ALTER TABLE NoteType ADD COLUMN Gid TEXT;
ALTER TABLE IEType ADD COLUMN Gid TEXT;
ALTER TABLE IE ADD COLUMN Gid TEXT;
ALTER TABLE Alam ADD COLUMN Gid TEXT;
CREATE INDEX NoteType_Gid ON NoteType(Gid);
CREATE INDEX IEType_Gid ON IEType(Gid);
CREATE INDEX IE_Gid ON IE(Gid);
CREATE INDEX Alam_Gid ON Alam(Gid);
CREATE TABLE SyncMeta (Gid TEXT PRIMARY KEY, Kind INTEGER NOT NULL, Deleted INTEGER NOT NULL DEFAULT 0,
                       Fields BLOB NOT NULL) WITHOUT ROWID;
CREATE INDEX SyncMeta_Kind ON SyncMeta(Kind, Deleted);
CREATE TABLE SyncDirty (Kind INTEGER NOT NULL, RowKey INTEGER NOT NULL, PRIMARY KEY (Kind, RowKey)) WITHOUT ROWID;
CREATE TABLE SyncGone (Gid TEXT PRIMARY KEY, Kind INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE SyncApplying (One INTEGER);
CREATE TABLE SyncSet (Name TEXT PRIMARY KEY, Value);
CREATE TABLE SyncPeer (Computer TEXT PRIMARY KEY, Seq INTEGER NOT NULL, Host TEXT NOT NULL DEFAULT '');
CREATE TABLE SyncWaiting (Gid TEXT PRIMARY KEY, GroupGid TEXT NOT NULL) WITHOUT ROWID;
CREATE TRIGGER Sync_NoteType_Insert AFTER INSERT ON NoteType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (1, NEW.rowid); END;
CREATE TRIGGER Sync_NoteType_Update AFTER UPDATE ON NoteType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (1, NEW.rowid); END;
CREATE TRIGGER Sync_NoteType_Delete AFTER DELETE ON NoteType
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone VALUES (OLD.Gid, 1); END;
CREATE TRIGGER Sync_IEType_Insert AFTER INSERT ON IEType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (2, NEW.rowid); END;
CREATE TRIGGER Sync_IEType_Update AFTER UPDATE ON IEType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (2, NEW.rowid); END;
CREATE TRIGGER Sync_IEType_Delete AFTER DELETE ON IEType
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone VALUES (OLD.Gid, 2); END;
CREATE TRIGGER Sync_IE_Insert AFTER INSERT ON IE WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (3, NEW.ID); END;
CREATE TRIGGER Sync_IE_Update AFTER UPDATE ON IE WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (3, NEW.ID); END;
CREATE TRIGGER Sync_IE_Delete AFTER DELETE ON IE
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone VALUES (OLD.Gid, 3); END;
CREATE TRIGGER Sync_Alam_Insert AFTER INSERT ON Alam WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (4, NEW.ID); END;
CREATE TRIGGER Sync_Alam_Update AFTER UPDATE ON Alam WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty VALUES (4, NEW.ID); END;
CREATE TRIGGER Sync_Alam_Delete AFTER DELETE ON Alam
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone VALUES (OLD.Gid, 4); END;
CREATE TRIGGER Sync_NoteBook_Insert AFTER INSERT ON NoteBook WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty
      SELECT 1, coalesce((SELECT rowid FROM NoteType WHERE SelfIndex = NEW.TypeID), 0); END;
CREATE TRIGGER Sync_NoteBook_Update AFTER UPDATE ON NoteBook WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty
      SELECT 1, coalesce((SELECT rowid FROM NoteType WHERE SelfIndex = NEW.TypeID), 0); END;
CREATE TRIGGER Sync_NoteBook_Delete AFTER DELETE ON NoteBook WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty
      SELECT 1, coalesce((SELECT rowid FROM NoteType WHERE SelfIndex = OLD.TypeID), 0); END;
)"},
    // Version 12: what a browser's bookmark file holds beyond address,
    // title and remark, so that an export gives it back: tags, the times a
    // link or folder was added and last changed (seconds since 1970, null:
    // unknown), a link's keyword, a folder's description, the toolbar
    // folder's mark, separators (positions among the folder's items, as
    // comma-separated numbers) and the place of each link and folder among
    // its folder's items in the file (null: after those with a place).
    // The last check of each address and the site's icon are kept per
    // computer in tables of their own, so that a check of ten thousand
    // addresses is not ten thousand edits for the sync; they go with
    // their bookmark. SysSet: whether icons are fetched, and the skin
    // ('' follows the desktop).
    {11, R"(
ALTER TABLE IE ADD COLUMN Tags TEXT NOT NULL DEFAULT '';
ALTER TABLE IE ADD COLUMN AddDate INTEGER DEFAULT NULL;
ALTER TABLE IE ADD COLUMN LastModified INTEGER DEFAULT NULL;
ALTER TABLE IE ADD COLUMN ShortcutUrl TEXT NOT NULL DEFAULT '';
ALTER TABLE IE ADD COLUMN Pos INTEGER DEFAULT NULL;
ALTER TABLE IEType ADD COLUMN AddDate INTEGER DEFAULT NULL;
ALTER TABLE IEType ADD COLUMN LastModified INTEGER DEFAULT NULL;
ALTER TABLE IEType ADD COLUMN Description TEXT NOT NULL DEFAULT '';
ALTER TABLE IEType ADD COLUMN Toolbar INTEGER NOT NULL DEFAULT 0;
ALTER TABLE IEType ADD COLUMN Separators TEXT NOT NULL DEFAULT '';
ALTER TABLE IEType ADD COLUMN Pos INTEGER DEFAULT NULL;
CREATE TABLE LinkCheck (IEID INTEGER PRIMARY KEY, Result INTEGER NOT NULL, Code INTEGER NOT NULL DEFAULT 0,
                        CheckedAt INTEGER NOT NULL, NewUrl TEXT NOT NULL DEFAULT '');
CREATE TABLE SiteIcon (IEID INTEGER PRIMARY KEY, Icon BLOB NOT NULL, FetchedAt INTEGER NOT NULL);
CREATE TRIGGER LinkCheck_IE_Delete AFTER DELETE ON IE
BEGIN DELETE FROM LinkCheck WHERE IEID = OLD.ID; DELETE FROM SiteIcon WHERE IEID = OLD.ID; END;
ALTER TABLE SysSet ADD COLUMN FetchIcons INTEGER NOT NULL DEFAULT 1;
ALTER TABLE SysSet ADD COLUMN Skin TEXT NOT NULL DEFAULT '';
)"},
    // Version 13: reminders by China's official calendar and monthly, yearly
    // and lunar ones. RepeatKind 0 keeps a row as before (one-off, daily or
    // on weekdays); 1 法定工作日, 2 法定休息日, 3 每月 (RepeatDay, -1 the
    // month's last day), 4 每年 (RepeatMonth, RepeatDay), 5 每年农历 (the
    // same in the Chinese calendar); AdvanceDays fires a yearly one that many
    // days early. HolidayYear: the official schedules the user imported, one
    // row per year with the file's text. SysSet.HolidayNotice: the year whose
    // missing schedule the reminder page has told of.
    {12, R"(
ALTER TABLE Alam ADD COLUMN RepeatKind INTEGER NOT NULL DEFAULT 0;
ALTER TABLE Alam ADD COLUMN RepeatMonth INTEGER NOT NULL DEFAULT 0;
ALTER TABLE Alam ADD COLUMN RepeatDay INTEGER NOT NULL DEFAULT 0;
ALTER TABLE Alam ADD COLUMN AdvanceDays INTEGER NOT NULL DEFAULT 0;
CREATE TABLE HolidayYear (Year INTEGER PRIMARY KEY, Json TEXT NOT NULL);
ALTER TABLE SysSet ADD COLUMN HolidayNotice INTEGER NOT NULL DEFAULT 0;
)"},
    // Version 14: more of a browser's bookmark file for the round trip: a
    // link's ICON_URI (where the browser got its icon) and the separators
    // among the items at the top of the bookmark tree (全部 has no row of
    // its own in IEType), as IEType.Separators holds them for a group.
    {13, R"(
ALTER TABLE IE ADD COLUMN IconUri TEXT NOT NULL DEFAULT '';
ALTER TABLE SysSet ADD COLUMN IESeparators TEXT NOT NULL DEFAULT '';
)"},
    // Version 15: a note's earlier text may be kept as its differences from
    // the next newer version (Delta 1; see history/NoteHistory), which an
    // older program would not read: it refuses the file instead.
    {14, "ALTER TABLE NoteVersion ADD COLUMN Delta INTEGER NOT NULL DEFAULT 0;"},
    // Version 16: sync orders changes by the moment they were made. SyncDirty
    // and SyncGone keep the stamp of each change, which the program's own
    // connection gives in the statement that writes it (data/ChangeStamp; the
    // triggers below note other writers' changes unstamped). SyncMeta.Mine:
    // the stamp of this computer's latest change of the item, to find what it
    // still has to send. The items' records take a new layout (read from the
    // old one as they are met), and the files of the folder a new format: the
    // computers read each other's files anew and each sends its whole state.
    {15, R"(
ALTER TABLE SyncDirty ADD COLUMN Stamp INTEGER;
ALTER TABLE SyncGone ADD COLUMN Stamp INTEGER;
ALTER TABLE SyncMeta ADD COLUMN Mine INTEGER NOT NULL DEFAULT 0;
CREATE INDEX SyncMeta_Mine ON SyncMeta(Mine) WHERE Mine <> 0;
CREATE INDEX SyncMeta_Order ON SyncMeta(Kind, Gid);
DELETE FROM SyncPeer;
INSERT OR REPLACE INTO SyncSet(Name, Value) VALUES ('NeedState', 1);
DROP TRIGGER Sync_NoteType_Insert;
DROP TRIGGER Sync_NoteType_Update;
DROP TRIGGER Sync_NoteType_Delete;
DROP TRIGGER Sync_IEType_Insert;
DROP TRIGGER Sync_IEType_Update;
DROP TRIGGER Sync_IEType_Delete;
DROP TRIGGER Sync_IE_Insert;
DROP TRIGGER Sync_IE_Update;
DROP TRIGGER Sync_IE_Delete;
DROP TRIGGER Sync_Alam_Insert;
DROP TRIGGER Sync_Alam_Update;
DROP TRIGGER Sync_Alam_Delete;
DROP TRIGGER Sync_NoteBook_Insert;
DROP TRIGGER Sync_NoteBook_Update;
DROP TRIGGER Sync_NoteBook_Delete;
CREATE TRIGGER Sync_NoteType_Insert AFTER INSERT ON NoteType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (1, NEW.rowid); END;
CREATE TRIGGER Sync_NoteType_Update AFTER UPDATE ON NoteType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (1, NEW.rowid); END;
CREATE TRIGGER Sync_NoteType_Delete AFTER DELETE ON NoteType
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone(Gid, Kind) VALUES (OLD.Gid, 1); END;
CREATE TRIGGER Sync_IEType_Insert AFTER INSERT ON IEType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (2, NEW.rowid); END;
CREATE TRIGGER Sync_IEType_Update AFTER UPDATE ON IEType WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (2, NEW.rowid); END;
CREATE TRIGGER Sync_IEType_Delete AFTER DELETE ON IEType
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone(Gid, Kind) VALUES (OLD.Gid, 2); END;
CREATE TRIGGER Sync_IE_Insert AFTER INSERT ON IE WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (3, NEW.ID); END;
CREATE TRIGGER Sync_IE_Update AFTER UPDATE ON IE WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (3, NEW.ID); END;
CREATE TRIGGER Sync_IE_Delete AFTER DELETE ON IE
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone(Gid, Kind) VALUES (OLD.Gid, 3); END;
CREATE TRIGGER Sync_Alam_Insert AFTER INSERT ON Alam WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (4, NEW.ID); END;
CREATE TRIGGER Sync_Alam_Update AFTER UPDATE ON Alam WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (4, NEW.ID); END;
CREATE TRIGGER Sync_Alam_Delete AFTER DELETE ON Alam
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone(Gid, Kind) VALUES (OLD.Gid, 4); END;
CREATE TRIGGER Sync_NoteBook_Insert AFTER INSERT ON NoteBook WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey)
      SELECT 1, coalesce((SELECT rowid FROM NoteType WHERE SelfIndex = NEW.TypeID), 0); END;
CREATE TRIGGER Sync_NoteBook_Update AFTER UPDATE ON NoteBook WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey)
      SELECT 1, coalesce((SELECT rowid FROM NoteType WHERE SelfIndex = NEW.TypeID), 0); END;
CREATE TRIGGER Sync_NoteBook_Delete AFTER DELETE ON NoteBook WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey)
      SELECT 1, coalesce((SELECT rowid FROM NoteType WHERE SelfIndex = OLD.TypeID), 0); END;
)"},
    // Version 17: sync carries the imported years of official holidays
    // (kind 5, keyed by the year); those imported before go out at the next
    // round.
    {16, R"(
ALTER TABLE HolidayYear ADD COLUMN Gid TEXT;
CREATE TRIGGER Sync_HolidayYear_Insert AFTER INSERT ON HolidayYear WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (5, NEW.Year); END;
CREATE TRIGGER Sync_HolidayYear_Update AFTER UPDATE ON HolidayYear WHEN NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) VALUES (5, NEW.Year); END;
CREATE TRIGGER Sync_HolidayYear_Delete AFTER DELETE ON HolidayYear
WHEN OLD.Gid IS NOT NULL AND NOT EXISTS (SELECT 1 FROM SyncApplying)
BEGIN INSERT OR IGNORE INTO SyncGone(Gid, Kind) VALUES (OLD.Gid, 5); END;
INSERT OR IGNORE INTO SyncDirty(Kind, RowKey) SELECT 5, Year FROM HolidayYear;
)"},
};

std::vector<TMigration> g_extra;

std::vector<TMigration> Steps()
{
    std::vector<TMigration> steps = kMigrations;
    steps.insert(steps.end(), g_extra.begin(), g_extra.end());
    return steps;
}

// Runs the steps from the given version on, then records the new version.
void RunSteps(sqlite3* db, int version)
{
    const std::vector<TMigration> steps = Steps();
    for (size_t i = size_t(version - kBaseSchemaVersion); i < steps.size(); ++i) {
        const TMigration& step = steps[i];
        if (step.From != version)
            throw TSqlError(QString("数据库升级步骤有误：第 %1 步应从版本 %2 开始").arg(i + 1).arg(version));
        try {
            ExecNative(db, step.Sql);
        } catch (const TSqlError& e) {
            throw TSqlError(
                QString("数据文件从版本 %1 升级到 %2 失败：%3").arg(version).arg(version + 1).arg(e.Message));
        }
        ++version;
    }
    ExecNative(db, QString("PRAGMA user_version = %1").arg(version));
}

// A file from before the login password was hashed holds it as typed; its
// copy gets the hash, as the file itself does at the next login, so no copy
// lying beside the data gives the password away.
void HashPlainPassword(const QString& copyPath)
{
    const TDbHandle copy = OpenPlain(copyPath);
    QString stored;
    {
        TStmtHandle read = PrepareNative(copy.get(), "SELECT PassWord FROM SysSet");
        if (sqlite3_step(read.get()) == SQLITE_ROW)
            stored = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(read.get(), 0)));
    }
    if (stored.isEmpty() || IsPasswordHash(stored))
        return;
    const QByteArray hash = HashPassword(stored).toUtf8();
    TStmtHandle write = PrepareNative(copy.get(), "UPDATE SysSet SET PassWord = ?1");
    sqlite3_bind_text(write.get(), 1, hash.constData(), int(hash.size()), SQLITE_TRANSIENT);
    RunToEnd(copy.get(), write.get());
}

// A byte copy for the owner alone, flushed to the disk and mended under a
// temporary name and then renamed into place, so the name never holds half a
// file nor a password as typed.
void KeepCopy(const QString& path, const QString& copyPath)
{
    const QString part = copyPath + PartSuffix;
    QString problem = WriteFileCopy(path, part, kOwnerOnly);
    try {
        if (problem.isEmpty())
            HashPlainPassword(part);
    } catch (const std::exception& e) {
        problem = QString::fromUtf8(e.what());
    }
    if (problem.isEmpty())
        problem = ReplaceFile(part, copyPath);
    if (!problem.isEmpty()) {
        RemoveDatabaseFile(part);
        throw TSqlError(QString("无法保留升级前的数据文件 %1：%2").arg(copyPath, problem));
    }
}
} // namespace

const char* DatabaseSchema()
{
    return kBaseSchema;
}

int CurrentSchemaVersion()
{
    return kBaseSchemaVersion + int(kMigrations.size() + g_extra.size());
}

int SchemaVersion(sqlite3* db)
{
    TStmtHandle stmt = PrepareNative(db, "PRAGMA user_version");
    if (sqlite3_step(stmt.get()) != SQLITE_ROW)
        ThrowSqlError(db);
    return sqlite3_column_int(stmt.get(), 0);
}

QString SchemaVersionProblem(int version)
{
    if (version > CurrentSchemaVersion())
        return QString("数据文件的版本（%1）比本程序新，请使用新版本的程序打开。").arg(version);
    if (version < kBaseSchemaVersion)
        return QString("数据文件的版本（%1）无法识别。").arg(version);
    return {};
}

void CreateSchema(sqlite3* db)
{
    TTransaction create(db);
    ExecNative(db, kBaseSchema);
    RunSteps(db, kBaseSchemaVersion);
    create.Commit();
}

void UpgradeSchema(sqlite3* db, const QString& path)
{
    const int version = SchemaVersion(db);
    if (version == CurrentSchemaVersion())
        return;
    const QString problem = SchemaVersionProblem(version);
    if (!problem.isEmpty())
        throw TSqlError(problem);
    // A damaged file is never written, not even to upgrade it.
    const QString damage = QuickCheckFile(path);
    if (!damage.isEmpty())
        throw TSqlError(damage);
    // Copied while the connection holds no lock: closing another handle on
    // the file would drop the locks SQLite holds on it.
    KeepCopy(path, path + QString(".v%1").arg(version));
    TTransaction upgrade(db);
    if (SchemaVersion(db) != version)
        throw TSqlError("数据文件在升级时被其他程序改动");
    RunSteps(db, version);
    upgrade.Commit();
}

TExtraMigrations::TExtraMigrations(std::vector<TMigration> steps)
{
    g_extra = std::move(steps);
}

TExtraMigrations::~TExtraMigrations()
{
    g_extra.clear();
}
