#pragma once

#include "data/SqliteDb.h"

#include <QList>
#include <QPair>
#include <QString>
#include <optional>
#include <vector>

// What the bookmark list shows beyond the store's own statement: columns
// after its four, the joins they read, and a condition that, when not empty,
// keeps only the rows that meet it. The list then reads the store's
// statement as the subquery "L" (L.ID is the bookmark).
struct TIEListExtension
{
    QString Columns;   // "T.Tags as 标签"
    QString Joins;     // "join IE T on T.ID = L.ID"
    QString Condition; // "LC.Result = 2"
};

// The only code that reads and writes the bookmark table IE. Its fields
// carry one bookmark between the dialogs and the statements; every
// operation builds one statement, keeps it in LastSQL and runs it.
class TIE
{
public:
    int TypeID = 0;   // the bookmark's group (a SelfIndex), 0 for the root
    QString TypeName; // that group's name, filled only by LoadIE
    QString IEUrl;
    QString IEName;
    QString ReMark;
    QString Tags; // comma-separated, as the browsers' files hold them ("a,b")
    QString LastSQL;

    // Stores the fields as a new bookmark; the caller refreshes the grid.
    void InsertIE();
    // Opens the bookmarks of group n (all of them for 0) in the grid's
    // dataset (TDbAccess::OpenGrid): the list statement, kept in LastSQL,
    // with the list's extensions around it. The first column is the
    // identifier.
    void OpenGroupIE(int n);
    // Puts the extension of the list under its name, in place of the one
    // put there before; the extensions come in the order of their names'
    // first putting.
    void SetListExtension(const QString& name, const TIEListExtension& extension);
    // Deletes one bookmark, then requeries the grid.
    void DeleteIE(const QString& id);
    // Fills the fields from one stored bookmark.
    void LoadIE(const QString& id);
    // The name of group n; empty for the root or a group that is gone.
    QString LoadTypeName(int n);
    // Stores the fields over the bookmark id; the caller refreshes the grid.
    void UpdateIE(const QString& id);
    // Deletes every bookmark of a group, then requeries the grid.
    void DeleteGroupIE(const QString& groupId);
    // The statement of DeleteGroupIE, kept in LastSQL, for running in the
    // same transaction as the deletion of the group itself.
    QString DeleteGroupStatement(const QString& groupId);
    // The group of a stored bookmark with the same address (see
    // ComparableUrl) other than the bookmark exceptId; -1 when there is none.
    int FindAddress(const QString& url, int exceptId = 0);
    // How many bookmarks the groups hold, and the statement deleting them
    // ("in" is an SqlInList text).
    int CountInGroups(const QString& in);
    QString DeleteGroupsStatement(const QString& in);
    // Delete bookmarks, or file them under another group (0: the root), in
    // one statement (one transaction): all of them or none. One identifier
    // gives the statement of DeleteIE. Neither touches the grid. The delete
    // hands them to the delete keeper and returns the entries it kept.
    QList<qint64> DeleteIEs(const QList<int>& ids);
    void MoveIEs(const QList<int>& ids, int typeId);
    // How many of the bookmarks are filed under another group than typeId:
    // a move to typeId changes something only when there are some.
    int CountElsewhere(const QList<int>& ids, int typeId);

private:
    // The list statement with the extensions around it.
    QString ExtendedList(const QString& list) const;

    QList<QPair<QString, TIEListExtension>> m_listExtensions;
};

// Tags as typed, separated by commas (also full-width ones, "、" and
// semicolons) or, where there is none, by blanks, as the browsers write
// them: "a,b", each once, in their order, trimmed.
QString JoinedTags(const QString& typed);

// An address as two addresses are compared for duplicates: trimmed, the
// scheme and the host in small letters, without a trailing "/".
QString ComparableUrl(const QString& url);

// Whether the desktop would open the address (trimmed) as a web page or a
// mail: http, https, ftp or mailto, a host without a scheme ("example.com")
// among them. A script ("javascript:"), inline data ("data:"), a file or a
// program, and an address naming an existing file, are not: those are
// opened only when the user agrees. Importing them is allowed.
bool IsWebAddress(const QString& address);

// What a browser's file holds of a bookmark beyond address, title and remark.
struct TIEFileFields
{
    QString Tags;
    std::optional<qint64> AddDate;      // seconds since 1970
    std::optional<qint64> LastModified; // seconds since 1970
    QString ShortcutUrl;
    std::optional<qint64> Pos; // its place among its folder's items in the file
    QString IconUri;           // where the browser got the icon from
};

// Stores many bookmarks, for an import that holds the transaction
// (TDbAccess::Batch). They gather in a temporary table first and go into IE
// in a few large statements: the search index of IE, kept by a trigger,
// writes its pending entries out at the end of every statement, which one
// statement per bookmark would make many times slower.
class TIEInserter
{
public:
    TIEInserter();
    // Returns the bookmark's number among those gathered (0, 1, ...).
    qint64 Insert(int typeId, const QString& url, const QString& name, const QString& remark,
                  const TIEFileFields& fields = {});
    // Bookmarks gathered and not yet in IE.
    qint64 Pending() const { return m_gathered - m_moved; }
    // Moves up to `most` of them into IE, in the order they came.
    void Move(qint64 most);
    // Moves the rest and drops the temporary table.
    void Finish();
    // The ID in IE of a gathered bookmark that was moved.
    qint64 Id(qint64 number) const;

private:
    TStmtHandle m_insert;
    qint64 m_gathered = 0;
    qint64 m_moved = 0;
    // The first gathered number and the first ID of each move: the rows of
    // one statement get consecutive IDs.
    std::vector<std::pair<qint64, qint64>> m_firstIds;
};
