#include "bookmarks/UntIE.h"

#include "data/MD.h"
#include "data/UntPublic.h"

void TIE::InsertIE()
{
    LastSQL = FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(%s,'%s','%s','%s') ",
                        {QString::number(TypeID), SqlText(IEUrl), SqlText(IEName), SqlText(ReMark)});
    DbExecSQL(LastSQL);
}

void TIE::OpenGroupIE(IDataGrid* grid, int n)
{
    // The root lists every bookmark of every group, not only its own.
    LastSQL = "select ID,IEName as 标题,Remark as 备注,IEUrl as 网址 from IE  ";
    if (n != 0)
        LastSQL += FormatSQL(" where TypeID=%s ", {QString::number(n)});
    DbAccess->OpenGrid(LastSQL, grid, true);
}

void TIE::DeleteIE(const QString& id)
{
    LastSQL = FormatSQL("delete from IE where ID=%s ", {id});
    DbExecSQL(LastSQL);
    DbAccess->RefreshGrid();
}

void TIE::LoadIE(const QString& id)
{
    LastSQL = FormatSQL("select * from IE where ID=%s ", {id});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    const TDataSet& set = *query;
    TypeID = set.AsInteger("TypeID");
    IEUrl = set.AsString("IEUrl");
    IEName = set.AsString("IEName");
    ReMark = set.AsString("ReMark");
    TypeName = LoadTypeName(TypeID);
}

QString TIE::LoadTypeName(int n)
{
    LastSQL = FormatSQL("select TypeName from IEType where Selfindex=%s ", {QString::number(n)});
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    const TDataSet& set = *query;
    return set.IsEmpty() ? QString() : set.AsString(0);
}

void TIE::UpdateIE(const QString& id)
{
    LastSQL = FormatSQL("update IE set TypeID=%s,IEUrl='%s',IEName='%s',ReMark='%s' where ID=%s  ",
                        {QString::number(TypeID), SqlText(IEUrl), SqlText(IEName), SqlText(ReMark), id});
    DbExecSQL(LastSQL);
}

QString TIE::DeleteGroupStatement(const QString& groupId)
{
    LastSQL = FormatSQL("delete from IE where TypeID=%s ", {groupId});
    return LastSQL;
}

void TIE::DeleteGroupIE(const QString& groupId)
{
    DbExecSQL(DeleteGroupStatement(groupId));
    DbAccess->RefreshGrid();
}

int TIE::CountInGroups(const QString& in)
{
    LastSQL = FormatSQL("select count(*) from IE where TypeID in %s ", {in});
    return DbGetIntValue(LastSQL);
}

QString TIE::DeleteGroupsStatement(const QString& in)
{
    LastSQL = FormatSQL("delete from IE where TypeID in %s ", {in});
    return LastSQL;
}

void TIE::MoveIE(const QString& id, int typeId)
{
    LastSQL = FormatSQL("update IE set TypeID=%s where ID=%s ", {QString::number(typeId), id});
    DbExecSQL(LastSQL);
}
