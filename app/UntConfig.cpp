#include "app/UntConfig.h"

#include "data/MD.h"
#include "data/UntPublic.h"

void TConfig::LoadConfig()
{
    bPass = false;
    PassWord.clear();
    LastSQL = "select * from SysSet";
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    TDataSet& set = *query;
    if (set.IsEmpty())
        return;
    set.First();
    bPass = set.AsBoolean("bPass");
    PassWord = set.AsString("PassWord");
}

void TConfig::SaveConfig()
{
    LastSQL = FormatSQL("update SysSet set bPass='%s',[PassWord]='%s' ", {bPass ? "-1" : "0", SqlText(PassWord)});
    DbExecSQL(LastSQL);
}

QString TConfig::LoadWindowState()
{
    LastSQL = "select WindowState from SysSet";
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    if (query->IsEmpty())
        return QString();
    query->First();
    return query->AsString(0);
}

void TConfig::SaveWindowState(const QString& state)
{
    LastSQL = FormatSQL("update SysSet set WindowState='%s' ", {SqlText(state)});
    DbExecSQL(LastSQL);
}
